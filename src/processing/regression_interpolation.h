#pragma once

#include <cstdint>

#include "processing/simd_level.h"

namespace kqfw {

class WorkerPool;

// Completes an RGB16 image whose channel 1 holds the white-balanced mosaic, by directional
// green and robust colour-against-green lines. Needs even sizes of at least 6; a smaller or
// odd image is made grey from its channel 1. It works in place in the image's free channels,
// with row buffers; kPlain fits cell by cell and resamples through one plane per channel.
// Above kPlain, its steps' rows are shared out to `pool`'s threads, with the same output.
void InterpolateRegression(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                           WorkerPool* pool = nullptr);

// Its parts.
// The colour lines a cell row at a time, all cells of a row fitted together; false, with the
// image untouched, when there was no memory for the row buffers.
bool ColourLinesByRows(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                       WorkerPool* pool = nullptr);
// Green × slope + intercept clamped to 0 … 16383 and truncated for `count` values, as the colour
// lines of `level` compute a colour (the product and the sum rounded apart at every level).
void ColourLineValues(SimdLevel level, const uint16_t* green, const double* slope,
                      const double* intercept, int32_t count, uint16_t* out);
void InterpolateGreenDirectional(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                                 WorkerPool* pool = nullptr);
// Its AVX2 form for `count` sites of row y from column x on (x, x + 2, ...), each two or more
// pixels from every edge; does a multiple of eight and returns how many it did.
int32_t directionalGreenSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                  int32_t count);
struct ColourLine {
    double slope, intercept;
};
// The least-squares line through n points from their sums; the fits' one formula, so every
// version of them divides in the same order.
inline double fitLine(double n, double sx, double sy, double sxx, double sxy, double* intercept) {
    const double delta = n * sxx - sx * sx;
    *intercept = (sy * sxx - sxy * sx) / delta;
    return (n * sxy - sy * sx) / delta;
}
// Fits 9 pairs plus the anchors (16383, 16383) and (0, 0) (written into x[9..10], y[9..10]),
// drops the worst point and fits again.
ColourLine FitColourLine(uint32_t x[11], uint32_t y[11]);
// All three channels resampled in one pass through a three-row ring; false, with the image
// untouched, when there was no memory for the ring.
bool ResampleHalfPixel(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                       WorkerPool* pool = nullptr);
void ResampleChannelHalfPixel(int channel, int32_t width, int32_t height, uint16_t* image);
// The plain version of the resampling, every pixel through the edge rules: the reference the
// fast one is held equal to.
void ResampleChannelHalfPixelReference(int channel, int32_t width, int32_t height, uint16_t* image);

}  // namespace kqfw
