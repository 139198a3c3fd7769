#pragma once

#include <cstdint>

#include "transport/device_link.h"

namespace kqfw {

class Event;

// Register, block and flash transactions of one camera. The register operations return 0 or
// the error number of the last attempt; the flash operations return a status code. None takes
// a lock: callers guard sequences that must not interleave. Any thread may call them.

uint32_t readQuadlet(const DeviceLink& link, uint32_t address, uint32_t* value);
uint32_t writeQuadlet(const DeviceLink& link, uint32_t address, uint32_t value);
// Reads a quadlet through a handle of the caller's own (the device handle may be blocked in a
// receive), with the usual retries.
uint32_t readQuadletOnHandle(const DeviceLink& link, DeviceHandle handle, uint32_t address,
                             uint32_t* value);
// Writes a quadlet through a handle of the caller's own (the device handle may be blocked in a
// receive), with the usual retries.
uint32_t writeQuadletOnHandle(const DeviceLink& link, DeviceHandle handle, uint32_t address,
                              uint32_t value);
uint32_t writeZeroQuadletOnHandle(const DeviceLink& link, DeviceHandle handle, uint32_t address);
uint32_t readBlock(const DeviceLink& link, uint32_t address, uint8_t* block128);
uint32_t writeBlock(const DeviceLink& link, uint32_t address, const uint8_t* block128);

// One attempt each; a null event releases the registration.
uint32_t registerFrameEvent(const DeviceLink& link, Event* event);
uint32_t registerTriggerEvent(const DeviceLink& link, Event* event);

// Maps the two driver-shared buffers (sizes 0 release them): 0, or KQFW_STATUS_NO_MEMORY.
uint32_t mapSharedBuffers(const DeviceLink& link, uint32_t sizeA, uint32_t sizeB, void** bufferA,
                          void** bufferB);

// 0 or the error number of the failing write.
uint32_t unlockAdvancedRegisters(const DeviceLink& link);
void lockAdvancedRegisters(const DeviceLink& link);

// Reads the 128 flash bytes at record offset `offset` with the given read command: 0, 20, 27
// or 8 (flash error).
uint32_t readFlashBlock(const DeviceLink& link, uint32_t offset, uint8_t* block128,
                        uint32_t readCommand);
// Writes the whole 128-byte blocks of `data` from flash address `address`: 0, 20, 27 or 8.
uint32_t writeFlash(const DeviceLink& link, uint32_t address, uint32_t length, const uint8_t* data);

}  // namespace kqfw
