#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"
#include "processing/simd_level.h"

namespace kqfw {

// The transfer codings turned back into one u16 sample per pixel, in place, from the end of the
// frame towards its start (so no second frame buffer is needed). The sample count is the area
// of deliveredRect. Any thread; touches only the frame.
//
// The forms with `from` read the coded bytes there instead and write the samples to `image`
// (the same bytes in place): an offline frame is expanded on its way into the work frame. The
// vector forms may read up to 4 bytes past the coded samples.
void UnpackPacked12(const FrameRecipe& r, uint16_t* image);
// The same at a given instruction level; kPlain and kScalar are the pair-by-pair reference.
void UnpackPacked12(SimdLevel level, const FrameRecipe& r, uint16_t* image);
void UnpackPacked12(SimdLevel level, const FrameRecipe& r, const uint8_t* from, uint16_t* image);
void unpackPacked12Avx2(const uint8_t* from, uint16_t* image, uint64_t pairs);
void Expand8Bit(const FrameRecipe& r, uint16_t* image);
void Expand8Bit(SimdLevel level, const FrameRecipe& r, uint16_t* image);
void Expand8Bit(SimdLevel level, const FrameRecipe& r, const uint8_t* from, uint16_t* image);
void expand8BitAvx2(const uint8_t* from, uint16_t* image, uint64_t samples, const uint16_t* table);

// The one of the two a frame of these settings needs, if any: what every raw frame of the
// standard resolutions goes through before it is processed.
void expandRawFrame(const FrameRecipe& r, uint16_t* raw);

// Fills the work frame `work` (workBytes) as copying `frameBytes` of `frame` into it, zeroing
// the rest and expanding it in place would, expanding on the way where the coding allows.
void expandIntoWorkFrame(const FrameRecipe& r, const uint8_t* frame, uint64_t frameBytes,
                         uint16_t* work, uint64_t workBytes);

}  // namespace kqfw
