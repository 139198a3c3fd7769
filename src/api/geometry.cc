// Image geometry: resolution, bits per pixel, binning, image and frame size.
#include <climits>

#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "camera/geometry.h"
#include "kqfw/kqfw.h"

namespace kqfw {

namespace {

constexpr uint32_t kColourBits = 42;
constexpr uint32_t kMonoBits = 14;
constexpr uint32_t kColourResolutions = 7;
constexpr uint32_t kMonoResolutions = 6;
constexpr uint32_t kColourOnlyResolution = 3;
constexpr uint32_t kFirstMultiShot = 3;

bool lowResolution(uint32_t r) {
    return r <= 1;
}

void store(const Rect& rect, uint32_t* out) {
    out[0] = static_cast<uint32_t>(rect.left);
    out[1] = static_cast<uint32_t>(rect.top);
    out[2] = static_cast<uint32_t>(rect.right);
    out[3] = static_cast<uint32_t>(rect.bottom);
}

// The image rectangle as the application sees it (binned pixels or output pixels), in the
// u32 arithmetic of its values, so a huge stored rectangle wraps instead of overflowing.
struct OutputRect {
    uint32_t left, top, right, bottom;
};
OutputRect outputImageRect(const CameraContext& c) {
    const Rect& r = c.imageRect;
    const uint32_t v[4] = {static_cast<uint32_t>(r.left), static_cast<uint32_t>(r.top),
                           static_cast<uint32_t>(r.right), static_cast<uint32_t>(r.bottom)};
    if (c.resolutionIndex < kFirstMultiShot) {
        const uint32_t b = c.binning;
        return {v[0] / b, v[1] / b, v[2] / b, v[3] / b};
    }
    const uint32_t m = magnification(c.resolutionIndex);
    return {v[0] * m, v[1] * m, v[2] * m, v[3] * m};
}

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API uint32_t IxenmGetNumberOfResolutions(int32_t index) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return KQFW_STATUS_NO_CAMERA;
    }
    return c->link.isMono ? kMonoResolutions : kColourResolutions;
}

KQFW_API uint32_t IxenGetNumberOfResolutions(void) {
    return IxenmGetNumberOfResolutions(0);
}

