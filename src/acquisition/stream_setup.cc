#include "acquisition/stream_setup.h"

#include <algorithm>
#include <mutex>

#include "acquisition/sample_expansion.h"
#include "camera/settings_rules.h"
#include "kqfw/kqfw.h"
#include "platform/clock.h"
#include "platform/error_report.h"
#include "transport/async_request.h"
#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kResourceFlags = 9;
constexpr uint32_t kQuadletsToStrip = 1;
constexpr uint32_t kLargeFrameBytes = 1024000;
constexpr uint32_t kLargeBufferBytes = 512000;
constexpr uint32_t kCancelAttempts = 100;
constexpr uint32_t kCancelRetryMs = 10;

constexpr uint32_t kStartBit = 0x00000080;  // arrives byte-reversed: bit 31
constexpr uint32_t kMultiShotValue3 = 0x04002940;
constexpr uint32_t kMultiShotValue4Mono = 0x04000B40;
constexpr uint32_t kMultiShotValue4Colour = 0x10003340;
constexpr uint32_t kMultiShotValue5Mono = 0x09001540;
constexpr uint32_t kMultiShotValue5Colour = 0x24005540;
constexpr uint32_t kMultiShotValue6Colour = 0x09001540;
constexpr uint32_t kTriggerBits3 = 0x04290000;
constexpr uint32_t kTriggerBits4Mono = 0x040B0000;
constexpr uint32_t kTriggerBits4Colour = 0x10330000;
constexpr uint32_t kTriggerBits5Mono = 0x09150000;
constexpr uint32_t kTriggerBits5Colour = 0x24550000;
constexpr uint32_t kTriggerBits6Colour = 0x09150000;
constexpr uint32_t kTriggerOverlapped = 0xFF000000;
constexpr uint32_t kTriggerPositive = 3;
constexpr uint32_t kTriggerNegative = 2;
constexpr uint32_t kSingleWaitDivisor = 800;
constexpr uint32_t kSingleWaitMarginMs = 3000;

constexpr uint32_t kApplyStart = 0x40000000;
constexpr uint32_t kApplyBusy = 0x40000000;
constexpr uint32_t kApplyRefused = 0x00800000;
constexpr uint32_t kModeBitSingle = 0x400;
constexpr uint32_t kModeBitsBlooming = 0xC0;
constexpr uint32_t kFlagContinuousReadout = 0x1000000;
constexpr uint32_t kShutterManual = 0x2000000;
constexpr uint32_t kShutterLowMask = 0xFFF;
constexpr uint32_t kMaxSequenceUnits = 4095;
constexpr uint32_t kReadoutValid = 0x10000000;
constexpr uint32_t kReadoutMask = 0x0FFFFFFF;
constexpr int kReadoutRetries = 5;
constexpr uint32_t kReadoutPollMs = 5;
constexpr uint32_t kMaxFrameTiming = 4095;
constexpr uint32_t kCodingPacked = 0x85000000;
constexpr uint32_t kCoding8 = 0x80000000;
constexpr uint32_t kCoding16 = 0x05000000;
constexpr uint32_t kFormat7 = 0xE0000000;
constexpr uint32_t kMode0 = 0;
constexpr uint32_t kChannelSpeedS400 = 0x2000000;

uint32_t request(const CameraContext& c, uint32_t code, void* buffer, uint32_t bytes,
                 bool answer = true) {
    if (c.link.deviceHandle == kInvalidDeviceHandle) {
        return kErrorInvalidHandle;
    }
    uint32_t returned = 0;
    return driver().ioControl(c.link.deviceHandle, code, buffer, bytes, answer ? buffer : nullptr,
                              answer ? bytes : 0, &returned);
}

// Register helpers with the set-up's statuses: a failed write is 27, a failed read 20.
uint32_t writeRegister(const CameraContext& c, uint32_t address, uint32_t value) {
    return writeQuadlet(c.link, address, value) != 0 ? KQFW_STATUS_WRITE_FAILED : 0;
}

