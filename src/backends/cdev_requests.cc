// The Linux FireWire backend's requests besides transactions: what it asks of the kernel's
// resource manager, and what the camera's driver keeps for the library (events, buffers, the
// start command, receive resources and status).
#include <linux/firewire-cdev.h>

#include <algorithm>
#include <cstring>

#include "backends/cdev_driver.h"
#include "backends/cdev_driver_state.h"
#include "transport/async_request.h"
#include "transport/cdev_errors.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

namespace {

constexpr uint32_t kChannels = 64;
constexpr size_t kMaxResources = 8;
constexpr uint64_t kMaxMappedBytes = 512ull << 20;
constexpr uint16_t kRegisterSpaceHigh16 = 0xFFFF;

}  // namespace

// One allocation or release through the kernel's resource manager, answered by an event.
uint32_t CdevDriver::allocateIso(Handle& handle, bool release, uint64_t channels, uint32_t units,
                                 int32_t* channel) {
    fw_cdev_allocate_iso_resource request{};
    {
        std::lock_guard lock(mutex_);
        request.closure = nextClosure_++;
    }
    request.channels = channels;
    request.bandwidth = units;
    std::unique_lock lock(handle.mutex);
    if (handle.gone) {
        return kErrorDeviceNotConnected;
    }
    handle.answers[request.closure] = {};
    lock.unlock();
    const int sent = system_.ioctl(
        handle.fd,
        release ? FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE_ONCE : FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE_ONCE,
        &request);
    lock.lock();
    if (sent >= 0) {
        handle.answered.wait(lock,
                             [&] { return handle.answers[request.closure].done || handle.gone; });
    }
    const CdevAnswer answer = handle.answers[request.closure];
    handle.answers.erase(request.closure);
    if (sent < 0) {
        return errorOfErrno(-sent);
    }
    if (!answer.done) {
        return kErrorDeviceNotConnected;
    }
    if ((channels != 0 && answer.channel < 0) || (units != 0 && answer.bandwidth <= 0)) {
        return release ? kErrorInvalidParameter : kErrorNotEnoughMemory;
    }
    if (channel != nullptr) {
        *channel = answer.channel;
    }
    return 0;
}

