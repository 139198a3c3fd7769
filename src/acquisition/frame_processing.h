#pragma once

#include <cstdint>

#include "processing/frame_recipe.h"

namespace kqfw {

// A raw frame of resolution indexes 0 to 2 turned into the finished image: the reference and
// blemish corrections, then the routine the resolution, model, bit depth and binning call for,
// then the colour matrix over colour output. `raw` is corrected in place. 0, or 8 for a
// combination no routine serves (the image is not written).
//
// The camera's own frames and the offline context's run through it alike.
//
// Thread context: any thread, while what the recipe points at stays as it is (the camera's
// settingsLock, or the context block's read lock).
uint32_t processStandardFrame(const FrameRecipe& c, uint16_t* image, uint16_t* raw);

}  // namespace kqfw
