#pragma once

#include <cstdint>

namespace kqfw {

void sleepMs(uint32_t milliseconds);
// A pause that lets the camera hardware settle (after a reset, between flash polls).
void settleMs(uint32_t milliseconds);
// Test hook: settle pauses last `scale` times as long (1 by default; 0 makes them yields), so
// stress tests can open a simulated camera thousands of times.
void setSettleScale(double scale);
// A millisecond tick that wraps at 2^32, like timeGetTime.
uint32_t tickMs();

}  // namespace kqfw
