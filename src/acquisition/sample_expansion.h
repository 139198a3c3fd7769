#pragma once

#include <cstdint>

#include "api/camera_context.h"

namespace kqfw {

// The transfer codings turned back into one u16 sample per pixel, in place, from the end of the
// frame towards its start (so no second frame buffer is needed). The sample count is the area
// of deliveredRect. Any thread; touches only the frame.
void UnpackPacked12(const CameraContext& c, uint16_t* image);
void Expand8Bit(const CameraContext& c, uint16_t* image);

// The codings a frame of these settings arrives in.
bool packedCodingActive(const CameraContext& c);
bool compressedCodingActive(const CameraContext& c);

}  // namespace kqfw
