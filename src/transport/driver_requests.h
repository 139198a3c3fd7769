#pragma once

// The camera driver's requests as a driver takes them apart and answers them. The simulated
// driver and the Linux backend both serve them; reading every field here keeps the two at the
// same offsets, the same length checks and the same answers as the library that writes them.

#include <cstdint>

#include "transport/ioctl_codes.h"

namespace kqfw {

class Event;

// The receive ring: a streaming receive fills five slots, each frame starting on a page.
inline constexpr uint32_t kRingSlots = 5;
inline constexpr uint32_t kSlotAlign = 4096;
// The most the driver maps for the two shared buffers together.
inline constexpr uint64_t kMaxMappedBytes = 512ull << 20;

// Where a frame of `frameBytes` starts its successor in the ring.
constexpr uint32_t ringSlotBytes(uint32_t frameBytes) {
    return (frameBytes + kSlotAlign - 1) / kSlotAlign * kSlotAlign;
}

// One request as the driver receives it. Buffered I/O: input and output may be one buffer, and
// an answer starts as a copy of the input.
struct DriverRequest {
    const uint8_t* in = nullptr;
    uint32_t inBytes = 0;
    uint8_t* out = nullptr;
    uint32_t outBytes = 0;
    uint32_t* returned = nullptr;

    bool holds(uint32_t bytes) const { return in != nullptr && inBytes >= bytes; }
    // Starts an answer of `bytes`; false when the output cannot take it.
    bool answer(uint32_t bytes) const;
};

// The driver's account of a receive: its newest completed frame (from 0, -1 before the first),
// the frames it could not complete (the reserved word; a driver that does not count them leaves
// 0) and the value of each ring slot.
struct ReceiveStatus {
    int32_t newest = -1;
    uint32_t lost = 0;
    uint64_t slotValues[kRingSlots] = {};
};

struct BandwidthRequest {
    uint32_t bytesPerCycle = 0;
    uint32_t speed = 0;
};

struct ResourceRequest {
    uint32_t speed = 0;
    uint32_t channel = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t buffers = 0;
};

struct StartCommand {
    uint32_t value = 0;  // in bus order, as the request gives it
    uint32_t waitMs = 0;
    uint16_t node = 0;
    uint16_t addressHigh = 0;
    uint32_t address = 0;
};

struct AttachRequest {
    uint64_t resource = 0;
    uint32_t count = 0;
    uint32_t totalBytes = 0;
    uint32_t frameBytes = 0;
    uint32_t bytesPerPacket = 0;

    // The ring the request describes, in a buffer of `bufferBytes`: its slots and its size
    // agree and it fits.
    bool fits(uint64_t bufferBytes) const;
};

// Each read gives kErrorInsufficientBuffer for a request too short for its fields or, where the
// request is answered, an output too short for the answer; it has then started the answer.
uint32_t readBandwidthRequest(const DriverRequest& r, BandwidthRequest* request);
void answerBandwidth(const DriverRequest& r, uint64_t handle, uint32_t unitsLeft);
uint32_t readChannelRequest(const DriverRequest& r, uint32_t* wanted);
void answerChannel(const DriverRequest& r, uint32_t channel, uint64_t freeChannels);
uint32_t readResourceRequest(const DriverRequest& r, ResourceRequest* request);
void answerResources(const DriverRequest& r, uint64_t handle);
// The handle of a release (bandwidth, resources), and the resources a stop names.
uint32_t readHandle(const DriverRequest& r, uint64_t* handle);
uint32_t readStop(const DriverRequest& r, uint64_t* resources);
// A channel's release, or the choice of shared buffer (0 or 1).
uint32_t readQuadlet(const DriverRequest& r, uint32_t* value);
uint32_t readEventRegistration(const DriverRequest& r, Event** event);
uint32_t readMapBuffers(const DriverRequest& r, uint32_t* bytesA, uint32_t* bytesB);
void answerMapBuffers(const DriverRequest& r, const void* bufferA, const void* bufferB);
uint32_t readStartCommand(const DriverRequest& r, StartCommand* command);
uint32_t readAttach(const DriverRequest& r, AttachRequest* request);
uint32_t answerNodeAddress(const DriverRequest& r, uint16_t nodeId);
uint32_t answerReceiveStatus(const DriverRequest& r, const ReceiveStatus& status);

// The library's side of the receive status.
void decodeReceiveStatus(const uint8_t* reply, ReceiveStatus* status);

}  // namespace kqfw
