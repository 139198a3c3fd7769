#pragma once

#include <cstdint>

#include "api/camera_context.h"

namespace kqfw {

// The words of the two shutter outputs as the camera takes them.
uint32_t shutterOutput1Word(const CameraContext& context);
uint32_t shutterOutput2Word(const CameraContext& context);

}  // namespace kqfw
