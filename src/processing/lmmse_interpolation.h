#pragma once

#include <cstdint>

#include "processing/simd_level.h"

namespace kqfw {

class WorkerPool;

// Where a mosaic's red sites lie: rows and columns of these parities; blue sites have the
// other parities of both, green sites the mixed ones.
struct BayerPhase {
    int32_t redRow, redColumn;
};

// A raw Bayer mosaic as the camera delivers it, with the white-balance tables of its colours.
struct MosaicFrame {
    const uint16_t* raw;
    int32_t width, height;
    int32_t pitch;  // samples from one row to the next
    BayerPhase phase;
    const uint16_t* tables[3];  // red, green, blue; 16384 entries each
};

// The directional LMMSE interpolation of the white-balanced mosaic into RGB16 (blue, green,
// red a pixel, rows of 3 * width values), pixel-centred, every sample in 0..16383. Any size
// from 2 x 2; borders are mirrored. Rows are shared out to `pool`'s threads; every level and
// every row split gives the same image bit for bit. False (the image not written, or written
// in part) only when memory for the few rows each thread works on was short.
bool InterpolateLmmse(SimdLevel level, const MosaicFrame& frame, uint16_t* out,
                      WorkerPool* pool = nullptr);

// Output rows [first, end) only, on the calling thread: what one stripe does.
bool InterpolateLmmseRows(SimdLevel level, const MosaicFrame& frame, uint16_t* out, int32_t first,
                          int32_t end);

}  // namespace kqfw
