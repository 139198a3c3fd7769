#pragma once

#include <cstdint>

namespace kqfw {

// Camera registers the library uses, as offsets from their block bases (all quadlets).
inline constexpr uint32_t kUniqueIdLow = 0xF0000410;
inline constexpr uint32_t kConfigRomRoot = 0xF0000424;
inline constexpr uint32_t kConfigRomDirectoryBase = 0xF0000430;
inline constexpr uint32_t kRegisterSpaceBase = 0xF0000000;

// Offsets from commandBase.
inline constexpr uint32_t kCmdInitialize = 0x000;
inline constexpr uint32_t kCmdFormat7ModeMask = 0x19C;
inline constexpr uint32_t kCmdFormat7ModeOffsets = 0x2E0;
inline constexpr uint32_t kCmdAdvancedOffset = 0x480;
inline constexpr uint32_t kCmdVideoMode = 0x604;
inline constexpr uint32_t kCmdVideoFormat = 0x608;
inline constexpr uint32_t kCmdIsoChannel = 0x60C;
inline constexpr uint32_t kCmdIsoEnable = 0x614;
inline constexpr uint32_t kCmdOneShot = 0x61C;
inline constexpr uint32_t kCmdShutter = 0x81C;
inline constexpr uint32_t kCmdGain = 0x820;
inline constexpr uint32_t kCmdTriggerMode = 0x830;
inline constexpr uint32_t kResetToDefaults = 0x80000000;

// Offsets from a Format_7 mode's csrAddress.
inline constexpr uint32_t kF7MaxSize = 0x00;
inline constexpr uint32_t kF7UnitSize = 0x04;
inline constexpr uint32_t kF7ImagePosition = 0x08;
inline constexpr uint32_t kF7ImageSize = 0x0C;
inline constexpr uint32_t kF7ColorCoding = 0x10;
inline constexpr uint32_t kF7Capabilities = 0x24;
inline constexpr uint32_t kF7TotalBytes = 0x3C;
inline constexpr uint32_t kF7BytesPerPacket = 0x44;
inline constexpr uint32_t kF7PacketsPerFrame = 0x48;
inline constexpr uint32_t kF7UnitPosition = 0x4C;
inline constexpr uint32_t kF7ValueSetting = 0x7C;
inline constexpr uint32_t kF7PackingCapableBit = 1u << 26;
inline constexpr uint32_t kF7CompressionCapableBit = 1u << 31;

// Offsets from advancedBase.
inline constexpr uint32_t kAdvAccessCode = 0x00;
inline constexpr uint32_t kAdvAccessMask = 0x04;
inline constexpr uint32_t kAdvFirmwareStart = 0x08;
inline constexpr uint32_t kAdvFirmwareVersion = 0x0C;
inline constexpr uint32_t kAdvShutterHigh = 0x14;
inline constexpr uint32_t kAdvShutterOutput2 = 0x18;
inline constexpr uint32_t kAdvShutterOutput1 = 0x1C;
inline constexpr uint32_t kAdvModeBits = 0x2C;
inline constexpr uint32_t kAdvAcquisitionFlags = 0x30;
inline constexpr uint32_t kAdvReadoutSingle = 0x3C;
inline constexpr uint32_t kAdvReadoutStreaming = 0x40;
inline constexpr uint32_t kAdvFrameTiming = 0x44;
inline constexpr uint32_t kAdvSequenceA = 0x48;
inline constexpr uint32_t kAdvSequenceB = 0x4C;
inline constexpr uint32_t kAdvFlashControl = 0x70;
inline constexpr uint32_t kAdvFlashWindow = 0x80;
inline constexpr uint32_t kAdvModeSizeWords = 0x10C;
inline constexpr uint32_t kAdvModeSizeStride = 32;
inline constexpr uint32_t kAdvBinning = 0x104;
inline constexpr uint32_t kAdvRegionPosition = 0x110;
inline constexpr uint32_t kAdvRegionSize = 0x114;
inline constexpr uint32_t kAdvApply = 0x11C;
inline constexpr uint32_t kAdvReadableLimit = 0x4C;

// The vendor-register access protocol.
inline constexpr uint32_t kAccessCode = 0x0007C2E5;
inline constexpr uint32_t kAccessMaskColour = 0x00000FFF;
inline constexpr uint32_t kAccessMaskMono = 0x00010FFF;
inline constexpr uint32_t kAccessLock = 0xFFFFFFFF;
inline constexpr uint32_t kLockedHighHalf = 0xFFFF;

// The flash controller.
inline constexpr uint32_t kFlashWriteBusy = 1u << 31;
inline constexpr uint32_t kFlashReadBusy = 1u << 30;
inline constexpr uint32_t kFlashError = 1u << 29;
inline constexpr uint32_t kFlashAltRead = 1u << 28;
inline constexpr uint32_t kFlashCommand = 1u << 27;
inline constexpr uint32_t kFlashAddressMask = (1u << 27) - 1;
inline constexpr uint32_t kFlashReadCommand = 0x48000000;
inline constexpr uint32_t kFlashAltReadCommand = 0x58000000;
inline constexpr uint32_t kFlashWriteCommand = 0x88000000;
inline constexpr uint32_t kFlashRecordAddress = 0x1D400;
inline constexpr uint32_t kFlashBlockBytes = 128;

}  // namespace kqfw
