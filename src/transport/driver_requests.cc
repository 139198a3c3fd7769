#include "transport/driver_requests.h"

#include <algorithm>
#include <cstring>

#include "transport/async_request.h"
#include "transport/driver_port.h"

namespace kqfw {

bool DriverRequest::answer(uint32_t bytes) const {
    if (out == nullptr || outBytes < bytes) {
        return false;
    }
    if (in != nullptr && in != out) {
        std::memmove(out, in, std::min(inBytes, bytes));
    }
    *returned = bytes;
    return true;
}

bool AttachRequest::fits(uint64_t bufferBytes) const {
    // In 64 bits: a frame size near the top of 32 would otherwise wrap to a ring that fits.
    const uint64_t ring = uint64_t{ringSlotBytes(frameBytes)} * (count - 1) + frameBytes;
    return count != 0 && frameBytes <= UINT32_MAX - (kSlotAlign - 1) && totalBytes == ring &&
           totalBytes <= bufferBytes;
}

namespace {

// The request's fields and, for a request that is answered, the start of its answer.
uint32_t take(const DriverRequest& r, uint32_t bytes, bool answered) {
    return r.holds(bytes) && (!answered || r.answer(bytes)) ? 0 : kErrorInsufficientBuffer;
}

}  // namespace

uint32_t readBandwidthRequest(const DriverRequest& r, BandwidthRequest* request) {
    if (const uint32_t error = take(r, kBandwidthBytes, true)) {
        return error;
    }
    request->bytesPerCycle = loadLe32(r.in);
    request->speed = loadLe32(r.in + 4);
    return 0;
}

void answerBandwidth(const DriverRequest& r, uint64_t handle, uint32_t unitsLeft) {
    storeLe64(r.out + 8, handle);
    storeLe32(r.out + 20, unitsLeft);
}

uint32_t readChannelRequest(const DriverRequest& r, uint32_t* wanted) {
    if (const uint32_t error = take(r, kChannelBytes, true)) {
        return error;
    }
    *wanted = loadLe32(r.in);
    return 0;
}

void answerChannel(const DriverRequest& r, uint32_t channel, uint64_t freeChannels) {
    storeLe32(r.out + 4, channel);
    storeLe64(r.out + 8, freeChannels);
}

uint32_t readResourceRequest(const DriverRequest& r, ResourceRequest* request) {
    if (const uint32_t error = take(r, kResourceBytes, true)) {
        return error;
    }
    request->speed = loadLe32(r.in);
    request->channel = loadLe32(r.in + 8);
    request->bytesPerPacket = loadLe32(r.in + 12);
    request->buffers = loadLe32(r.in + 16);
    return 0;
}

void answerResources(const DriverRequest& r, uint64_t handle) {
    storeLe64(r.out + 32, handle);
}

uint32_t readHandle(const DriverRequest& r, uint64_t* handle) {
    if (const uint32_t error = take(r, 8, false)) {
        return error;
    }
    *handle = loadLe64(r.in);
    return 0;
}

uint32_t readStop(const DriverRequest& r, uint64_t* resources) {
    if (const uint32_t error = take(r, kStopBytes, false)) {
        return error;
    }
    *resources = loadLe64(r.in);
    return 0;
}

uint32_t readQuadlet(const DriverRequest& r, uint32_t* value) {
    if (const uint32_t error = take(r, 4, false)) {
        return error;
    }
    *value = loadLe32(r.in);
    return 0;
}

uint32_t readEventRegistration(const DriverRequest& r, Event** event) {
    if (const uint32_t error = take(r, kEventRegistrationBytes, false)) {
        return error;
    }
    *event = reinterpret_cast<Event*>(static_cast<uintptr_t>(loadLe64(r.in)));
    return 0;
}

uint32_t readMapBuffers(const DriverRequest& r, uint32_t* bytesA, uint32_t* bytesB) {
    if (const uint32_t error = take(r, kMapBuffersBytes, true)) {
        return error;
    }
    *bytesA = loadLe32(r.in);
    *bytesB = loadLe32(r.in + 4);
    return 0;
}

void answerMapBuffers(const DriverRequest& r, const void* bufferA, const void* bufferB) {
    storeLe64(r.out + 8, reinterpret_cast<uintptr_t>(bufferA));
    storeLe64(r.out + 16, reinterpret_cast<uintptr_t>(bufferB));
}

uint32_t readStartCommand(const DriverRequest& r, StartCommand* command) {
    if (const uint32_t error = take(r, kStartCommandBytes, false)) {
        return error;
    }
    command->value = loadLe32(r.in);
    command->waitMs = loadLe32(r.in + 4);
    command->node = loadLe16(r.in + 8);
    command->addressHigh = loadLe16(r.in + 12);
    command->address = loadLe32(r.in + 16);
    return 0;
}

uint32_t readAttach(const DriverRequest& r, AttachRequest* request) {
    if (const uint32_t error = take(r, kAttachBytes, false)) {
        return error;
    }
    request->resource = loadLe64(r.in);
    request->count = loadLe32(r.in + 8);
    request->totalBytes = loadLe32(r.in + 12);
    request->frameBytes = loadLe32(r.in + 28);
    request->bytesPerPacket = loadLe32(r.in + 32);
    return 0;
}

uint32_t answerNodeAddress(const DriverRequest& r, uint16_t nodeId) {
    if (!r.answer(kNodeAddressBytes)) {
        return kErrorInsufficientBuffer;
    }
    storeLe16(r.out + 4, nodeId);
    return 0;
}

uint32_t answerReceiveStatus(const DriverRequest& r, const ReceiveStatus& status) {
    if (r.out == nullptr || r.outBytes < kReceiveStatusBytes) {
        return kErrorInsufficientBuffer;
    }
    std::memset(r.out, 0, kReceiveStatusBytes);
    storeLe32(r.out, static_cast<uint32_t>(status.newest));
    storeLe32(r.out + 4, status.lost);
    for (uint32_t i = 0; i < kRingSlots; ++i) {
        storeLe64(r.out + 8 + 8 * i, status.slotValues[i]);
    }
    *r.returned = kReceiveStatusBytes;
    return 0;
}

void decodeReceiveStatus(const uint8_t* reply, ReceiveStatus* status) {
    status->newest = static_cast<int32_t>(loadLe32(reply));
    status->lost = loadLe32(reply + 4);
    for (uint32_t i = 0; i < kRingSlots; ++i) {
        status->slotValues[i] = loadLe64(reply + 8 + 8 * i);
    }
}

}  // namespace kqfw
