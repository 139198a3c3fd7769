// Opening and closing cameras.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/fast.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_table.h"
#include "camera/colour_tables.h"
#include "camera/flash_record.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "platform/error_report.h"
#include "transport/discovery.h"
#include "transport/driver_registry.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kDefaultExposure = 100000;
constexpr uint32_t kDefaultExposureStep = 200;
constexpr uint32_t kMonoBitsPerPixel = 14;
constexpr uint32_t kColourBitsPerPixel = 42;
constexpr double kDefaultWhiteBalance[3] = {1.49, 1.98, 1.0};
constexpr double kDefaultFadingGainLimit = 5.0;
constexpr uint32_t kSharedBufferSlack = 100000;
constexpr uint32_t kStreamBufferFrames = 10;
constexpr uint32_t kAuxBufferFrames = 2;

// Opening is rare and slow; one at a time, so that two slots never choose the same camera.
std::mutex openingLock;

// Gives back what a failed opening holds: the driver handle and the record.
void discard(CameraContext* context) {
    if (context->link.deviceHandle != kInvalidDeviceHandle) {
        driver().close(context->link.deviceHandle);
    }
    freeCameraContext(context);
}

// The first camera of the sorted list that no slot has open, or -1.
int32_t firstFreeCamera(const std::vector<std::string>& paths) {
    for (size_t k = 0; k < paths.size(); ++k) {
        if (!deviceIsOpen(paths[k].c_str())) {
            return static_cast<int32_t>(k);
        }
    }
    return -1;
}

std::vector<std::string> matchingCameras() {
    std::vector<std::string> paths = listCameras();
    sortCameraList(paths);
    std::vector<std::string> matching;
    for (std::string& path : paths) {
        if (isColourPath(path) || isMonoPath(path)) {
            matching.push_back(std::move(path));
        }
    }
    return matching;
}

void setSettingDefaults(CameraContext& c) {
    c.exposureTime = kDefaultExposure;
    c.exposureStep = kDefaultExposureStep;
    c.binning = 1;
    c.bitsPerPixel = c.link.isMono ? kMonoBitsPerPixel : kColourBitsPerPixel;
    c.packingEnabled = 1;
    c.compression8Enabled = 0;
}

