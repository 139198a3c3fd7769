#pragma once

#include <cstdint>
#include <vector>

#include "sim_fixture.h"

namespace kqfw::test {

// A stream as a driver client sets one up: camera registers programmed, bandwidth, channel and
// receive resources allocated, a start command armed. Only what the simulated bus needs to be
// tested; the library's own set-up is tested through the camera API.
struct StreamSetup {
    int32_t left = 0, top = 0, width = 64, height = 48;
    uint32_t binning = 1;
    uint32_t coding = 0x05;
    uint32_t exposureUnits = 10;
};

struct Stream {
    DeviceLink link;
    uint32_t bytesPerPacket = 0;
    uint32_t packetsPerFrame = 0;
    uint32_t deliveredWidth = 0, deliveredHeight = 0;
    uint64_t bandwidth = 0, resources = 0;
    uint32_t channel = 0;
    void* bufferA = nullptr;
    void* bufferB = nullptr;
    uint32_t frameBytes() const { return bytesPerPacket * packetsPerFrame; }
};

// Programs the camera and reserves the bus; 0 or the first failing step's error.
uint32_t openStream(const DeviceLink& link, bool mono, const StreamSetup& setup, Stream* stream);
// Arms `value` for `address` (command-block offset), as the start command of the next attach.
uint32_t armStart(const Stream& stream, uint32_t commandOffset, uint32_t value);
// Attaches `count` frames (1 or the 5-slot ring) and blocks until the receive ends.
uint32_t attachFrames(const Stream& stream, uint32_t count);
void closeStream(Stream& stream);

struct ReceiveStatus {
    int32_t newest = -1;
    uint64_t slots[5] = {};
};
ReceiveStatus receiveStatus(DeviceHandle handle);

// The frame at the start of buffer A (or ring slot `slot`), decoded to 16-bit samples.
std::vector<uint16_t> frameSamples(const Stream& stream, uint32_t coding, uint32_t slot = 0);

}  // namespace kqfw::test
