#include "acquisition/acquire_image.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "acquisition/frame_processing.h"
#include "acquisition/multishot.h"
#include "acquisition/receive_thread.h"
#include "acquisition/sample_expansion.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_activity.h"
#include "camera/geometry.h"
#include "platform/clock.h"
#include "platform/error_report.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kGreyBits = 14;
constexpr uint32_t kGreyBytes = 2;
constexpr uint32_t kColourBytes = 6;
constexpr uint32_t kFirstMultiShot = 3;
constexpr int32_t kProgressState = 2;
constexpr uint32_t kProgressPollMs = 50;
constexpr uint32_t kStopSettleMs = 50;
constexpr uint32_t kReceivePollMs = 5;
// Beyond this a requested abort stops the camera; a shorter exposure is left to complete.
constexpr uint32_t kStoppableExposureUs = 2000000;
// A cancel the driver refused is asked again this often while the call waits for the receive.
constexpr uint32_t kCancelRetryMs = 1000;

// Stops the camera through a second handle (the first is blocked in the receive) and ends the
// receive if the camera's stop did not. The driver starts the camera when the receive is
// attached: a stop written before that would be followed by the start, so it waits until the
// receive is under way (the driver's trigger event, or the receive thread's when it ended).
void stopExposure(CameraContext& c) {
    c.triggerEvent->wait(kReceiveUnderWayMs);
    const DeviceHandle second = openSecondHandle(c);
    if (second == kInvalidDeviceHandle) {
        return;
    }
    const uint32_t start = c.streaming != 0 ? kCmdIsoEnable : kCmdOneShot;
    WriteQuadletOnHandle(c, second, c.link.commandBase + start);
    sleepMs(kStopSettleMs);
    cancelPendingReceive(c, second);
    closeSecondHandle(second);
    if (c.streaming != 0) {
        c.frameEvent->set();
    }
}

void ExposureWait(CameraContext& c, const Progress& progress) {
    if (progress.kind == ProgressKind::kNone) {
        return;
    }
    const uint32_t totalMs = std::max<int32_t>(static_cast<int32_t>(c.exposureTime) / 1000, 1);
    const uint32_t start = tickMs();
    while (c.busy != 0) {
        const int32_t r =
            progress.report(std::min(tickMs() - start, totalMs), totalMs, kProgressState);
        c.abortRequested = static_cast<uint32_t>(r);
        if (c.closeRequested != 0) {
            return;
        }
        // A frame that waits for a trigger pulse may never come: it is stopped like a long one.
        if (r != 0 &&
            (c.exposureTime > kStoppableExposureUs || c.streaming != 0 || c.streamTrigger != 0)) {
            stopExposure(c);
            return;
        }
        sleepMs(kProgressPollMs);
    }
}

// Waits for the receive to end; a close asked meanwhile stops the camera and aborts. A series
// whose collector is done (complete, failed or aborted) has asked for the receive to be
// cancelled; a cancel the driver refused is asked again, so the call does not wait for good.
void waitForReceive(CameraContext& c, const MultiShotRun* shots) {
    bool stopped = false;
    uint32_t waitedMs = 0;
    while (c.busy != 0) {
        if (c.closeRequested != 0 && !stopped) {
            c.abortRequested = 1;
            stopExposure(c);
            stopped = true;
        }
        if (shots != nullptr && shots->collectorDone() && waitedMs >= kCancelRetryMs) {
            waitedMs = 0;
            const DeviceHandle second = openSecondHandle(c);
            if (second != kInvalidDeviceHandle) {
                cancelPendingReceive(c, second);
                // A driver that refuses every cancel still ends the receive when its stream
                // stops.
                if (c.busy != 0) {
                    stopIsochOn(c, second);
                }
                closeSecondHandle(second);
            }
        }
        sleepMs(kReceivePollMs);
        waitedMs += kReceivePollMs;
    }
}

void reportAcquisitionError(const CameraContext& c, uint32_t status) {
    reportError("(%d)IxenAcquisition error %d", static_cast<int>(c.cameraIndex),
                static_cast<int>(status));
}

uint32_t tearDown(CameraContext& c) {
    std::lock_guard lock(c.registerLock);
    return CleanupStream(c);
}

// A prepared stream exposes as it was programmed: an exposure set since then is sent first, so
// the frame and its processing agree.
uint32_t followExposure(CameraContext& c) {
    const uint32_t units = c.exposureTime / c.exposureStep;
    if (units == c.streamExposureUnits) {
        return KQFW_STATUS_OK;
    }
    std::lock_guard lock(c.registerLock);
    return ChangeExposure(c, units);
}

}  // namespace

Progress Progress::of(const CameraContext& c, ProgressKind kind) {
    return {kind, c.progressCallback, c.progressCallbackEx, c.progressUserData};
}

int32_t Progress::report(uint32_t elapsedMs, uint32_t totalMs, int32_t state) const {
    if (kind == ProgressKind::kPlain && plain != nullptr) {
        return plain(elapsedMs, totalMs, state);
    }
    if (kind == ProgressKind::kEx && ex != nullptr) {
        return ex(elapsedMs, totalMs, state, userData);
    }
    return 0;
}

