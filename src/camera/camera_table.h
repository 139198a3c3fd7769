#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "camera/camera_context.h"

namespace kqfw {

inline constexpr int32_t kCameraSlots = 10;

bool validIndex(int32_t index);

// One call's hold on an open camera. While any lease on a slot lives, closing that slot waits
// (an acquisition in flight is asked to abort first), so a call never sees its record freed.
// A lease also holds the camera's settingsLock, so the calls on one camera read and write its
// settings one at a time; the lock is recursive, so an entry point may call another.
//
// Thread context: any thread; a lease is used by the thread that took it.
class CameraLease {
  public:
    CameraLease() = default;
    explicit CameraLease(int32_t index);
    CameraLease(CameraLease&& other) noexcept;
    CameraLease& operator=(CameraLease&&) = delete;
    ~CameraLease();

    CameraContext* get() const { return camera_; }
    int32_t index() const { return index_; }

    // The exposure wait runs without the settings lock, so that other calls are answered (the
    // setters with busy) while the camera exposes.
    void leaveSettings();
    void enterSettings();

  private:
    int32_t index_ = -1;
    CameraContext* camera_ = nullptr;
    bool settingsHeld_ = false;
};

// A camera for an entry point, or the status the entry point returns instead: 3 for a bad
// index or a closed slot, and for setters that refuse during an acquisition, 10 while the camera
// is not idle.
// Bound as `auto [c, status] = cameraFor(i)`, the lease lives to the end of the scope.
struct CameraOrStatus {
    CameraLease lease;
    StatusCode status = KQFW_STATUS_OK;

    template <size_t I>
    auto get() const {
        if constexpr (I == 0) {
            return lease.get();
        } else {
            return status;
        }
    }
};
CameraOrStatus cameraFor(int32_t index);
// 10 unless the camera is idle (camera_activity.h).
CameraOrStatus idleCameraFor(int32_t index);
// For the setters of what a stream delivers (region, binning, resolution, coding): 10 also while
// the application holds a prepared stream.
CameraOrStatus streamShapingCameraFor(int32_t index);

// A u32 field of an open camera into *out: 3 for no camera, 8 for a null out.
StatusCode readField(int32_t index, uint32_t* out, uint32_t CameraContext::*field);

// The value-returning single-camera twins answer 0 when camera 0 is not open.
template <typename Value>
uint32_t valueOfCameraZero(Value value) {
    CameraLease lease(0);
    return lease.get() == nullptr ? 0 : value(*lease.get());
}

// Opening and closing (the session's side of the table).
//
// True when an open slot holds a camera of this device path. Safe against a concurrent close.
bool deviceIsOpen(const char* devicePath);
// The slot whose camera has this device path, or -1.
int32_t slotHoldingDevice(const char* devicePath);
bool slotIsOccupied(int32_t index);
// Waits until a close under way on the slot has emptied it, so an opening that follows a close
// (also one asked from a callback, which completes on another thread) opens anew. False when
// the calling thread is itself inside a call on the closing slot: that close completes only
// when the call returns.
bool waitWhileClosing(int32_t index);
// Makes a fully opened record visible to the other calls.
void publishCamera(int32_t index, CameraContext* context);
// Starts closing a slot: later calls get 3, an acquisition in flight is asked to abort, and
// the calls in flight are waited for. Returns the record to take down, or null when the slot
// is empty, is being closed already, or the calling thread is itself inside a call on this
// camera (a callback): the close then completes when that call returns.
CameraContext* beginClose(int32_t index);
// Empties the slot after its record was taken down; the caller frees the record.
void finishClose(int32_t index);
// Takes an open camera down once no call uses it (the session code; the table calls it when a
// deferred close becomes due).
void closeCamera(int32_t index, CameraContext* context);

// Marks the calling thread as working for camera `index` (delta +1) or no longer (-1): the
// bus-reset watch's hook around its callback.
void serveCamera(int32_t index, int delta);

// Marks the calling thread as working for a camera (the acquisition's helper threads), so that
// a close asked from one of its callbacks is deferred instead of waiting for itself.
class ServingCamera {
  public:
    explicit ServingCamera(int32_t index);
    ~ServingCamera();
    ServingCamera(const ServingCamera&) = delete;
    ServingCamera& operator=(const ServingCamera&) = delete;

  private:
    int32_t index_;
};

// A continuous run's hold on its camera, taken by the start and given back by the run's dispatch
// thread as the last thing it does: the run counts as a user of the slot, so a close asks it to
// end (closeRequested and frameEvent, as a stop does) and waits for it. When the close was asked
// from inside the run's own callbacks, giving the hold back completes it there, and the record
// is gone when release() returns.
class RunHold {
  public:
    // False when the slot has no open camera or is closing.
    static bool take(int32_t index);
    static void release(int32_t index);
};

// Process-wide switch of the blemish-pixel correction (on by default).
extern std::atomic<uint32_t> blemishCorrectionEnabled;

}  // namespace kqfw

template <>
struct std::tuple_size<kqfw::CameraOrStatus> : std::integral_constant<size_t, 2> {};
template <>
struct std::tuple_element<0, kqfw::CameraOrStatus> {
    using type = kqfw::CameraContext*;
};
template <>
struct std::tuple_element<1, kqfw::CameraOrStatus> {
    using type = StatusCode;
};
