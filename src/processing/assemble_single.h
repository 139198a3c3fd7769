#pragma once

#include <cstdint>

#include "processing/block_interpolation.h"
#include "processing/frame_recipe.h"

namespace kqfw {

// Interpolation methods of AssembleSingle.
inline constexpr int32_t kBlockMethod = -1;      // 2x2 blocks, the fast one
inline constexpr int32_t kRatioMethod = 1;       // colour ratios
inline constexpr int32_t kRegressionMethod = 2;  // colour lines, the finest
inline constexpr int32_t kLmmseMethod = 3;       // directional LMMSE, an extension's choice

// Turns the corrected raw mosaic of `imageRect` (red at even row and column) into an RGB16
// image (blue, green, red) of the same size, white-balanced through whiteLuts. The output
// buffer doubles as the work area of the ratio and regression methods. Odd sizes: the last
// odd column or row repeats the one before it. Any thread; touches only its buffers.
void AssembleSingle(const FrameRecipe& context, uint16_t* output, const uint16_t* raw,
                    int32_t mode);

// AssembleSingle's mode -1 by a chosen implementation: AssembleSingle takes the fastest this
// processor runs; the tests hold every one equal to the plain reference.
void AssembleSingleBlock(BlockKernel kernel, const FrameRecipe& context, uint16_t* output,
                         const uint16_t* raw);

// Writes every sample, through the table of its mosaic colour, to channel 1 of its pixel.
void tablePass(const FrameRecipe& context, uint16_t* output, const uint16_t* raw, int32_t width,
               int32_t height);

}  // namespace kqfw
