#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

inline constexpr uint32_t kResolutionCount = 7;

// Indexes 3 to 6: a sensor-shift series of shots, not one frame.
inline bool isMultiShotResolution(uint32_t resolutionIndex) {
    return resolutionIndex >= 3 && resolutionIndex <= 6;
}
// Output magnification of a resolution index: 1 for 0 to 3, 2 for 4, 3 for 5 and 6.
uint32_t magnification(uint32_t resolutionIndex);

// The base size W x H of the sensor's readout: Format_7 mode 0's vendor mode size.
uint32_t baseWidth(const CameraContext& context);
uint32_t baseHeight(const CameraContext& context);

// The whole base image of the resolution, unbinned.
Rect fullBase(const CameraContext& context);

// Aligns a rectangle to 4 x binning, after the mono model's right-edge limits.
Rect alignToBinning(const CameraContext& context, Rect rect);

// The frame size setter's work (also the binning setter's and the reference frames'): the
// frame rectangle, or the full base size for null, and the image rectangle aligned from it.
void setFrame(CameraContext& context, const uint32_t* rect);

// A non-empty rectangle that lies on the sensor: what a frame can be read as.
bool rectOnSensor(const CameraContext& context, const Rect& rect);
bool rectOnSensor(uint32_t sensorWidth, uint32_t sensorHeight, const Rect& rect);

bool bitsPerPixelAvailable(const CameraContext& context, int32_t bitsPerPixel);
bool binningAvailable(const CameraContext& context, int32_t factor);

}  // namespace kqfw
