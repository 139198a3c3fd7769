// A receive on the kernel's isochronous context: the packets of the camera's channel are
// assembled into the slots of the mapped buffer, a frame each, as the camera's driver does.
#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <vector>

#include "backends/cdev_driver.h"
#include "backends/cdev_driver_state.h"
#include "transport/async_request.h"
#include "transport/cdev_errors.h"
#include "transport/driver_requests.h"

namespace kqfw {

namespace {

// Packets queued at a time (a frame of the full sensor is about 700), and how often the kernel
// reports them: every 32nd packet (4 ms of bus cycles) asks for an interrupt, and a receive that
// has heard nothing for 4 ms asks for the packets completed since (a frame's tail, or a frame
// shorter than that: a single frame has no next one to bring it in). A kernel without that
// request (before 3.4) gets an interrupt asked of every packet queued after it said so.
constexpr uint32_t kRingPackets = 512;
constexpr uint32_t kInterruptEvery = 32;
constexpr int kFlushMs = 4;
constexpr uint32_t kSyncBit = 1;
// A camera sends a frame's packets in consecutive bus cycles (125 us each): a frame whose next
// packet has not come for this long lost its tail on the bus. Generous, so that a loaded
// machine reading late is not taken for a loss.
constexpr double kFrameGapMs = 250.0;
constexpr size_t kIsoEventBytes = sizeof(fw_cdev_event_iso_interrupt) + 4 * kRingPackets;

uint64_t microsecondsNow() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// The isochronous context of one receive: its descriptor, the packet ring mapped from the
// kernel, and the packets handed back to it.
class IsoContext {
  public:
    explicit IsoContext(CdevSystem& system) : system_(system) {}
    IsoContext(const IsoContext&) = delete;
    IsoContext& operator=(const IsoContext&) = delete;
    ~IsoContext() {
        if (started_) {
            fw_cdev_stop_iso stop{};
            stop.handle = handle_;
            system_.ioctl(fd_, FW_CDEV_IOC_STOP_ISO, &stop);
        }
        if (ring_ != nullptr) {
            system_.unmapIsoBuffer(const_cast<uint8_t*>(ring_), ringBytes());
        }
        if (fd_ >= 0) {
            system_.close(fd_);
        }
    }

    // 0, or the error of the step that failed.
    uint32_t open(const std::string& fwPath, uint32_t channel, uint32_t bytesPerPacket) {
        fd_ = system_.open(fwPath);
        if (fd_ < 0) {
            return errorOfErrno(-fd_);
        }
        // Asking for the node's information makes the descriptor one of the node's clients
        // (woken when the node goes) speaking the fifth version of the interface (headers that
        // pile up are reported, not dropped); a kernel's answer below 5 has no flush.
        fw_cdev_get_info info{};
        info.version = 5;
        if (int r = system_.ioctl(fd_, FW_CDEV_IOC_GET_INFO, &info); r < 0) {
            return errorOfErrno(-r);
        }
        canFlush_ = info.version >= 5;
        stride_ = (bytesPerPacket + 3) / 4 * 4;
        fw_cdev_create_iso_context create{};
        create.type = FW_CDEV_ISO_CONTEXT_RECEIVE;
        create.header_size = 4;
        create.channel = channel;
        create.speed = SCODE_400;
        if (int r = system_.ioctl(fd_, FW_CDEV_IOC_CREATE_ISO_CONTEXT, &create); r < 0) {
            return errorOfErrno(-r);
        }
        ring_ = static_cast<const uint8_t*>(system_.mapIsoBuffer(fd_, ringBytes()));
        if (ring_ == nullptr) {
            return kErrorNotEnoughMemory;
        }
        handle_ = create.handle;
        if (uint32_t error = queue(0, kRingPackets)) {
            return error;
        }
        fw_cdev_start_iso start{};
        start.handle = handle_;
        start.cycle = -1;
        start.tags = FW_CDEV_ISO_CONTEXT_MATCH_ALL_TAGS;
        if (int r = system_.ioctl(fd_, FW_CDEV_IOC_START_ISO, &start); r < 0) {
            return errorOfErrno(-r);
        }
        started_ = true;
        return 0;
    }

    int fd() const { return fd_; }
    const uint8_t* payload(uint32_t packet) const {
        return ring_ + size_t{packet % kRingPackets} * stride_;
    }
    uint32_t stride() const { return stride_; }

