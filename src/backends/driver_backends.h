#pragma once

#include "transport/driver_port.h"
#include "transport/driver_registry.h"

namespace kqfw {

// The composition point of the driver seam: which backends this build has and which one the
// process uses. Transport knows only DriverPort; this is the one place that knows the backends.

// The real driver of the operating system, or null where the build has none (every platform
// but Windows).
DriverPort* win32DriverInstance();

// The kernel's FireWire character devices on Linux, or null elsewhere; linuxFindsCamera() tells
// whether a camera of this library is on one of them (a quiet probe).
DriverPort* linuxDriverInstance();
bool linuxFindsCamera();

// The same backend over the simulated bus's character-device nodes: every request crosses the
// kernel's interface as on a real bus. Chosen only by name (tests, demonstrations).
DriverPort* linuxSimDriverInstance();

// composeDriver() (declared by transport/driver_registry.h) is defined here: the backend named
// by KQFW_DRIVER ("win32", "linux", "linux-sim" or "sim"); a name of no backend this build can
// run is reported (naming those it can) and gives a bus without cameras. Without KQFW_DRIVER:
// the camera's driver on Windows; on Linux the FireWire character devices when a camera of
// this library is found on one (looked for once, at the first request); else the simulated
// bus, which runs everywhere.

}  // namespace kqfw
