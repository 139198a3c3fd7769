#include "backends/driver_backends.h"

#include <cstdlib>
#include <cstring>

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
    if (const char* wanted = std::getenv("KQFW_DRIVER")) {
        for (const DriverBackend& backend : kBackends) {
            if (std::strcmp(wanted, backend.name) == 0) {
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
