#include "acquisition/fast.h"

#include <mutex>

#include "acquisition/acquire_image.h"
#include "acquisition/continuous.h"
#include "acquisition/frame_processing.h"
#include "acquisition/receive_thread.h"
#include "acquisition/sample_expansion.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_activity.h"
#include "platform/clock.h"
#include "platform/error_report.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kLastStandard = 2;
constexpr uint32_t kStopSettleMs = 50;
constexpr uint32_t kBusyPollMs = 10;
// Beyond this exposure (or with the hardware trigger) an abort stops the camera; a shorter
// pending frame is left to arrive.
constexpr uint32_t kStoppableExposureUs = 500000;
constexpr uint32_t kThreadNotCreated = 1;
constexpr int32_t kReady = 1;
constexpr int32_t kNotYet = 0;
constexpr int32_t kTooSmall = -6;
constexpr int32_t kUnsupported = -8;
constexpr int32_t kNoRun = -11;

uint32_t tearDown(CameraContext& c) {
    std::lock_guard lock(c.registerLock);
    return CleanupStream(c);
}

// The series is over: its stream is down (or never was set up), and the camera is free.
uint32_t endSeries(CameraContext& c) {
    c.runActive = 0;
    const uint32_t status = tearDown(c);
    endActivity(c, Activity::kFast);
    return status;
}

// Leaves the settings (when a lease holds them) while the pause lasts, so the image-done
// callback and other threads' calls are answered.
void pause(CameraLease* lease, uint32_t ms) {
    if (lease != nullptr) {
        lease->leaveSettings();
    }
    sleepMs(ms);
    if (lease != nullptr) {
        lease->enterSettings();
    }
}

// Clears fastBusy on every way out of a readiness call.
struct FastBusy {
    explicit FastBusy(CameraContext& c) : c(c) { c.fastBusy = 1; }
    ~FastBusy() { c.fastBusy = 0; }
    CameraContext& c;
};

uint32_t abortRun(CameraContext& c, CameraLease* lease) {
    while (c.fastBusy != 0) {
        pause(lease, kBusyPollMs);
    }
    // An abort names a fast series; any other activity (a single frame, a series, a
    // reference) is not its to end. A continuous run is stopped by abortFast's caller.
    if (c.runActive == 0 || activityOf(c) != Activity::kFast) {
        return KQFW_STATUS_THREAD_FAILED;
    }
    if (c.abortRequested != 0) {
        return KQFW_STATUS_ABORTED;
    }
    c.abortRequested = 1;
    c.runActive = 0;
    uint32_t status = KQFW_STATUS_OK;
    const bool stops = c.exposureTime > kStoppableExposureUs || c.streamTrigger != 0;
    auto stopCamera = [&c] {
        const DeviceHandle second = openSecondHandle(c);
        if (second == kInvalidDeviceHandle) {
            return false;
        }
        const uint32_t start = c.streaming != 0 ? kCmdIsoEnable : kCmdOneShot;
        WriteQuadletOnHandle(c, second, c.link.commandBase + start);
        settleMs(kStopSettleMs);
        cancelPendingReceive(c, second);
        closeSecondHandle(second);
        return true;
    };
    // A camera no handle reaches has left the bus: its receive ends by itself, and the run is
    // still unwound before the abort reports it could not stop the camera.
    if (stops && !stopCamera()) {
        status = KQFW_STATUS_ABORTED;
    }
    // A stop and cancel that reached the driver before the receive was attached are lost (the
    // attach starts the camera): both are sent again while the receive goes on.
    for (uint32_t waited = 0; c.busy != 0; waited += kBusyPollMs) {
        if (stops && waited >= kRestopMs) {
            waited = 0;
            stopCamera();
        }
        pause(lease, kBusyPollMs);
    }
    // The last frame's image-done callback has returned before the camera is free again.
    if (lease != nullptr && !c.receiveThread.isCurrent()) {
        lease->leaveSettings();
        c.receiveThread.join();
        lease->enterSettings();
    }
    c.busy = 0;
    c.abortRequested = 0;
    endSeries(c);
    return status;
}

void reportReady(const CameraContext& c, int32_t status) {
    reportError("(%d)IxenIsFastAcquisitionReady error %d", static_cast<int>(c.cameraIndex),
                static_cast<int>(status));
}

}  // namespace

