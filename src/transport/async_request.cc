#include "transport/async_request.h"

namespace kqfw {

uint16_t loadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t loadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint64_t loadLe64(const uint8_t* p) {
    return loadLe32(p) | (uint64_t{loadLe32(p + 4)} << 32);
}

void storeLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void storeLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void storeLe64(uint8_t* p, uint64_t v) {
    storeLe32(p, static_cast<uint32_t>(v));
    storeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint32_t loadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void storeBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

void encodeAsyncRequest(const AsyncRequestFields& f, uint8_t* b) {
    storeLe32(b + 0, f.rawMode);
    storeLe32(b + 4, f.getGeneration);
    storeLe16(b + 8, f.nodeId);
    storeLe16(b + 10, 0);
    storeLe16(b + 12, f.offsetHigh);
    storeLe16(b + 14, 0);
    storeLe32(b + 16, f.offsetLow);
    storeLe32(b + 20, f.byteCount);
    storeLe32(b + 24, f.blockSize);
    storeLe32(b + 28, f.flags);
    storeLe32(b + 32, f.generation);
}

AsyncRequestFields decodeAsyncRequest(const uint8_t* b) {
    AsyncRequestFields f;
    f.rawMode = loadLe32(b + 0);
    f.getGeneration = loadLe32(b + 4);
    f.nodeId = loadLe16(b + 8);
    f.offsetHigh = loadLe16(b + 12);
    f.offsetLow = loadLe32(b + 16);
    f.byteCount = loadLe32(b + 20);
    f.blockSize = loadLe32(b + 24);
    f.flags = loadLe32(b + 28);
    f.generation = loadLe32(b + 32);
    return f;
}

}  // namespace kqfw
