#pragma once

#include <cstdint>

namespace kqfw {

class WorkerPool;

// Completes an RGB16 image whose channel 1 holds the white-balanced mosaic, by colour ratios
// (colour x 1024 / green). Needs even sizes of at least 4; a smaller or odd image is made grey
// from its channel 1. Works in place and allocates nothing: intermediate values live in the
// channels of pixels that are not yet final. Each step's rows are shared out to `pool`'s
// threads, with the same output as one thread.
void InterpolateRatio(int32_t mode, int32_t width, int32_t height, uint16_t* image,
                      WorkerPool* pool = nullptr);

// Its steps, in order; each runs over the whole image.
void EstimateGreenAndRatios(int32_t width, int32_t height, uint16_t* image,
                            WorkerPool* pool = nullptr);
void MedianFilterRatios(int32_t width, int32_t height, uint16_t* image, WorkerPool* pool = nullptr);
void RefineGreenAndRatios(int32_t strength, int32_t width, int32_t height, uint16_t* image,
                          WorkerPool* pool = nullptr);
void ResampleGreenHalfPixel(int32_t width, int32_t height, uint16_t* image,
                            WorkerPool* pool = nullptr);
void ApplyRatios(int32_t mode, int32_t width, int32_t height, uint16_t* image,
                 WorkerPool* pool = nullptr);

}  // namespace kqfw
