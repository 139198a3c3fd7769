#pragma once

#include <cstdint>

#include "camera/camera_context.h"
#include "processing/simd_level.h"

namespace kqfw {

// The transfer codings turned back into one u16 sample per pixel, in place, from the end of the
// frame towards its start (so no second frame buffer is needed). The sample count is the area
// of deliveredRect. Any thread; touches only the frame.
void UnpackPacked12(const CameraContext& c, uint16_t* image);
// The same at a given instruction level; kPlain and kScalar are the pair-by-pair reference.
void UnpackPacked12(SimdLevel level, const CameraContext& c, uint16_t* image);
void unpackPacked12Avx2(uint16_t* image, uint64_t pairs);
void Expand8Bit(const CameraContext& c, uint16_t* image);
void Expand8Bit(SimdLevel level, const CameraContext& c, uint16_t* image);
void expand8BitAvx2(uint16_t* image, uint64_t samples, const uint16_t (&table)[256]);

// The one of the two a frame of these settings needs, if any: what every raw frame of the
// standard resolutions goes through before it is processed.
void expandRawFrame(const CameraContext& c, uint16_t* raw);

// The samples of the frame the camera delivered (the area of deliveredRect, 0 when empty).
uint64_t deliveredArea(const CameraContext& c);

// The codings a frame of these settings arrives in.
bool packedCodingActive(const CameraContext& c);
bool compressedCodingActive(const CameraContext& c);

}  // namespace kqfw
