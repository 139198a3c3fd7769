#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"
#include "processing/simd_level.h"

namespace kqfw {

// The transfer codings turned back into one u16 sample per pixel, in place, from the end of the
// frame towards its start (so no second frame buffer is needed). The sample count is the area
// of deliveredRect. Any thread; touches only the frame.
void UnpackPacked12(const FrameRecipe& r, uint16_t* image);
// The same at a given instruction level; kPlain and kScalar are the pair-by-pair reference.
void UnpackPacked12(SimdLevel level, const FrameRecipe& r, uint16_t* image);
void unpackPacked12Avx2(uint16_t* image, uint64_t pairs);
void Expand8Bit(const FrameRecipe& r, uint16_t* image);
void Expand8Bit(SimdLevel level, const FrameRecipe& r, uint16_t* image);
void expand8BitAvx2(uint16_t* image, uint64_t samples, const uint16_t* table);

// The one of the two a frame of these settings needs, if any: what every raw frame of the
// standard resolutions goes through before it is processed.
void expandRawFrame(const FrameRecipe& r, uint16_t* raw);

}  // namespace kqfw
