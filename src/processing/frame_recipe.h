#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

class WorkerPool;

// Everything the processing of one raw frame of resolutions 0 to 2 reads, and nothing else:
// the geometry, the transfer coding, the references, the blemish list, the colour tables and
// the switches. It points into a camera's record or straight into an offline context block,
// so building one copies nothing large, and both paths run the same kernels on it. The
// kernels only read through it; what they point at must not change while a frame is being
// processed (the record's settings lock, the block's read lock).
struct FrameRecipe {
    // Geometry: the sensor, the rectangle the frame covers, what the camera delivered.
    uint32_t sensorWidth = 0, sensorHeight = 0;
    Rect imageRect{}, deliveredRect{};
    uint32_t binning = 1, resolutionIndex = 0, bitsPerPixel = 0;
    // The interpolation of full-size colour frames (kqfw_ext.h's KQFW_INTERPOLATION_…).
    uint32_t colourInterpolation = 0;
    bool isMono = false;
    // exposureTime / exposureStep, the units the reference and hot-pixel rules scale by.
    uint32_t exposureUnits = 0;

    // Transfer coding of the raw frame.
    bool packed12 = false, compressed8 = false;
    const uint16_t* expand8Table = nullptr;

    // References (null when the camera has none) and their switches.
    const int16_t* blackRefImage = nullptr;
    const int16_t* whiteRefImage = nullptr;
    bool blackRefEnabled = false, whiteRefEnabled = false, blackRefPresent = false;

    // The flash's blemish list, corrected only when the flash record is valid and blemish
    // correction is on (a process-wide switch, read when the recipe is made).
    bool blemishCorrection = false;
    bool flashValid = false;
    const uint32_t* blemishPositions = nullptr;
    int32_t blemishCount = 0;

    // White balance tables (red, green, blue) and the gains they were built with (null when
    // not known: the vector forms that compute instead of looking up then stay unused).
    const uint16_t* whiteLuts[3] = {};
    const double* whiteGains = nullptr;
    // The colour matrix, its tables and clamp; colorMatrix may be null like whiteGains.
    bool colorProcessingEnabled = false;
    const uint16_t* matrixTables[9] = {};
    const uint16_t* clampTable = nullptr;
    const double (*colorMatrix)[3] = nullptr;

    // The threads rows are shared out to; null runs every row on the caller.
    WorkerPool* processingPool = nullptr;
};

// The recipe of the frames the camera's current settings produce.
FrameRecipe recipeOf(const CameraContext& c);

}  // namespace kqfw
