#pragma once

#include <cstdint>
#include <functional>

#include "processing/frame_recipe.h"
#include "processing/simd_level.h"

namespace kqfw {

// Corrections of a raw frame in place, before it becomes an image: the black and white
// references, and the blemish pixels of the camera's list plus the hot pixels the black
// reference shows. The frame covers `rect` (sensor pixels); with binning b it has the rows the
// camera binned, and on the mono model the binned columns too.
//
// Thread context: any thread; they read the recipe and write only the frame.

// e = exposureTime / exposureStep. Nothing happens unless 1 <= binning <= 5.
void ApplyReferences(const FrameRecipe& c, uint16_t* raw, uint32_t e, const Rect& rect,
                     int16_t binning, uint32_t blackOn, uint32_t whiteOn);
// The same at a given instruction level; kPlain is the sample-by-sample reference.
void ApplyReferences(SimdLevel level, const FrameRecipe& c, uint16_t* raw, uint32_t e,
                     const Rect& rect, int16_t binning, uint32_t blackOn, uint32_t whiteOn);
void CorrectBlemishes(const FrameRecipe& c, uint16_t* raw, const Rect& rect, int16_t binning,
                      uint32_t e);
// Calls visit(position) for the hot pixels of the black reference, in its order, at most
// `room` of them, and returns how many it found.
int32_t visitHotPixels(const FrameRecipe& c, uint32_t e, int32_t room,
                       const std::function<void(uint32_t)>& visit);

// The hot-pixel rule for a black reference value b at e exposure units.
bool isHotPixel(uint32_t e, int32_t b);
// The hot values nearest zero on either side at e (INT16_MIN - 1 or INT16_MAX + 1 when a side
// has none): no value strictly between them is hot, so the scan passes over a block of the
// reference whose extremes lie between them.
struct HotBand {
    int32_t below, above;
};
HotBand hotBand(uint32_t e);

}  // namespace kqfw
