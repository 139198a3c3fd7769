#include "transport/bus_reset_watch.h"

#include <string>

#include "platform/clock.h"
#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

namespace {

constexpr size_t kWatchStackBytes = 10000;
constexpr uint32_t kStopPollMs = 100;

void watchBusResets(BusResetWatch& watch, const std::string& path) {
    DriverPort& port = driver();
    uint32_t error = 0;
    DeviceHandle handle = port.open(path, true, &error);
    if (handle == kInvalidDeviceHandle) {
        return;
    }
    watch.ownedEvent = std::make_unique<Event>(true);
    Event* event = watch.ownedEvent.get();
    watch.busResetEvent.store(event);
    event->reset();
    if (port.ioControlOverlapped(handle, kIoctlBusResetNotify, event) == kErrorIoPending) {
        for (;;) {
            event->wait();
            if (watch.busResetStop.load() != 0) {
                port.cancelIo(handle);
                break;
            }
            if (port.overlappedResult(handle) != 0) {
                break;
            }
            if (BusResetCallback callback = watch.busResetCallback.load()) {
                callback(watch.busResetCallbackArg.load());
            }
            event->reset();
            if (port.ioControlOverlapped(handle, kIoctlBusResetNotify, event) != kErrorIoPending) {
                break;
            }
        }
    }
    port.close(handle);
}

}  // namespace

bool startBusResetWatch(BusResetWatch& watch, const char* devicePath) {
    watch.busResetStop = 0;
    return watch.busResetThread.start(
        [&watch, path = std::string(devicePath)] { watchBusResets(watch, path); }, kWatchStackBytes,
        ThreadPriority::kHighest);
}

void stopBusResetWatch(BusResetWatch& watch) {
    if (!watch.busResetThread.started()) {
        return;
    }
    watch.busResetStop = 1;
    for (;;) {
        if (Event* event = watch.busResetEvent.load()) {
            event->set();
            break;
        }
        if (watch.busResetThread.ended()) {
            break;
        }
        sleepMs(kStopPollMs);
    }
    watch.busResetThread.join();
    watch.busResetEvent = nullptr;
    watch.ownedEvent.reset();
}

}  // namespace kqfw
