#include "api/camera_table.h"

#include <atomic>

namespace kqfw {

namespace {
std::atomic<CameraContext*> slots[kCameraSlots];
}

std::atomic<uint32_t> blemishCorrectionEnabled{1};

CameraOrStatus cameraFor(int32_t index) {
    CameraContext* c = cameraAt(index);
    return {c, c == nullptr ? StatusCode{KQFW_STATUS_NO_CAMERA} : StatusCode{KQFW_STATUS_OK}};
}

CameraOrStatus idleCameraFor(int32_t index) {
    CameraOrStatus result = cameraFor(index);
    if (result.camera != nullptr && result.camera->busy != 0) {
        return {nullptr, KQFW_STATUS_BUSY};
    }
    return result;
}

StatusCode readField(int32_t index, uint32_t* out, uint32_t CameraContext::*field) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (out == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *out = c->*field;
    return KQFW_STATUS_OK;
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