void CdevDriver::releaseOwned(DeviceHandle owner, Handle& handle) {
    std::vector<IsoAllocation> owned;
    {
        std::lock_guard lock(mutex_);
        for (auto it = allocations_.begin(); it != allocations_.end();) {
            if (it->second.owner == owner) {
                owned.push_back(it->second);
                it = allocations_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = resources_.begin(); it != resources_.end();) {
            it = it->second.owner == owner ? resources_.erase(it) : std::next(it);
        }
    }
    for (const IsoAllocation& a : owned) {
        allocateIso(handle, true, a.isChannel ? uint64_t{1} << a.channel : 0, a.units, nullptr);
    }
}

uint32_t CdevDriver::isoRequest(DeviceHandle id, Handle& handle, uint32_t code, const uint8_t* in,
                                uint32_t inBytes, uint8_t* out, uint32_t outBytes,
                                uint32_t* returned) {
    auto answer = [&](uint32_t bytes) {
        if (out == nullptr || outBytes < bytes) {
            return kErrorInsufficientBuffer;
        }
        if (in != nullptr && in != out) {
            std::memmove(out, in, std::min(inBytes, bytes));
        }
        *returned = bytes;
        return 0u;
    };
    switch (code) {
        case kIoctlIsochAllocateBandwidth: {
            if (inBytes < kBandwidthBytes || answer(kBandwidthBytes) != 0) {
                return kErrorInsufficientBuffer;
            }
            // At S400 a byte of a cycle's packet costs one allocation unit.
            const uint32_t units = loadLe32(in);
            if (loadLe32(in + 4) > kSpeedS400 || units == 0) {
                return kErrorNotEnoughMemory;
            }
            if (const uint32_t error = allocateIso(handle, false, 0, units, nullptr)) {
                return error;
            }
            std::lock_guard lock(mutex_);
            const uint64_t h = nextIsoHandle_++;
            allocations_[h] = {id, 0, units, false};
            storeLe64(out + 8, h);
            storeLe32(out + 20, 0);  // the kernel does not say what is left
            return 0;
        }
        case kIoctlIsochAllocateChannel: {
            if (inBytes < kChannelBytes || answer(kChannelBytes) != 0) {
                return kErrorInsufficientBuffer;
            }
            const uint32_t wanted = loadLe32(in);
            if (wanted != kAnyChannel && wanted >= kChannels) {
                return kErrorNotEnoughMemory;
            }
            const uint64_t mask = wanted == kAnyChannel ? ~uint64_t{0} : uint64_t{1} << wanted;
            int32_t channel = -1;
            if (const uint32_t error = allocateIso(handle, false, mask, 0, &channel)) {
                return error;
            }
            std::lock_guard lock(mutex_);
            allocations_[nextIsoHandle_++] = {id, static_cast<uint32_t>(channel), 0, true};
            storeLe32(out + 4, static_cast<uint32_t>(channel));
            storeLe64(out + 8, 0);
            return 0;
        }
        case kIoctlIsochFreeBandwidth:
        case kIoctlIsochFreeChannel: {
            const bool isChannel = code == kIoctlIsochFreeChannel;
            if (inBytes < (isChannel ? 4u : 8u)) {
                return kErrorInsufficientBuffer;
            }
            IsoAllocation freed;
            {
                std::lock_guard lock(mutex_);
                auto it = std::find_if(allocations_.begin(), allocations_.end(), [&](auto& e) {
                    return isChannel ? e.second.isChannel && e.second.channel == loadLe32(in)
                                     : !e.second.isChannel && e.first == loadLe64(in);
                });
                if (it == allocations_.end()) {
                    return kErrorInvalidParameter;
                }
                freed = it->second;
                allocations_.erase(it);
            }
            return allocateIso(handle, true, isChannel ? uint64_t{1} << freed.channel : 0,
                               freed.units, nullptr);
        }
        case kIoctlIsochAllocateResources: {
            if (inBytes < kResourceBytes || answer(kResourceBytes) != 0) {
                return kErrorInsufficientBuffer;
            }
            const uint32_t channel = loadLe32(in + 8);
            std::lock_guard lock(mutex_);
            const bool allocated = std::any_of(
                allocations_.begin(), allocations_.end(),
                [&](auto& e) { return e.second.isChannel && e.second.channel == channel; });
            if (loadLe32(in) > kSpeedS400 || !allocated || loadLe32(in + 12) == 0 ||
                loadLe32(in + 16) == 0 || resources_.size() >= kMaxResources) {
                return kErrorNotEnoughMemory;
            }
            const uint64_t h = nextIsoHandle_++;
            resources_[h] = {id, handle.node, channel, loadLe32(in + 12)};
            storeLe64(out + 32, h);
            return 0;
        }
        case kIoctlIsochFreeResources: {
            if (inBytes < 8) {
                return kErrorInsufficientBuffer;
            }
            std::lock_guard lock(mutex_);
            return resources_.erase(loadLe64(in)) == 1 ? 0 : kErrorInvalidParameter;
        }
        case kIoctlIsochAttachBuffers:
            return attach(handle, in, inBytes);
        default:
            return nodeRequest(handle, code, in, inBytes, out, outBytes, returned);
    }
}

uint32_t CdevDriver::nodeRequest(Handle& handle, uint32_t code, const uint8_t* in, uint32_t inBytes,
                                 uint8_t* out, uint32_t outBytes, uint32_t* returned) {
    std::lock_guard lock(mutex_);
    Node& node = *handle.node;
    Receive& receive = node.receive;
    switch (code) {
        case kIoctlGetNodeAddress:
            if (out == nullptr || outBytes < kNodeAddressBytes) {
                return kErrorInsufficientBuffer;
            }
            if (in != nullptr && in != out) {
                std::memmove(out, in, std::min(inBytes, kNodeAddressBytes));
            }
            storeLe16(out + 4, node.nodeId);
            *returned = kNodeAddressBytes;
            return 0;
        case kIoctlSetFrameEvent:
        case kIoctlSetTriggerEvent: {
            if (inBytes < kEventRegistrationBytes) {
                return kErrorInsufficientBuffer;
            }
            Event* event = reinterpret_cast<Event*>(static_cast<uintptr_t>(loadLe64(in)));
            (code == kIoctlSetFrameEvent ? node.frameEvent : node.triggerEvent) = event;
            return 0;
        }
        case kIoctlMapBuffers: {
            if (inBytes < kMapBuffersBytes || out == nullptr || outBytes < kMapBuffersBytes) {
                return kErrorInsufficientBuffer;
            }
            const uint32_t sizeA = loadLe32(in);
            const uint32_t sizeB = loadLe32(in + 4);
            std::memmove(out, in, kMapBuffersBytes);
            handle.buffers.reset();
            if (sizeA != 0 || sizeB != 0) {
                if (uint64_t{sizeA} + sizeB > kMaxMappedBytes) {
                    return kErrorNotEnoughMemory;
                }
                auto buffers = std::make_shared<Buffers>();
                buffers->aBytes = std::max(sizeA, 1u);
                buffers->bBytes = std::max(sizeB, 1u);
                buffers->a = static_cast<uint8_t*>(allocZeroed(buffers->aBytes));
                buffers->b = static_cast<uint8_t*>(allocZeroed(buffers->bBytes));
                if (buffers->a == nullptr || buffers->b == nullptr) {
                    return kErrorNotEnoughMemory;
                }
                handle.buffers = buffers;
            }
            storeLe64(out + 8, handle.buffers ? reinterpret_cast<uintptr_t>(handle.buffers->a) : 0);
            storeLe64(out + 16,
                      handle.buffers ? reinterpret_cast<uintptr_t>(handle.buffers->b) : 0);
            *returned = kMapBuffersBytes;
            return 0;
        }
        case kIoctlSelectBuffer: {
            if (inBytes < 4) {
                return kErrorInsufficientBuffer;
            }
            const uint32_t which = loadLe32(in);
            if (which > 1) {
                return kErrorInvalidParameter;
            }
            node.selectAux = which == 1;
            return 0;
        }
        case kIoctlSetStartCommand: {
            if (inBytes < kStartCommandBytes) {
                return kErrorInsufficientBuffer;
            }
            if (loadLe16(in + 8) != node.nodeId || loadLe16(in + 12) != kRegisterSpaceHigh16) {
                return kErrorInvalidParameter;
            }
            node.startSet = true;
            node.startValue = loadLe32(in);
            node.startWaitMs = loadLe32(in + 4);
            node.startAddress = loadLe32(in + 16);
            return 0;
        }
        case kIoctlIsochStop: {
            if (inBytes < kStopBytes) {
                return kErrorInsufficientBuffer;
            }
            const uint64_t resource = loadLe64(in);
            if (resources_.count(resource) == 0) {
                return kErrorInvalidParameter;
            }
            if (receive.active && receive.resource == resource) {
                receive.stopped = true;
                system_.wake(receive.fd);
            }
            return 0;
        }
        case kIoctlCancelReceive:
            if (receive.active) {
                receive.cancelled = true;
                system_.wake(receive.fd);
            }
            return 0;
        case kIoctlGetReceiveStatus: {
            if (out == nullptr || outBytes < kReceiveStatusBytes) {
                return kErrorInsufficientBuffer;
            }
            std::memset(out, 0, kReceiveStatusBytes);
            storeLe32(out, static_cast<uint32_t>(receive.newest));
            storeLe32(out + 4, receive.lost);
            for (uint32_t i = 0; i < kCdevRingSlots; ++i) {
                storeLe64(out + 8 + 8 * i, receive.slotValues[i]);
            }
            *returned = kReceiveStatusBytes;
            return 0;
        }
        default:
            return kErrorInvalidFunction;
    }
}

}  // namespace kqfw