uint32_t openInto(int32_t index, CameraContext& c, int32_t k) {
    const DeviceLink& link = c.link;
    if (uint32_t status = openCamera(static_cast<uint32_t>(k), c.link, c.format7Modes)) {
        reportError("(%d)Init error %d", index, status);
        return status;
    }
    setSettingDefaults(c);
    if (readQuadlet(link, link.advancedBase + kAdvFirmwareVersion, &c.firmwareVersion) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    if (uint32_t status = readFlashRecord(c)) {
        return status;
    }
    c.shutter1Enable = c.shutter1Polarity = c.ttl2Enable = c.ttl2Polarity = 1;
    c.shutterDelayOpen = c.shutterDelayClose = 0;
    c.flashIdWord = flashIdWordOf(c);
    uint32_t value = 0;
    if (readQuadlet(link, kUniqueIdLow, &value) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    c.uniqueIdLow = value & 0xFFFF;
    if (readQuadlet(link, link.commandBase + kCmdGain, &value) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    c.gainBase = value & 0xFFF;
    c.sensorWidth = c.format7Modes[0].maxWidth / 4 * 4;
    c.sensorHeight = c.format7Modes[0].maxHeight / 4 * 4;
    c.sensorPitch = c.sensorWidth;
    c.sensorPitchPlusOne = c.sensorWidth + 1;
    const Rect full{0, 0, static_cast<int32_t>(c.sensorWidth),
                    static_cast<int32_t>(c.sensorHeight)};
    c.imageRect = c.frameRect = full;
    const uint32_t s = c.sensorWidth * c.sensorHeight + kSharedBufferSlack;
    if (mapSharedBuffers(link, s * kStreamBufferFrames, s * kAuxBufferFrames, &c.streamBuffer,
                         &c.auxBuffer) != 0) {
        return KQFW_STATUS_NO_MEMORY;
    }
    return 0;
}

// Events, the bus-reset watch and the colour tables: nothing here can fail the opening.
void finishOpening(CameraContext& c) {
    c.frameEvent = std::make_unique<Event>(false);
    registerFrameEvent(c.link, c.frameEvent.get());
    c.triggerEvent = std::make_unique<Event>(false);
    registerTriggerEvent(c.link, c.triggerEvent.get());
    c.shotReadyEvent = std::make_unique<Event>(false);
    c.watch.state->owner = static_cast<int32_t>(c.cameraIndex);
    c.watch.state->serving = &serveCamera;
    if (!startBusResetWatch(c.watch, c.link.devicePath)) {
        reportError("Couldn\xB4t create bus reset thread");
    }
    for (int i = 0; i < 3; ++i) {
        c.saturation[i] = 1.0;
        c.whiteBalance[i] = kDefaultWhiteBalance[i];
    }
    c.fadingGainLimit = kDefaultFadingGainLimit;
    saturationStep(c);
    buildColourTables(c, c.whiteBalance);
    fillClampTable(c.clampTable);
    fillExpand8Table(c.expand8Table);
    // Last, so the camera's own threads are started first; a worker the system refuses only
    // leaves the pool smaller.
    c.processingPool.setThreads(defaultProcessingThreads());
}

}  // namespace

void closeCamera(int32_t index, CameraContext* c) {
    if (c->link.deviceHandle != kInvalidDeviceHandle) {
        // A run stops before anything it uses is released. A continuous run has ended already:
        // it holds the camera until its dispatch thread is done. A fast series is aborted.
        if (c->runActive != 0 && c->streaming == 0) {
            AbortFastForClose(*c);
        }
        if (c->frameEvent) {
            registerFrameEvent(c->link, nullptr);
        }
        if (c->triggerEvent) {
            registerTriggerEvent(c->link, nullptr);
        }
        // The helper threads of the last acquisition have ended before its call returned; the
        // join gives back what is left of them. A stream an application prepared and never
        // finalised gives its bus resources back.
        c->receiveThread.join();
        c->continuousThread.join();
        {
            std::lock_guard lock(c->registerLock);
            if (c->streamReady != 0) {
                CleanupStream(*c);
            }
            releaseUnreleased(*c);
        }
        stopBusResetWatch(c->watch);
        void* released[2];
        mapSharedBuffers(c->link, 0, 0, &released[0], &released[1]);
        c->streamBuffer = c->auxBuffer = nullptr;
        driver().close(c->link.deviceHandle);
        c->link.deviceHandle = kInvalidDeviceHandle;
    }
    c->frameEvent.reset();
    c->triggerEvent.reset();
    c->shotReadyEvent.reset();
    finishClose(index);
    freeCameraContext(c);
}

// Opens camera `position` of the sorted listing into slot `index`, or with -1 the first camera
// of the listing that no slot holds. A slot already open keeps its camera: 0 when that is the
// camera asked for (or any, with -1), 10 otherwise; a listed camera another slot holds is 10.
StatusCode initSlot(int32_t index, int32_t position) {
    if (!validIndex(index)) {
        return KQFW_STATUS_NO_CAMERA;
    }
    if (!waitWhileClosing(index)) {
        return KQFW_STATUS_BUSY;
    }
    std::lock_guard opening(openingLock);
    if (position < 0 && slotIsOccupied(index)) {
        return KQFW_STATUS_OK;
    }
    const std::vector<std::string> paths = matchingCameras();
    if (position >= static_cast<int32_t>(paths.size())) {
        return KQFW_STATUS_NO_CAMERA;
    }
    if (slotIsOccupied(index)) {
        return slotHoldingDevice(paths[position].c_str()) == index ? KQFW_STATUS_OK
                                                                   : KQFW_STATUS_BUSY;
    }
    if (paths.empty()) {
        return KQFW_STATUS_NO_CAMERA;
    }
    int32_t k = position;
    if (k < 0) {
        k = firstFreeCamera(paths);
        if (k < 0) {
            return KQFW_STATUS_NO_CAMERA;
        }
    } else if (deviceIsOpen(paths[k].c_str())) {
        return KQFW_STATUS_BUSY;
    }
    kqfw::CameraContext* context = allocateCameraContext();
    if (context == nullptr) {
        return KQFW_STATUS_NO_MEMORY;
    }
    context->cameraIndex = static_cast<uint32_t>(index);
    if (uint32_t status = openInto(index, *context, k)) {
        discard(context);
        return status;
    }
    finishOpening(*context);
    // Other calls see the record only once it is whole.
    publishCamera(index, context);
    return KQFW_STATUS_OK;
}

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode IxenmInit(int32_t index) {
    return initSlot(index, -1);
}

KQFW_API StatusCode kqfwListCameras(KqfwListedCamera* cameras, int32_t capacity, int32_t* count) {
    if (count == nullptr || capacity < 0 || (cameras == nullptr && capacity > 0)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const std::vector<std::string> paths = matchingCameras();
    *count = static_cast<int32_t>(paths.size());
    for (int32_t k = 0; k < capacity && k < *count; ++k) {
        KqfwListedCamera& listed = cameras[k];
        listed = {};
        std::snprintf(listed.devicePath, sizeof listed.devicePath, "%s", paths[k].c_str());
        listed.isMono = isMonoPath(paths[k]) ? 1 : 0;
        listed.slot = slotHoldingDevice(paths[k].c_str());
    }
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode kqfwInitListed(int32_t index, int32_t position) {
    if (position < 0) {
        return KQFW_STATUS_NO_CAMERA;
    }
    return initSlot(index, position);
}

KQFW_API StatusCode IxenInit(void) {
    const uint32_t count = selectCamera(0, nullptr);
    if (count == 0) {
        return KQFW_STATUS_NO_CAMERA;
    }
    for (uint32_t i = 0; i < count && static_cast<int32_t>(i) < kCameraSlots; ++i) {
        if (StatusCode status = IxenmInit(static_cast<int32_t>(i))) {
            return status;
        }
    }
    return KQFW_STATUS_OK;
}

KQFW_API void IxenmClose(int32_t index) {
    if (kqfw::CameraContext* c = beginClose(index)) {
        closeCamera(index, c);
    }
}

KQFW_API void IxenClose(void) {
    for (int32_t i = 0; i < kCameraSlots; ++i) {
        IxenmClose(i);
    }
}

}  // extern "C"
