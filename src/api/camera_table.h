#pragma once

#include <atomic>
#include <cstdint>

#include "api/camera_context.h"

namespace kqfw {

inline constexpr int32_t kCameraSlots = 10;

// The process-wide table of open cameras. The application serialises opening and closing of a
// slot; other threads only read it.
CameraContext* cameraAt(int32_t index);  // null for a bad index or an empty slot
bool validIndex(int32_t index);
void setCamera(int32_t index, CameraContext* context);

// Process-wide switch of the blemish-pixel correction (on by default).
extern std::atomic<uint32_t> blemishCorrectionEnabled;

// A camera for an entry point, or the status the entry point returns instead: 3 for a bad
// index or a closed slot, and for setters that refuse during an acquisition, 10 while busy.
struct CameraOrStatus {
    CameraContext* camera;
    StatusCode status;
};
CameraOrStatus cameraFor(int32_t index);
CameraOrStatus idleCameraFor(int32_t index);

}  // namespace kqfw
