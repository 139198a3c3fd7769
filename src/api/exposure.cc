// Exposure, trigger, transfer format, gain, vendor-register reads and the processing switches.
#include <mutex>

#include "camera/settings_rules.h"

#include "acquisition/stream_setup.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kPackedStep = 200;
constexpr uint32_t kUnpackedStep = 400;
constexpr int32_t kMaxSequence = 5;
constexpr uint32_t kMaxSequenceSteps = 4095;
constexpr uint32_t kSequenceFirmware = 266;
constexpr uint32_t kMaxGain = 255;
constexpr uint32_t kGainMask = 0xFFF;
constexpr uint32_t kGainManual = 0x02000000;
constexpr uint32_t kMaxBloomingVoltage = 63;

uint32_t roundDown(uint32_t t, uint32_t step) {
    return t / step * step;
}

// Frame delay and frame time share one register: the last one set decides (frameTimeMode).
StatusCode setFrameTiming(int32_t index, uint32_t microseconds, uint32_t CameraContext::*field,
                          uint32_t frameTimeMode) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (microseconds > kLongestExposure) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->*field = microseconds / c->exposureStep;
    c->frameTimeMode = frameTimeMode;
    c->settingsChanged = 1;
    return KQFW_STATUS_OK;
}

// Runs one register request on a handle no receive occupies: the device handle, under the
// register lock, when no receive is attached; else a second handle of the camera, as the abort's
// stop does. A receive holds the register lock and the device handle for its whole length (a
// run's is the run), so the gain calls neither wait for a run nor hold the settings against a
// stop. An error number; a second handle that cannot be had counts as the file not found.
template <typename Request>
uint32_t onFreeHandle(CameraContext& c, Request request) {
    if (c.busy != 0) {
        const DeviceHandle second = openSecondHandle(c);
        if (second == kInvalidDeviceHandle) {
            return kErrorFileNotFound;
        }
        const uint32_t error = request(second);
        closeSecondHandle(second);
        return error;
    }
    std::lock_guard lock(c.registerLock);
    return request(c.link.deviceHandle);
}

StatusCode storeFlag(int32_t index, uint32_t value, uint32_t CameraContext::*field,
                     bool refusedWhileBusy) {
    auto [c, status] = refusedWhileBusy ? idleCameraFor(index) : cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    c->*field = value;
    return KQFW_STATUS_OK;
}

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode IxenmGetExposureRange(int32_t index, uint32_t* minimum, uint32_t* maximum,
                                          uint32_t* step) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (minimum == nullptr || maximum == nullptr || step == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *minimum = 2 * c->exposureStep;
    *maximum = kLongestExposure;
    *step = c->exposureStep;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetExposureRange(uint32_t* minimum, uint32_t* maximum, uint32_t* step) {
    return IxenmGetExposureRange(0, minimum, maximum, step);
}

KQFW_API StatusCode IxenmSetExposure(int32_t index, uint32_t microseconds) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (!exposureInRange(*c, microseconds)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->exposureTime = roundDown(microseconds, c->exposureStep);
    c->settingsChanged = 1;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetExposure(uint32_t microseconds) {
    return IxenmSetExposure(0, microseconds);
}

KQFW_API StatusCode IxenmGetCurrentExposure(int32_t index, uint32_t* microseconds) {
    return readField(index, microseconds, &kqfw::CameraContext::exposureTime);
}

KQFW_API uint32_t IxenGetCurrentExposure(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.exposureTime; });
}

