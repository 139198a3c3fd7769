// The offline processing context: preparing it from an open camera, and processing raw frames
// with it on any thread, without the camera.
#include <algorithm>
#include <cstring>

#include "acquisition/frame_processing.h"
#include "acquisition/ip_context.h"
#include "acquisition/sample_expansion.h"
#include "acquisition/stream_setup.h"
#include "api/camera_activity.h"
#include "api/camera_table.h"
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
            c->ipContext = allocateIpContext();
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
struct Restore {
    const uint8_t* frame = nullptr;
    kqfw::CameraContext* record = nullptr;
    uint16_t* work = nullptr;
    ~Restore() {
        freeZeroed(work);
        freeCameraContext(record);
    }
};

// Everything the processing needs is copied out of the block while it cannot change, the
// version first, before anything is allocated.
uint32_t restoreFrame(const uint8_t* block, void* arg) {
    auto& r = *static_cast<Restore*>(arg);
    uint32_t version;
    std::memcpy(&version, block + ip::kVersionAt, sizeof version);
    if (version != ip::kVersion) {
        return KQFW_STATUS_WRONG_CONTEXT_VERSION;
    }
    r.record = allocateWorkContext();
    if (r.record == nullptr) {
        return KQFW_STATUS_NO_MEMORY;
    }
    if (uint32_t status = restoreFromIpContext(block, *r.record)) {
        return status;
    }
    const kqfw::CameraContext& c = *r.record;
    const uint64_t workBytes = uint64_t{c.sensorWidth} * c.sensorHeight * 2;
    r.work = static_cast<uint16_t*>(allocZeroed(workBytes));
    if (r.work == nullptr) {
        return KQFW_STATUS_NO_MEMORY;
    }
    const uint64_t frameBytes = uint64_t{c.streamBytesPerPacket} * c.streamPacketsPerFrame;
    std::memcpy(r.work, r.frame, std::min(workBytes, frameBytes));
    return KQFW_STATUS_OK;
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
    Restore restore;
    restore.frame = static_cast<const uint8_t*>(frame);
    if (uint32_t status =
            readIpContext(reinterpret_cast<const uint8_t*>(context), restoreFrame, &restore)) {
        return status;
    }
    kqfw::CameraContext& c = *restore.record;
    if (c.resolutionIndex > 2) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c.colourInterpolation = static_cast<uint32_t>(method);
    expandRawFrame(c, restore.work);
    return processStandardFrame(c, image, restore.work);
}

}  // extern "C"
