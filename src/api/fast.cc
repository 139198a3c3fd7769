// Fast acquisition and the queries of what a camera can do.
#include "acquisition/fast.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"

using namespace kqfw;

extern "C" {

KQFW_API int32_t IxenmStartFastAcquisition(int32_t camera) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    return static_cast<int32_t>(StartFast(held.lease));
}

KQFW_API int32_t IxenStartFastAcquisition(void) {
    return IxenmStartFastAcquisition(0);
}

KQFW_API int32_t IxenmIsFastAcquisitionReady(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                             uint32_t restart) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    return FastReady(held.lease, image, imageBytes, restart);
}

KQFW_API int32_t IxenIsFastAcquisitionReady(uint16_t* image, uint32_t imageBytes,
                                            uint32_t restart) {
    return IxenmIsFastAcquisitionReady(0, image, imageBytes, restart);
}

KQFW_API int32_t IxenmAbortFastAcquisition(int32_t camera) {
    CameraOrStatus held = cameraFor(camera);
    if (held.lease.get() == nullptr) {
        return static_cast<int32_t>(held.status);
    }
    return static_cast<int32_t>(AbortFast(held.lease));
}

KQFW_API int32_t IxenAbortFastAcquisition(void) {
    return IxenmAbortFastAcquisition(0);
}

KQFW_API StatusCode IxenmHasFrame(int32_t index, uint32_t* has) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (has == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *has = 1;
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenHasFrame(void) {
    return CameraLease(0).get() != nullptr ? 1 : 0;
}

KQFW_API StatusCode IxenmHasFastAcquisition(int32_t index, uint32_t* has) {
    return IxenmHasFrame(index, has);
}

KQFW_API uint32_t IxenHasFastAcquisition(void) {
    return IxenHasFrame();
}

}  // extern "C"
