// Continuous acquisition, the image-done callback, and what runs and series report.
#include "acquisition/continuous.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

using namespace kqfw;

extern "C" {

KQFW_API int32_t IxenmStartContinuousAcquisition(int32_t camera, int32_t threadPriority,
                                                 uint64_t userValue) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    return static_cast<int32_t>(StartContinuous(held.lease, threadPriority, userValue));
}

KQFW_API int32_t IxenmStopContinuousAcquisition(int32_t camera) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    return static_cast<int32_t>(StopContinuous(held.lease));
}

KQFW_API StatusCode IxenmSetImagedoneCallback(int32_t index, ImageDoneCallback callback,
                                              uint64_t userData) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    c->imageDoneUserData = userData;
    c->imageDoneCallback = callback;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode kqfwGetRunStatistics(int32_t camera, KqfwRunStatistics* statistics) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (statistics == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const RunStatistics& run = c->runStatistics;
    statistics->running = c->runActive.load();
    statistics->kind = run.kind.load();
    statistics->framesDelivered = run.delivered.load();
    statistics->framesSkipped = run.skipped.load();
    statistics->framesLost = run.lost.load();
    statistics->latestFrameIndex = run.latestFrame.load();
    statistics->framesPerSecond = run.framesPerSecond();
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode kqfwGetShotProgress(int32_t camera, uint32_t* placed, uint32_t* total) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (placed == nullptr || total == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *total = c->shotsInSeries;
    *placed = c->shotsPlaced;
    return KQFW_STATUS_OK;
}

}  // extern "C"