uint32_t RequiredImageBytes(const CameraContext& c) {
    const uint32_t bytes = c.bitsPerPixel == kGreyBits ? kGreyBytes : kColourBytes;
    // The coordinates as the unsigned 32-bit values they are for the application.
    const auto left = static_cast<uint32_t>(c.imageRect.left);
    const auto top = static_cast<uint32_t>(c.imageRect.top);
    const auto right = static_cast<uint32_t>(c.imageRect.right);
    const auto bottom = static_cast<uint32_t>(c.imageRect.bottom);
    if (c.resolutionIndex < kFirstMultiShot) {
        const uint32_t b = c.binning;
        if (b == 0) {
            return 0;
        }
        return (bottom / b - top / b) * (right / b - left / b) * bytes;
    }
    const uint32_t k = magnification(c.resolutionIndex);
    return (k * bottom - k * top) * (k * right - k * left) * bytes;
}

uint32_t AcquireImage(CameraLease& lease, uint16_t* image, uint32_t imageBytes, ProgressKind kind,
                      bool ownStream, AcquireAs as) {
    CameraContext& c = *lease.get();
    const uint32_t need = RequiredImageBytes(c);
    if (need == 0 || imageBytes < need) {
        reportAcquisitionError(c, KQFW_STATUS_BUFFER_TOO_SMALL);
        return KQFW_STATUS_BUFFER_TOO_SMALL;
    }
    if (image == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const bool multiShot = isMultiShotResolution(c.resolutionIndex);
    // The camera is claimed before anything is reaped or touched: a second image asked from a
    // callback of this one, or from another thread, is refused here.
    std::optional<ActivityClaim> claim;
    if (as == AcquireAs::kEntryPoint) {
        claim.emplace(c, multiShot ? Activity::kMultiShot : Activity::kSingle);
    }
    if ((claim && !claim->held()) || c.busy != 0 || c.runActive != 0) {
        reportAcquisitionError(c, KQFW_STATUS_BUSY);
        return KQFW_STATUS_BUSY;
    }
    ReapRunThreads(lease);
    // A stream the application prepared is used as it is and stays prepared; it is single-shot,
    // so a series cannot run on it (its resolution cannot change while it is prepared).
    if (c.applicationStream != 0) {
        if (multiShot) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        ownStream = false;
        if (const uint32_t status = followExposure(c)) {
            return status;
        }
    }
    c.streaming = multiShot ? 1 : 0;
    MultiShotRun shots;
    if (multiShot) {
        c.abortRequested = 0;
        if (!shots.start(c, lease.index(), image, imageBytes)) {
            reportError("(%d)Couldn\xB4t create thread", static_cast<int>(c.cameraIndex));
            c.streaming = 0;
            c.abortRequested = 0;
            return KQFW_STATUS_THREAD_FAILED;
        }
    }
    // A series that will not run: its threads see the abort and end before the call returns.
    // The assembler takes the settings for each shot: they are left while it ends.
    auto unwindShots = [&] {
        if (multiShot) {
            shots.stop();
            lease.leaveSettings();
            shots.join();
            lease.enterSettings();
            c.abortRequested = 0;
        }
        c.streaming = 0;
    };
    if (ownStream) {
        if (const uint32_t status = SetupStreamUnlessReady(c, 1)) {
            unwindShots();
            reportAcquisitionError(c, status);
            return status;
        }
    }

    const Progress progress = Progress::of(c, kind);
    c.abortRequested = 0;
    c.busy = 1;
    c.useAuxBuffer = 0;
    c.triggerEvent->reset();
    if (!StartReceiveThread(c, lease.index())) {
        reportError("(%d)Couldn\xB4t create thread", static_cast<int>(c.cameraIndex));
        c.busy = 0;
        unwindShots();
        if (ownStream) {
            tearDown(c);
        }
        return KQFW_STATUS_THREAD_FAILED;
    }

    lease.leaveSettings();
    ExposureWait(c, progress);
    waitForReceive(c, multiShot ? &shots : nullptr);
    // The image-done callback may call into the library for this camera, and the shot
    // assembler takes the settings for each shot: both must be done before this call takes
    // the settings again.
    c.receiveThread.join();
    shots.join();
    lease.enterSettings();

    if (ownStream) {
        if (uint32_t status = tearDown(c)) {
            reportAcquisitionError(c, status);
            return status;
        }
    }
    c.streaming = 0;
    if (c.abortRequested != 0) {
        c.abortRequested = 0;
        return KQFW_STATUS_ABORTED;
    }
    // A series' receive ends when the collector cancels it; whether every shot came is the
    // collector's to say.
    if (multiShot) {
        return finishMultiShot(c, image, shots);
    }
    // A receive that failed left no frame to process; the buffer holds an older one.
    if (uint32_t status = c.receiveStatus) {
        return status;
    }
    auto* raw = static_cast<uint16_t*>(c.streamBuffer);
    const FrameRecipe recipe = recipeOf(c);
    expandRawFrame(recipe, raw);
    return processStandardFrame(recipe, image, raw);
}

}  // namespace kqfw
