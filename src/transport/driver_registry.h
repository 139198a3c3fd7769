#pragma once

#include "transport/driver_port.h"

namespace kqfw {

// The driver backend every camera of the process talks to: the one the composition point
// (src/backends) chooses, unless a test installed its own.
DriverPort& driver();

// Test hook: routes every driver request to `port`; null goes back to the registered backend.
// Only while no camera is open.
void installDriver(DriverPort* port);

// The backend the process uses, chosen once on the first request. Declared here and defined by
// the composition point one floor up (backends/driver_backends.cc), which is linked into every
// build: the transport calls it without knowing any backend.
DriverPort* composeDriver();

}  // namespace kqfw
