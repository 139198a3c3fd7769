#include "transport/driver_registry.h"

#include <atomic>

#include "sim/sim_driver.h"

namespace kqfw {

namespace {

struct DriverBackend {
    const char* name;
    DriverPort* (*instance)();  // null when the backend cannot run here
};

// In order of preference. The simulated bus runs everywhere, so it closes the list.
constexpr DriverBackend kBackends[] = {
    {"sim", &simDriverInstance},
};

std::atomic<DriverPort*> installed{nullptr};

DriverPort& registeredBackend() {
    static DriverPort* const chosen = [] {
        for (const DriverBackend& backend : kBackends) {
            if (DriverPort* port = backend.instance()) {
                return port;
            }
        }
        return static_cast<DriverPort*>(nullptr);
    }();
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
