#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "kqfw/kqfw.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kqfw {

// Keeps one bus-reset notification pending at the driver for an open camera and calls the
// application's callback, on its own thread, each time one completes.
//
// Thread context: start() and stop() run on the thread that opens and closes the camera; the
// callback and its argument may be changed from any thread (atomics; a change is seen at the
// next reset); busResetEvent is created by the watch thread and published through an atomic.
struct BusResetWatch {
    Thread busResetThread;
    std::unique_ptr<Event> ownedEvent;  // written by the watch thread before publishing
    std::atomic<Event*> busResetEvent{nullptr};
    std::atomic<uint32_t> busResetStop{0};
    std::atomic<BusResetCallback> busResetCallback{nullptr};
    std::atomic<uint64_t> busResetCallbackArg{0};
};

// Starts the watch thread on its own handle of `devicePath`; false when it cannot be created.
bool startBusResetWatch(BusResetWatch& watch, const char* devicePath);

// Ends the watch thread and waits for it. Also returns when the thread ended by itself before
// it created its event (its handle could not be opened).
void stopBusResetWatch(BusResetWatch& watch);

}  // namespace kqfw
