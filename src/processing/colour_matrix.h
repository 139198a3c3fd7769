#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"
#include "processing/simd_level.h"

namespace kqfw {

// Transforms `count` RGB16 pixels (blue, green, red in memory) in place through the matrix
// tables and the clamp, when colour processing is on; shared out to the camera's processing
// threads.
void ApplyColorMatrix(const FrameRecipe& context, uint16_t* pixels, int64_t count);
// The same at a given instruction level; kPlain and kScalar are the pixel-by-pixel reference.
void ApplyColorMatrix(SimdLevel level, const FrameRecipe& context, uint16_t* pixels, int64_t count);
// The vector form computes the tables' formula: only for tables that hold it, which
// colorMatrixComputable checks entry by entry. It transforms whole groups of four pixels and
// returns how many pixels it did.
bool colorMatrixComputable(const FrameRecipe& context);
int64_t computeColorMatrixAvx2(const FrameRecipe& context, uint16_t* pixels, int64_t count);

}  // namespace kqfw
