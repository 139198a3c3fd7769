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

// A u32 field of an open camera into *out: 3 for no camera, 8 for a null out.
StatusCode readField(int32_t index, uint32_t* out, uint32_t CameraContext::*field);

// The value-returning single-camera twins answer 0 when camera 0 is not open.
template <typename Value>
uint32_t valueOfCameraZero(Value value) {
    const CameraContext* c = cameraAt(0);
    return c == nullptr ? 0 : value(*c);
}

}  // namespace kqfw
