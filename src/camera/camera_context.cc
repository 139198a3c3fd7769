#include "camera/camera_context.h"

#include <algorithm>
#include <new>

#include "camera/ip_context_lifetime.h"
#include "platform/memory.h"

namespace kqfw {

CameraContext* allocateCameraContext() {
    void* block = allocZeroed(std::max(sizeof(CameraContext), kCameraContextBytes));
    if (block == nullptr) {
        return nullptr;
    }
    // Value-initialised on top of zeroed memory: every field the record lists starts at 0.
    return new (block) CameraContext{};
}

void freeCameraContext(CameraContext* context) {
    if (context != nullptr) {
        freeZeroed(context->blackRefImage);
        freeZeroed(context->whiteRefImage);
        releaseIpContext(context->ipContext);
        context->~CameraContext();
        freeZeroed(context);
    }
}

}  // namespace kqfw