uint32_t readRegister(const CameraContext& c, uint32_t address, uint32_t* value) {
    return readQuadlet(c.link, address, value) != 0 ? KQFW_STATUS_READ_FAILED : 0;
}

uint32_t unlock(const CameraContext& c) {
    return unlockAdvancedRegisters(c.link) != 0 ? KQFW_STATUS_WRITE_FAILED : 0;
}

// Reads a handshake register until its busy bit clears: 0, 20, or 8 when the camera refused.
uint32_t waitHandshake(const CameraContext& c, uint32_t address) {
    for (;;) {
        uint32_t value = 0;
        if (readRegister(c, address, &value) != 0) {
            return KQFW_STATUS_READ_FAILED;
        }
        if (value & kApplyRefused) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        if ((value & kApplyBusy) == 0) {
            return 0;
        }
        sleepMs(1);
    }
}

// The start of a multi-shot series (indexes 3 to 6) per model: the one-shot register's value
// and, with the hardware trigger, the bits ORed into the trigger mode. Zero: not on this model.
struct MultiShotStart {
    uint32_t mono, colour, monoTrigger, colourTrigger;
};
constexpr MultiShotStart kMultiShotStarts[] = {
    {kMultiShotValue3, kMultiShotValue3, kTriggerBits3, kTriggerBits3},
    {kMultiShotValue4Mono, kMultiShotValue4Colour, kTriggerBits4Mono, kTriggerBits4Colour},
    {kMultiShotValue5Mono, kMultiShotValue5Colour, kTriggerBits5Mono, kTriggerBits5Colour},
    {0, kMultiShotValue6Colour, 0, kTriggerBits6Colour},
};

// 0, or 21 for a series the model does not take.
uint32_t multiShotStart(const CameraContext& c, bool trigger, uint32_t* value) {
    const MultiShotStart& s = kMultiShotStarts[c.resolutionIndex - 3];
    const bool mono = c.link.isMono != 0;
    *value = trigger ? (mono ? s.monoTrigger : s.colourTrigger) : (mono ? s.mono : s.colour);
    return *value == 0 ? KQFW_STATUS_START_REFUSED : 0;
}

uint32_t programSequence(CameraContext& c, bool* sequenceActive) {
    const uint32_t adv = c.link.advancedBase;
    *sequenceActive = false;
    if (c.streaming == 0 || c.calibrationCapture != 0) {
        if (uint32_t s = writeRegister(c, adv + kAdvSequenceA, 0)) {
            return s;
        }
        return writeRegister(c, adv + kAdvSequenceB, 0);
    }
    auto q = [&](uint32_t x) { return std::min(x / c.exposureStep, kMaxSequenceUnits); };
    const uint32_t* seq = c.exposureSequence;
    if (uint32_t s = writeRegister(c, adv + kAdvSequenceA, (q(seq[0]) << 16) + q(seq[1]))) {
        return s;
    }
    if (uint32_t s = writeRegister(c, adv + kAdvSequenceB, (q(seq[2]) << 16) + q(seq[3]))) {
        return s;
    }
    *sequenceActive = seq[0] != 0;
    return 0;
}

