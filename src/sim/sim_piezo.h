#pragma once

#include <cstdint>

namespace kqfw::sim {

// The piezo actuator that shifts the sensor between the shots of a series. A setting of s
// steps moves it from its rest at kRestSteps by about 0.0941 twelfths of a calibration-patch
// pixel a step (255 steps span two patch pixels), with a small gain error and a gentle
// non-linearity, as real actuators have. A patch pixel is a sensor pixel on the mono model and
// two on the colour model, whose patches take one colour of the mosaic, so the colour
// camera's piezo travels twice as far a step.
inline constexpr int kRestSteps = 16;

// Sensor pixels.
double piezoOffset(int steps, bool mono);
// The setting whose offset comes closest to `pixels`: what a perfect calibration finds.
uint8_t piezoSteps(double pixels, bool mono);

}  // namespace kqfw::sim
