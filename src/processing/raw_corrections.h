#pragma once

#include <cstdint>

#include "camera/camera_context.h"
#include "processing/simd_level.h"

namespace kqfw {

// Corrections of a raw frame in place, before it becomes an image: the black and white
// references, and the blemish pixels of the camera's list plus the hot pixels the black
// reference shows. The frame covers `rect` (sensor pixels); with binning b it has the rows the
// camera binned, and on the mono model the binned columns too.
//
// Thread context: the thread that processes the frame; CorrectBlemishes appends to the
// camera's blemish list and restores it before it returns, so one frame of a camera at a time.

// e = exposureTime / exposureStep. Nothing happens unless 1 <= binning <= 5.
void ApplyReferences(const CameraContext& c, uint16_t* raw, uint32_t e, const Rect& rect,
                     int16_t binning, uint32_t blackOn, uint32_t whiteOn);
// The same at a given instruction level; kPlain is the sample-by-sample reference.
void ApplyReferences(SimdLevel level, const CameraContext& c, uint16_t* raw, uint32_t e,
                     const Rect& rect, int16_t binning, uint32_t blackOn, uint32_t whiteOn);
void CorrectBlemishes(CameraContext& c, uint16_t* raw, const Rect& rect, int16_t binning,
                      uint32_t e);
// Appends the hot pixels of the black reference to the blemish list (at most 10000 entries).
void AddHotPixels(CameraContext& c, uint32_t e);

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
