#pragma once

#include <cstdint>

namespace kqfw {

inline constexpr int kFormat7Modes = 8;

// One Format_7 mode as the camera describes it; all zero for a mode the camera lacks.
struct Format7ModeInfo {
    uint32_t csrAddress;
    uint16_t maxWidth, maxHeight;
    uint16_t unitWidth, unitHeight;
    uint32_t totalBytes;
    uint16_t bytesPerPacket;
    uint32_t packetsPerFrame;
    uint16_t unitPosX, unitPosY;
    uint16_t modeWidth, modeHeight;
    uint32_t packingCapable;
    uint32_t compressionCapable;
};

}  // namespace kqfw
