// The calibration run: series of calibration patches, the computation, and the corrected
// shift table written to the camera after each iteration.
#include <cstring>

#include "acquisition/acquire_image.h"
#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "camera/geometry.h"
#include "kqfw/kqfw.h"
#include "platform/error_report.h"
#include "platform/memory.h"
#include "processing/calibration.h"
#include "processing/multishot_merge.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kBlockRecordOffset = 256;
constexpr uint32_t kBlockBytes = 256;
constexpr uint32_t kSubsetTable = 20;
constexpr uint32_t kGridBytes = kCalGrid * kCalGrid * 2;

struct Table {
    uint32_t offset;  // within the calibration block
    uint32_t width;   // grid columns
};

// The shift table a resolution's shots read, or none (width 0).
Table tableOf(const CameraContext& c) {
    if (c.link.isMono) {
        switch (c.resolutionIndex) {
            case 4:
                return {10, 2};
            case 5:
                return {20, 3};
            default:
                return {0, 0};
        }
    }
    switch (c.resolutionIndex) {
        case 3:
            return {40, 2};
        case 4:
            return {50, 4};
        case 5:
            return {84, 6};
        default:
            return {0, 0};
    }
}

uint8_t* block(CameraContext& c) {
    return c.flashImage + kBlockRecordOffset;
}

uint32_t getcaltable(CameraContext& c, uint8_t* grid) {
    const Table t = tableOf(c);
    if (t.width == 0) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    for (uint32_t k = 0; k < t.width * t.width; ++k) {
        std::memcpy(grid + 2 * ((k / t.width) * kCalGrid + k % t.width),
                    block(c) + t.offset + 2 * k, 2);
    }
    return KQFW_STATUS_OK;
}

uint32_t putcaltable(CameraContext& c, const uint8_t* grid) {
    const Table t = tableOf(c);
    for (uint32_t k = 0; k < t.width * t.width; ++k) {
        std::memcpy(block(c) + t.offset + 2 * k,
                    grid + 2 * ((k / t.width) * kCalGrid + k % t.width), 2);
    }
    // Calibrating colour index 5 calibrates index 6, whose shots take nine of its positions.
    if (!c.link.isMono && c.resolutionIndex == 5) {
        for (uint32_t k = 0; k < 9; ++k) {
            const uint32_t p = kPositionSubset[k];
            std::memcpy(block(c) + kSubsetTable + 2 * k, grid + 2 * ((p / 6) * kCalGrid + p % 6),
                        2);
        }
    }
    return writeFlash(c.link, kFlashRecordAddress + kBlockRecordOffset, kBlockBytes, block(c));
}

// One series of patches from the sensor's centre, at full size and with the settings put back.
uint32_t getcalimages(CameraLease& lease, uint8_t* patches, uint32_t f) {
    CameraContext& c = *lease.get();
    const uint32_t bits = c.bitsPerPixel;
    const uint32_t binning = c.binning;
    const Rect frame = c.frameRect;
    c.bitsPerPixel = c.link.isMono ? 14 : 42;
    c.binning = 1;
    const Rect base{0, 0, static_cast<int32_t>(baseWidth(c)), static_cast<int32_t>(baseHeight(c))};
    c.frameRect = base;
    c.imageRect = alignToBinning(c, base);
    c.settingsChanged = 1;
    c.calibrationCapture = 1;
    // The size check sees the multi-shot image; the capture writes only the patches.
    const uint32_t claimed = c.sensorWidth * c.sensorHeight * f * f * 6;
    const uint32_t status = AcquireImage(lease, reinterpret_cast<uint16_t*>(patches), claimed,
                                         ProgressKind::kNone, true, AcquireAs::kInsideActivity);
    c.calibrationCapture = 0;
    c.binning = binning;
    c.bitsPerPixel = bits;
    const uint32_t rect[4] = {uint32_t(frame.left), uint32_t(frame.top), uint32_t(frame.right),
                              uint32_t(frame.bottom)};
    setFrame(c, rect);
    if (status != 0) {
        reportError("(%d)getcalimages error %d", lease.index(), static_cast<int>(status));
    }
    return status;
}

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode IxenmCalibrateEx(int32_t camera, int32_t iterations,
                                     CalibrationCallback callback, uintptr_t userData) {
    CameraOrStatus held = idleCameraFor(camera);
    kqfw::CameraContext* c = held.lease.get();
    if (c == nullptr) {
        return held.status;
    }
    // The run holds the camera from its first series to its last table: the resolution, the
    // grid and the patch buffer are those it started with, whatever its callback asks for.
    ActivityClaim claim(*c, Activity::kCalibration);
    if (!claim.held() || c->applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    uint8_t grid[kGridBytes] = {};
    if (getcaltable(*c, grid) != 0) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const uint32_t f = magnification(c->resolutionIndex);
    if (iterations < 1) {
        return KQFW_STATUS_OK;
    }
    // The capture writes whole patches only; what the series does not reach stays zero.
    auto* patches = static_cast<uint8_t*>(allocZeroed(size_t{kCalPatches} * kPatchBytes));
    if (patches == nullptr) {
        return KQFW_STATUS_NO_MEMORY;
    }
    uint32_t written = KQFW_STATUS_OK;
    for (int32_t iteration = 1; iteration <= iterations; ++iteration) {
        if (uint32_t status = getcalimages(held.lease, patches, f)) {
            freeZeroed(patches);
            return status;
        }
        float statistics[kCalStatistics] = {};
        if (computecalibration(c->link.isMono != 0, f, patches, grid, statistics) != 0) {
            freeZeroed(patches);
            return KQFW_STATUS_CALIBRATION_FAILED;
        }
        written = putcaltable(*c, grid);
        int32_t stop = 0;
        if (callback != nullptr) {
            // The callback may wait for another thread that asks the camera something: the
            // settings are left meanwhile (the activity still refuses setters and starts).
            held.lease.leaveSettings();
            stop = callback(uint32_t(iteration), uint32_t(iterations), statistics, userData);
            held.lease.enterSettings();
        }
        if (written != 0 || stop != 0) {
            break;
        }
        // A close asked meanwhile (from the callback or another thread) waits for this call:
        // the run ends here rather than after another series.
        if (c->closeRequested != 0) {
            freeZeroed(patches);
            return KQFW_STATUS_ABORTED;
        }
    }
    freeZeroed(patches);
    return written;
}

KQFW_API StatusCode IxenCalibrateEx(int32_t iterations, CalibrationCallback callback,
                                    uintptr_t userData) {
    return IxenmCalibrateEx(0, iterations, callback, userData);
}

KQFW_API StatusCode IxenmCalibrate(int32_t camera, int32_t iterations,
                                   CalibrationCallback callback) {
    return IxenmCalibrateEx(camera, iterations, callback, reinterpret_cast<uintptr_t>(callback));
}

KQFW_API StatusCode IxenCalibrate(int32_t iterations, CalibrationCallback callback) {
    return IxenmCalibrate(0, iterations, callback);
}

}  // extern "C"
