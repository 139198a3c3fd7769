#include "transport/bus_reset_watch.h"

#include <string>

#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

namespace {

constexpr size_t kWatchStackBytes = 10000;

void watchBusResets(BusResetWatchState& s, const std::string& path) {
    DriverPort& port = driver();
    uint32_t error = 0;
    s.handle = port.open(path, true, &error);
    if (s.handle == kInvalidDeviceHandle) {
        s.armed.set();
        return;
    }
    for (;;) {
        // The stop flag is read after the event was reset: a stop that sets the event later
        // wakes the wait, one that came earlier is seen here. Either way it is not lost.
        s.event.reset();
        const uint32_t pending = port.ioControlOverlapped(s.handle, kIoctlBusResetNotify, &s.event);
        s.armed.set();
        if (pending != kErrorIoPending) {
            break;
        }
        if (s.stop.load() == 0) {
            s.event.wait();
        }
        if (s.stop.load() != 0) {
            port.cancelIo(s.handle);
            break;
        }
        if (port.overlappedResult(s.handle) != 0) {
            break;
        }
        if (BusResetCallback callback = s.callback.load()) {
            if (s.serving != nullptr) {
                s.serving(s.owner, 1);
            }
            callback(s.callbackArg.load());
            if (s.serving != nullptr) {
                s.serving(s.owner, -1);
            }
        }
        if (s.stop.load() != 0) {
            break;  // closed from the callback: no notification is pending
        }
    }
    if (s.handle != kInvalidDeviceHandle) {
        port.close(s.handle);
        s.handle = kInvalidDeviceHandle;
    }
}

}  // namespace

bool startBusResetWatch(BusResetWatch& watch, const char* devicePath) {
    watch.state->stop = 0;
    watch.state->armed.reset();
    if (!watch.busResetThread.start(
            [state = watch.state, path = std::string(devicePath)] { watchBusResets(*state, path); },
            kWatchStackBytes, ThreadPriority::kHighest)) {
        return false;
    }
    watch.state->armed.wait();
    return true;
}

void stopBusResetWatch(BusResetWatch& watch) {
    if (!watch.busResetThread.started()) {
        return;
    }
    BusResetWatchState& s = *watch.state;
    s.stop = 1;
    if (watch.busResetThread.isCurrent()) {
        // The camera is being closed from its own bus-reset callback. The thread cannot wait
        // for itself: it gives its handle back now and ends when the callback returns, keeping
        // the shared state alive until then.
        if (s.handle != kInvalidDeviceHandle) {
            driver().close(s.handle);
            s.handle = kInvalidDeviceHandle;
        }
        watch.busResetThread.detach();
        return;
    }
    s.event.set();
    watch.busResetThread.join();
}

void setBusResetCallback(BusResetWatch& watch, BusResetCallback callback, uint64_t argument) {
    watch.state->callbackArg = argument;
    watch.state->callback = callback;
}

}  // namespace kqfw
