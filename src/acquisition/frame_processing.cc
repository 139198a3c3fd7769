#include "acquisition/frame_processing.h"

#include <cstring>

#include "acquisition/sample_expansion.h"
#include "camera/geometry.h"
#include "camera/settings_rules.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "processing/assemble_single.h"
#include "processing/colour_matrix.h"
#include "processing/grey_binned.h"
#include "processing/raw_corrections.h"

namespace kqfw {

namespace {

constexpr uint32_t kColourBits = 42;
constexpr uint32_t kGreyResolution = 2;
constexpr uint32_t kFineResolution = 1;

// An inverted delivered rectangle has no pixels (its edges' product would be positive).
int64_t colourMatrixPixels(const FrameRecipe& c) {
    return static_cast<int64_t>(deliveredArea(c.deliveredRect) / c.binning);
}

// The method of a full-size colour frame; the setting is read once, with the others, for the
// whole frame.
int32_t singleMethod(const FrameRecipe& c) {
    if (c.resolutionIndex == kFineResolution) {
        return kRegressionMethod;
    }
    return c.colourInterpolation == KQFW_INTERPOLATION_LMMSE ? kLmmseMethod : kBlockMethod;
}

}  // namespace

uint32_t processStandardFrame(const FrameRecipe& c, uint16_t* image, uint16_t* raw) {
    const Rect rect = c.imageRect;
    const uint32_t b = c.binning;
    // The frame is read as imageRect describes it; a rectangle off the sensor (the frame size
    // is stored unchecked) would read past the receive buffer.
    if (!rectOnSensor(c.sensorWidth, c.sensorHeight, rect) || b < 1) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const uint32_t e = c.exposureUnits;
    const auto binning16 = static_cast<int16_t>(b);
    if (c.blackRefEnabled || c.whiteRefEnabled) {
        ApplyReferences(c, raw, e, rect, binning16, c.blackRefEnabled, c.whiteRefEnabled);
    }
    CorrectBlemishes(c, raw, rect, binning16, e);

    if (c.isMono) {
        if (c.bitsPerPixel == kColourBits) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        const size_t w = static_cast<size_t>(rect.right - rect.left);
        const size_t h = static_cast<size_t>(rect.bottom - rect.top);
        std::memcpy(image, raw, (h / b / 2) * (w / b / 2) * 8);
        return KQFW_STATUS_OK;
    }
    if (c.resolutionIndex == kGreyResolution) {
        AssembleGrey(simdLevel(), c, image, raw);
        return KQFW_STATUS_OK;
    }
    if (c.bitsPerPixel != kColourBits) {
        if (b == 1) {
            AssembleSingleMono(simdLevel(), c, image, raw);
        } else {
            AssembleGrey(simdLevel(), c, image, raw);
        }
        return KQFW_STATUS_OK;
    }
    switch (b) {
        case 1:
            AssembleSingle(c, image, raw, singleMethod(c));
            break;
        case 3:
            AssembleBinned3(c, image, raw);
            break;
        case 5:
            AssembleBinned5(c, image, raw);
            break;
        default:
            return KQFW_STATUS_BAD_ARGUMENT;
    }
    ApplyColorMatrix(c, image, colourMatrixPixels(c));
    return KQFW_STATUS_OK;
}

}  // namespace kqfw
