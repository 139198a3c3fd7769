// How many threads a camera's frame processing shares its rows out to.
#include "camera/camera_context.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

using namespace kqfw;

extern "C" {

KQFW_API StatusCode kqfwSetProcessingThreads(int32_t camera, int32_t threads) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (threads < 1 || threads > WorkerPool::kMaxThreads) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->processingPool.setThreads(threads);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode kqfwGetProcessingThreads(int32_t camera, int32_t* threads) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (threads == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *threads = c->processingPool.threads();
    return KQFW_STATUS_OK;
}

}  // extern "C"
