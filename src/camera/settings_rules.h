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

// Which transfer coding the camera's frames arrive in: 8-bit compression wins over packing.
bool packedCodingActive(const CameraContext& context);
bool compressedCodingActive(const CameraContext& context);

// The pixels of the frame the camera delivered; an inverted rectangle has none.
uint64_t deliveredArea(const Rect& r);
inline uint64_t deliveredArea(const CameraContext& c) {
    return deliveredArea(c.deliveredRect);
}

}  // namespace kqfw
