#pragma once

#include <cstdint>

namespace kqfw {

// I/O control codes of the camera driver (device type unknown, buffered, any access).
inline constexpr uint32_t kIoctlAsyncRead = 0x222008;
inline constexpr uint32_t kIoctlAsyncWrite = 0x22200C;
inline constexpr uint32_t kIoctlIsochAllocateBandwidth = 0x222014;
inline constexpr uint32_t kIoctlIsochAllocateChannel = 0x222018;
inline constexpr uint32_t kIoctlIsochAllocateResources = 0x22201C;
inline constexpr uint32_t kIoctlIsochAttachBuffers = 0x222020;
inline constexpr uint32_t kIoctlIsochFreeBandwidth = 0x222028;
inline constexpr uint32_t kIoctlIsochFreeChannel = 0x22202C;
inline constexpr uint32_t kIoctlIsochFreeResources = 0x222030;
inline constexpr uint32_t kIoctlIsochStop = 0x222044;
inline constexpr uint32_t kIoctlGetNodeAddress = 0x222050;
inline constexpr uint32_t kIoctlBusResetNotify = 0x2220C8;
inline constexpr uint32_t kIoctlSetStartCommand = 0x2220F0;
inline constexpr uint32_t kIoctlCancelReceive = 0x2220F4;
inline constexpr uint32_t kIoctlSetFrameEvent = 0x2220F8;
inline constexpr uint32_t kIoctlGetReceiveStatus = 0x2220FC;
inline constexpr uint32_t kIoctlSetTriggerEvent = 0x222100;
inline constexpr uint32_t kIoctlMapBuffers = 0x222104;
inline constexpr uint32_t kIoctlSelectBuffer = 0x222108;

// Request sizes fixed by the driver.
inline constexpr uint32_t kAsyncRequestHeaderBytes = 36;
inline constexpr uint32_t kAsyncRequestSlackBytes = 4;  // the length given is 40 + n
inline constexpr uint32_t kNodeAddressBytes = 8;
inline constexpr uint32_t kEventRegistrationBytes = 8;
inline constexpr uint32_t kMapBuffersBytes = 24;
inline constexpr uint32_t kStartCommandBytes = 20;
inline constexpr uint32_t kBandwidthBytes = 24;
inline constexpr uint32_t kChannelBytes = 16;
inline constexpr uint32_t kResourceBytes = 40;
inline constexpr uint32_t kAttachBytes = 64;
inline constexpr uint32_t kStopBytes = 16;
inline constexpr uint32_t kReceiveStatusBytes = 48;
inline constexpr uint32_t kSpeedS400 = 4;
inline constexpr uint32_t kAnyChannel = 0xFFFFFFFF;

}  // namespace kqfw
