#pragma once

#include <cstdint>

#include "transport/driver_port.h"

namespace kqfw {

// Where a camera sits on the bus and where its register blocks are: what every register
// transaction needs. Filled when the camera is opened; read by any thread afterwards.
struct DeviceLink {
    DeviceHandle deviceHandle = kInvalidDeviceHandle;
    char devicePath[256] = {};
    uint16_t busNumber = 0;
    uint16_t nodeNumber = 0;  // 6 bits used
    uint32_t commandBase = 0;
    uint32_t advancedBase = 0;
    uint32_t isMono = 0;

    uint16_t nodeId() const {
        return static_cast<uint16_t>((busNumber << 6) | (nodeNumber & 0x3F));
    }
};

}  // namespace kqfw
