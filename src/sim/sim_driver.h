#pragma once

#include "transport/driver_port.h"

namespace kqfw {

// The simulated bus's driver: a backend of the driver seam that decodes every request from its
// bytes and serves it from the simulated cameras. Never null: it runs on every platform.
DriverPort* simDriverInstance();

}  // namespace kqfw
