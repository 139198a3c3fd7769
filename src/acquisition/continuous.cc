#include "acquisition/continuous.h"

#include <algorithm>
#include <mutex>

#include "acquisition/receive_thread.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_activity.h"
#include "platform/clock.h"
#include "platform/error_report.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr size_t kThreadStackBytes = 10000;
constexpr uint32_t kOverlapFirmware = 266;
constexpr uint32_t kStopSettleMs = 50;
constexpr uint32_t kBusyPollMs = 10;
// What the starts return when a thread of the run could not be created.
constexpr uint32_t kThreadNotCreated = 1;
// A frame stays in its slot until the driver comes round to it again: the dispatch never
// reaches further back than this behind the newest frame.
constexpr int32_t kSafeBehindNewest = 3;

// The dispatch thread's own view of its run, for the calls its callbacks make.
struct Dispatch {
    const CameraContext* camera = nullptr;
    bool stopAsked = false;  // a stop asked from inside the callbacks
};
thread_local Dispatch* currentDispatch = nullptr;

// What the start copies for the dispatch thread, so a callback stored for another run does not
// change this one's.
struct RunSetup {
    CameraContext* c;
    int32_t index;
    ContinuousFrameCallback callback;
    uint64_t userValue;
};

// The run's end: the camera stops streaming through the dispatch thread's handle, the receive
// is cancelled if the stop did not end it, and the stream is torn down.
void stopStreaming(CameraContext& c, DeviceHandle& handle) {
    c.runActive = 0;
    c.abortRequested = 1;
    // Without a handle the camera cannot be reached: it left the bus, and its receive ends by
    // itself.
    auto stopCamera = [&c, &handle] {
        if (handle == kInvalidDeviceHandle) {
            handle = openSecondHandle(c);
        }
        if (handle != kInvalidDeviceHandle) {
            WriteQuadletOnHandle(c, handle, c.link.commandBase + kCmdIsoEnable);
        }
        settleMs(kStopSettleMs);
        if (handle != kInvalidDeviceHandle) {
            cancelPendingReceive(c, handle);
        }
    };
    stopCamera();
    // A stop and cancel that reached the driver before the receive was attached (a close or
    // stop right after the start) are lost, the attach starting the camera: both are sent
    // again while the receive goes on.
    for (uint32_t waited = 0; c.busy != 0; waited += kBusyPollMs) {
        if (waited >= kRestopMs) {
            waited = 0;
            stopCamera();
        }
        sleepMs(kBusyPollMs);
    }
    {
        std::lock_guard lock(c.registerLock);
        CleanupStream(c);
    }
    c.busy = 0;
    c.abortRequested = 0;
    // Only now is the camera free: a call between the stop and the tear-down would have found
    // the run's stream still set up.
    endActivity(c, Activity::kContinuous);
}

void dispatchFrames(const RunSetup run) {
    CameraContext& c = *run.c;
    ServingCamera serving(run.index);
    Dispatch self{&c};
    currentDispatch = &self;
    const uint32_t frameBytes = frameBytesOf(c);
    const uint32_t slotBytes = ringSlotBytes(c);
    auto* ring = static_cast<uint8_t*>(c.streamBuffer);
    DeviceHandle handle = openSecondHandle(c);
    RunStatistics& stats = c.runStatistics;
    auto stopping = [&] { return c.stopRequested != 0 || c.closeRequested != 0 || self.stopAsked; };
    ReceiveStatus status;
    auto query = [&] {
        if (handle != kInvalidDeviceHandle) {
            queryReceiveStatus(handle, &status);
        }
        stats.driverReported(status.newest, status.lost, monotonicUs());
    };

    int32_t last = -1;
    int32_t go = 1;
    // Frames up to the driver's newest, from the next one or the newest but three. The first
    // frame of a wake-up is delivered before the first go and stop checks.
    auto deliver = [&] {
        for (bool first = true; last < status.newest; first = false) {
            if (!first && (go == 0 || stopping())) {
                return;
            }
            const int32_t next = std::max(last + 1, status.newest - kSafeBehindNewest);
            stats.skipped += static_cast<uint64_t>(next - (last + 1));
            last = next;
            const uint32_t slot = static_cast<uint32_t>(last) % kRingSlots;
            if (run.callback != nullptr) {
                go = run.callback(reinterpret_cast<uint16_t*>(ring + size_t{slot} * slotBytes),
                                  frameBytes, last, status.slotValues[slot], run.userValue);
                ++stats.delivered;
            }
            query();
        }
    };
    bool receiveEnded = false;
    while (go != 0 && !stopping()) {
        c.frameEvent->wait();
        if (stopping()) {
            break;
        }
        query();
        deliver();
        // The receive ended without a stop (the camera left the bus, or the bus was reset):
        // what it completed last is delivered, then the run ends.
        if (go != 0 && c.busy == 0 && !stopping()) {
            query();
            deliver();
            receiveEnded = true;
            break;
        }
    }

    stopStreaming(c, handle);
    closeSecondHandle(handle);
    const bool notify = (go == 0 || receiveEnded) && !stopping();
    // The run is over: a stop or start the end notification asks for is one of another run.
    currentDispatch = nullptr;
    if (notify && run.callback != nullptr) {
        run.callback(nullptr, 0, 0, 0, run.userValue);
    }
    // The last thing the run does: a close asked from its callbacks completes here.
    RunHold::release(run.index);
}

}  // namespace

