#pragma once

#include <cstdint>
#include <vector>

#include "kqfw/kqsim.h"

namespace kqfw::sim {

inline constexpr uint32_t kSimFlashRecordAddress = 0x1D400;
inline constexpr uint32_t kSimCalibrationAddress = 0x1D500;
inline constexpr uint32_t kSimCalibrationBytes = 256;
inline constexpr uint32_t kSimFirmwareBytes = 0x4000;

// The configuration of a factory-fresh camera of the model, with its fixed serial number.
KqsimCameraConfig defaultCameraConfig(uint32_t model);

// The calibration block a camera of the model leaves the factory with.
std::vector<uint8_t> factoryCalibrationBlock(uint32_t model);

// The whole flash of a new camera: firmware from address 0, the flash record at 0x1D400 (its
// calibration block at 0x1D500). The rest reads as erased (0xFF).
std::vector<uint8_t> buildFlashImage(const KqsimCameraConfig& config, uint32_t flashBytes);

}  // namespace kqfw::sim
