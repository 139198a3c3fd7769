#pragma once

#include <cstdint>

namespace kqfw::sim {

// The piezo actuator that shifts the sensor between the shots of a series. A setting of s
// steps moves it by about 0.0941 twelfths of a pixel a step from its rest at kRestSteps, with
// a small gain error and a gentle non-linearity, as real actuators have.
inline constexpr int kRestSteps = 16;

double piezoOffset(int steps);
// The setting whose offset comes closest to `pixels`: what a perfect calibration finds.
uint8_t piezoSteps(double pixels);

}  // namespace kqfw::sim
