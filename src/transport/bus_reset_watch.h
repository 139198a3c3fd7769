#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "kqfw/kqfw.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "transport/driver_port.h"

namespace kqfw {

// What the watch thread touches. It is shared with the thread, so a camera closed from its own
// bus-reset callback can be freed while the callback is still returning.
struct BusResetWatchState {
    Event event{true};  // the pending notification's completion, and the stop's wake-up
    Event armed{true};  // the first notification is pending, or the watch gave up
    std::atomic<uint32_t> stop{0};
    std::atomic<BusResetCallback> callback{nullptr};
    std::atomic<uint64_t> callbackArg{0};
    // The watch's own handle: the watch thread's alone (a close from its callback runs there).
    DeviceHandle handle = kInvalidDeviceHandle;
    // Told around each callback that the watch thread works for camera `owner` (+1 entering,
    // -1 leaving), so the camera's calls from the callback know they cannot wait for the camera's
    // own close. Set before the watch starts.
    void (*serving)(int32_t owner, int delta) = nullptr;
    int32_t owner = -1;
};

// Keeps one bus-reset notification pending at the driver for an open camera and calls the
// application's callback, on its own thread, each time one completes.
//
// Thread context: start() and stop() run on the thread that opens and closes the camera, or
// stop() on the watch thread itself (a close from the callback); the callback and its argument
// may be changed from any thread (atomics; a change is seen at the next reset).
struct BusResetWatch {
    Thread busResetThread;
    std::shared_ptr<BusResetWatchState> state = std::make_shared<BusResetWatchState>();
};

// Starts the watch thread on its own handle of `devicePath` and returns once its first
// notification is pending (or the watch gave up), so no reset after the opening goes unseen;
// false when the thread cannot be created.
bool startBusResetWatch(BusResetWatch& watch, const char* devicePath);

// Ends the watch thread and waits for it; also when the thread ended by itself (its handle
// could not be opened). Called on the watch thread, from the callback, it gives the watch's
// handle back and lets the thread end as the callback returns, without waiting for itself.
void stopBusResetWatch(BusResetWatch& watch);

void setBusResetCallback(BusResetWatch& watch, BusResetCallback callback, uint64_t argument);

}  // namespace kqfw
