#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kqfw {

// One register or block transaction as the driver takes it: a 36-byte little-endian header,
// then the data. Quadlet data is big-endian on the bus; block data is bytes as they are.
inline constexpr uint32_t kQuadletBytes = 4;
inline constexpr uint32_t kBlockBytes = 128;
inline constexpr uint16_t kRegisterSpaceHigh = 0xFFFF;

struct AsyncRequestFields {
    uint32_t rawMode = 0;
    uint32_t getGeneration = 1;
    uint16_t nodeId = 0;
    uint16_t offsetHigh = kRegisterSpaceHigh;
    uint32_t offsetLow = 0;
    uint32_t byteCount = 0;
    uint32_t blockSize = 0;
    uint32_t flags = 0;
    uint32_t generation = 0;
};

// Room for the largest request: header, a block and the 4 bytes the driver is given on top.
using AsyncRequestBuffer = std::array<uint8_t, 36 + kBlockBytes + 4>;

// The length handed to the driver for a request of n data bytes, as input and as output.
constexpr uint32_t asyncRequestLength(uint32_t dataBytes) {
    return 40 + dataBytes;
}

void encodeAsyncRequest(const AsyncRequestFields& fields, uint8_t* buffer);
AsyncRequestFields decodeAsyncRequest(const uint8_t* buffer);
inline uint8_t* asyncRequestData(uint8_t* buffer) {
    return buffer + 36;
}
inline const uint8_t* asyncRequestData(const uint8_t* buffer) {
    return buffer + 36;
}

// Byte-order helpers shared by the transport and the simulated driver.
uint32_t loadLe32(const uint8_t* p);
uint16_t loadLe16(const uint8_t* p);
uint64_t loadLe64(const uint8_t* p);
void storeLe32(uint8_t* p, uint32_t v);
void storeLe16(uint8_t* p, uint16_t v);
void storeLe64(uint8_t* p, uint64_t v);
uint32_t loadBe32(const uint8_t* p);
void storeBe32(uint8_t* p, uint32_t v);

}  // namespace kqfw
