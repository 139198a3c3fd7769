#include "transport/register_access.h"

#include "kqfw/kqfw.h"
#include "platform/clock.h"
#include "transport/async_request.h"
#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr int kAttempts = 3;
constexpr uint32_t kRetryPauseMs = 10;
constexpr uint32_t kFlashPollMs = 1;

AsyncRequestFields requestFor(const DeviceLink& link, uint32_t address, uint32_t bytes) {
    AsyncRequestFields f;
    f.nodeId = link.nodeId();
    f.offsetLow = address;
    f.byteCount = bytes;
    f.blockSize = bytes == kBlockBytes ? kBlockBytes : 0;
    return f;
}

// One transaction attempt; the data field of `buffer` carries the bytes both ways.
uint32_t transact(DeviceHandle handle, uint32_t code, uint8_t* buffer, uint32_t dataBytes) {
    if (handle == kInvalidDeviceHandle) {
        return kErrorInvalidHandle;
    }
    uint32_t returned = 0;
    uint32_t length = asyncRequestLength(dataBytes);
    return driver().ioControl(handle, code, buffer, length, buffer, length, &returned);
}

uint32_t writeQuadletOnce(const DeviceLink& link, DeviceHandle handle, uint32_t address,
                          uint32_t value) {
    AsyncRequestBuffer buffer{};
    encodeAsyncRequest(requestFor(link, address, kQuadletBytes), buffer.data());
    storeBe32(asyncRequestData(buffer.data()), value);
    return transact(handle, kIoctlAsyncWrite, buffer.data(), kQuadletBytes);
}

uint32_t registerEvent(const DeviceLink& link, uint32_t code, Event* event) {
    if (link.deviceHandle == kInvalidDeviceHandle) {
        return kErrorInvalidHandle;
    }
    uint8_t request[kEventRegistrationBytes] = {};
    storeLe64(request, reinterpret_cast<uintptr_t>(event));
    uint32_t returned = 0;
    return driver().ioControl(link.deviceHandle, code, request, sizeof request, nullptr, 0,
                              &returned);
}

// Polls the flash controller until it is idle: 0, 20 (read failed) or 8 (flash error).
uint32_t waitForFlash(const DeviceLink& link) {
    for (;;) {
        uint32_t control = 0;
        if (readQuadlet(link, link.advancedBase + kAdvFlashControl, &control) != 0) {
            return KQFW_STATUS_READ_FAILED;
        }
        if (control & kFlashError) {
            lockAdvancedRegisters(link);
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        settleMs(kFlashPollMs);
        if ((control & (kFlashWriteBusy | kFlashReadBusy)) == 0) {
            return 0;
        }
    }
}

}  // namespace

uint32_t readQuadlet(const DeviceLink& link, uint32_t address, uint32_t* value) {
    return readQuadletOnHandle(link, link.deviceHandle, address, value);
}

uint32_t readQuadletOnHandle(const DeviceLink& link, DeviceHandle handle, uint32_t address,
                             uint32_t* value) {
    AsyncRequestBuffer buffer{};
    uint32_t error = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            sleepMs(kRetryPauseMs);
        }
        encodeAsyncRequest(requestFor(link, address, kQuadletBytes), buffer.data());
        error = transact(handle, kIoctlAsyncRead, buffer.data(), kQuadletBytes);
        if (error == 0) {
            *value = loadBe32(asyncRequestData(buffer.data()));
            return 0;
        }
    }
    return error;
}

namespace {

// The re-opening writes retry like any other write but do not re-open in turn: a camera whose
// access register itself refuses writes would otherwise send us down without end.
uint32_t writeQuadletRetrying(const DeviceLink& link, uint32_t address, uint32_t value,
                              bool reopenVendorBlock) {
    uint32_t error = writeQuadletOnce(link, link.deviceHandle, address, value);
    for (int attempt = 1; attempt < kAttempts && error != 0; ++attempt) {
        sleepMs(kRetryPauseMs);
        // A write to a vendor register fails while the block is locked (its time-out may have
        // run out): open it again before the next try.
        uint32_t access = 0;
        if (reopenVendorBlock &&
            readQuadlet(link, link.advancedBase + kAdvAccessCode, &access) == 0 &&
            (access >> 16) == kLockedHighHalf) {
            uint32_t mask = link.isMono ? kAccessMaskMono : kAccessMaskColour;
            if (writeQuadletRetrying(link, link.advancedBase + kAdvAccessCode, kAccessCode,
                                     false) == 0) {
                writeQuadletRetrying(link, link.advancedBase + kAdvAccessMask, mask, false);
            }
        }
        error = writeQuadletOnce(link, link.deviceHandle, address, value);
    }
    return error;
}

}  // namespace

uint32_t writeQuadlet(const DeviceLink& link, uint32_t address, uint32_t value) {
    return writeQuadletRetrying(link, address, value, true);
}

