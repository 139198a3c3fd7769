#include "api/camera_table.h"

#include <atomic>

namespace kqfw {

namespace {
std::atomic<CameraContext*> slots[kCameraSlots];
}

bool validIndex(int32_t index) {
    return index >= 0 && index < kCameraSlots;
}

CameraContext* cameraAt(int32_t index) {
    return validIndex(index) ? slots[index].load() : nullptr;
}

void setCamera(int32_t index, CameraContext* context) {
    if (validIndex(index)) {
        slots[index] = context;
    }
}

}  // namespace kqfw