// The frame timing register follows the camera's readout time plus the frame delay, or the
// frame time the application set.
uint32_t programFrameTiming(CameraContext& c, bool sequenceActive) {
    const uint32_t adv = c.link.advancedBase;
    if (c.frameTimeMode == 0 && !sequenceActive) {
        uint32_t r = 0;
        if (uint32_t s = readRegister(c, adv + kAdvReadoutStreaming, &r)) {
            return s;
        }
        const uint32_t readout = adv + (c.streaming ? kAdvReadoutStreaming : kAdvReadoutSingle);
        if (uint32_t s = readRegister(c, readout, &r)) {
            return s;
        }
        for (int retry = 0; (r & kReadoutValid) == 0; ++retry) {
            if (retry == kReadoutRetries) {
                return KQFW_STATUS_READ_FAILED;
            }
            sleepMs(kReadoutPollMs);
            if (uint32_t s = readRegister(c, readout, &r)) {
                return s;
            }
        }
        const uint32_t t = r & kReadoutMask;
        if (t < kMaxFrameTiming) {
            if (uint32_t s = unlock(c)) {
                return s;
            }
            const uint32_t timing =
                c.frameDelay != 0 ? std::min(c.frameDelay + t, kMaxFrameTiming) : 0;
            if (uint32_t s = writeRegister(c, adv + kAdvFrameTiming, timing)) {
                return s;
            }
            if (uint32_t s = ApplyAdvancedSettings(c)) {
                return s;
            }
        }
        c.settingsChanged = 0;
    }
    if (c.settingsChanged != 0 && c.frameTimeMode != 0) {
        if (uint32_t s = unlock(c)) {
            return s;
        }
        if (uint32_t s =
                writeRegister(c, adv + kAdvFrameTiming, std::min(c.frameTime, kMaxFrameTiming))) {
            return s;
        }
        if (uint32_t s = ApplyAdvancedSettings(c)) {
            return s;
        }
        c.settingsChanged = 0;
    }
    return 0;
}

// Region, binning, acquisition mode, shutter, sequence and coding: the camera's side.
uint32_t programCamera(CameraContext& c, const Rect& rect, uint32_t b, uint32_t e,
                       uint32_t singleShot) {
    const uint32_t adv = c.link.advancedBase, cmd = c.link.commandBase;
    const uint32_t f7 = c.format7Modes[0].csrAddress;
    if (uint32_t s = unlock(c)) {
        return s;
    }
    uint32_t v = 0;
    if (uint32_t s = readRegister(c, adv + kAdvModeBits, &v)) {
        return s;
    }
    v = c.streaming == 0 ? v | kModeBitSingle : v & ~kModeBitSingle;
    v = (v & ~kModeBitsBlooming) | ((c.bloomingVoltage * 4) & kModeBitsBlooming);
    if (uint32_t s = writeRegister(c, adv + kAdvModeBits, v)) {
        return s;
    }
    const uint32_t binning = c.link.isMono ? (b << 24) + (b << 16) : (b << 16) + 0x1000000;
    const uint32_t left = static_cast<uint32_t>(rect.left), top = static_cast<uint32_t>(rect.top);
    const uint32_t width = static_cast<uint32_t>(rect.right - rect.left);
    const uint32_t height = static_cast<uint32_t>(rect.bottom - rect.top);
    for (auto [address, value] : {std::pair{adv + kAdvBinning, binning},
                                  std::pair{adv + kAdvRegionPosition, (left << 16) + top},
                                  std::pair{adv + kAdvRegionSize, (width << 16) + height}}) {
        if (uint32_t s = writeRegister(c, address, value)) {
            return s;
        }
    }
    if (uint32_t s = readRegister(c, adv + kAdvAcquisitionFlags, &v)) {
        return s;
    }
    v = singleShot != 0 ? v & ~kFlagContinuousReadout : v | kFlagContinuousReadout;
    if (uint32_t s = writeRegister(c, adv + kAdvAcquisitionFlags, v)) {
        return s;
    }
    if (uint32_t s = writeRegister(c, cmd + kCmdShutter, (e & kShutterLowMask) + kShutterManual)) {
        return s;
    }
    if (uint32_t s = writeRegister(c, adv + kAdvShutterHigh, e >> 12)) {
        return s;
    }
    bool sequenceActive = false;
    if (uint32_t s = programSequence(c, &sequenceActive)) {
        return s;
    }
    if (uint32_t s = ApplyAdvancedSettings(c)) {
        return s;
    }
    if (uint32_t s = waitHandshake(c, f7 + kF7ValueSetting)) {
        return s;
    }
    const uint32_t coding = packedCodingActive(c)       ? kCodingPacked
                            : compressedCodingActive(c) ? kCoding8
                                                        : kCoding16;
    if (uint32_t s = writeRegister(c, f7 + kF7ColorCoding, coding)) {
        return s;
    }
    if (c.settingsChanged != 0) {
        if (uint32_t s = programFrameTiming(c, sequenceActive)) {
            return s;
        }
    }
    if (uint32_t s = writeRegister(c, f7 + kF7ValueSetting, kApplyStart)) {
        return s;
    }
    if (uint32_t s = waitHandshake(c, f7 + kF7ValueSetting)) {
        return s;
    }
    if (uint32_t s = writeRegister(c, cmd + kCmdVideoFormat, kFormat7)) {
        return s;
    }
    if (uint32_t s = writeRegister(c, cmd + kCmdVideoMode, kMode0)) {
        return s;
    }
    if (uint32_t s = readRegister(c, f7 + kF7BytesPerPacket, &v)) {
        return s;
    }
    c.streamBytesPerPacket = v >> 16;
    return readRegister(c, f7 + kF7PacketsPerFrame, &c.streamPacketsPerFrame);
}

