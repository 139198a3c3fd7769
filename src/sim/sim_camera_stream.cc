// The camera's streaming side: region, binning and colour coding, the apply and value-setting
// handshakes, frame timing, and the acquisitions the start registers begin.
#include <algorithm>

#include "sim/sim_camera.h"
#include "sim/sim_flash_image.h"
#include "sim/sim_piezo.h"
#include "transport/register_map.h"

namespace kqfw::sim {

namespace {

constexpr uint32_t kBusyBit = 0x40000000;
constexpr uint32_t kErrorBit = 0x00800000;
constexpr uint32_t kValidBit = 0x10000000;
constexpr uint32_t kOneShotBit = 0x80000000;
constexpr uint32_t kMultiShotBit = 0x40000000;
constexpr uint32_t kIsoOnBit = 0x80000000;
constexpr uint32_t kTriggerOnBit = 0x02000000;
constexpr uint32_t kMaxPacketBytes = 4096;  // S400
constexpr auto kCycle = std::chrono::microseconds(125);
constexpr auto kHandshakeTime = std::chrono::microseconds(300);
// Sensor timing: a 20 MHz pixel clock, 12 us per row besides, 2 us per dumped row.
constexpr auto kPixelTime = std::chrono::nanoseconds(50);
constexpr auto kLineOverhead = std::chrono::microseconds(12);
constexpr auto kDumpedRowTime = std::chrono::microseconds(2);
constexpr uint32_t kAdvBinning = 0x104;
constexpr uint32_t kAdvRegionPosition = 0x110;
constexpr uint32_t kAdvRegionSize = 0x114;
constexpr uint32_t kAdvFramePeriod = 0x3C;
constexpr uint32_t kAdvStreamPeriod = 0x40;
constexpr uint32_t kAdvFrameTiming = 0x44;
constexpr uint32_t kAdvSequence23 = 0x48;
constexpr uint32_t kAdvSequence45 = 0x4C;

struct ShiftTable {
    uint32_t pattern;
    bool mono;
    uint32_t offset;  // within the calibration block
    uint32_t entries;
};

// Which table of the calibration block a shift pattern reads.
constexpr ShiftTable kShiftTables[] = {
    {0x0B, true, 10, 4},  {0x15, true, 20, 9},   {0x15, false, 20, 9},
    {0x29, false, 40, 4}, {0x33, false, 50, 16}, {0x55, false, 84, 36},
};

}  // namespace

bool SimCamera::shotOffset(uint32_t pattern, uint32_t shot, double* dx, double* dy) const {
    for (const ShiftTable& t : kShiftTables) {
        if (t.pattern == pattern && t.mono == isMono() && shot < t.entries) {
            const uint8_t* entry = &flash_[kSimCalibrationAddress + t.offset + 2 * shot];
            *dx = piezoOffset(entry[0], isMono());
            *dy = piezoOffset(255 - entry[1], isMono());
            return true;
        }
    }
    return false;
}

Clock::duration SimCamera::unitTime() const {
    const auto unit = geometry_.coding == kCodingPacked12 ? std::chrono::microseconds(200)
                                                          : std::chrono::microseconds(400);
    return std::chrono::duration_cast<Clock::duration>(unit * timeScale_);
}

uint32_t SimCamera::exposureUnits(uint32_t frame) const {
    auto reg = [this](uint32_t address) {
        auto it = registers_.find(address);
        return it == registers_.end() ? 0u : it->second;
    };
    const uint32_t base = (reg(kSimCommandBase + kCmdShutter) & 0xFFF) +
                          ((reg(kSimAdvancedBase + kAdvShutterHigh) & 0x7FFF) << 12);
    if (capture_.mode != Capture::Mode::kContinuous) {
        return base;
    }
    // A streaming exposure sequence cycles through the base and up to four more exposures.
    const uint32_t s23 = reg(kSimAdvancedBase + kAdvSequence23);
    const uint32_t s45 = reg(kSimAdvancedBase + kAdvSequence45);
    const uint32_t sequence[5] = {base, s23 >> 16, s23 & 0xFFFF, s45 >> 16, s45 & 0xFFFF};
    uint32_t length = 1;
    while (length < 5 && sequence[length] != 0) {
        ++length;
    }
    return sequence[frame % length];
}

// The interline sensor shifts every row of the region through its horizontal register, b rows
// at a time when binning, and dumps the rows outside the region at the fast vertical clock; a
// row costs a fixed overhead plus its binned pixels at the pixel clock. The frame then leaves
// on the bus one packet per cycle, so the slower of the two sets the readout.
Clock::duration SimCamera::sensorReadout() const {
    const StreamGeometry& g = geometry_;
    const uint32_t rowsRead = g.binY == 0 ? 0 : uint32_t(g.height) / g.binY;
    const uint32_t pixelsPerRow = g.binX == 0 ? 0 : uint32_t(g.width) / g.binX;
    const uint32_t rowsDumped = sensor_.height - std::min<uint32_t>(sensor_.height, g.height);
    const auto line = kLineOverhead + kPixelTime * pixelsPerRow;
    return line * rowsRead + kDumpedRowTime * rowsDumped;
}

uint32_t SimCamera::readoutUnits() const {
    const auto readout =
        std::max<Clock::duration>(sensorReadout(), kCycle * geometry_.packetsPerFrame);
    const auto unit = geometry_.coding == kCodingPacked12 ? std::chrono::microseconds(200)
                                                          : std::chrono::microseconds(400);
    return static_cast<uint32_t>((readout + unit - Clock::duration(1)) / unit);
}

Clock::duration SimCamera::frameTime(uint32_t frame) const {
    uint32_t units = exposureUnits(frame) + readoutUnits();
    if (capture_.mode == Capture::Mode::kContinuous) {
        auto it = registers_.find(kSimAdvancedBase + kAdvFrameTiming);
        units += it == registers_.end() ? 0 : (it->second & 0xFFF);
    }
    return unitTime() * units;
}

void SimCamera::applyAdvanced(Clock::time_point now) {
    applyBusyUntil_ =
        now + std::chrono::duration_cast<Clock::duration>(kHandshakeTime * timeScale_);
    const uint32_t binning = registers_[kSimAdvancedBase + kAdvBinning];
    const uint32_t position = registers_[kSimAdvancedBase + kAdvRegionPosition];
    const uint32_t size = registers_[kSimAdvancedBase + kAdvRegionSize];
    const uint32_t binX = binning >> 24, binY = (binning >> 16) & 0xFF;
    const uint32_t left = position >> 16, top = position & 0xFFFF;
    const uint32_t width = size >> 16, height = size & 0xFFFF;
    // A region the sensor does not have, or binning it cannot do, is refused.
    applyFailed_ = binX < 1 || binX > 5 || binY < 1 || binY > 5 || (!isMono() && binX != 1) ||
                   width == 0 || height == 0 || left + width > sensor_.width ||
                   top + height > sensor_.height || width % binX != 0 || height % binY != 0;
    // The readout time follows the region as soon as the camera took it, before the stream's
    // value setting fixes the transfer.
    if (!applyFailed_ && !geometry_.valid) {
        uint32_t coding = registers_[kSimModeBlockBase + kF7ColorCoding] >> 24;
        geometry_ = latchedGeometry(coding == 0 ? kCoding16 : coding);
    }
}

StreamGeometry SimCamera::latchedGeometry(uint32_t coding) const {
    auto reg = [this](uint32_t address) {
        auto it = registers_.find(address);
        return it == registers_.end() ? 0u : it->second;
    };
    StreamGeometry g;
    const uint32_t binning = reg(kSimAdvancedBase + kAdvBinning);
    const uint32_t position = reg(kSimAdvancedBase + kAdvRegionPosition);
    const uint32_t size = reg(kSimAdvancedBase + kAdvRegionSize);
    g.valid = true;
    g.binX = binning >> 24;
    g.binY = (binning >> 16) & 0xFF;
    g.left = static_cast<int32_t>(position >> 16);
    g.top = static_cast<int32_t>(position & 0xFFFF);
    g.width = static_cast<int32_t>(size >> 16);
    g.height = static_cast<int32_t>(size & 0xFFFF);
    g.coding = coding;
    g.deliveredWidth = g.width / g.binX;
    g.deliveredHeight = g.height / g.binY;
    g.payloadBytes = bytesForPixels(coding, uint64_t{g.deliveredWidth} * g.deliveredHeight);
    g.bytesPerPacket = std::min(kMaxPacketBytes, (g.payloadBytes + 3) / 4 * 4);
    g.packetsPerFrame = (g.payloadBytes + g.bytesPerPacket - 1) / g.bytesPerPacket;
    return g;
}

void SimCamera::valueSetting(Clock::time_point now) {
    valueBusyUntil_ =
        now + std::chrono::duration_cast<Clock::duration>(kHandshakeTime * timeScale_);
    const uint32_t csr = kSimModeBlockBase;
    const uint32_t coding = registers_[csr + kF7ColorCoding] >> 24;
    const bool codingKnown = coding == kCoding16 ||
                             (coding == kCodingPacked12 && config_.packingCapable) ||
                             (coding == kCoding8 && config_.compressionCapable);
    applyAdvanced(now);
    valueFailed_ = applyFailed_ || !codingKnown;
    if (valueFailed_) {
        geometry_.valid = false;
        return;
    }
    const StreamGeometry g = latchedGeometry(coding);
    geometry_ = g;
    registers_[csr + kF7ImagePosition] = ((g.left / g.binX) << 16) | (g.top / g.binY);
    registers_[csr + kF7ImageSize] = (g.deliveredWidth << 16) | g.deliveredHeight;
    registers_[csr + kF7TotalBytes] = g.bytesPerPacket * g.packetsPerFrame;
    registers_[csr + kF7BytesPerPacket] = (g.bytesPerPacket << 16) | kMaxPacketBytes;
    registers_[csr + kF7PacketsPerFrame] = g.packetsPerFrame;
}

uint32_t SimCamera::streamRegister(uint32_t offset, Clock::time_point now) const {
    auto reg = [this](uint32_t address) {
        auto it = registers_.find(address);
        return it == registers_.end() ? 0u : it->second;
    };
    switch (offset) {
        case kAdvApply:
            return (now < applyBusyUntil_ ? kBusyBit : 0) | (applyFailed_ ? kErrorBit : 0);
        case kAdvFramePeriod:
        case kAdvStreamPeriod: {
            if (!geometry_.valid) {
                return 0;
            }
            uint32_t units = exposureUnits(0) + readoutUnits();
            if (offset == kAdvStreamPeriod) {
                units += reg(kSimAdvancedBase + kAdvFrameTiming) & 0xFFF;
            }
            return kValidBit | (units & 0x0FFFFFFF);
        }
        default:
            return reg(kSimAdvancedBase + offset);
    }
}

uint32_t SimCamera::valueSettingRegister(Clock::time_point now) const {
    return (now < valueBusyUntil_ ? kBusyBit : 0) | (valueFailed_ ? kErrorBit : 0);
}

void SimCamera::startCapture(uint32_t address, uint32_t value, Clock::time_point now) {
    const uint32_t offset = address - kSimCommandBase;
    Capture c;
    if (offset == kCmdOneShot && (value & kOneShotBit)) {
        c.mode = Capture::Mode::kOneShot;
    } else if (offset == kCmdOneShot && (value & kMultiShotBit)) {
        c.mode = Capture::Mode::kMultiShot;
        c.shots = std::max(1u, value & 0xFFFF);
        c.pattern = (value >> 16) & 0xFF;
    } else if (offset == kCmdIsoEnable && (value & kIsoOnBit)) {
        c.mode = Capture::Mode::kContinuous;
    } else if (offset == kCmdTriggerMode && (value & kTriggerOnBit)) {
        c.mode = Capture::Mode::kTriggered;
        const uint32_t count = value & 0xFF;
        c.shots = count == 0 || count == 0xFF ? 1 : count;
        c.pattern = (value >> 8) & 0xFF;
        capture_ = c;
        return;
    } else {
        // Zero (or an unknown value) in a start register stops what that register started.
        const bool stops =
            (offset == kCmdOneShot && (capture_.mode == Capture::Mode::kOneShot ||
                                       capture_.mode == Capture::Mode::kMultiShot)) ||
            (offset == kCmdIsoEnable && capture_.mode == Capture::Mode::kContinuous) ||
            (offset == kCmdTriggerMode && capture_.mode == Capture::Mode::kTriggered);
        if (stops) {
            capture_ = Capture{};
        }
        return;
    }
    if (!geometry_.valid) {
        return;  // nothing set up to stream: the camera ignores the start
    }
    c.armed = true;
    capture_ = c;
    capture_.next = now + frameTime(0);
}

void SimCamera::triggerPulse(Clock::time_point now) {
    if (capture_.mode != Capture::Mode::kTriggered || !geometry_.valid) {
        return;
    }
    if (capture_.armed) {
        ++capture_.pendingTriggers;
        return;
    }
    capture_.armed = true;
    capture_.delivered = 0;
    capture_.next = now + frameTime(0);
}

bool SimCamera::nextFrame(Clock::time_point, PlannedFrame* frame) {
    if (capture_.mode == Capture::Mode::kIdle || !capture_.armed || !geometry_.valid) {
        return false;
    }
    const uint32_t shot = capture_.delivered;
    frame->due = capture_.next;
    frame->shot = shot;
    FrameRequest& r = frame->request;
    r.left = geometry_.left;
    r.top = geometry_.top;
    r.width = geometry_.width;
    r.height = geometry_.height;
    r.binX = geometry_.binX;
    r.binY = geometry_.binY;
    r.exposureMs = exposureUnits(shot) * (geometry_.coding == kCodingPacked12 ? 0.2 : 0.4);
    r.dx = r.dy = 0;
    if (capture_.pattern != 0) {
        shotOffset(capture_.pattern, shot, &r.dx, &r.dy);
    }
    r.illumination = illumination_ * (1.0 + drift_ * shot);
    r.frameNumber = framesPlanned_;
    frame->dropped = dropFrames_.count(framesPlanned_ + 1) != 0;
    if (delayFrame_ != 0 && framesPlanned_ + 1 == delayFrame_) {
        frame->due += std::chrono::milliseconds(delayMs_);
    }
    return true;
}

void SimCamera::frameDelivered(Clock::time_point now) {
    ++framesPlanned_;
    dropFrames_.erase(framesPlanned_);
    ++capture_.delivered;
    switch (capture_.mode) {
        case Capture::Mode::kOneShot:
            capture_ = Capture{};
            break;
        case Capture::Mode::kMultiShot:
            if (capture_.delivered >= capture_.shots) {
                capture_ = Capture{};
            } else {
                capture_.next += frameTime(capture_.delivered);
            }
            break;
        case Capture::Mode::kContinuous:
            capture_.next = std::max(capture_.next + frameTime(capture_.delivered), now);
            break;
        case Capture::Mode::kTriggered:
            if (capture_.delivered < capture_.shots) {
                capture_.next += frameTime(capture_.delivered);
            } else if (capture_.pendingTriggers > 0) {
                --capture_.pendingTriggers;
                capture_.delivered = 0;
                capture_.next = now + frameTime(0);
            } else {
                capture_.armed = false;
            }
            break;
        case Capture::Mode::kIdle:
            break;
    }
}

}  // namespace kqfw::sim
