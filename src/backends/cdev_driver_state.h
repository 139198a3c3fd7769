#pragma once

// What the Linux FireWire backend keeps per node and per open handle; shared by its request
// files only.

#include <linux/firewire-cdev.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backends/cdev_driver.h"
#include "platform/event.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace kqfw {

// A receive in flight, as the driver's receive status reports it. Guarded by the driver's
// mutex; the flags end the receive, whose thread is woken through `fd`.
struct CdevDriver::Receive {
    bool active = false;
    bool cancelled = false;
    bool stopped = false;
    bool busReset = false;
    uint64_t resource = 0;
    int fd = -1;
    ReceiveStatus status;
};

// One camera node, shared by the handles opened on its device path. Guarded by the driver's
// mutex.
struct CdevDriver::Node {
    std::string fwPath;
    uint16_t nodeId = 0;
    uint32_t generation = 0;
    bool gone = false;
    Event* frameEvent = nullptr;
    Event* triggerEvent = nullptr;
    bool selectAux = false;
    bool startSet = false;
    uint32_t startValue = 0;
    uint32_t startAddress = 0;
    uint32_t startWaitMs = 0;
    Receive receive;
};

// The two buffers mapped for the library: memory of this process, zeroed lazily by the system,
// so mapping 17 MB at every opening touches only what frames fill.
struct CdevDriver::Buffers {
    uint8_t* a = nullptr;
    uint8_t* b = nullptr;
    size_t aBytes = 0, bBytes = 0;
    Buffers() = default;
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;
    ~Buffers() {
        freeZeroed(a);
        freeZeroed(b);
    }
};

// An answer the node's event thread hands to the request that waits for it.
struct CdevAnswer {
    bool done = false;
    uint32_t rcode = 0;
    std::vector<uint8_t> data;
    int32_t channel = -1;
    int32_t bandwidth = 0;
};

struct CdevDriver::Handle {
    std::shared_ptr<Node> node;
    int fd = -1;
    bool overlapped = false;
    Thread reader;
    std::atomic<bool> stop{false};
    std::shared_ptr<Buffers> buffers;  // guarded by the driver's mutex
    // Guarded by `mutex`.
    std::mutex mutex;
    std::condition_variable answered;
    std::map<uint64_t, CdevAnswer> answers;  // by closure
    bool gone = false;
    Event* pending = nullptr;  // the bus-reset notification's completion
    uint32_t lastResult = 0;
    // The node's events queue up in the kernel, so a reset between two notifications (while the
    // application's callback runs) is not lost: it completes the next one at once.
    bool resetUnseen = false;

    void complete(uint32_t result) {
        Event* event = pending;
        pending = nullptr;
        lastResult = result;
        if (event != nullptr) {
            event->set();
        }
    }
};

}  // namespace kqfw
