#pragma once

#include <cstdint>

namespace kqfw {

void sleepMs(uint32_t milliseconds);
// A millisecond tick that wraps at 2^32, like timeGetTime.
uint32_t tickMs();

}  // namespace kqfw
