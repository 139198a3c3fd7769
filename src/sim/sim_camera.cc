#include "sim/sim_camera.h"

#include <algorithm>

#include "sim/sim_flash_image.h"
#include "transport/async_request.h"
#include "transport/driver_port.h"
#include "transport/register_map.h"

namespace kqfw::sim {

namespace {

constexpr uint32_t kConfigRomFirst = 0xF0000400;
constexpr uint32_t kConfigRomLast = 0xF00004FC;
constexpr uint32_t kCommandBlockBytes = 0x1000;
constexpr uint32_t kAdvancedBlockBytes = 0x200;
constexpr uint32_t kRootDirectoryOffset = 4;  // quadlets from 0xF0000430
constexpr uint32_t kUnitDirectoryOffset = 2;  // quadlets from the first directory, less one
constexpr uint32_t kFirmwareStartValue = 0x40000000;

// A flash command keeps the controller busy for about as long as the part takes.
constexpr std::chrono::microseconds kFlashReadTime{800};
constexpr std::chrono::microseconds kFlashWriteTime{2500};
// The access mask's time-out field counts in units of 10 ms.
constexpr std::chrono::milliseconds kAccessTimeUnit{10};

// 1394 transactions to a register that does not exist, or that refuses a write.
constexpr uint32_t kErrorNoSuchAddress = kErrorGenFailure;
constexpr uint32_t kErrorWriteRefused = kErrorInvalidFunction;

uint32_t offsetWord(uint32_t address) {
    return (address - kRegisterSpaceBase) / 4;
}

uint32_t halves(uint32_t high, uint32_t low) {
    return (high << 16) | (low & 0xFFFF);
}

}  // namespace

SimCamera::SimCamera(const KqsimCameraConfig& config, std::string path, uint16_t nodeNumber)
    : config_(config), path_(std::move(path)), nodeNumber_(nodeNumber) {
    // The config's pointers belong to the caller; keep only what the flash holds of them.
    flash_ = buildFlashImage(config_, kSimFlashBytes);
    factoryPage_ = flash_;
    sensor_.mono = isMono();
    sensor_.width = config_.maxWidth / 4 * 4;
    sensor_.height = config_.maxHeight / 4 * 4;
    sensor_.seed = config_.uniqueIdLow * 2654435761u + 1;
    if (config_.flashRecord == nullptr && config_.blemishPositions != nullptr) {
        sensor_.blemishes.assign(config_.blemishPositions,
                                 config_.blemishPositions + config_.blemishCount);
    }
    config_.instance = nullptr;
    config_.blemishPositions = config_.markedPixelPositions = nullptr;
    config_.markedPixelCodes = config_.flashRecord = config_.calibrationBlock = nullptr;
    powerUp();
}

// The power-up state of every register that holds a value.
void SimCamera::powerUp() {
    registers_.clear();
    const uint32_t cmd = kSimCommandBase;
    registers_[cmd + kCmdGain] = 0x02000000 | (config_.gain & 0xFFF);
    registers_[cmd + kCmdShutter] = 0x02000000 | 500;
    registers_[cmd + kCmdIsoEnable] = 0;
    registers_[cmd + kCmdOneShot] = 0;
    registers_[cmd + kCmdTriggerMode] = 0;
    registers_[cmd + kCmdVideoMode] = 0;
    registers_[cmd + kCmdVideoFormat] = 7u << 29;
    for (int m = 0; m < 8; ++m) {
        if (config_.modeMask & (1u << (31 - m))) {
            const uint32_t csr = kSimModeBlockBase + kSimModeBlockStride * m;
            registers_[csr + kF7ImagePosition] = 0;
            registers_[csr + kF7ImageSize] = halves(config_.maxWidth, config_.maxHeight);
            registers_[csr + kF7ColorCoding] = 0x85u << 24;
            // 12-bit packed full frames until a stream asks for something else.
            const uint32_t total = config_.maxWidth * config_.maxHeight * 3 / 2;
            registers_[csr + kF7TotalBytes] = total;
            registers_[csr + kF7BytesPerPacket] = halves(4096, 4096);
            registers_[csr + kF7PacketsPerFrame] = (total + 4095) / 4096;
            registers_[csr + kF7ValueSetting] = 0;
        }
    }
    for (uint32_t offset = 0x10; offset <= kAdvReadableLimit; offset += 4) {
        registers_[kSimAdvancedBase + offset] = 0;
    }
    for (uint32_t offset : {0x104u, 0x110u, 0x114u, 0x11Cu}) {
        registers_[kSimAdvancedBase + offset] = 0;
    }
    codeAccepted_ = false;
    accessOpen_ = false;
    capture_ = Capture{};
    geometry_ = StreamGeometry{};
    applyFailed_ = valueFailed_ = false;
}

void SimCamera::logWrite(uint32_t address, uint32_t value) {
    // A program that never resets the bench must not grow: the log keeps the newest writes.
    if (writeLog_.size() == kWriteLogCapacity) {
        writeLog_.pop_front();
        ++writesDropped_;
    }
    writeLog_.emplace_back(address, value);
}

SimCamera::Block SimCamera::blockOf(uint32_t address, int* mode) const {
    if (address % 4 != 0) {
        return Block::kNone;
    }
    if (address >= kConfigRomFirst && address <= kConfigRomLast) {
        return Block::kConfigRom;
    }
    if (address >= kSimCommandBase && address < kSimCommandBase + kCommandBlockBytes) {
        return Block::kCommand;
    }
    if (address >= kSimAdvancedBase && address < kSimAdvancedBase + kAdvancedBlockBytes) {
        return Block::kAdvanced;
    }
    for (int m = 0; m < 8; ++m) {
        const uint32_t csr = kSimModeBlockBase + kSimModeBlockStride * m;
        if ((config_.modeMask & (1u << (31 - m))) && address >= csr &&
            address < csr + kSimModeBlockStride) {
            *mode = m;
            return Block::kMode;
        }
    }
    return Block::kNone;
}

Clock::duration SimCamera::scaled(std::chrono::microseconds real) const {
    return std::chrono::duration_cast<Clock::duration>(real * timeScale_);
}

bool SimCamera::unlocked(Clock::time_point now) const {
    return accessOpen_ && now < accessUntil_;
}

uint32_t SimCamera::flashControlValue(Clock::time_point now) const {
    uint32_t value = flashCommand_ & ~(kFlashWriteBusy | kFlashReadBusy);
    if (now < flashBusyUntil_) {
        value |= flashCommand_ & (kFlashWriteBusy | kFlashReadBusy);
    }
    if (flashFailed_) {
        value |= kFlashError;
    }
    return value;
}

void SimCamera::startFlashCommand(uint32_t command, Clock::time_point now) {
    flashCommand_ = command & ~kFlashError;
    flashFailed_ = false;
    const uint32_t address = command & kFlashAddressMask;
    const bool write = command & kFlashWriteBusy;
    const bool read = command & kFlashReadBusy;
    if (flashErrorForced_ || (command & kFlashCommand) == 0 || write == read ||
        address + sizeof window_ > flash_.size()) {
        flashFailed_ = true;
        return;
    }
    if (write) {
        std::copy(window_, window_ + sizeof window_, flash_.begin() + address);
        flashBusyUntil_ = now + scaled(kFlashWriteTime);
    } else {
        const std::vector<uint8_t>& page = (command & kFlashAltRead) ? factoryPage_ : flash_;
        std::copy(page.begin() + address, page.begin() + address + sizeof window_, window_);
        flashBusyUntil_ = now + scaled(kFlashReadTime);
    }
}

bool SimCamera::peek(uint32_t address, uint32_t* value, Clock::time_point now) {
    // Reads have no side effects and are never locked out, so a peek is a read off the bus.
    return readQuadlet(address, value, now) == 0;
}

uint32_t SimCamera::readQuadlet(uint32_t address, uint32_t* value, Clock::time_point now) {
    int mode = 0;
    switch (blockOf(address, &mode)) {
        case Block::kNone:
            return kErrorNoSuchAddress;
        case Block::kConfigRom:
            if (address == kUniqueIdLow) {
                *value = config_.uniqueIdLow;
            } else if (address == kUniqueIdLow - 4) {
                *value = config_.uniqueIdHigh;
            } else if (address == kConfigRomRoot) {
                *value = 0xD1000000 | kRootDirectoryOffset;
            } else if (address == kConfigRomDirectoryBase + 4 * kRootDirectoryOffset) {
                *value = 0xD1000000 | kUnitDirectoryOffset;
            } else if (address == kConfigRomDirectoryBase + 4 * kRootDirectoryOffset +
                                      4 * kUnitDirectoryOffset + 4) {
                *value = 0x40000000 | offsetWord(kSimCommandBase);
            } else {
                *value = 0;
            }
            return 0;
        case Block::kCommand: {
            const uint32_t offset = address - kSimCommandBase;
            if (offset == kCmdFormat7ModeMask) {
                *value = config_.modeMask;
            } else if (offset == kCmdAdvancedOffset) {
                *value = offsetWord(kSimAdvancedBase);
            } else if (offset >= kCmdFormat7ModeOffsets && offset < kCmdFormat7ModeOffsets + 32) {
                const int m = (offset - kCmdFormat7ModeOffsets) / 4;
                const bool present = config_.modeMask & (1u << (31 - m));
                *value = present ? offsetWord(kSimModeBlockBase + kSimModeBlockStride * m) : 0;
            } else {
                auto it = registers_.find(address);
                *value = it == registers_.end() ? 0 : it->second;
            }
            return 0;
        }
        case Block::kMode: {
            const uint32_t offset = address - (kSimModeBlockBase + kSimModeBlockStride * mode);
            const bool isModeZero = mode == 0;
            if (offset == kF7ValueSetting && isModeZero) {
                *value = valueSettingRegister(now);
            } else if (offset == kF7MaxSize) {
                *value = halves(config_.maxWidth, config_.maxHeight);
            } else if (offset == kF7UnitSize) {
                *value = halves(config_.unitWidth, config_.unitHeight);
            } else if (offset == kF7UnitPosition) {
                *value = halves(config_.unitWidth, config_.unitHeight);
            } else if (offset == kF7Capabilities) {
                *value = (isModeZero && config_.packingCapable ? kF7PackingCapableBit : 0) |
                         (isModeZero && config_.compressionCapable ? kF7CompressionCapableBit : 0);
            } else {
                auto it = registers_.find(address);
                *value = it == registers_.end() ? 0 : it->second;
            }
            return 0;
        }
        case Block::kAdvanced: {
            const uint32_t offset = address - kSimAdvancedBase;
            if (offset == kAdvAccessCode) {
                *value = unlocked(now) ? kAccessCode : kAccessLock;
            } else if (offset == kAdvFirmwareVersion) {
                *value = config_.firmwareVersion;
            } else if (offset == kAdvFlashControl) {
                *value = flashControlValue(now);
            } else if (offset >= kAdvFlashWindow && offset < kAdvFlashWindow + 128) {
                *value = loadBe32(window_ + (offset - kAdvFlashWindow));
            } else if (offset == kAdvApply || offset == 0x3C || offset == 0x40) {
                *value = streamRegister(offset, now);
            } else if (offset >= kAdvModeSizeWords && offset < kAdvModeSizeWords + 8 * 32 &&
                       (offset - kAdvModeSizeWords) % kAdvModeSizeStride == 0) {
                const int m = (offset - kAdvModeSizeWords) / kAdvModeSizeStride;
                *value = m == 0 ? halves(config_.modeWidth, config_.modeHeight) : 0;
            } else {
                auto it = registers_.find(address);
                *value = it == registers_.end() ? 0 : it->second;
            }
            return 0;
        }
    }
    return kErrorNoSuchAddress;
}

uint32_t SimCamera::writeQuadlet(uint32_t address, uint32_t value, Clock::time_point now) {
    int mode = 0;
    const Block block = blockOf(address, &mode);
    if (block == Block::kNone) {
        return kErrorNoSuchAddress;
    }
    if (block == Block::kConfigRom) {
        return kErrorWriteRefused;
    }
    if (block == Block::kAdvanced) {
        const uint32_t offset = address - kSimAdvancedBase;
        if (offset == kAdvAccessCode) {
            codeAccepted_ = value == kAccessCode;
            if (!codeAccepted_) {
                accessOpen_ = false;
            }
        } else if (offset == kAdvAccessMask) {
            const uint32_t expected = isMono() ? kAccessMaskMono : kAccessMaskColour;
            // The mask must name this model; the access code must have come just before.
            if (codeAccepted_ && (value & ~0xFFFu) == (expected & ~0xFFFu)) {
                accessOpen_ = true;
                accessUntil_ = now + kAccessTimeUnit * (value & 0xFFF);
            }
            codeAccepted_ = false;
        } else if (!unlocked(now)) {
            return kErrorWriteRefused;
        } else if (offset == kAdvFirmwareVersion ||
                   (offset >= kAdvModeSizeWords && offset < kAdvModeSizeWords + 8 * 32 &&
                    (offset - kAdvModeSizeWords) % kAdvModeSizeStride == 0)) {
            return kErrorWriteRefused;
        } else if (offset == kAdvFlashControl) {
            startFlashCommand(value, now);
        } else if (offset >= kAdvFlashWindow && offset < kAdvFlashWindow + 128) {
            storeBe32(window_ + (offset - kAdvFlashWindow), value);
        } else if (offset == kAdvFirmwareStart) {
            if (value == kFirmwareStartValue) {
                ++firmwareStarts_;
                powerUp();
            }
        } else if (offset == kAdvApply) {
            if (value & 0x40000000) {
                applyAdvanced(now);
            }
        } else {
            registers_[address] = value;
        }
        logWrite(address, value);
        return 0;
    }
    if (block == Block::kCommand && address - kSimCommandBase == kCmdInitialize) {
        if (value & kResetToDefaults) {
            powerUp();
        }
    } else if (block == Block::kCommand && (address - kSimCommandBase == kCmdFormat7ModeMask ||
                                            address - kSimCommandBase == kCmdAdvancedOffset)) {
        return kErrorWriteRefused;
    } else if (block == Block::kCommand && (address - kSimCommandBase == kCmdOneShot ||
                                            address - kSimCommandBase == kCmdIsoEnable ||
                                            address - kSimCommandBase == kCmdTriggerMode)) {
        registers_[address] = value;
        startCapture(address, value, now);
    } else if (block == Block::kMode && mode == 0 &&
               address - kSimModeBlockBase == kF7ValueSetting) {
        if (value & 0x40000000) {
            valueSetting(now);
        }
    } else {
        registers_[address] = value;
    }
    logWrite(address, value);
    return 0;
}

}  // namespace kqfw::sim
