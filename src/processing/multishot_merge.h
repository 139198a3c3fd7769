#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"
#include "processing/simd_level.h"

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
// The same at a given level: kPlain places sample by sample (the reference); the others place
// a shot row's two mosaic classes in one pass without a decision per sample.
void mergeshot(SimdLevel level, const FrameRecipe& c, uint16_t* output, const uint16_t* raw,
               uint32_t f, uint32_t s, const Rect& rect);
// Colour shot of index 6 at position number p, every sample into the middle channel: a mosaic
// at three times the sensor's resolution for the ratio interpolation.
void mergeshotsub(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                  uint32_t p, const Rect& rect);
void mergeshotsub(SimdLevel level, const FrameRecipe& c, uint16_t* output, const uint16_t* raw,
                  uint32_t f, uint32_t p, const Rect& rect);
// Where shot s of a series lands: its row and column offset on the output grid, whether every
// sample goes to the middle channel (index 6), whether its green is averaged with the first
// half's, and whether it is a mono shot.
struct ShotPlacement {
    int64_t rowOffset, columnOffset;
    bool middleOnly, mergeGreen, mono;
};
ShotPlacement colourPlacement(uint32_t f, uint32_t s);
ShotPlacement subsetPlacement(uint32_t f, uint32_t p);
ShotPlacement monoPlacement(uint32_t f, uint32_t s);
ShotPlacement placementOf(uint32_t resolutionIndex, bool mono, uint32_t s);

// Places `count` shots of one row offset together, output row by output row: each row of the
// image is then read and written once for them all instead of once a shot, which is what
// placement costs on an image larger than the caches. The same output as placing them one
// after the other in their order, since shots of one row offset meet only on the same row.
void placeShots(const FrameRecipe& c, uint16_t* output, const uint16_t* const* shots,
                const ShotPlacement* placements, size_t count, uint32_t f, const Rect& rect);

// Mono shot s, copied unchanged.
void mergeshotbw(uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s, const Rect& rect);
void mergeshotbw(SimdLevel level, uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s,
                 const Rect& rect);

// After all colour shots of indexes 3 to 5: the top f rows and left f columns take blue and
// green from row f and column f.
void fillborders(uint16_t* output, uint32_t f, const Rect& rect);
// After all shots of index 6: output row 1 and column 1, which no shot reaches, take the
// middle sample from two rows or columns on (the same mosaic colour).
void fillmosaicgaps(uint16_t* output, const Rect& rect);

}  // namespace kqfw