// What a set-up obtained from the bus, given back when a later step fails.
struct BusReservation {
    bool bandwidth = false, channel = false, resources = false;
};

void releaseReservation(CameraContext& c, const BusReservation& held) {
    uint8_t buffer[8] = {};
    if (held.resources) {
        storeLe64(buffer, c.streamResources);
        request(c, kIoctlIsochFreeResources, buffer, 8, false);
    }
    if (held.channel) {
        storeLe32(buffer, c.streamChannel);
        request(c, kIoctlIsochFreeChannel, buffer, 4, false);
    }
    if (held.bandwidth) {
        storeLe64(buffer, c.streamBandwidth);
        request(c, kIoctlIsochFreeBandwidth, buffer, 8, false);
    }
}

uint32_t reserveBus(CameraContext& c, BusReservation* held) {
    releaseUnreleased(c);
    uint8_t bandwidth[kBandwidthBytes] = {};
    storeLe32(bandwidth, c.streamBytesPerPacket);
    storeLe32(bandwidth + 4, kSpeedS400);
    if (request(c, kIoctlIsochAllocateBandwidth, bandwidth, kBandwidthBytes) != 0) {
        return KQFW_STATUS_BANDWIDTH;
    }
    c.streamBandwidth = loadLe64(bandwidth + 8);
    held->bandwidth = true;

    uint8_t channel[kChannelBytes] = {};
    storeLe32(channel, kAnyChannel);
    if (request(c, kIoctlIsochAllocateChannel, channel, kChannelBytes) != 0) {
        return KQFW_STATUS_CHANNEL;
    }
    c.streamChannel = loadLe32(channel + 4);
    held->channel = true;

    if (uint32_t s = writeRegister(c, c.link.commandBase + kCmdIsoChannel,
                                   (c.streamChannel << 28) + kChannelSpeedS400)) {
        return s;
    }
    const uint32_t frameBytes = frameBytesOf(c);
    const bool large = c.streaming != 0 || frameBytes > kLargeFrameBytes;
    uint8_t resources[kResourceBytes] = {};
    storeLe32(resources, kSpeedS400);
    storeLe32(resources + 4, kResourceFlags);
    storeLe32(resources + 8, c.streamChannel);
    storeLe32(resources + 12, c.streamBytesPerPacket);
    storeLe32(resources + 16, large ? 3 : 2);
    storeLe32(resources + 20, large ? kLargeBufferBytes : frameBytes);
    storeLe32(resources + 24, kQuadletsToStrip);
    if (request(c, kIoctlIsochAllocateResources, resources, kResourceBytes) != 0) {
        return KQFW_STATUS_RESOURCES;
    }
    c.streamResources = loadLe64(resources + 32);
    held->resources = true;
    return 0;
}

}  // namespace

