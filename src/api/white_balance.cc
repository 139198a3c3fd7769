// The white-balance tables of an open camera.
#include "api/camera_table.h"
#include "api/colour_tables.h"
#include "kqfw/kqfw.h"

using namespace kqfw;

extern "C" {

KQFW_API StatusCode Ixenm_setwhite(int32_t index, double* whiteBalance) {
    kqfw::CameraContext* c = cameraAt(index);
    if (c == nullptr) {
        return KQFW_STATUS_NO_CAMERA;
    }
    if (whiteBalance == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    return buildColourTables(*c, whiteBalance);
}

KQFW_API StatusCode Ixen_setwhite(double* whiteBalance) {
    return Ixenm_setwhite(0, whiteBalance);
}

}  // extern "C"
