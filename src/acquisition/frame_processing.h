#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

// A raw frame of resolution indexes 0 to 2 turned into the finished image: the reference and
// blemish corrections, then the routine the resolution, model, bit depth and binning call for,
// then the colour matrix over colour output. `raw` is corrected in place. 0, or 8 for a
// combination no routine serves (the image is not written).
//
// Thread context: the thread that finished the receive, holding the camera's settingsLock.
uint32_t processStandardFrame(CameraContext& c, uint16_t* image, uint16_t* raw);

}  // namespace kqfw
