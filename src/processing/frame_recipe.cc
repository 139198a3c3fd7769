#include "processing/frame_recipe.h"

#include "camera/camera_table.h"
#include "camera/settings_rules.h"

namespace kqfw {

FrameRecipe recipeOf(const CameraContext& c) {
    FrameRecipe r;
    r.sensorWidth = c.sensorWidth;
    r.sensorHeight = c.sensorHeight;
    r.imageRect = c.imageRect;
    r.deliveredRect = c.deliveredRect;
    r.binning = c.binning;
    r.resolutionIndex = c.resolutionIndex;
    r.bitsPerPixel = c.bitsPerPixel;
    r.colourInterpolation = c.colourInterpolation;
    r.isMono = c.link.isMono != 0;
    r.exposureUnits = c.exposureStep != 0 ? c.exposureTime / c.exposureStep : 0;
    r.packed12 = packedCodingActive(c);
    r.compressed8 = compressedCodingActive(c);
    r.expand8Table = c.expand8Table;
    r.blackRefImage = c.blackRefImage;
    r.whiteRefImage = c.whiteRefImage;
    r.blackRefEnabled = c.blackRefEnabled != 0;
    r.whiteRefEnabled = c.whiteRefEnabled != 0;
    r.blackRefPresent = c.blackRefPresent != 0;
    r.blemishCorrection = blemishCorrectionEnabled != 0;
    r.flashValid = c.flashValid != 0;
    r.blemishPositions = c.blemishPositions;
    r.blemishCount = c.blemishCount;
    for (int k = 0; k < 3; ++k) {
        r.whiteLuts[k] = c.whiteLuts[k];
    }
    r.whiteGains = c.whiteGains;
    r.colorProcessingEnabled = c.colorProcessingEnabled != 0;
    for (int t = 0; t < 9; ++t) {
        r.matrixTables[t] = c.matrixTables[t];
    }
    r.clampTable = c.clampTable;
    r.colorMatrix = c.colorMatrix;
    r.processingPool = &c.processingPool;
    return r;
}

}  // namespace kqfw
