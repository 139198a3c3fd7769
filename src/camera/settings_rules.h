#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

inline constexpr uint32_t kLongestExposure = 600000000;

// Exposures the camera takes: two exposure steps up to the longest, in microseconds.
bool exposureInRange(const CameraContext& context, uint32_t microseconds);

// The words of the two shutter outputs as the camera takes them.
uint32_t shutterOutput1Word(const CameraContext& context);
uint32_t shutterOutput2Word(const CameraContext& context);

}  // namespace kqfw
