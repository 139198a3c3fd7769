#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"

namespace kqfw {

// Multi-shot placement: each shot of a series lands on its own phase of the output grid, which
// is `f` times the region of interest (`rect`, W x H sensor pixels) in each direction. The
// output is the caller's buffer of (W f) x (H f) pixels, RGB16 (blue, green, red) on the colour
// model and one sample a pixel on the mono model; it is not cleared first. A sample whose
// position falls beyond the output is not placed.
//
// Thread context: the shot assembly thread (one shot at a time, in shot order), then the
// acquisition's own thread for the fills; pure functions of their arguments and the tables.

inline constexpr uint32_t kMaxShots = 36;
// Index 6 takes nine positions of the 6 x 6 grid; position p is grid row p / 6, column p % 6.
inline constexpr uint32_t kPositionSubset[9] = {0, 2, 4, 12, 14, 16, 24, 26, 28};

// Shots of a series: 4, 16, 36 or 9 on the colour model, 4 or 9 on the mono one; 1 otherwise.
uint32_t shotCount(uint32_t resolutionIndex, bool mono);

// Colour shot s of indexes 3 to 5 through the white-balance tables; green of the second half
// of the grid is averaged with the first half's, rounded up.
void mergeshot(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s,
               const Rect& rect);
// Colour shot of index 6 at position number p, every sample into the middle channel: a mosaic
// at three times the sensor's resolution for the ratio interpolation.
void mergeshotsub(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                  uint32_t p, const Rect& rect);
// Mono shot s, copied unchanged.
void mergeshotbw(uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s, const Rect& rect);

// After all colour shots of indexes 3 to 5: the top f rows and left f columns take blue and
// green from row f and column f.
void fillborders(uint16_t* output, uint32_t f, const Rect& rect);
// After all shots of index 6: output row 1 and column 1, which no shot reaches, take the
// middle sample from two rows or columns on (the same mosaic colour).
void fillmosaicgaps(uint16_t* output, const Rect& rect);

}  // namespace kqfw
