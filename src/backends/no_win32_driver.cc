// Builds for other systems than Windows have no operating-system camera driver: the simulated
// bus stands in for it.
#include "backends/driver_backends.h"

namespace kqfw {

DriverPort* win32DriverInstance() {
    return nullptr;
}

}  // namespace kqfw