    // Hands `count` packets from ring position `first` back to the kernel, in order.
    uint32_t queue(uint32_t first, uint32_t count) {
        while (count > 0) {
            const uint32_t at = first % kRingPackets;
            const uint32_t run = std::min(count, kRingPackets - at);
            std::vector<uint32_t> control(run);
            for (uint32_t i = 0; i < run; ++i) {
                const bool interrupt = !canFlush_ || (at + i + 1) % kInterruptEvery == 0;
                control[i] = FW_CDEV_ISO_PAYLOAD_LENGTH(stride_) | FW_CDEV_ISO_HEADER_LENGTH(4) |
                             (interrupt ? FW_CDEV_ISO_INTERRUPT : 0);
            }
            fw_cdev_queue_iso request{};
            request.handle = handle_;
            request.packets = reinterpret_cast<uintptr_t>(control.data());
            request.size = run * 4;
            // An address in the mapping, as the kernel takes it, not an offset.
            request.data = reinterpret_cast<uintptr_t>(ring_) + uint64_t{at} * stride_;
            // The kernel may take part of the packets (short of descriptors) and leaves the
            // request pointing at the rest: positions must stay in order, so the rest follows.
            while (request.size > 0) {
                const uint32_t before = request.size;
                if (int r = system_.ioctl(fd_, FW_CDEV_IOC_QUEUE_ISO, &request); r < 0) {
                    return errorOfErrno(-r);
                }
                if (request.size >= before) {
                    return kErrorNotEnoughMemory;
                }
            }
            first += run;
            count -= run;
        }
        return 0;
    }

    // Asks the kernel for the packets completed since its last report.
    void flush() {
        fw_cdev_flush_iso request{};
        request.handle = handle_;
        if (canFlush_ && system_.ioctl(fd_, FW_CDEV_IOC_FLUSH_ISO, &request) < 0) {
            canFlush_ = false;
        }
    }

  private:
    size_t ringBytes() const { return size_t{kRingPackets} * stride_; }