void releaseUnreleased(CameraContext& c) {
    uint8_t buffer[8] = {};
    if (c.unreleased.resources) {
        storeLe64(buffer, c.unreleased.resourcesHandle);
        c.unreleased.resources = request(c, kIoctlIsochFreeResources, buffer, 8, false) != 0;
    }
    if (c.unreleased.channel) {
        storeLe32(buffer, c.unreleased.channelNumber);
        c.unreleased.channel = request(c, kIoctlIsochFreeChannel, buffer, 4, false) != 0;
    }
    if (c.unreleased.bandwidth) {
        storeLe64(buffer, c.unreleased.bandwidthHandle);
        c.unreleased.bandwidth = request(c, kIoctlIsochFreeBandwidth, buffer, 8, false) != 0;
    }
}

uint32_t frameBytesOf(const CameraContext& c) {
    return c.streamBytesPerPacket * c.streamPacketsPerFrame;
}

uint32_t ringSlotBytes(const CameraContext& c) {
    return ringSlotBytes(frameBytesOf(c));
}

uint32_t ArmStartCommand(CameraContext& c, uint32_t e) {
    uint32_t address = c.link.commandBase + kCmdOneShot;
    uint32_t value = kStartBit;
    uint32_t wait = 0;
    const bool multiShot = c.resolutionIndex >= 3 && c.resolutionIndex <= 6;
    // The trigger switches have no busy test: what the stops and the tear-down undo is what the
    // camera was armed with, not what the switch says now.
    c.streamTrigger = c.hardwareTrigger;
    if (c.hardwareTrigger != 0) {
        uint32_t bits = c.streaming != 0 && c.overlappedTrigger != 0 ? kTriggerOverlapped : 0;
        if (multiShot && multiShotStart(c, true, &bits) != 0) {
            return KQFW_STATUS_START_REFUSED;
        }
        address = c.link.commandBase + kCmdTriggerMode;
        value = (c.triggerPolarity ? kTriggerPositive : kTriggerNegative) | bits;
    } else if (multiShot) {
        if (multiShotStart(c, false, &value) != 0) {
            return KQFW_STATUS_START_REFUSED;
        }
    } else if (c.streaming != 0) {
        address = c.link.commandBase + kCmdIsoEnable;
    } else {
        wait = c.exposureStep * e / kSingleWaitDivisor + kSingleWaitMarginMs;
    }
    uint8_t start[kStartCommandBytes] = {};
    storeLe32(start, value);
    storeLe32(start + 4, wait);
    storeLe16(start + 8, c.link.nodeId());
    storeLe16(start + 12, kRegisterSpaceHigh);
    storeLe32(start + 16, address);
    return request(c, kIoctlSetStartCommand, start, kStartCommandBytes, false) != 0
               ? KQFW_STATUS_START_REFUSED
               : 0;
}

uint32_t ApplyAdvancedSettings(CameraContext& c) {
    const uint32_t apply = c.link.advancedBase + kAdvApply;
    if (uint32_t s = writeRegister(c, apply, kApplyStart)) {
        return s;
    }
    if (uint32_t s = waitHandshake(c, apply)) {
        return s;
    }
    return writeRegister(c, c.link.advancedBase + kAdvAccessCode, kAccessLock);
}