KQFW_API StatusCode IxenmSetExposureSequence(int32_t index, int32_t count, uint32_t* times) {
    if (count < 1 || count > kMaxSequence || times == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    auto [open, missing] = cameraFor(index);
    if (open == nullptr) {
        return missing;
    }
    if (open->firmwareVersion < kSequenceFirmware) {
        return KQFW_STATUS_FIRMWARE_TOO_OLD;
    }
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    const uint32_t step = c->exposureStep;
    if (!exposureInRange(*c, times[0])) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->exposureTime = roundDown(times[0], step);
    for (int32_t k = 1; k < count; ++k) {
        if (times[k] < 2 * step || times[k] > kMaxSequenceSteps * step) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        c->exposureSequence[k - 1] = roundDown(times[k], step);
    }
    for (int32_t k = count; k < kMaxSequence; ++k) {
        c->exposureSequence[k - 1] = 0;
    }
    c->settingsChanged = 1;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenmSetFrameDelay(int32_t index, uint32_t microseconds) {
    return setFrameTiming(index, microseconds, &kqfw::CameraContext::frameDelay, 0);
}

KQFW_API StatusCode IxenmSetFrameTime(int32_t index, uint32_t microseconds) {
    return setFrameTiming(index, microseconds, &kqfw::CameraContext::frameTime, 1);
}

KQFW_API StatusCode IxenmEnableHardwareTrigger(int32_t index, uint32_t on) {
    return storeFlag(index, on, &kqfw::CameraContext::hardwareTrigger, false);
}

KQFW_API StatusCode IxenEnableHardwareTrigger(uint32_t on) {
    return IxenmEnableHardwareTrigger(0, on);
}

KQFW_API StatusCode IxenmSetHardwareTriggerPolarity(int32_t index, uint32_t polarity) {
    return storeFlag(index, polarity, &kqfw::CameraContext::triggerPolarity, false);
}

KQFW_API StatusCode IxenSetHardwareTriggerPolarity(uint32_t polarity) {
    return IxenmSetHardwareTriggerPolarity(0, polarity);
}

KQFW_API StatusCode IxenmIsHardwareTriggerEnabled(int32_t index, uint32_t* on) {
    return readField(index, on, &kqfw::CameraContext::hardwareTrigger);
}

KQFW_API StatusCode IxenIsHardwareTriggerEnabled(uint32_t* on) {
    return IxenmIsHardwareTriggerEnabled(0, on);
}

KQFW_API StatusCode IxenmEnableOverlappedTriggeredAcquisition(int32_t index, uint32_t on) {
    return storeFlag(index, on, &kqfw::CameraContext::overlappedTrigger, false);
}

KQFW_API StatusCode IxenmEnablePacking(int32_t index, int32_t on) {
    auto [c, status] = streamShapingCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (on == 0) {
        c->packingEnabled = 0;
        c->exposureStep = kUnpackedStep;
    } else if (!c->format7Modes[0].packingCapable) {
        return KQFW_STATUS_BAD_ARGUMENT;
    } else {
        c->packingEnabled = 1;
        c->exposureStep = kPackedStep;
    }
    c->settingsChanged = 1;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenmEnable8bitCompression(int32_t index, int32_t on) {
    auto [c, status] = streamShapingCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (on == 0) {
        c->compression8Enabled = 0;
    } else if (!c->format7Modes[0].compressionCapable) {
        return KQFW_STATUS_BAD_ARGUMENT;
    } else {
        c->compression8Enabled = 1;
    }
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenmReadAdvancedFeatureRegister(int32_t index, uint32_t offset,
                                                     uint32_t* value) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (offset % 4 != 0 || offset > kAdvReadableLimit || value == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    return readQuadlet(c->link, c->link.advancedBase + offset, value);
}

KQFW_API StatusCode IxenmReadAnalogGain(int32_t index, uint32_t* gain) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (gain == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    uint32_t value = 0;
    const DeviceLink& link = c->link;
    const uint32_t error = onFreeHandle(*c, [&](DeviceHandle handle) {
        return readQuadletOnHandle(link, handle, link.commandBase + kCmdGain, &value);
    });
    *gain = (value & kGainMask) - c->gainBase;
    return error != 0 ? KQFW_STATUS_READ_FAILED : KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenmWriteAnalogGain(int32_t index, uint32_t gain) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (gain > kMaxGain) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const uint32_t value = ((c->gainBase + gain) & kGainMask) | kGainManual;
    const DeviceLink& link = c->link;
    const uint32_t error = onFreeHandle(*c, [&](DeviceHandle handle) {
        return writeQuadletOnHandle(link, handle, link.commandBase + kCmdGain, value);
    });
    return error != 0 ? KQFW_STATUS_WRITE_FAILED : KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenmSetBloomingVoltage(int32_t index, uint32_t voltage) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (voltage > kMaxBloomingVoltage) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->bloomingVoltage = voltage;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetBloomingVoltage(uint32_t voltage) {
    return IxenmSetBloomingVoltage(0, voltage);
}

KQFW_API StatusCode IxenmGetBloomingVoltage(int32_t index, uint32_t* voltage) {
    return readField(index, voltage, &kqfw::CameraContext::bloomingVoltage);
}

KQFW_API StatusCode IxenGetBloomingVoltage(uint32_t* voltage) {
    return IxenmGetBloomingVoltage(0, voltage);
}

KQFW_API StatusCode IxenmEnableSharpener(int32_t index, uint32_t on) {
    return storeFlag(index, on, &kqfw::CameraContext::sharpenerEnabled, false);
}

KQFW_API uint32_t IxenEnableSharpener(uint32_t on) {
    return IxenmEnableSharpener(0, on);
}

KQFW_API StatusCode IxenmIsSharpenerEnabled(int32_t index, uint32_t* on) {
    return readField(index, on, &kqfw::CameraContext::sharpenerEnabled);
}

KQFW_API uint32_t IxenIsSharpenerEnabled(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.sharpenerEnabled; });
}

KQFW_API StatusCode IxenmSetFadingCorrection(int32_t index, uint32_t value) {
    return storeFlag(index, value, &kqfw::CameraContext::fadingCorrection, true);
}

KQFW_API StatusCode IxenSetFadingCorrection(uint32_t value) {
    return IxenmSetFadingCorrection(0, value);
}

KQFW_API StatusCode IxenmGetCurrentFadingCorrection(int32_t index, uint32_t* value) {
    return readField(index, value, &kqfw::CameraContext::fadingCorrection);
}

KQFW_API uint32_t IxenGetCurrentFadingCorrection(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.fadingCorrection; });
}

KQFW_API StatusCode IxenSetFadingCorrectionGainLimit(double limit) {
    auto [c, status] = idleCameraFor(0);
    if (c == nullptr) {
        return status;
    }
    c->fadingGainLimit = limit;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenmSetMultiShotFilter(int32_t index, uint32_t value) {
    return storeFlag(index, value, &kqfw::CameraContext::multiShotFilter, true);
}

KQFW_API StatusCode IxenSetMultiShotFilter(uint32_t value) {
    return IxenmSetMultiShotFilter(0, value);
}

KQFW_API StatusCode IxenmGetCurrentMultiShotFilter(int32_t index, uint32_t* value) {
    return readField(index, value, &kqfw::CameraContext::multiShotFilter);
}

KQFW_API uint32_t IxenGetCurrentMultiShotFilter(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.multiShotFilter; });
}

KQFW_API StatusCode IxenmHasCalibration(int32_t index, uint32_t* has) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (has == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const uint32_t r = c->resolutionIndex;
    *has = (r == 4 || r == 5 || (r == 3 && !c->link.isMono)) ? 1 : 0;
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenHasCalibration(void) {
    uint32_t has = 0;
    return IxenmHasCalibration(0, &has) == 0 ? has : 0;
}

KQFW_API uint32_t Ixenm_corrblems(int32_t index, uint32_t on) {
    blemishCorrectionEnabled = on;
    auto [c, status] = cameraFor(index);
    return c == nullptr ? 0 : c->flashValid;
}

KQFW_API uint32_t Ixen_corrblems(uint32_t on) {
    return Ixenm_corrblems(0, on);
}

}  // extern "C"