KQFW_API StatusCode IxenmGetResolutionValues(int32_t index, int32_t resolution, uint32_t* width,
                                             uint32_t* height, uint32_t* id) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (resolution < 0 || resolution > 6 || width == nullptr || height == nullptr ||
        id == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const uint32_t m = magnification(static_cast<uint32_t>(resolution));
    *width = m * baseWidth(*c);
    *height = m * baseHeight(*c);
    *id = static_cast<uint32_t>(resolution);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetResolutionValues(int32_t resolution, uint32_t* width, uint32_t* height,
                                            uint32_t* id) {
    return IxenmGetResolutionValues(0, resolution, width, height, id);
}

KQFW_API StatusCode IxenmSetResolution(int32_t index, uint32_t resolution) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (resolution > 6 || (c->link.isMono && resolution == kColourOnlyResolution)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    if (activityOf(*c) != Activity::kIdle || c->busy != 0 || c->runActive != 0 ||
        c->applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    c->resolutionIndex = resolution;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetResolution(uint32_t resolution) {
    return IxenmSetResolution(0, resolution);
}

KQFW_API uint32_t IxenmGetCurrentResolution(int32_t index) {
    auto [c, status] = cameraFor(index);
    return c == nullptr ? uint32_t{KQFW_STATUS_NO_CAMERA} : c->resolutionIndex;
}

KQFW_API uint32_t IxenGetCurrentResolution(void) {
    return IxenmGetCurrentResolution(0);
}

KQFW_API StatusCode IxenmHasBitsPerPixel(int32_t index, int32_t bitsPerPixel, uint32_t* available) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (available == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *available = bitsPerPixelAvailable(*c, bitsPerPixel) ? 1 : 0;
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenHasBitsPerPixel(int32_t bitsPerPixel) {
    uint32_t available = 0;
    return IxenmHasBitsPerPixel(0, bitsPerPixel, &available) == 0 ? available : 0;
}

KQFW_API StatusCode IxenmSetBitsPerPixel(int32_t index, int32_t bitsPerPixel) {
    auto [c, status] = streamShapingCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (c->link.isMono) {
        return bitsPerPixel == static_cast<int32_t>(kMonoBits) ? KQFW_STATUS_OK
                                                               : KQFW_STATUS_BAD_ARGUMENT;
    }
    const bool low = lowResolution(c->resolutionIndex);
    if (bitsPerPixel == static_cast<int32_t>(kColourBits)) {
        // Binning codes pair up across the bit depths: 2 and 3, 4 and 5.
        if (low && c->binning == 2) {
            c->binning = 3;
        } else if (low && c->binning == 4) {
            c->binning = 5;
        }
        c->bitsPerPixel = kColourBits;
        return KQFW_STATUS_OK;
    }
    if (bitsPerPixel == static_cast<int32_t>(kMonoBits)) {
        if (c->resolutionIndex >= kFirstMultiShot) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        if (low && c->binning == 3) {
            c->binning = 2;
        } else if (low && c->binning == 5) {
            c->binning = 4;
        }
        c->bitsPerPixel = kMonoBits;
        return KQFW_STATUS_OK;
    }
    return KQFW_STATUS_BAD_ARGUMENT;
}

KQFW_API StatusCode IxenSetBitsPerPixel(int32_t bitsPerPixel) {
    return IxenmSetBitsPerPixel(0, bitsPerPixel);
}

KQFW_API uint32_t IxenmGetCurrentBitsPerPixel(int32_t index) {
    auto [c, status] = cameraFor(index);
    return c == nullptr ? uint32_t{KQFW_STATUS_NO_CAMERA} : c->bitsPerPixel;
}

KQFW_API uint32_t IxenGetCurrentBitsPerPixel(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.bitsPerPixel; });
}

KQFW_API StatusCode IxenmHasBinning(int32_t index, int32_t factor, uint32_t* available) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (available == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *available = binningAvailable(*c, factor) ? 1 : 0;
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenHasBinning(int32_t factor) {
    uint32_t available = 0;
    return IxenmHasBinning(0, factor, &available) == 0 ? available : 0;
}

KQFW_API StatusCode IxenmSetBinning(int32_t index, int32_t factor) {
    auto [c, status] = streamShapingCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (!binningAvailable(*c, factor)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->binning = static_cast<uint32_t>(factor);
    uint32_t rect[4];
    store(c->imageRect, rect);
    setFrame(*c, rect);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetBinning(int32_t factor) {
    return IxenmSetBinning(0, factor);
}

KQFW_API StatusCode IxenmGetCurrentBinning(int32_t index, uint32_t* factor) {
    return readField(index, factor, &kqfw::CameraContext::binning);
}

KQFW_API uint32_t IxenGetCurrentBinning(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.binning; });
}

KQFW_API StatusCode IxenmHasImageSize(int32_t, uint32_t* available) {
    if (available == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *available = 1;
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenHasImageSize(void) {
    return 1;
}

KQFW_API StatusCode IxenmSetImageSize(int32_t index, uint32_t* rect) {
    auto [c, status] = streamShapingCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (rect == nullptr) {
        c->imageRect = alignToBinning(*c, fullBase(*c));
        c->settingsChanged = 1;
        c->frameRect = c->imageRect;
        return KQFW_STATUS_OK;
    }
    // The application's values are u32 and the arithmetic stays in u32, as its callers know it.
    int32_t v[4];
    for (int i = 0; i < 4; ++i) {
        uint32_t value = rect[i];
        if (c->resolutionIndex < kFirstMultiShot) {
            value *= c->binning;
        }
        v[i] = static_cast<int32_t>(value / magnification(c->resolutionIndex));
    }
    const Rect aligned = alignToBinning(*c, {v[0], v[1], v[2], v[3]});
    // Only the far edges are checked, as the u32 values they are (so a huge one is outside); an
    // empty region is refused when an image is taken.
    if (static_cast<uint32_t>(aligned.right) > baseWidth(*c) ||
        static_cast<uint32_t>(aligned.bottom) > baseHeight(*c)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->imageRect = c->frameRect = aligned;
    c->settingsChanged = 1;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetImageSize(uint32_t* rect) {
    return IxenmSetImageSize(0, rect);
}

KQFW_API StatusCode IxenmGetCurrentImageSize(int32_t index, uint32_t* rect) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (rect == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const OutputRect r = outputImageRect(*c);
    rect[0] = r.left;
    rect[1] = r.top;
    rect[2] = r.right;
    rect[3] = r.bottom;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetCurrentImageSize(uint32_t* rect) {
    return IxenmGetCurrentImageSize(0, rect);
}

KQFW_API StatusCode IxenmSetFrameSize(int32_t index, uint32_t* rect) {
    auto [c, status] = streamShapingCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    setFrame(*c, rect);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetFrameSize(uint32_t* rect) {
    return IxenmSetFrameSize(0, rect);
}

KQFW_API StatusCode IxenmGetCurrentFrameSize(int32_t index, uint32_t* rect) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (rect == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    store(c->frameRect, rect);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetCurrentFrameSize(uint32_t* rect) {
    return IxenmGetCurrentFrameSize(0, rect);
}

KQFW_API StatusCode IxenmGetCurrentDataSize(int32_t index, uint32_t* width, uint32_t* height) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (width == nullptr || height == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const OutputRect r = outputImageRect(*c);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetCurrentDataSize(uint32_t* width, uint32_t* height) {
    return IxenmGetCurrentDataSize(0, width, height);
}

}  // extern "C"