uint32_t SetupStream(CameraContext& c, const Rect& rect, uint32_t b, uint32_t e,
                     uint32_t singleShot) {
    const int64_t unit = 2 * int64_t{b};
    const int64_t minimum = 16 * int64_t{b};
    if (b == 0 || rect.left % unit != 0 || rect.top % unit != 0 || rect.right % unit != 0 ||
        rect.bottom % unit != 0 || int64_t{rect.bottom} - rect.top < minimum ||
        int64_t{rect.right} - rect.left < minimum || rect.top < 0 || rect.left < 0 ||
        rect.bottom > static_cast<int64_t>(c.sensorHeight) ||
        rect.right > static_cast<int64_t>(c.sensorWidth)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    if (ArmStartCommand(c, e) != 0) {
        return KQFW_STATUS_START_REFUSED;
    }
    if (uint32_t s = programCamera(c, rect, b, e, singleShot)) {
        return s;
    }
    BusReservation held;
    uint32_t status = reserveBus(c, &held);
    uint32_t position = 0, size = 0;
    const uint32_t f7 = c.format7Modes[0].csrAddress;
    if (status == 0) {
        status = readRegister(c, f7 + kF7ImagePosition, &position);
    }
    if (status == 0) {
        status = readRegister(c, f7 + kF7ImageSize, &size);
    }
    if (status != 0) {
        releaseReservation(c, held);
        return status;
    }
    c.streamReady = 1;
    c.streamExposureUnits = e;
    const int32_t x = static_cast<int32_t>(position >> 16),
                  y = static_cast<int32_t>(position & 0xFFFF);
    c.deliveredRect = {x, y, x + static_cast<int32_t>(size >> 16),
                       y + static_cast<int32_t>(size & 0xFFFF)};
    return 0;
}

uint32_t GetBuffer(CameraContext& c, void* buffer) {
    if (c.streamReady == 0) {
        reportError("getbuffer error");
        return 0;
    }
    uint8_t select[4] = {};
    storeLe32(select, buffer != c.streamBuffer ? 1 : 0);
    if (request(c, kIoctlSelectBuffer, select, 4, false) != 0) {
        return KQFW_STATUS_RECEIVE_FAILED;
    }
    const uint32_t frameBytes = frameBytesOf(c);
    const uint32_t count = c.streaming != 0 ? kRingSlots : 1;
    uint8_t attach[kAttachBytes] = {};
    storeLe64(attach, c.streamResources);
    storeLe32(attach + 8, count);
    storeLe32(attach + 12, ringSlotBytes(c) * (count - 1) + frameBytes);
    storeLe32(attach + 24, 1);
    storeLe32(attach + 28, frameBytes);
    storeLe32(attach + 32, c.streamBytesPerPacket);
    storeLe32(attach + 36, 1);
    storeLe32(attach + 48, 1);
    storeLe32(attach + 52, 1);
    return request(c, kIoctlIsochAttachBuffers, attach, kAttachBytes, false) != 0
               ? KQFW_STATUS_RECEIVE_FAILED
               : 0;
}

uint32_t CleanupStream(CameraContext& c) {
    uint8_t buffer[kStopBytes] = {};
    storeLe64(buffer, c.streamResources);
    if (request(c, kIoctlIsochStop, buffer, kStopBytes, false) != 0) {
        return KQFW_STATUS_STOP_FAILED;
    }
    if (c.streamReady == 0) {
        reportError("cleanup error");
        return 0;
    }
    c.streamReady = 0;
    // A failed release ends the tear-down with its status; what is still held is kept for
    // releaseUnreleased.
    auto keep = [&c](bool resources, bool channel) {
        c.unreleased.resources |= resources;
        if (resources) {
            c.unreleased.resourcesHandle = c.streamResources;
        }
        c.unreleased.channel |= channel;
        if (channel) {
            c.unreleased.channelNumber = c.streamChannel;
        }
        c.unreleased.bandwidth = true;
        c.unreleased.bandwidthHandle = c.streamBandwidth;
    };
    storeLe64(buffer, c.streamResources);
    if (request(c, kIoctlIsochFreeResources, buffer, 8, false) != 0) {
        keep(true, true);
        return KQFW_STATUS_RESOURCES;
    }
    storeLe32(buffer, c.streamChannel);
    if (request(c, kIoctlIsochFreeChannel, buffer, 4, false) != 0) {
        keep(false, true);
        return KQFW_STATUS_CHANNEL;
    }
    storeLe64(buffer, c.streamBandwidth);
    if (request(c, kIoctlIsochFreeBandwidth, buffer, 8, false) != 0) {
        keep(false, false);
        return KQFW_STATUS_BANDWIDTH;
    }
    if (c.streamTrigger != 0) {
        return writeRegister(c, c.link.commandBase + kCmdTriggerMode, 0);
    }
    return 0;
}

uint32_t ChangeExposure(CameraContext& c, uint32_t e) {
    if (uint32_t s = ArmStartCommand(c, e)) {
        return s;
    }
    if (uint32_t s = unlock(c)) {
        return s;
    }
    if (uint32_t s = writeRegister(c, c.link.advancedBase + kAdvShutterHigh, e >> 12)) {
        return s;
    }
    if (ApplyAdvancedSettings(c) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    const uint32_t status =
        writeRegister(c, c.link.commandBase + kCmdShutter, (e & kShutterLowMask) + kShutterManual);
    if (status == 0) {
        c.streamExposureUnits = e;
    }
    return status;
}

uint32_t WriteQuadletOnHandle(const CameraContext& c, DeviceHandle handle, uint32_t address) {
    return writeZeroQuadletOnHandle(c.link, handle, address);
}

DeviceHandle openSecondHandle(const CameraContext& c) {
    uint32_t error = 0;
    return driver().open(c.link.devicePath, false, &error);
}

void closeSecondHandle(DeviceHandle handle) {
    if (handle != kInvalidDeviceHandle) {
        driver().close(handle);
    }
}

uint32_t cancelReceiveOn(DeviceHandle handle) {
    uint32_t returned = 0;
    return driver().ioControl(handle, kIoctlCancelReceive, nullptr, 0, nullptr, 0, &returned);
}

uint32_t stopIsochOn(const CameraContext& c, DeviceHandle handle) {
    uint8_t buffer[kStopBytes] = {};
    storeLe64(buffer, c.streamResources);
    uint32_t returned = 0;
    return driver().ioControl(handle, kIoctlIsochStop, buffer, kStopBytes, nullptr, 0, &returned);
}

void cancelPendingReceive(const CameraContext& c, DeviceHandle handle) {
    for (uint32_t attempt = 0; attempt < kCancelAttempts && c.busy != 0; ++attempt) {
        if (cancelReceiveOn(handle) == 0) {
            return;
        }
        sleepMs(kCancelRetryMs);
    }
}

bool queryReceiveStatus(DeviceHandle handle, ReceiveStatus* status) {
    uint8_t reply[kReceiveStatusBytes] = {};
    uint32_t returned = 0;
    if (driver().ioControl(handle, kIoctlGetReceiveStatus, nullptr, 0, reply, kReceiveStatusBytes,
                           &returned) != 0) {
        return false;
    }
    decodeReceiveStatus(reply, status);
    return true;
}

int32_t newestFrameOn(DeviceHandle handle, int32_t previous) {
    ReceiveStatus status;
    status.newest = previous;
    queryReceiveStatus(handle, &status);
    return status.newest;
}

uint32_t SetupStreamUnlessReady(CameraContext& c, uint32_t singleShot) {
    std::lock_guard lock(c.registerLock);
    if (c.streamReady != 0) {
        if (c.applicationStream != 0) {
            reportError("Setup error");
            return KQFW_STATUS_OK;
        }
        // A stream whose tear-down the driver refused is of earlier settings: its frames would
        // be processed and sized with today's. It goes first.
        if (const uint32_t status = CleanupStream(c)) {
            return status;
        }
    }
    return SetupStream(c, c.imageRect, c.binning, c.exposureTime / c.exposureStep, singleShot);
}

uint32_t ProbeStream(CameraContext& c, const char* operation) {
    const uint32_t streaming = c.streaming;
    c.streaming = 1;
    const uint32_t status = SetupStreamUnlessReady(c, 0);
    c.streaming = streaming;
    if (status != 0) {
        reportError("(%d)%s error %d", static_cast<int>(c.cameraIndex), operation,
                    static_cast<int>(status));
        return status;
    }
    std::lock_guard lock(c.registerLock);
    CleanupStream(c);
    return KQFW_STATUS_OK;
}

}  // namespace kqfw
