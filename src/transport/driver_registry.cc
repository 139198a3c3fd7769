#include "transport/driver_registry.h"

#include <atomic>

namespace kqfw {

namespace {

std::atomic<DriverPort*> installed{nullptr};

DriverPort& registeredBackend() {
    static DriverPort* const chosen = composeDriver();
    return *chosen;
}

}  // namespace

DriverPort& driver() {
    DriverPort* port = installed.load();
    return port != nullptr ? *port : registeredBackend();
}

void installDriver(DriverPort* port) {
    installed = port;
}

}  // namespace kqfw
