#pragma once

#include <cstdint>

#include "transport/driver_port.h"

namespace kqfw {

// How the Linux FireWire backend turns what the kernel says into the error numbers the library
// tells apart, and back. Both ways go through one table, so a failure the simulated node gives
// in its kernel form reaches the library as the number the same failure has on the other
// backends. A number outside the table arrives as kErrorGenFailure.

// A transaction's response code (RCODE_* of <linux/firewire-constants.h>).
uint32_t errorOfResponseCode(uint32_t rcode);
uint32_t responseCodeOf(uint32_t error);

// A failed system call (a positive errno value).
uint32_t errorOfErrno(int errnoValue);
int errnoOf(uint32_t error);

}  // namespace kqfw
