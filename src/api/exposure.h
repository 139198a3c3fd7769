#pragma once

#include <cstdint>

#include "api/camera_context.h"

namespace kqfw {

inline constexpr uint32_t kLongestExposure = 600000000;

// Exposures the camera takes: two exposure steps up to the longest, in microseconds.
bool exposureInRange(const CameraContext& context, uint32_t microseconds);

}  // namespace kqfw