    CdevSystem& system_;
    int fd_ = -1;
    uint32_t handle_ = 0;
    bool canFlush_ = true;
    uint32_t stride_ = 4;
    const uint8_t* ring_ = nullptr;
    bool started_ = false;
};

}  // namespace

uint32_t CdevDriver::attach(Handle& handle, const DriverRequest& request) {
    AttachRequest ask;
    if (const uint32_t error = readAttach(request, &ask)) {
        return error;
    }
    const uint64_t resourceId = ask.resource;
    const uint32_t count = ask.count;
    const uint32_t frameBytes = ask.frameBytes;
    const uint32_t bytesPerPacket = ask.bytesPerPacket;
    const uint32_t slotBytes = ringSlotBytes(frameBytes);
    std::shared_ptr<Buffers> buffers;
    uint8_t* buffer = nullptr;
    ReceiveResource resource;
    std::string fwPath;
    uint8_t start[4] = {};
    bool startSet = false;
    uint32_t startAddress = 0;
    uint32_t waitMs = 0;
    {
        std::lock_guard lock(mutex_);
        Node& node = *handle.node;
        auto owned = resources_.find(resourceId);
        buffers = handle.buffers;
        size_t bufferBytes = 0;
        if (buffers != nullptr) {
            buffer = node.selectAux ? buffers->b : buffers->a;
            bufferBytes = node.selectAux ? buffers->bBytes : buffers->aBytes;
        }
        if (owned == resources_.end() || owned->second.node != handle.node || count == 0 ||
            count > kRingSlots || frameBytes == 0 || bytesPerPacket == 0 || buffer == nullptr ||
            node.receive.active) {
            return kErrorInvalidParameter;
        }
        if (!ask.fits(bufferBytes)) {
            return kErrorInsufficientBuffer;
        }
        resource = owned->second;
        fwPath = node.fwPath;
        node.receive = Receive{};
        node.receive.active = true;
        node.receive.resource = resourceId;
        // The start command's value is kept as the request gave it: in bus order.
        storeLe32(start, node.startValue);
        startSet = node.startSet;
        startAddress = node.startAddress;
        waitMs = node.startWaitMs;
    }
    // A frame is its packets: the last may carry less than a packet's bytes.
    const uint32_t framePackets = (frameBytes + bytesPerPacket - 1) / bytesPerPacket;
    IsoContext context(system_);
    uint32_t result = context.open(fwPath, resource.channel, resource.bytesPerPacket);
    {
        std::lock_guard lock(mutex_);
        handle.node->receive.fd = context.fd();
    }
    // A camera the start command did not reach sends nothing: the receive fails at once
    // instead of waiting for frames that will not come.
    if (result == 0 && startSet) {
        result = writeRegister(handle, startAddress, start);
    }
    if (result == 0) {
        // The registration is read again: it may have been released while the receive started.
        std::lock_guard lock(mutex_);
        if (handle.node->triggerEvent != nullptr) {
            handle.node->triggerEvent->set();
        }
    }
    // A single frame gets the start command's wait, on this machine's clock as a driver's
    // timer runs (a simulated camera running faster than real time only arrives sooner).
    const bool timed = count == 1 && startSet && waitMs != 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double, std::milli>(waitMs));
    std::vector<uint8_t> event(kIsoEventBytes);
    uint32_t nextPacket = 0;
    uint32_t frames = 0;
    bool collecting = false;
    uint32_t filled = 0;
    uint32_t framePacket = 0;
    uint32_t slot = 0;
    const auto frameGap = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(kFrameGapMs));
    auto lastPacket = std::chrono::steady_clock::now();
    auto millisecondsUntil = [](std::chrono::steady_clock::time_point t) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              t - std::chrono::steady_clock::now())
                              .count();
        return static_cast<int>(std::clamp<long long>(left + 1, 0, 1 << 30));
    };
    while (result == 0) {
        {
            std::lock_guard lock(mutex_);
            const Receive& r = handle.node->receive;
            if (r.cancelled) {
                result = kErrorOperationAborted;
            } else if (r.busReset) {
                result = kErrorBusReset;
            } else if (handle.node->gone) {
                result = kErrorDeviceNotConnected;
            }
            if (result != 0 || r.stopped || (count == 1 && frames == 1)) {
                break;
            }
        }
        // A frame whose packets stopped coming lost its tail; a single frame not complete by
        // the start command's wait fails, unless its packets are still coming in.
        const auto now = std::chrono::steady_clock::now();
        const bool inTransfer = collecting && now < lastPacket + frameGap;
        if (collecting && !inTransfer) {
            collecting = false;
            std::lock_guard lock(mutex_);
            ++handle.node->receive.status.lost;
        }
        const bool waiting = timed && frames == 0 && !inTransfer;
        if (waiting && now >= deadline) {
            result = kErrorSemTimeout;
            break;
        }
        // Awake at least every kFlushMs, to ask for packets no interrupt has reported yet.
        int timeoutMs = kFlushMs;
        if (waiting) {
            timeoutMs = std::min(timeoutMs, millisecondsUntil(deadline));
        }
        if (inTransfer) {
            timeoutMs = std::min(timeoutMs, millisecondsUntil(lastPacket + frameGap));
        }
        const int ready = system_.poll(context.fd(), timeoutMs);
        if (ready < 0) {
            result = kErrorDeviceNotConnected;
            break;
        }
        if (ready == 0) {
            context.flush();
            continue;
        }
        const long n = system_.read(context.fd(), event.data(), event.size());
        if (n < 0) {
            result = kErrorDeviceNotConnected;
            break;
        }
        // The headers follow the fixed fields, before the record's own padding.
        constexpr size_t kHeaders = offsetof(fw_cdev_event_iso_interrupt, header);
        fw_cdev_event_iso_interrupt interrupt{};
        if (n < static_cast<long>(kHeaders)) {
            continue;
        }
        std::memcpy(&interrupt, event.data(), kHeaders);
        if (interrupt.type != FW_CDEV_EVENT_ISO_INTERRUPT) {
            continue;
        }
        const uint32_t packets = std::min<uint32_t>(interrupt.header_length, n - kHeaders) / 4;
        const uint8_t* headers = event.data() + kHeaders;
        for (uint32_t p = 0; p < packets; ++p) {
            // The kernel gives the packet header as it was on the bus: big-endian.
            const uint32_t header = loadBe32(headers + 4 * p);
            const uint32_t length = std::min(header >> 16, context.stride());
            const uint8_t* payload = context.payload(nextPacket + p);
            lastPacket = std::chrono::steady_clock::now();
            const bool sync = (header & 0xF) == kSyncBit;
            if (length == 0 && !sync) {
                continue;  // an empty packet carries nothing of a frame
            }
            if (sync) {
                if (collecting) {
                    std::lock_guard lock(mutex_);
                    ++handle.node->receive.status.lost;
                }
                collecting = true;
                filled = 0;
                framePacket = 0;
                slot = frames % count;
            }
            if (!collecting) {
                continue;
            }
            const uint32_t copy = std::min(length, frameBytes - filled);
            std::memcpy(buffer + size_t{slot} * slotBytes + filled, payload, copy);
            filled += copy;
            const bool whole = filled == frameBytes;
            // Only a frame's last packet may be short (the camera does not pad it): one cut
            // short before it leaves a hole the frame's count would not show.
            if (++framePacket < framePackets && !whole && length < bytesPerPacket) {
                collecting = false;
                std::lock_guard lock(mutex_);
                ++handle.node->receive.status.lost;
                continue;
            }
            if (framePacket == framePackets || whole) {
                collecting = false;
                std::lock_guard lock(mutex_);
                Receive& r = handle.node->receive;
                r.status.newest = static_cast<int32_t>(frames);
                r.status.slotValues[slot % kRingSlots] = microsecondsNow();
                ++frames;
                if (handle.node->frameEvent != nullptr) {
                    handle.node->frameEvent->set();
                }
                if (count == 1) {
                    break;
                }
            }
        }
        if (const uint32_t error = context.queue(nextPacket, packets)) {
            result = error;
        }
        nextPacket += packets;
    }
    std::lock_guard lock(mutex_);
    handle.node->receive.active = false;
    handle.node->receive.fd = -1;
    return result;
}

}  // namespace kqfw
