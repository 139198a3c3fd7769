// Black and white references: measuring, keeping and switching them.
#include <cstring>

#include "acquisition/references.h"
#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"

using namespace kqfw;

namespace {

using Measurement = uint32_t (*)(CameraLease&, ProgressKind);

// A measurement with the callback the entry point was given, stored as the acquisition stores
// it; a null callback means no progress and no abort.
StatusCode calculate(int32_t camera, Measurement measure, ProgressCallback plain,
                     ProgressCallbackEx ex = nullptr, uint64_t userData = 0) {
    CameraOrStatus held = cameraFor(camera);
    kqfw::CameraContext* c = held.lease.get();
    if (c == nullptr) {
        return held.status;
    }
    // A measurement programs its own full frames: it needs the camera to itself, also free of a
    // stream the application prepared.
    ActivityClaim claim(*c, Activity::kReference);
    if (!claim.held() || c->busy != 0 || c->runActive != 0 || c->applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    ProgressKind kind = ProgressKind::kNone;
    if (plain != nullptr) {
        c->progressCallback = plain;
        kind = ProgressKind::kPlain;
    } else if (ex != nullptr) {
        c->progressCallbackEx = ex;
        c->progressUserData = userData;
        kind = ProgressKind::kEx;
    }
    return measure(held.lease, kind);
}

StatusCode setSwitch(int32_t camera, uint32_t enable, uint32_t kqfw::CameraContext::*enabled,
                     uint32_t kqfw::CameraContext::*present) {
    auto [c, status] = idleCameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (enable != 0 && c->*present == 0) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->*enabled = enable != 0 ? 1 : 0;
    return KQFW_STATUS_OK;
}

}  // namespace

extern "C" {

KQFW_API StatusCode IxenmCalculateBlackRef(int32_t camera, ProgressCallback callback) {
    return calculate(camera, MeasureBlackRef, callback);
}

KQFW_API StatusCode IxenCalculateBlackRef(ProgressCallback callback) {
    return IxenmCalculateBlackRef(0, callback);
}

KQFW_API StatusCode IxenmCalculateBlackRefEx(int32_t camera, ProgressCallbackEx callback,
                                             uint64_t userData) {
    return calculate(camera, MeasureBlackRef, nullptr, callback, userData);
}

KQFW_API StatusCode IxenCalculateBlackRefEx(ProgressCallbackEx callback, uint64_t userData) {
    return IxenmCalculateBlackRefEx(0, callback, userData);
}

KQFW_API StatusCode IxenmCalculateWhiteRef(int32_t camera, ProgressCallback callback) {
    return calculate(camera, MeasureWhiteRef, callback);
}

KQFW_API StatusCode IxenCalculateWhiteRef(ProgressCallback callback) {
    return IxenmCalculateWhiteRef(0, callback);
}

KQFW_API StatusCode IxenmCalculateWhiteRefEx(int32_t camera, ProgressCallbackEx callback,
                                             uint64_t userData) {
    return calculate(camera, MeasureWhiteRef, nullptr, callback, userData);
}

KQFW_API StatusCode IxenCalculateWhiteRefEx(ProgressCallbackEx callback, uint64_t userData) {
    return IxenmCalculateWhiteRefEx(0, callback, userData);
}

KQFW_API StatusCode IxenmSaveBlackRef(int32_t camera, uint8_t* block, uint32_t blockBytes) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    const size_t bytes = blackRefEntries(*c) * sizeof(int16_t);
    if (block == nullptr || blockBytes != bytes || c->blackRefPresent == 0 ||
        c->blackRefImage == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    std::memcpy(block, c->blackRefImage, bytes);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSaveBlackRef(uint8_t* block, uint32_t blockBytes) {
    return IxenmSaveBlackRef(0, block, blockBytes);
}

KQFW_API StatusCode IxenmRestoreBlackRef(int32_t camera, uint8_t* block, uint32_t blockBytes) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    const size_t bytes = blackRefEntries(*c) * sizeof(int16_t);
    if (block == nullptr || blockBytes != bytes) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    if (!ensureBlackRefStorage(*c)) {
        return KQFW_STATUS_NO_MEMORY;
    }
    std::memcpy(c->blackRefImage, block, bytes);
    c->blackRefPresent = 1;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenRestoreBlackRef(uint8_t* block, uint32_t blockBytes) {
    return IxenmRestoreBlackRef(0, block, blockBytes);
}

KQFW_API StatusCode IxenmSetBlackRef(int32_t camera, uint32_t enable) {
    return setSwitch(camera, enable, &kqfw::CameraContext::blackRefEnabled,
                     &kqfw::CameraContext::blackRefPresent);
}

KQFW_API StatusCode IxenSetBlackRef(uint32_t enable) {
    return IxenmSetBlackRef(0, enable);
}

KQFW_API StatusCode IxenmSetWhiteRef(int32_t camera, uint32_t enable) {
    return setSwitch(camera, enable, &kqfw::CameraContext::whiteRefEnabled,
                     &kqfw::CameraContext::whiteRefPresent);
}

KQFW_API StatusCode IxenSetWhiteRef(uint32_t enable) {
    return IxenmSetWhiteRef(0, enable);
}

KQFW_API StatusCode IxenmGetCurrentBlackRef(int32_t camera, uint32_t* enabled) {
    return readField(camera, enabled, &kqfw::CameraContext::blackRefEnabled);
}

KQFW_API StatusCode IxenGetCurrentBlackRef(uint32_t* enabled) {
    return IxenmGetCurrentBlackRef(0, enabled);
}

KQFW_API StatusCode IxenmGetCurrentWhiteRef(int32_t camera, uint32_t* enabled) {
    return readField(camera, enabled, &kqfw::CameraContext::whiteRefEnabled);
}

KQFW_API StatusCode IxenGetCurrentWhiteRef(uint32_t* enabled) {
    return IxenmGetCurrentWhiteRef(0, enabled);
}

KQFW_API StatusCode IxenmHasBlackRef(int32_t camera, uint32_t* present) {
    return readField(camera, present, &kqfw::CameraContext::blackRefPresent);
}

KQFW_API StatusCode IxenHasBlackRef(uint32_t* present) {
    return IxenmHasBlackRef(0, present);
}

KQFW_API StatusCode IxenmHasWhiteRef(int32_t camera, uint32_t* present) {
    return readField(camera, present, &kqfw::CameraContext::whiteRefPresent);
}

KQFW_API StatusCode IxenHasWhiteRef(uint32_t* present) {
    return IxenmHasWhiteRef(0, present);
}

KQFW_API StatusCode IxenmSetWhiteTable(int32_t camera, uint8_t* table) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (table == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    if (!ensureWhiteRefStorage(*c)) {
        return KQFW_STATUS_NO_MEMORY;
    }
    std::memcpy(c->whiteRefImage, table, whiteRefEntries(*c) * sizeof(int16_t));
    c->whiteRefPresent = 1;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetWhiteTable(uint8_t* table) {
    return IxenmSetWhiteTable(0, table);
}

KQFW_API StatusCode IxenmGetWhiteTable(int32_t camera, uint8_t* table) {
    auto [c, status] = cameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (table == nullptr || c->whiteRefPresent == 0 || c->whiteRefImage == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    std::memcpy(table, c->whiteRefImage, whiteRefEntries(*c) * sizeof(int16_t));
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetWhiteTable(uint8_t* table) {
    return IxenmGetWhiteTable(0, table);
}

}  // extern "C"
