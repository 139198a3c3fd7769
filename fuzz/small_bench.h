#pragma once
// The bench the fuzz targets run on: cameras with small sensors, bench time as fast as it
// renders and noise off (a frame is rendered once and repeated), no settle pauses and no
// message boxes, so that an input takes milliseconds.
#include <cstdint>

#include "kqfw/kqfw.h"
#include "kqfw/kqsim.h"
#include "platform/clock.h"

namespace kqfw::fuzz {

inline constexpr uint32_t kSensorWidth = 256, kSensorHeight = 192;

inline void quietLibrary() {
    setSettleScale(0);
    IxenSetErrorMessages(0);
}

// Empties the bench; a reset puts real time back, so the time scale follows it.
inline void resetBench() {
    kqsimReset();
    kqsimSetTimeScale(0);
}

inline KqsimCameraConfig smallCamera(uint32_t model, uint32_t width = kSensorWidth,
                                     uint32_t height = kSensorHeight) {
    KqsimCameraConfig config;
    kqsimDefaultConfig(model, &config);
    config.maxWidth = config.modeWidth = width;
    config.maxHeight = config.modeHeight = height;
    return config;
}

// A camera added to the bench, noise off; -1 when the bench refuses it.
inline int32_t addCamera(const KqsimCameraConfig& config) {
    const int32_t camera = kqsimAddCamera(&config);
    if (camera >= 0) {
        kqsimSetNoise(camera, 0);
    }
    return camera;
}

// An empty bench with a small colour camera (0) and a small monochrome one (1).
inline void smallBench() {
    resetBench();
    addCamera(smallCamera(KQSIM_MODEL_KQC));
    addCamera(smallCamera(KQSIM_MODEL_KQM));
}

}  // namespace kqfw::fuzz
