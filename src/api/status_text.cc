// Short English texts for the status codes, for logs and tools.
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

extern "C" {

KQFW_API const char* kqfwStatusText(StatusCode status) {
    switch (status) {
        case KQFW_STATUS_OK:
            return "success";
        case KQFW_STATUS_NO_CAMERA:
            return "no such camera (index, empty slot, or the camera cannot be opened)";
        case KQFW_STATUS_ABORTED:
            return "aborted by the application, or a reference frame failed";
        case KQFW_STATUS_BAD_WHITE_BALANCE:
            return "a white-balance factor is zero or not positive";
        case KQFW_STATUS_BUFFER_TOO_SMALL:
            return "image buffer smaller than the image";
        case KQFW_STATUS_NO_MEMORY:
            return "out of memory, or the driver could not map its buffers";
        case KQFW_STATUS_BAD_ARGUMENT:
            return "bad argument or setting not supported, or a flash error";
        case KQFW_STATUS_CALIBRATION_FAILED:
            return "calibration gave no usable result";
        case KQFW_STATUS_BUSY:
            return "busy: the camera is acquiring, running, measuring or calibrating, or a "
                   "prepared stream fixes the setting";
        case KQFW_STATUS_THREAD_FAILED:
            return "a thread could not be created, or no fast acquisition to abort";
        case KQFW_STATUS_BLACK_TOO_BRIGHT:
            return "black reference too bright: the camera is not dark";
        case KQFW_STATUS_WHITE_TOO_BRIGHT:
            return "white reference saturated";
        case KQFW_STATUS_WHITE_TOO_DARK:
            return "white reference too dark";
        case KQFW_STATUS_NOT_SUPPORTED:
            return "not supported by this library";
        case KQFW_STATUS_NO_CAMERA_PRESENT:
            return "no camera present";
        case KQFW_STATUS_FIRMWARE_TOO_OLD:
            return "camera firmware too old";
        case KQFW_STATUS_WRONG_CONTEXT_VERSION:
            return "processing context of the wrong version or inconsistent";
        case KQFW_STATUS_READ_FAILED:
            return "camera register read failed";
        case KQFW_STATUS_START_REFUSED:
            return "start refused, or resolution not available on this model";
        case KQFW_STATUS_BANDWIDTH:
            return "bus bandwidth not available";
        case KQFW_STATUS_RESOURCES:
            return "bus receive resources not available";
        case KQFW_STATUS_RECEIVE_FAILED:
            return "receiving the frame failed";
        case KQFW_STATUS_CHANNEL:
            return "bus channel not available";
        case KQFW_STATUS_STOP_FAILED:
            return "the stream could not be stopped";
        case KQFW_STATUS_WRITE_FAILED:
            return "camera register write failed";
        case KQFW_STATUS_FLASH_INCONSISTENT:
            return "the camera's flash record is inconsistent";
        case KQFW_STATUS_SHOT_TIMEOUT:
            return "a multi-shot frame did not arrive in time";
        default:
            return "unknown status";
    }
}

}  // extern "C"
