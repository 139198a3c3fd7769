// Image geometry: resolution, bits per pixel, binning, image and frame size.
#include "camera/geometry.h"

#include <climits>

#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"

namespace kqfw {

namespace {

constexpr uint32_t kColourBits = 42;
constexpr uint32_t kMonoBits = 14;
constexpr uint32_t kGreyResolution = 2;
// The mono sensor's right edge with wide binning units.
constexpr int32_t kMonoRightLimitBin34 = 1388;
constexpr int32_t kMonoRightLimitBin5 = 1360;

Rect rectFrom(const uint32_t* r) {
    return {static_cast<int32_t>(r[0]), static_cast<int32_t>(r[1]), static_cast<int32_t>(r[2]),
            static_cast<int32_t>(r[3])};
}

}  // namespace

Rect fullBase(const CameraContext& c) {
    return {0, 0, static_cast<int32_t>(baseWidth(c)), static_cast<int32_t>(baseHeight(c))};
}

void setFrame(CameraContext& c, const uint32_t* rect) {
    if (rect == nullptr) {
        c.imageRect = c.frameRect = fullBase(c);
    } else {
        c.frameRect = rectFrom(rect);
        c.imageRect = c.frameRect;
    }
    c.imageRect = alignToBinning(c, c.imageRect);
    c.settingsChanged = 1;
}

uint32_t magnification(uint32_t resolutionIndex) {
    return resolutionIndex <= 3 ? 1 : resolutionIndex == 4 ? 2 : 3;
}

uint32_t baseWidth(const CameraContext& c) {
    return c.format7Modes[0].modeWidth;
}

uint32_t baseHeight(const CameraContext& c) {
    return c.format7Modes[0].modeHeight;
}

Rect alignToBinning(const CameraContext& c, Rect rect) {
    if (c.link.isMono) {
        if ((c.binning == 3 || c.binning == 4) && rect.right > kMonoRightLimitBin34) {
            rect.right = kMonoRightLimitBin34;
        } else if (c.binning == 5 && rect.right > kMonoRightLimitBin5) {
            rect.right = kMonoRightLimitBin5;
        }
    }
    const int32_t u = 4 * static_cast<int32_t>(c.binning);
    return {rect.left / u * u, rect.top / u * u, rect.right / u * u, rect.bottom / u * u};
}

bool rectOnSensor(const CameraContext& c, const Rect& r) {
    return rectOnSensor(c.sensorWidth, c.sensorHeight, r);
}

bool rectOnSensor(uint32_t sensorWidth, uint32_t sensorHeight, const Rect& r) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           r.right <= static_cast<int64_t>(sensorWidth) &&
           r.bottom <= static_cast<int64_t>(sensorHeight);
}

bool bitsPerPixelAvailable(const CameraContext& c, int32_t bitsPerPixel) {
    if (c.link.isMono || c.resolutionIndex == kGreyResolution) {
        return bitsPerPixel == static_cast<int32_t>(kMonoBits);
    }
    return true;
}

bool binningAvailable(const CameraContext& c, int32_t factor) {
    if (c.resolutionIndex >= 2) {
        return factor == 1;
    }
    if (c.bitsPerPixel == kColourBits) {
        return factor == 1 || factor == 3 || factor == 5;
    }
    if (c.link.isMono) {
        return factor >= 1 && factor <= 5;
    }
    return factor == 1 || factor == 2 || factor == 4;
}

}  // namespace kqfw
