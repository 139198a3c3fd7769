#include "backends/driver_backends.h"

#include "platform/environment.h"
#include "sim/sim_driver.h"

namespace kqfw {

namespace {

struct DriverBackend {
    const char* name;
    DriverPort* (*instance)();  // null when the backend cannot run here
};

// In order of preference. The simulated bus runs everywhere, so it closes the list.
constexpr DriverBackend kBackends[] = {
    {"win32", &win32DriverInstance},
    {"sim", &simDriverInstance},
};

}  // namespace

DriverPort* composeDriver() {
    const std::string wanted = environmentValue("KQFW_DRIVER");
    if (!wanted.empty()) {
        for (const DriverBackend& backend : kBackends) {
            if (wanted == backend.name) {
                if (DriverPort* port = backend.instance()) {
                    return port;
                }
            }
        }
    }
    for (const DriverBackend& backend : kBackends) {
        if (DriverPort* port = backend.instance()) {
            return port;
        }
    }
    return nullptr;
}

}  // namespace kqfw
