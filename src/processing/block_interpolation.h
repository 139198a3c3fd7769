#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"

namespace kqfw {

class WorkerPool;

// The implementations of the 2x2 block method. All give the same output bit for bit; the plain
// one is the reference the others are held to.
enum class BlockKernel {
    kPlain,   // pixel by pixel, every table lookup made
    kShared,  // red and blue lookups shared between the pixels that use the same sample
    kAvx512,  // 32 pixels at a time, tables computed where they follow their gain (AVX-512 BW)
    kAvx2,    // 16 pixels at a time, likewise
};

// Whether this processor runs `kernel`.
bool blockKernelSupported(BlockKernel kernel);

// The kernel of the library's instruction level (the fastest this processor runs, unless the
// level was chosen), decided once.
BlockKernel fastestBlockKernel();

// The 2x2 method over the even part (w x h, both at least 2) of a frame whose rows are
// `stride` samples long; output rows are 3 * stride values long. A kernel the processor does
// not support falls back to kShared. Every kernel but the plain one shares the rows out to
// `pool`'s threads, with the same output.
void blockInterpolate(BlockKernel kernel, const FrameRecipe& c, uint16_t* out, const uint16_t* raw,
                      int32_t w, int32_t h, int32_t stride, WorkerPool* pool = nullptr);

namespace detail {

// The vector part of the 2x2 method: every row but the last, from column 0 in steps of 32
// while the samples the pixels read stay inside the w columns. Returns the first column it
// left undone, always even; the caller completes the rows from there in order.
int32_t blockAvx512(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t w, int32_t h,
                    int32_t stride);

// The same in steps of 16 (AVX2).
int32_t blockAvx2(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t w, int32_t h,
                  int32_t stride);

}  // namespace detail

}  // namespace kqfw
