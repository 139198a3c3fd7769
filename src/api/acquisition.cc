// Single-frame acquisition and the prepared-stream trio.
#include <mutex>

#include "acquisition/acquire_image.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "camera/geometry.h"
#include "camera/settings_rules.h"
#include "kqfw/kqfw.h"
#include "platform/error_report.h"

using namespace kqfw;

extern "C" {

KQFW_API int32_t IxenmAcquisition(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                  ProgressCallback callback) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    if (callback != nullptr) {
        held.lease.get()->progressCallback = callback;
    }
    return static_cast<int32_t>(
        AcquireImage(held.lease, image, imageBytes,
                     callback != nullptr ? ProgressKind::kPlain : ProgressKind::kNone, true,
                     AcquireAs::kEntryPoint));
}

KQFW_API int32_t IxenAcquisition(uint16_t* image, uint32_t imageBytes, ProgressCallback callback) {
    return IxenmAcquisition(0, image, imageBytes, callback);
}

KQFW_API int32_t IxenmAcquisitionEx(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                    ProgressCallbackEx callback, uint64_t userData) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    if (callback != nullptr) {
        held.lease.get()->progressCallbackEx = callback;
        held.lease.get()->progressUserData = userData;
    }
    return static_cast<int32_t>(
        AcquireImage(held.lease, image, imageBytes,
                     callback != nullptr ? ProgressKind::kEx : ProgressKind::kNone, true,
                     AcquireAs::kEntryPoint));
}

KQFW_API int32_t IxenAcquisitionEx(uint16_t* image, uint32_t imageBytes,
                                   ProgressCallbackEx callback, uint64_t userData) {
    return IxenmAcquisitionEx(0, image, imageBytes, callback, userData);
}

KQFW_API int32_t IxenmInitializeAcquisition(int32_t camera) {
    auto [c, status] = idleCameraFor(camera);
    if (c == nullptr) {
        return static_cast<int32_t>(status);
    }
    // The prepared stream is single-shot: a series could never complete on it.
    if (isMultiShotResolution(c->resolutionIndex)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->streaming = 0;
    const uint32_t result = SetupStreamUnlessReady(*c, 1);
    if (result != 0) {
        reportError("(%d)IxenmInitializeAcquisition error %d", camera, static_cast<int>(result));
        return static_cast<int32_t>(result);
    }
    c->applicationStream = 1;
    return KQFW_STATUS_OK;
}

KQFW_API int32_t IxenmNextAcquisition(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                      uint32_t exposure) {
    CameraOrStatus held = cameraFor(camera);
    kqfw::CameraContext* c = held.lease.get();
    if (c == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    // Claimed before the exposure is touched: the frame's exposure is this call's.
    ActivityClaim claim(*c, Activity::kSingle);
    if (!claim.held() || c->busy != 0 || c->runActive != 0) {
        return KQFW_STATUS_BUSY;
    }
    if (!exposureInRange(*c, exposure)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    // Without a prepared stream the receive would deliver nothing and the image would be made
    // from whatever the buffer held last.
    if (c->applicationStream == 0) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->settingsChanged = 1;
    c->exposureTime = exposure / c->exposureStep * c->exposureStep;
    // Compared with what the camera was programmed with, not with the last setting: an
    // exposure set between two frames has not reached the camera.
    if (exposure / c->exposureStep != c->streamExposureUnits) {
        std::lock_guard lock(c->registerLock);
        if (uint32_t status = ChangeExposure(*c, exposure / c->exposureStep)) {
            return static_cast<int32_t>(status);
        }
    }
    return static_cast<int32_t>(AcquireImage(held.lease, image, imageBytes, ProgressKind::kNone,
                                             false, AcquireAs::kInsideActivity));
}

KQFW_API int32_t IxenmFinalizeAcquisition(int32_t camera) {
    auto [c, status] = idleCameraFor(camera);
    if (c == nullptr) {
        return static_cast<int32_t>(status);
    }
    // Without a stream there is nothing to tear down: the driver is not asked to stop
    // resources the record no longer holds (another camera's, were their handle reused).
    if (c->streamReady == 0) {
        reportError("cleanup error");
        return KQFW_STATUS_OK;
    }
    uint32_t result = 0;
    {
        std::lock_guard lock(c->registerLock);
        result = CleanupStream(*c);
    }
    c->applicationStream = c->streamReady != 0 ? 1 : 0;
    if (result != 0) {
        reportError("(%d)IxenmFinalizeAcquisition error %d", camera, static_cast<int>(result));
    }
    return static_cast<int32_t>(result);
}

}  // extern "C"