uint32_t StartContinuous(CameraLease& lease, int32_t threadPriority, uint64_t userValue) {
    CameraContext& c = *lease.get();
    const int32_t index = lease.index();
    if (c.hardwareTrigger != 0 && c.overlappedTrigger != 0 &&
        c.firmwareVersion < kOverlapFirmware) {
        return KQFW_STATUS_FIRMWARE_TOO_OLD;
    }
    // The run owns the camera until its dispatch thread tore its stream down; a stream the
    // application prepared is not the run's to use.
    ActivityClaim claim(c, Activity::kContinuous);
    if (!claim.held() || c.applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    uint32_t idle = 0;
    if (c.busy != 0 || !c.runActive.compare_exchange_strong(idle, 1)) {
        return KQFW_STATUS_BUSY;
    }
    ReapRunThreads(lease);
    c.continuousUserValue = userValue;
    c.streaming = 1;
    const uint32_t status = SetupStreamUnlessReady(c, 0);
    if (status != 0) {
        reportError("(%d)IxenmStartContinuousAcquisition error %d", index,
                    static_cast<int>(status));
        c.runActive = 0;
        return status;
    }
    c.frameEvent->reset();
    c.triggerEvent->reset();
    c.useAuxBuffer = 0;
    c.busy = 1;
    c.stopRequested = 0;
    c.runStatistics.begin(RunKind::kContinuous);

    // A thread that cannot be created unwinds the whole run: the stream goes, the flags clear,
    // and no thread is left behind.
    const RunSetup run{&c, index, c.continuousCallback, c.continuousUserValue};
    auto unwind = [&] {
        {
            std::lock_guard lock(c.registerLock);
            CleanupStream(c);
        }
        c.busy = 0;
        c.runActive = 0;
    };
    // The run holds the camera; a close that began meanwhile leaves nothing to hold.
    if (!RunHold::take(index)) {
        unwind();
        return KQFW_STATUS_NO_CAMERA;
    }
    if (!c.continuousThread.start([run] { dispatchFrames(run); }, kThreadStackBytes,
                                  static_cast<ThreadPriority>(threadPriority))) {
        reportError("(%d)Couldn\xB4t create callback thread", index);
        RunHold::release(index);
        unwind();
        return kThreadNotCreated;
    }
    // From here the dispatch thread ends the activity when it has torn the stream down.
    claim.handOn();
    if (!StartReceiveThread(c, index)) {
        reportError("(%d)Couldn\xB4t create thread", index);
        // The dispatch thread tears the stream down as at any stop.
        c.busy = 0;
        c.stopRequested = 1;
        c.frameEvent->set();
        lease.leaveSettings();
        c.continuousThread.join();
        lease.enterSettings();
        c.stopRequested = 0;
        return kThreadNotCreated;
    }
    // The driver signals the trigger event once the receive is under way (and the receive
    // thread when the receive ended before it began).
    lease.leaveSettings();
    c.triggerEvent->wait(kReceiveUnderWayMs);
    lease.enterSettings();
    return KQFW_STATUS_OK;
}

void (*betweenStopJoins)() = nullptr;

uint32_t StopContinuous(CameraLease& lease) {
    CameraContext& c = *lease.get();
    if (currentDispatch != nullptr && currentDispatch->camera == &c) {
        // From the run's own callback: the run ends once it returns.
        currentDispatch->stopAsked = true;
        return KQFW_STATUS_OK;
    }
    // A stop names a continuous run: the receive and the events of any other activity (a
    // single frame, a series, a fast frame) are not its to end or wait for. It counts itself
    // before it looks, so that no activity claimed after the look starts threads it would join.
    c.stopsJoining.fetch_add(1);
    const Activity activity = activityOf(c);
    if (activity == Activity::kIdle) {
        // A run that ended by itself may still be in its end notification: the stop waits for
        // it, counted, so that no new run's threads are taken for the old one's.
        lease.leaveSettings();
        c.receiveThread.join();
        c.continuousThread.join();
        lease.enterSettings();
        c.stopsJoining.fetch_sub(1);
        return KQFW_STATUS_OK;
    }
    if (activity != Activity::kContinuous) {
        c.stopsJoining.fetch_sub(1);
        return KQFW_STATUS_OK;
    }
    c.stopRequested = 1;
    c.frameEvent->set();
    lease.leaveSettings();
    c.receiveThread.join();
    if (betweenStopJoins != nullptr) {
        betweenStopJoins();
    }
    c.continuousThread.join();
    lease.enterSettings();
    c.stopRequested = 0;
    c.stopsJoining.fetch_sub(1);
    return KQFW_STATUS_OK;
}

}  // namespace kqfw
