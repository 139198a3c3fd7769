// The choice of interpolation for full-size colour images. Setter and processing both hold the
// camera's settings, so a frame reads the choice once and keeps it.
#include "camera/camera_context.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

using namespace kqfw;

extern "C" {

KQFW_API StatusCode kqfwSetColourInterpolation(int32_t camera, int32_t method) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (method != KQFW_INTERPOLATION_CAMERA &&
        (method != KQFW_INTERPOLATION_LMMSE || c->link.isMono)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->colourInterpolation = static_cast<uint32_t>(method);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode kqfwGetColourInterpolation(int32_t camera, int32_t* method) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (method == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *method = static_cast<int32_t>(c->colourInterpolation);
    return KQFW_STATUS_OK;
}

}  // extern "C"
