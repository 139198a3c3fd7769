#pragma once

#include <cstdint>

#include "api/camera_context.h"

namespace kqfw {

inline constexpr int32_t kCameraSlots = 10;

// The process-wide table of open cameras. The application serialises opening and closing of a
// slot; other threads only read it.
CameraContext* cameraAt(int32_t index);  // null for a bad index or an empty slot
bool validIndex(int32_t index);
void setCamera(int32_t index, CameraContext* context);

}  // namespace kqfw
