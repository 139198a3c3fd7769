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
#include "transport/driver_requests.h"

namespace kqfw {

namespace {

constexpr uint32_t kChannels = 64;
constexpr uint64_t kCameraChannels = 0xFFFF;
constexpr size_t kMaxResources = 8;

}  // namespace

// The kernel's one-time allocations hold for the bus generation they were made in: a reset
// clears the resource manager, and releasing one afterwards would free what another node has
// taken since. Called with the driver's mutex held.
bool CdevDriver::lapsed(const IsoAllocation& allocation, const Handle& handle) const {
    return allocation.generation != handle.node->generation;
}

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
                if (!lapsed(it->second, handle)) {
                    owned.push_back(it->second);
                }
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

uint32_t CdevDriver::isoRequest(DeviceHandle id, Handle& handle, uint32_t code,
                                const DriverRequest& r) {
    switch (code) {
        case kIoctlIsochAllocateBandwidth: {
            BandwidthRequest ask;
            if (const uint32_t error = readBandwidthRequest(r, &ask)) {
                return error;
            }
            // At S400 a byte of a cycle's packet costs one allocation unit.
            if (ask.speed > kSpeedS400 || ask.bytesPerCycle == 0) {
                return kErrorNotEnoughMemory;
            }
            if (const uint32_t error = allocateIso(handle, false, 0, ask.bytesPerCycle, nullptr)) {
                return error;
            }
            std::lock_guard lock(mutex_);
            const uint64_t h = nextIsoHandle_++;
            allocations_[h] = {id, 0, ask.bytesPerCycle, false, handle.node->generation};
            answerBandwidth(r, h, 0);  // the kernel does not say what is left
            return 0;
        }
        case kIoctlIsochAllocateChannel: {
            uint32_t wanted = 0;
            if (const uint32_t error = readChannelRequest(r, &wanted)) {
                return error;
            }
            if (wanted != kAnyChannel && wanted >= kChannels) {
                return kErrorNotEnoughMemory;
            }
            // Any channel is one the camera can send on: its channel register has four bits.
            const uint64_t mask = wanted == kAnyChannel ? kCameraChannels : uint64_t{1} << wanted;
            int32_t channel = -1;
            if (const uint32_t error = allocateIso(handle, false, mask, 0, &channel)) {
                return error;
            }
            std::lock_guard lock(mutex_);
            allocations_[nextIsoHandle_++] = {id, static_cast<uint32_t>(channel), 0, true,
                                              handle.node->generation};
            answerChannel(r, static_cast<uint32_t>(channel), 0);
            return 0;
        }
        case kIoctlIsochFreeBandwidth:
        case kIoctlIsochFreeChannel: {
            const bool isChannel = code == kIoctlIsochFreeChannel;
            uint64_t bandwidth = 0;
            uint32_t channel = 0;
            if (const uint32_t error =
                    isChannel ? readQuadlet(r, &channel) : readHandle(r, &bandwidth)) {
                return error;
            }
            IsoAllocation freed;
            {
                std::lock_guard lock(mutex_);
                auto it = std::find_if(allocations_.begin(), allocations_.end(), [&](auto& e) {
                    return isChannel ? e.second.isChannel && e.second.channel == channel
                                     : !e.second.isChannel && e.first == bandwidth;
                });
                if (it == allocations_.end()) {
                    return kErrorInvalidParameter;
                }
                freed = it->second;
                allocations_.erase(it);
                if (lapsed(freed, handle)) {
                    return 0;
                }
            }
            return allocateIso(handle, true, isChannel ? uint64_t{1} << freed.channel : 0,
                               freed.units, nullptr);
        }
        case kIoctlIsochAllocateResources: {
            ResourceRequest ask;
            if (const uint32_t error = readResourceRequest(r, &ask)) {
                return error;
            }
            std::lock_guard lock(mutex_);
            const bool allocated = std::any_of(
                allocations_.begin(), allocations_.end(),
                [&](auto& e) { return e.second.isChannel && e.second.channel == ask.channel; });
            if (ask.speed > kSpeedS400 || !allocated || ask.bytesPerPacket == 0 ||
                ask.buffers == 0 || resources_.size() >= kMaxResources) {
                return kErrorNotEnoughMemory;
            }
            const uint64_t h = nextIsoHandle_++;
            resources_[h] = {id, handle.node, ask.channel, ask.bytesPerPacket};
            answerResources(r, h);
            return 0;
        }
        case kIoctlIsochFreeResources: {
            uint64_t h = 0;
            if (const uint32_t error = readHandle(r, &h)) {
                return error;
            }
            std::lock_guard lock(mutex_);
            return resources_.erase(h) == 1 ? 0 : kErrorInvalidParameter;
        }
        case kIoctlIsochAttachBuffers:
            return attach(handle, r);
        default:
            return nodeRequest(handle, code, r);
    }
}

uint32_t CdevDriver::nodeRequest(Handle& handle, uint32_t code, const DriverRequest& r) {
    std::lock_guard lock(mutex_);
    Node& node = *handle.node;
    Receive& receive = node.receive;
    switch (code) {
        case kIoctlGetNodeAddress:
            return answerNodeAddress(r, node.nodeId);
        case kIoctlSetFrameEvent:
        case kIoctlSetTriggerEvent: {
            Event* event = nullptr;
            if (const uint32_t error = readEventRegistration(r, &event)) {
                return error;
            }
            (code == kIoctlSetFrameEvent ? node.frameEvent : node.triggerEvent) = event;
            return 0;
        }
        case kIoctlMapBuffers: {
            uint32_t sizeA = 0, sizeB = 0;
            if (const uint32_t error = readMapBuffers(r, &sizeA, &sizeB)) {
                return error;
            }
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
            answerMapBuffers(r, handle.buffers ? handle.buffers->a : nullptr,
                             handle.buffers ? handle.buffers->b : nullptr);
            return 0;
        }
        case kIoctlSelectBuffer: {
            uint32_t which = 0;
            if (const uint32_t error = readQuadlet(r, &which)) {
                return error;
            }
            if (which > 1) {
                return kErrorInvalidParameter;
            }
            node.selectAux = which == 1;
            return 0;
        }
        case kIoctlSetStartCommand: {
            StartCommand start;
            if (const uint32_t error = readStartCommand(r, &start)) {
                return error;
            }
            if (start.node != node.nodeId || start.addressHigh != kRegisterSpaceHigh) {
                return kErrorInvalidParameter;
            }
            node.startSet = true;
            node.startValue = start.value;
            node.startWaitMs = start.waitMs;
            node.startAddress = start.address;
            return 0;
        }
        case kIoctlIsochStop: {
            uint64_t resource = 0;
            if (const uint32_t error = readStop(r, &resource)) {
                return error;
            }
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
        case kIoctlGetReceiveStatus:
            return answerReceiveStatus(r, receive.status);
        default:
            return kErrorInvalidFunction;
    }
}

}  // namespace kqfw
