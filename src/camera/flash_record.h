#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

// Reads the camera's flash record into flashImage and validates its blemish and marked-pixel
// lists: 0, 8 (flash error), 20, 27, or 28 (inconsistent record; flashValid stays 0).
uint32_t readFlashRecord(CameraContext& context);

// The identification word of the record read last.
uint32_t flashIdWordOf(const CameraContext& context);

}  // namespace kqfw
