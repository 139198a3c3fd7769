#pragma once

#include "transport/driver_port.h"
#include "transport/driver_registry.h"

namespace kqfw {

// The composition point of the driver seam: which backends this build has and which one the
// process uses. Transport knows only DriverPort; this is the one place that knows the backends.

// The real driver of the operating system, or null where the build has none (every platform
// but Windows).
DriverPort* win32DriverInstance();

// composeDriver() (declared by transport/driver_registry.h) is defined here: the backend named
// by KQFW_DRIVER ("win32" or "sim"); a name of no backend this build can run is reported
// (naming those it can) and gives a bus without cameras. Without KQFW_DRIVER the first
// available of the table: the operating system's driver, then the simulated bus, which runs
// everywhere.

}  // namespace kqfw
