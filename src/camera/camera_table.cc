#include "camera/camera_table.h"

#include "camera/camera_activity.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace kqfw {

namespace {

// One slot of the table. `mutex` guards every field; `drained` is signalled when the last
// lease of a closing slot ends.
struct Slot {
    std::mutex mutex;
    std::condition_variable drained;
    // Signalled when a close has emptied the slot.
    std::condition_variable emptied;
    CameraContext* camera = nullptr;
    int users = 0;
    bool closing = false;
    bool closeWhenIdle = false;
};

Slot slots[kCameraSlots];

// Calls (and helper threads) of this thread in flight per slot: a close asked from inside one
// of them must not wait for itself.
thread_local int callsOnThisThread[kCameraSlots];

// Ends one user of an open slot; the last one of a slot whose close was deferred completes it.
void releaseUser(int32_t index) {
    Slot& slot = slots[index];
    CameraContext* dueForClosing = nullptr;
    {
        std::lock_guard lock(slot.mutex);
        if (--slot.users == 0) {
            if (slot.closeWhenIdle) {
                slot.closeWhenIdle = false;
                dueForClosing = slot.camera;
            }
            slot.drained.notify_all();
        }
    }
    if (dueForClosing != nullptr) {
        closeCamera(index, dueForClosing);
    }
}

}  // namespace

std::atomic<uint32_t> blemishCorrectionEnabled{1};

bool validIndex(int32_t index) {
    return index >= 0 && index < kCameraSlots;
}

CameraLease::CameraLease(int32_t index) {
    if (!validIndex(index)) {
        return;
    }
    Slot& slot = slots[index];
    {
        std::lock_guard lock(slot.mutex);
        if (slot.camera == nullptr || slot.closing) {
            return;
        }
        ++slot.users;
        camera_ = slot.camera;
    }
    index_ = index;
    ++callsOnThisThread[index];
    enterSettings();
}

CameraLease::CameraLease(CameraLease&& other) noexcept
    : index_(other.index_), camera_(other.camera_), settingsHeld_(other.settingsHeld_) {
    other.index_ = -1;
    other.camera_ = nullptr;
    other.settingsHeld_ = false;
}

CameraLease::~CameraLease() {
    if (camera_ == nullptr) {
        return;
    }
    leaveSettings();
    --callsOnThisThread[index_];
    releaseUser(index_);
}

void CameraLease::leaveSettings() {
    if (settingsHeld_) {
        settingsHeld_ = false;
        camera_->settingsLock.leave();
    }
}

void CameraLease::enterSettings() {
    if (camera_ != nullptr && !settingsHeld_) {
        camera_->settingsLock.enter();
        settingsHeld_ = true;
    }
}

CameraOrStatus cameraFor(int32_t index) {
    CameraOrStatus result{CameraLease(index)};
    if (result.lease.get() == nullptr) {
        result.status = KQFW_STATUS_NO_CAMERA;
    }
    return result;
}

CameraOrStatus idleCameraFor(int32_t index) {
    CameraOrStatus result = cameraFor(index);
    // Between the frames of a fast series no receive is attached, but the run's stream and
    // processing follow the settings it started with: any activity refuses, not only a receive.
    const CameraContext* c = result.lease.get();
    if (c != nullptr && (activityOf(*c) != Activity::kIdle || c->busy != 0 || c->runActive != 0)) {
        return {CameraLease(), KQFW_STATUS_BUSY};
    }
    return result;
}

CameraOrStatus streamShapingCameraFor(int32_t index) {
    CameraOrStatus result = idleCameraFor(index);
    // A prepared stream delivers frames of the settings it was set up with; its frames are
    // processed and sized with those settings, so they stay until it is finalised.
    if (result.lease.get() != nullptr && result.lease.get()->applicationStream != 0) {
        return {CameraLease(), KQFW_STATUS_BUSY};
    }
    return result;
}

StatusCode readField(int32_t index, uint32_t* out, uint32_t CameraContext::*field) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (out == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *out = c->*field;
    return KQFW_STATUS_OK;
}

int32_t slotHoldingDevice(const char* devicePath) {
    for (int32_t index = 0; index < kCameraSlots; ++index) {
        Slot& slot = slots[index];
        std::lock_guard lock(slot.mutex);
        if (slot.camera != nullptr && std::strcmp(slot.camera->link.devicePath, devicePath) == 0) {
            return index;
        }
    }
    return -1;
}

bool deviceIsOpen(const char* devicePath) {
    return slotHoldingDevice(devicePath) >= 0;
}

bool slotIsOccupied(int32_t index) {
    std::lock_guard lock(slots[index].mutex);
    return slots[index].camera != nullptr;
}

bool waitWhileClosing(int32_t index) {
    Slot& slot = slots[index];
    std::unique_lock lock(slot.mutex);
    if (slot.closing && callsOnThisThread[index] > 0) {
        return false;  // the close completes when this thread's call returns
    }
    slot.emptied.wait(lock, [&] { return !slot.closing; });
    return true;
}

void publishCamera(int32_t index, CameraContext* context) {
    std::lock_guard lock(slots[index].mutex);
    slots[index].camera = context;
}

CameraContext* beginClose(int32_t index) {
    if (!validIndex(index)) {
        return nullptr;
    }
    Slot& slot = slots[index];
    std::unique_lock lock(slot.mutex);
    if (slot.camera == nullptr || slot.closing) {
        return nullptr;
    }
    slot.closing = true;
    slot.camera->closeRequested = 1;
    // A continuous run's dispatch thread waits for frames: wake it to see the close.
    if (slot.camera->frameEvent) {
        slot.camera->frameEvent->set();
    }
    if (callsOnThisThread[index] > 0) {
        // Called back from inside a call on this camera: that call finishes the close.
        slot.closeWhenIdle = slot.users > 0;
        if (slot.closeWhenIdle) {
            return nullptr;
        }
    }
    slot.drained.wait(lock, [&] { return slot.users == 0; });
    return slot.camera;
}

void finishClose(int32_t index) {
    std::lock_guard lock(slots[index].mutex);
    slots[index].camera = nullptr;
    slots[index].closing = false;
    slots[index].emptied.notify_all();
}

bool RunHold::take(int32_t index) {
    Slot& slot = slots[index];
    std::lock_guard lock(slot.mutex);
    if (slot.camera == nullptr || slot.closing) {
        return false;
    }
    ++slot.users;
    return true;
}

void RunHold::release(int32_t index) {
    releaseUser(index);
}

void serveCamera(int32_t index, int delta) {
    if (validIndex(index)) {
        callsOnThisThread[index] += delta;
    }
}

ServingCamera::ServingCamera(int32_t index) : index_(index) {
    ++callsOnThisThread[index_];
}

ServingCamera::~ServingCamera() {
    --callsOnThisThread[index_];
}

}  // namespace kqfw
