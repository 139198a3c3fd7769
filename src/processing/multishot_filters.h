#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

class WorkerPool;

// The finishing filters of a merged multi-shot image ((W f) x (H f) of `rect`), in place.
//
// The sharpener runs a kernel whose weights sum to 4 on every channel by itself: a 3 x 3 cross
// at factor 2, a 2 x 2 block with its eight side neighbours otherwise (stored at the block's
// top left). It reads unfiltered values only and leaves the borders the kernel cannot reach.
//
// The multi-shot filter replaces red and blue by their 2 x 2 window mean, corrected by the
// pixel's green detail (weighted: blended by how strongly coloured the pixel is); green and
// the last row and column stay.
//
// Both share their rows out to `pool`'s threads, with the output of one pass from the top.
// Without memory for the few rows held back, the sharpener reports and leaves the image; the
// multi-shot filter makes that one pass itself, in place, and so never fails.
//
// Thread context: the acquisition's thread; pure functions of their arguments.
void scansharpen(uint16_t* image, uint32_t f, const Rect& rect, WorkerPool* pool = nullptr);
void scansharpenbw(uint16_t* image, uint32_t f, const Rect& rect, WorkerPool* pool = nullptr);
void multishotfilter(uint16_t* image, uint32_t f, const Rect& rect, bool weighted,
                     WorkerPool* pool = nullptr);

}  // namespace kqfw