uint32_t StartFast(CameraLease& lease) {
    CameraContext& c = *lease.get();
    const int32_t index = lease.index();
    // The series owns the camera from its start to its last frame or its abort; a stream the
    // application prepared is not the series' to use.
    ActivityClaim claim(c, Activity::kFast);
    if (!claim.held() || c.applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    uint32_t idle = 0;
    if (c.busy != 0 || !c.runActive.compare_exchange_strong(idle, 1)) {
        return KQFW_STATUS_BUSY;
    }
    ReapRunThreads(lease);
    c.streaming = 0;
    const uint32_t status = SetupStreamUnlessReady(c, 0);
    if (status != 0) {
        reportError("(%d)IxenStartFastAcquisition error %d", index, static_cast<int>(status));
        c.runActive = 0;
        return status;
    }
    c.triggerEvent->reset();
    c.useAuxBuffer = 0;
    c.busy = 1;
    c.runStatistics.begin(RunKind::kFast);
    if (!StartReceiveThread(c, index)) {
        reportError("(%d)Couldn\xB4t create thread", index);
        c.busy = 0;
        c.runActive = 0;
        tearDown(c);
        return kThreadNotCreated;
    }
    claim.handOn();
    lease.leaveSettings();
    c.triggerEvent->wait(kReceiveUnderWayMs);
    lease.enterSettings();
    return KQFW_STATUS_OK;
}

int32_t FastReady(CameraLease& lease, uint16_t* image, uint32_t imageBytes, uint32_t restart) {
    CameraContext& c = *lease.get();
    if (c.abortRequested != 0) {
        return kNotYet;
    }
    if (c.runActive == 0) {
        return kNoRun;
    }
    // The frame is ready once its receive thread has finished, image-done callback included.
    if (c.busy != 0 || c.streaming != 0 || !c.receiveThread.ended()) {
        return kNotYet;
    }
    FastBusy fastBusy(c);
    RunStatistics& stats = c.runStatistics;
    // A frame that never arrived leaves only an older one in the buffer: the run ends.
    if (const uint32_t failed = c.receiveStatus) {
        ++stats.lost;
        endSeries(c);
        reportReady(c, static_cast<int32_t>(failed));
        return kNoRun;
    }
    const uint32_t need = RequiredImageBytes(c);
    if (need == 0 || imageBytes < need || image == nullptr) {
        const uint32_t status = endSeries(c);
        reportReady(c, status != 0 ? static_cast<int32_t>(status) : kTooSmall);
        return kTooSmall;
    }
    const uint32_t prev = c.useAuxBuffer;
    if (restart != 0) {
        c.useAuxBuffer = 1 - prev;
        c.busy = 1;
        if (!StartReceiveThread(c, lease.index())) {
            reportError("(%d)Couldn\xB4t create thread", static_cast<int>(c.cameraIndex));
            c.busy = 0;
            endSeries(c);
            return kNoRun;
        }
    } else {
        // The frame is processed from the buffer after the tear-down; the settings held by this
        // call keep the next activity from starting until it is done.
        if (uint32_t status = endSeries(c)) {
            reportError("IxenIsFastAcquisitionReady error %d", static_cast<int>(status));
        }
    }
    auto* raw = static_cast<uint16_t*>(prev != 0 ? c.auxBuffer : c.streamBuffer);
    const FrameRecipe recipe = recipeOf(c);
    expandRawFrame(recipe, raw);
    if (c.resolutionIndex > kLastStandard || processStandardFrame(recipe, image, raw) != 0) {
        return kUnsupported;
    }
    const uint64_t frame = ++stats.delivered;
    stats.driverReported(static_cast<int32_t>(frame - 1), static_cast<uint32_t>(stats.lost),
                         monotonicUs());
    return kReady;
}

uint32_t AbortFast(CameraLease& lease) {
    // An abort during a continuous run ends that run as its stop does: whatever the exposure,
    // the camera is stopped and the call returns once the run's stream is down.
    if (activityOf(*lease.get()) == Activity::kContinuous) {
        return StopContinuous(lease);
    }
    return abortRun(*lease.get(), &lease);
}

void AbortFastForClose(CameraContext& c) {
    abortRun(c, nullptr);
}

}  // namespace kqfw
