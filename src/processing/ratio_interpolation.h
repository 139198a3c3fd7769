#pragma once

#include <cstdint>

namespace kqfw {

// Completes an RGB16 image whose channel 1 holds the white-balanced mosaic, by colour ratios
// (colour x 1024 / green). Needs even sizes of at least 4; a smaller or odd image is made grey
// from its channel 1. Works in place and allocates nothing: intermediate values live in the
// channels of pixels that are not yet final.
void InterpolateRatio(int32_t mode, int32_t width, int32_t height, uint16_t* image);

// Its steps, in order; each runs over the whole image.
void EstimateGreenAndRatios(int32_t width, int32_t height, uint16_t* image);
void MedianFilterRatios(int32_t width, int32_t height, uint16_t* image);
void RefineGreenAndRatios(int32_t strength, int32_t width, int32_t height, uint16_t* image);
void ResampleGreenHalfPixel(int32_t width, int32_t height, uint16_t* image);
void ApplyRatios(int32_t mode, int32_t width, int32_t height, uint16_t* image);

}  // namespace kqfw