uint32_t writeQuadletOnHandle(const DeviceLink& link, DeviceHandle handle, uint32_t address,
                              uint32_t value) {
    uint32_t error = writeQuadletOnce(link, handle, address, value);
    for (int attempt = 1; attempt < kAttempts && error != 0; ++attempt) {
        sleepMs(kRetryPauseMs);
        error = writeQuadletOnce(link, handle, address, value);
    }
    return error;
}

uint32_t writeZeroQuadletOnHandle(const DeviceLink& link, DeviceHandle handle, uint32_t address) {
    return writeQuadletOnHandle(link, handle, address, 0);
}

uint32_t readBlock(const DeviceLink& link, uint32_t address, uint8_t* block128) {
    AsyncRequestBuffer buffer{};
    uint32_t error = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            sleepMs(kRetryPauseMs);
        }
        encodeAsyncRequest(requestFor(link, address, kBlockBytes), buffer.data());
        error = transact(link.deviceHandle, kIoctlAsyncRead, buffer.data(), kBlockBytes);
        if (error == 0) {
            const uint8_t* data = asyncRequestData(buffer.data());
            std::copy(data, data + kBlockBytes, block128);
            return 0;
        }
    }
    return error;
}

uint32_t writeBlock(const DeviceLink& link, uint32_t address, const uint8_t* block128) {
    AsyncRequestBuffer buffer{};
    uint32_t error = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            sleepMs(kRetryPauseMs);
        }
        encodeAsyncRequest(requestFor(link, address, kBlockBytes), buffer.data());
        std::copy(block128, block128 + kBlockBytes, asyncRequestData(buffer.data()));
        error = transact(link.deviceHandle, kIoctlAsyncWrite, buffer.data(), kBlockBytes);
        if (error == 0) {
            return 0;
        }
    }
    return error;
}

uint32_t registerFrameEvent(const DeviceLink& link, Event* event) {
    return registerEvent(link, kIoctlSetFrameEvent, event);
}

uint32_t registerTriggerEvent(const DeviceLink& link, Event* event) {
    return registerEvent(link, kIoctlSetTriggerEvent, event);
}

uint32_t mapSharedBuffers(const DeviceLink& link, uint32_t sizeA, uint32_t sizeB, void** bufferA,
                          void** bufferB) {
    if (link.deviceHandle == kInvalidDeviceHandle) {
        return KQFW_STATUS_NO_MEMORY;
    }
    uint8_t request[kMapBuffersBytes] = {};
    storeLe32(request + 0, sizeA);
    storeLe32(request + 4, sizeB);
    uint32_t returned = 0;
    if (driver().ioControl(link.deviceHandle, kIoctlMapBuffers, request, sizeof request, request,
                           sizeof request, &returned) != 0) {
        return KQFW_STATUS_NO_MEMORY;
    }
    *bufferA = reinterpret_cast<void*>(static_cast<uintptr_t>(loadLe64(request + 8)));
    *bufferB = reinterpret_cast<void*>(static_cast<uintptr_t>(loadLe64(request + 16)));
    return 0;
}

uint32_t unlockAdvancedRegisters(const DeviceLink& link) {
    if (uint32_t error = writeQuadlet(link, link.advancedBase + kAdvAccessCode, kAccessCode)) {
        return error;
    }
    return writeQuadlet(link, link.advancedBase + kAdvAccessMask,
                        link.isMono ? kAccessMaskMono : kAccessMaskColour);
}

void lockAdvancedRegisters(const DeviceLink& link) {
    writeQuadlet(link, link.advancedBase + kAdvAccessCode, kAccessLock);
}

uint32_t readFlashBlock(const DeviceLink& link, uint32_t offset, uint8_t* block128,
                        uint32_t readCommand) {
    if (unlockAdvancedRegisters(link) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    if (writeQuadlet(link, link.advancedBase + kAdvFlashControl,
                     readCommand + kFlashRecordAddress + offset) != 0) {
        return KQFW_STATUS_WRITE_FAILED;
    }
    if (uint32_t status = waitForFlash(link)) {
        return status;
    }
    if (readBlock(link, link.advancedBase + kAdvFlashWindow, block128) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    lockAdvancedRegisters(link);
    return 0;
}

uint32_t writeFlash(const DeviceLink& link, uint32_t address, uint32_t length,
                    const uint8_t* data) {
    if (unlockAdvancedRegisters(link) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    for (uint32_t k = 0; k < length / kFlashBlockBytes; ++k) {
        if (writeBlock(link, link.advancedBase + kAdvFlashWindow, data + k * kFlashBlockBytes) !=
                0 ||
            writeQuadlet(link, link.advancedBase + kAdvFlashControl,
                         kFlashWriteCommand + address + k * kFlashBlockBytes) != 0) {
            return KQFW_STATUS_WRITE_FAILED;
        }
        if (uint32_t status = waitForFlash(link)) {
            return status;
        }
    }
    lockAdvancedRegisters(link);
    return 0;
}

}  // namespace kqfw
