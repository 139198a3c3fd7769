#pragma once

#include <cstdint>

#include "processing/simd_level.h"

namespace kqfw {

class WorkerPool;

// Completes an RGB16 image whose channel 1 holds the white-balanced mosaic, by colour ratios
// (colour x 1024 / green). Needs even sizes of at least 4; a smaller or odd image is made grey
// from its channel 1. Works in place and allocates nothing: intermediate values live in the
// channels of pixels that are not yet final. Each step's rows are shared out to `pool`'s
// threads, and from AVX2 on a row's inner sites go eight at a time, with the same output as
// the plain level on one thread.
void InterpolateRatio(SimdLevel level, int32_t mode, int32_t width, int32_t height, uint16_t* image,
                      WorkerPool* pool = nullptr);

// Its steps, in order; each runs over the whole image.
void EstimateGreenAndRatios(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                            WorkerPool* pool = nullptr);
void MedianFilterRatios(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                        WorkerPool* pool = nullptr);
void RefineGreenAndRatios(SimdLevel level, int32_t strength, int32_t width, int32_t height,
                          uint16_t* image, WorkerPool* pool = nullptr);
void ResampleGreenHalfPixel(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                            WorkerPool* pool = nullptr);
void ApplyRatios(SimdLevel level, int32_t mode, int32_t width, int32_t height, uint16_t* image,
                 WorkerPool* pool = nullptr);

// The AVX2 forms of the steps for `count` sites of row y from column x on (x, x + 2, ...),
// for the resampling `count` pixels from x on, all of whose neighbours lie inside the frame,
// and for the last step the first `count` cells of the row pair from y. Each does a multiple
// of eight and returns how many it did.
int32_t estimateSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x, int32_t count);
int32_t refineSitesAvx2(int32_t strength, uint16_t* image, int32_t width, int32_t y, int32_t x,
                        int32_t count);
int32_t greenFromRatioSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                int32_t count);
int32_t medianAcrossSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x, int32_t count);
int32_t medianDownSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x, int32_t count);
int32_t resampleGreenRowAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x, int32_t count);
int32_t applyRatioCellsAvx2(uint16_t* image, int32_t width, int32_t y, int32_t count);

}  // namespace kqfw
