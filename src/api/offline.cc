// The offline processing context: preparing it from an open camera, and processing raw frames
// with it on any thread, without the camera.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "acquisition/frame_processing.h"
#include "acquisition/ip_context.h"
#include "acquisition/sample_expansion.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "camera/ip_context_lifetime.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "platform/memory.h"

using namespace kqfw;

namespace {

constexpr char kPrepareOperation[] = "IxenmPrepareForContinuousAcquisition";

// The preparation shared by both forms: the stream probed once, the outputs written.
StatusCode prepare(int32_t camera, const void* anyOutput, uint32_t* contextBytes,
                   uint32_t* frameBytes, ContinuousFrameCallback callback, bool ownRecord,
                   void** context) {
    auto [c, status] = idleCameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (anyOutput == nullptr || contextBytes == nullptr || callback == nullptr ||
        frameBytes == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    if (!ownRecord && !fitsIpContext(*c)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    // The probe sets a stream up and tears it down: not over a stream the application holds.
    ActivityClaim claim(*c, Activity::kProbe);
    if (!claim.held() || c->applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    if (uint32_t result = ProbeStream(*c, kPrepareOperation)) {
        return result;
    }
    if (ownRecord) {
        *context = c;
        *contextBytes = static_cast<uint32_t>(kCameraContextBytes);
    } else {
        if (c->ipContext == nullptr) {
            c->ipContext = allocateIpContext(ip::kBytes, &c->processingPool);
            if (c->ipContext == nullptr) {
                return KQFW_STATUS_NO_MEMORY;
            }
        }
        writeIpContext(
            c->ipContext,
            [](uint8_t* block, const void* record) {
                fillIpContext(*static_cast<const kqfw::CameraContext*>(record), block);
            },
            c);
        *context = c->ipContext;
        *contextBytes = static_cast<uint32_t>(ip::kBytes);
    }
    *frameBytes = c->streamBytesPerPacket * c->streamPacketsPerFrame;
    c->continuousCallback = callback;
    return KQFW_STATUS_OK;
}

// What one offline frame works on, freed on every way out.
struct OfflineFrame {
    const uint8_t* frame = nullptr;
    uint16_t* image = nullptr;
    uint32_t method = 0;
    uint8_t* alignedCopy = nullptr;
    uint16_t* work = nullptr;
    size_t workBytes = 0;
    ~OfflineFrame() {
        returnWorkFrame(work, workBytes);
        freeZeroed(alignedCopy);
    }
};

// The frame is processed while the block is read in place: the recipe points into it, so a
// refill or a release of the camera's block waits for the frame. A copy of a block the
// application placed at an odd address is read from an aligned copy of its own.
uint32_t processOfflineFrame(const uint8_t* block, WorkerPool* pool, void* arg) {
    auto& f = *static_cast<OfflineFrame*>(arg);
    uint32_t version;
    std::memcpy(&version, block + ip::kVersionAt, sizeof version);
    if (version != ip::kVersion) {
        return KQFW_STATUS_WRONG_CONTEXT_VERSION;
    }
    if (reinterpret_cast<uintptr_t>(block) % alignof(double) != 0) {
        f.alignedCopy = static_cast<uint8_t*>(allocZeroed(ip::kBytes));
        if (f.alignedCopy == nullptr) {
            return KQFW_STATUS_NO_MEMORY;
        }
        std::memcpy(f.alignedCopy, block, ip::kBytes);
        block = f.alignedCopy;
    }
    FrameRecipe recipe;
    uint64_t frameBytes = 0;
    if (uint32_t status = mapIpContext(block, recipe, &frameBytes)) {
        return status;
    }
    if (recipe.resolutionIndex > 2) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    recipe.processingPool = pool;
    recipe.colourInterpolation = f.method;
    const uint64_t workBytes = uint64_t{recipe.sensorWidth} * recipe.sensorHeight * 2;
    f.workBytes = workBytes;
    f.work = borrowWorkFrame(workBytes);
    if (f.work == nullptr) {
        return KQFW_STATUS_NO_MEMORY;
    }
    // A frame shorter than the sensor leaves the rest of the work frame zero.
    expandIntoWorkFrame(recipe, f.frame, frameBytes, f.work, workBytes);
    return processStandardFrame(recipe, f.image, f.work);
}

}  // namespace

extern "C" {

KQFW_API StatusCode IxenmGetIPInfo(int32_t camera, IpContext** context, uint32_t* contextBytes,
                                   ContinuousFrameCallback callback, uint32_t* frameBytes) {
    void* out = nullptr;
    const StatusCode status =
        prepare(camera, context, contextBytes, frameBytes, callback, false, &out);
    if (status == KQFW_STATUS_OK) {
        *context = static_cast<IpContext*>(out);
    }
    return status;
}

KQFW_API StatusCode IxenmGetIPInfoold(int32_t camera, ::CameraContext** context,
                                      uint32_t* contextBytes, ContinuousFrameCallback callback,
                                      uint32_t* frameBytes) {
    void* out = nullptr;
    const StatusCode status =
        prepare(camera, context, contextBytes, frameBytes, callback, true, &out);
    if (status == KQFW_STATUS_OK) {
        *context = static_cast<::CameraContext*>(out);
    }
    return status;
}

KQFW_API StatusCode IxenmExecuteIPFunction(IpContext* context, uint16_t* image, void* frame) {
    return kqfwExecuteIPFunctionEx(context, image, frame, KQFW_INTERPOLATION_CAMERA);
}

KQFW_API StatusCode kqfwExecuteIPFunctionEx(IpContext* context, uint16_t* image, void* frame,
                                            int32_t method) {
    if (context == nullptr || image == nullptr || frame == nullptr ||
        (method != KQFW_INTERPOLATION_CAMERA && method != KQFW_INTERPOLATION_LMMSE)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    OfflineFrame offline;
    offline.frame = static_cast<const uint8_t*>(frame);
    offline.image = image;
    offline.method = static_cast<uint32_t>(method);
    return readIpContext(reinterpret_cast<const uint8_t*>(context), processOfflineFrame, &offline);
}

}  // extern "C"
