// The kernel node's isochronous side: channels and bandwidth from the bench's one budget, the
// receive context with its mapped buffer and queued packets, and the producer that cuts the
// camera's frames into packets as the bus carries them.
#include <linux/firewire-cdev.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/memory.h"
#include "sim/sim_fw_node.h"
#include "transport/cdev_errors.h"
#include "transport/ioctl_codes.h"
#include "transport/register_map.h"

namespace kqfw::sim {

namespace {

constexpr uint32_t kBusBandwidthUnits = 4915;  // bytes a 125 µs cycle carries at S400
constexpr int kChannels = 64;
// Resources the _ONCE requests took belong to no driver handle.
constexpr DeviceHandle kNodeOwner = ~DeviceHandle{0};
constexpr size_t kMaxMappedBytes = size_t{512} << 20;
// The kernel hands the headers over early when a page of them has gathered.
constexpr size_t kHeaderBufferBytes = 4096;
constexpr uint32_t kCyclesPerSecond = 8000;
constexpr uint32_t kStreamTag = 1;
constexpr uint32_t kStreamTcode = 0xA;

// A packet's cycle as the kernel stamps it: seconds (3 bits) and the cycle in the second.
uint32_t cycleTimestamp(uint32_t cycle) {
    return ((cycle / kCyclesPerSecond) & 7) << 13 | (cycle % kCyclesPerSecond);
}

void appendBe(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

}  // namespace

int SimFwNode::allocateOnce(Descriptor& d, void* argument) {
    const auto* request = static_cast<const fw_cdev_allocate_iso_resource*>(argument);
    for (auto [wanted, code] : {std::pair{request->bandwidth > 0, kIoctlIsochAllocateBandwidth},
                                std::pair{request->channels != 0, kIoctlIsochAllocateChannel}}) {
        if (!wanted) {
            continue;
        }
        ++bench_.requestCounts_[code];
        if (auto fault = bench_.requestFault(code)) {
            return -errnoOf(*fault);
        }
    }
    int channel = -1;
    bool granted = true;
    if (request->channels != 0) {
        for (int c = 0; c < kChannels && channel < 0; ++c) {
            if ((request->channels >> c & 1) && !(bench_.channels_ >> c & 1)) {
                channel = c;
            }
        }
        granted = channel >= 0;
    }
    if (granted && request->bandwidth > 0) {
        uint64_t used = 0;
        for (const auto& [h, b] : bench_.bandwidth_) {
            used += b.bytes;
        }
        granted = used + request->bandwidth <= kBusBandwidthUnits;
    }
    fw_cdev_event_iso_resource event{};
    event.closure = request->closure;
    event.type = FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED;
    event.handle = ~0u;
    event.channel = -1;
    event.bandwidth = 0;
    // Both or neither: a channel without its bandwidth is given back at once.
    if (granted) {
        if (channel >= 0) {
            bench_.channels_ |= uint64_t{1} << channel;
            bench_.channelOwners_[static_cast<uint32_t>(channel)] = kNodeOwner;
            onceChannels_[static_cast<uint32_t>(channel)] = d.device;
            event.channel = channel;
        }
        if (request->bandwidth > 0) {
            bench_.bandwidth_[bench_.nextIsochHandle_++] = {kNodeOwner, request->bandwidth, 0,
                                                            d.device};
            event.bandwidth = static_cast<int32_t>(request->bandwidth);
        }
    }
    queueEvent(d, &event, sizeof event);
    return 0;
}

int SimFwNode::deallocateOnce(Descriptor& d, void* argument) {
    const auto* request = static_cast<const fw_cdev_allocate_iso_resource*>(argument);
    const uint64_t channels = request->channels;
    if ((channels & (channels - 1)) != 0) {
        return -EINVAL;
    }
    fw_cdev_event_iso_resource event{};
    event.closure = request->closure;
    event.type = FW_CDEV_EVENT_ISO_RESOURCE_DEALLOCATED;
    event.handle = ~0u;
    event.channel = -1;
    event.bandwidth = 0;
    if (channels != 0) {
        int c = 0;
        while (!(channels >> c & 1)) {
            ++c;
        }
        // Like the bus's resource manager, which knows no owners: a taken channel is freed.
        if (bench_.channels_ >> c & 1) {
            bench_.channels_ &= ~channels;
            bench_.channelOwners_.erase(static_cast<uint32_t>(c));
            onceChannels_.erase(static_cast<uint32_t>(c));
            event.channel = c;
        }
    }
    if (request->bandwidth > 0) {
        auto match = bench_.bandwidth_.end();
        for (auto it = bench_.bandwidth_.begin(); it != bench_.bandwidth_.end(); ++it) {
            const SimBench::Isoch& b = it->second;
            if (b.owner == kNodeOwner && b.bytes == request->bandwidth &&
                (match == bench_.bandwidth_.end() || b.device == d.device)) {
                match = it;
            }
        }
        if (match != bench_.bandwidth_.end()) {
            bench_.bandwidth_.erase(match);
            event.bandwidth = static_cast<int32_t>(request->bandwidth);
        }
    }
    queueEvent(d, &event, sizeof event);
    return 0;
}

void SimFwNode::releaseOnce() {
    for (auto it = bench_.bandwidth_.begin(); it != bench_.bandwidth_.end();) {
        it = it->second.owner == kNodeOwner ? bench_.bandwidth_.erase(it) : std::next(it);
    }
    for (const auto& [channel, device] : onceChannels_) {
        bench_.channels_ &= ~(uint64_t{1} << channel);
        bench_.channelOwners_.erase(channel);
    }
    onceChannels_.clear();
}

int SimFwNode::createContext(Descriptor& d, void* argument) {
    auto* request = static_cast<fw_cdev_create_iso_context*>(argument);
    if (d.context.created) {
        return -EBUSY;
    }
    if (request->type != FW_CDEV_ISO_CONTEXT_RECEIVE || request->channel >= kChannels ||
        request->header_size < 4 || request->header_size % 4 != 0) {
        return -EINVAL;
    }
    d.context.created = true;
    d.context.channel = request->channel;
    d.context.headerSize = request->header_size;
    d.context.closure = request->closure;
    request->handle = 0;
    return 0;
}

int SimFwNode::queueIso(Descriptor& d, void* argument) {
    auto* request = static_cast<fw_cdev_queue_iso*>(argument);
    Context& context = d.context;
    if (!context.created || request->handle != 0 || request->size % 4 != 0) {
        return -EINVAL;
    }
    const auto* words = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(request->packets));
    if (d.mapping.bytes == nullptr || (request->size > 0 && words == nullptr)) {
        return -EFAULT;
    }
    // An address in the mapping, as the kernel takes it: anything else finds no room for a
    // payload (the kernel's own rule, so a client passing an offset fails here as there).
    const uintptr_t base = reinterpret_cast<uintptr_t>(d.mapping.bytes);
    uint64_t at = request->data >= base ? request->data - base : d.mapping.size;
    const uint64_t first = at;
    std::vector<Slot> slots;
    for (uint32_t i = 0; i < request->size / 4; ++i) {
        const uint32_t word = words[i];
        const uint32_t payload = FW_CDEV_ISO_PAYLOAD_LENGTH(word & 0xFFFF);
        const uint32_t header = word >> 24;
        if (header % context.headerSize != 0) {
            return -EINVAL;
        }
        if (at + payload > d.mapping.size) {
            return -EINVAL;
        }
        slots.push_back({static_cast<size_t>(at), payload, (word & FW_CDEV_ISO_INTERRUPT) != 0});
        at += payload;
    }
    context.slots.insert(context.slots.end(), slots.begin(), slots.end());
    const uint32_t consumed = request->size;
    request->packets += consumed;
    request->data += at - first;
    request->size = 0;
    return static_cast<int>(consumed);
}

int SimFwNode::startIso(Descriptor& d, const DescriptorPtr& self, void* argument) {
    const auto* request = static_cast<const fw_cdev_start_iso*>(argument);
    Context& context = d.context;
    if (!context.created || request->handle != 0) {
        return -EINVAL;
    }
    if (context.started) {
        return -EBUSY;
    }
    // One context takes a camera's frames at a time: two would each see only some of them.
    for (const auto& [fd, other] : descriptors_) {
        if (other.get() != &d && other->device == d.device && other->context.started &&
            d.device != kController) {
            return -EBUSY;
        }
    }
    context.started = true;
    ++context.run;
    if (d.device == kController) {
        return 0;  // no camera streams to the controller's own node
    }
    if (context.producer.joinable()) {
        halted_.push_back(std::move(context.producer));
    }
    ++context.producers;
    context.producer = std::thread(&SimFwNode::produce, this, self, context.run);
    return 0;
}

void SimFwNode::halt(Descriptor& d) {
    Context& context = d.context;
    if (context.started) {
        context.started = false;
        ++context.run;
        // A receiver that gave up on a late frame leaves it unheard, as the driver's own time-out
        // does: the camera's next frame is not late again.
        if (d.device != kController && d.device < bench_.devices_.size()) {
            bench_.devices_[d.device].camera->abandonDelayedFrame();
        }
    }
    context.slots.clear();
    context.headers.clear();
    if (context.producer.joinable()) {
        halted_.push_back(std::move(context.producer));
    }
    bench_.changed_.notify_all();
}

bool SimFwNode::live(const Descriptor& d, uint64_t run) const {
    return d.context.started && d.context.run == run && !d.gone && !d.closed;
}

void SimFwNode::reap() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(bench_.mutex_);
        threads.swap(halted_);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

void SimFwNode::produce(DescriptorPtr d, uint64_t run) {
    Lock lock(bench_.mutex_);
    const uint32_t channel = d->context.channel;
    while (live(*d, run)) {
        SimBench::Device& device = bench_.devices_[d->device];
        SimCamera& camera = *device.camera;
        // The context hears its camera while the camera sends on the context's channel.
        uint32_t channelRegister = 0;
        camera.peek(kSimCommandBase + kCmdIsoChannel, &channelRegister, Clock::now());
        if (channelRegister >> 28 != channel) {
            bench_.changed_.wait(lock);
            continue;
        }
        SimBench::ProducedFrame produced;
        const auto step = bench_.produceFrame(lock, device, false, Clock::time_point{}, &produced);
        if (step != SimBench::FrameStep::kFrame && step != SimBench::FrameStep::kLost) {
            continue;
        }
        if (!live(*d, run)) {
            break;
        }
        if (step == SimBench::FrameStep::kFrame) {
            device.lastFrame = produced.rendered;
            device.lastWidth = produced.geometry.deliveredWidth;
            device.lastHeight = produced.geometry.deliveredHeight;
            const std::vector<uint8_t>& bytes = produced.rendered->bytes;
            sendFrame(lock, *d, run, bytes.data(),
                      std::min<size_t>(produced.geometry.payloadBytes, bytes.size()),
                      produced.geometry.bytesPerPacket, channel);
        } else {
            // A frame lost on the bus arrives cut short: its first half, then the next frame.
            const StreamGeometry& geometry = camera.geometry();
            const std::vector<uint8_t> half(geometry.payloadBytes / 2 / 4 * 4);
            sendFrame(lock, *d, run, half.data(), half.size(), geometry.bytesPerPacket, channel);
        }
        // Between frames the other requests get the bus, also when frames come back to back.
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
    }
    --d->context.producers;
    bench_.changed_.notify_all();
}

bool SimFwNode::sendFrame(Lock& lock, Descriptor& d, uint64_t run, const uint8_t* bytes,
                          size_t frameBytes, uint32_t bytesPerPacket, uint32_t channel) {
    if (bytesPerPacket == 0) {
        return true;
    }
    Context& context = d.context;
    for (size_t offset = 0; offset < frameBytes; offset += bytesPerPacket) {
        // No packet is lost for want of a buffer: the bus waits for the client to queue one.
        while (live(d, run) && context.slots.empty()) {
            bench_.changed_.wait(lock);
        }
        if (!live(d, run)) {
            return false;
        }
        const Slot slot = context.slots.front();
        context.slots.pop_front();
        const size_t length = std::min<size_t>(bytesPerPacket, frameBytes - offset);
        const size_t dataLength = (length + 3) / 4 * 4;
        if (d.mapping.bytes != nullptr && slot.offset + slot.capacity <= d.mapping.size) {
            uint8_t* out = d.mapping.bytes + slot.offset;
            const size_t copied = std::min<size_t>(length, slot.capacity);
            std::memcpy(out, bytes + offset, copied);
            std::memset(out + copied, 0, std::min<size_t>(dataLength, slot.capacity) - copied);
        }
        const uint32_t sy = offset == 0 ? 1 : 0;
        appendBe(context.headers, static_cast<uint32_t>(dataLength) << 16 | kStreamTag << 14 |
                                      channel << 8 | kStreamTcode << 4 | sy);
        const uint32_t timestamp = cycleTimestamp(context.cycle++);
        for (uint32_t extra = 4; extra < context.headerSize; extra += 4) {
            appendBe(context.headers, extra == 4 ? timestamp : 0);
        }
        if (slot.interrupt || context.headers.size() + context.headerSize > kHeaderBufferBytes) {
            reportPackets(d);
        }
    }
    return true;
}

void SimFwNode::reportPackets(Descriptor& d) {
    Context& context = d.context;
    fw_cdev_event_iso_interrupt event{};
    event.closure = context.closure;
    event.type = FW_CDEV_EVENT_ISO_INTERRUPT;
    event.cycle = cycleTimestamp(context.cycle == 0 ? 0 : context.cycle - 1);
    event.header_length = static_cast<uint32_t>(context.headers.size());
    queueEvent(d, &event, sizeof event, offsetof(fw_cdev_event_iso_interrupt, header),
               context.headers.data(), context.headers.size());
    context.headers.clear();
}

int SimFwNode::flushIso(Descriptor& d, void* argument) {
    if (!d.context.created || static_cast<fw_cdev_flush_iso*>(argument)->handle != 0) {
        return -EINVAL;
    }
    // The packets completed since the last report, as an event ready when the call returns.
    if (!d.context.headers.empty()) {
        reportPackets(d);
    }
    return 0;
}

void* SimFwNode::mapIsoBuffer(int fd, size_t bytes) {
    std::lock_guard lock(bench_.mutex_);
    DescriptorPtr d = find(fd);
    if (d == nullptr || d->gone || bytes == 0 || bytes > kMaxMappedBytes ||
        d->mapping.bytes != nullptr) {
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(allocZeroed(bytes));
    if (block != nullptr) {
        d->mapping = {block, bytes};
    }
    return block;
}

void SimFwNode::unmapIsoBuffer(void* address, size_t) {
    std::lock_guard lock(bench_.mutex_);
    for (auto& [fd, d] : descriptors_) {
        if (address != nullptr && d->mapping.bytes == address) {
            freeMapping(d->mapping);
        }
    }
}

void SimFwNode::freeMapping(Mapping& mapping) {
    if (mapping.bytes != nullptr) {
        freeZeroed(mapping.bytes);
    }
    mapping = {};
}

}  // namespace kqfw::sim
