#include "acquisition/multishot.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "acquisition/sample_expansion.h"
#include "acquisition/stream_setup.h"
#include "camera/camera_table.h"
#include "camera/colour_tables.h"
#include "camera/geometry.h"
#include "camera/settings_rules.h"
#include "platform/error_report.h"
#include "platform/memory.h"
#include "processing/colour_matrix.h"
#include "processing/fading_correction.h"
#include "processing/multishot_filters.h"
#include "processing/ratio_interpolation.h"
#include "processing/raw_corrections.h"

namespace kqfw {

namespace {

constexpr size_t kThreadStackBytes = 10000;
constexpr uint32_t kShotMarginMs = 3000;
constexpr uint32_t kPatchSide = 128;
constexpr uint32_t kPatchBytes = kPatchSide * kPatchSide;
constexpr uint32_t kPatchesPerRow = 6;
constexpr uint32_t kSubsetResolution = 6;
constexpr double kFadingMinimumChange = 0.01;

// Holds the camera's settings for one shot's corrections and placement.
struct SettingsHeld {
    explicit SettingsHeld(CameraContext& c) : c(c) { c.settingsLock.enter(); }
    ~SettingsHeld() { c.settingsLock.leave(); }
    CameraContext& c;
};

}  // namespace

void (*beforeShotCopy)(uint32_t shot) = nullptr;

MultiShotRun::~MultiShotRun() {
    join();
    freeShots();
}

bool MultiShotRun::start(CameraContext& c, int32_t index, uint16_t* output, uint32_t outputBytes) {
    c_ = &c;
    index_ = index;
    output_ = output;
    outputBytes_ = outputBytes;
    shots_ = shotCount(c.resolutionIndex, c.link.isMono != 0);
    c.shotsPlaced = 0;
    c.shotsInSeries = shots_;
    c.frameEvent->reset();
    if (!collector_.start([this] { collect(); }, kThreadStackBytes,
                          ThreadPriority::kTimeCritical)) {
        return false;
    }
    c.shotReadyEvent->reset();
    if (!assembler_.start([this] { assemble(); }, kThreadStackBytes, ThreadPriority::kNormal)) {
        stop();
        join();
        return false;
    }
    return true;
}

void MultiShotRun::stop() {
    c_->abortRequested = 1;
    c_->frameEvent->set();
    c_->shotReadyEvent->set();
}

void MultiShotRun::join() {
    collector_.join();
    assembler_.join();
}

void MultiShotRun::freeShots() {
    for (auto& buffer : buffers_) {
        if (uint16_t* shot = buffer.exchange(nullptr)) {
            freeZeroed(shot);
        }
    }
}

void MultiShotRun::collect() {
    CameraContext& c = *c_;
    ServingCamera serving(index_);
    DeviceHandle handle = openSecondHandle(c);
    const uint64_t w = uint64_t(int64_t{c.imageRect.right} - c.imageRect.left);
    const uint64_t h = uint64_t(int64_t{c.imageRect.bottom} - c.imageRect.top);
    const size_t shotBytes = size_t(w * h * 2);
    const uint32_t waitMs = c.exposureTime / 1000 + kShotMarginMs;
    int32_t newest = -1;
    for (uint32_t i = 0; i < shots_ && c.abortRequested == 0; ++i) {
        if (handle != kInvalidDeviceHandle) {
            newest = newestFrameOn(handle, newest);
        }
        if (i == 0) {
            // The first wait also covers the stream's set-up, which follows the threads' start.
            if (!c.frameEvent->wait(waitMs + kShotMarginMs)) {
                timedOut_ = true;
            }
        } else if (int64_t{i} > newest) {
            waitForShot(i, handle, &newest, waitMs);
        }
        // A shot that did not come makes the series fail (30) whatever follows: waiting for the
        // others as well would hold the call for up to a frame time and three seconds a shot.
        if (timedOut_ || c.abortRequested != 0) {
            break;
        }
        if (beforeShotCopy != nullptr) {
            beforeShotCopy(i);
        }
        // The stream's geometry is known once a frame has been seen.
        const size_t frameBytes = frameBytesOf(c);
        const size_t slotBytes = ringSlotBytes(c);
        auto* shot = static_cast<uint16_t*>(allocZeroed(std::max<size_t>(shotBytes, 2)));
        if (shot != nullptr) {
            const auto* ring = static_cast<const uint8_t*>(c.streamBuffer);
            std::memcpy(shot, ring + (i % kRingSlots) * slotBytes, std::min(frameBytes, shotBytes));
        } else {
            // The shot is lost and the image goes without it; the user is told, as for every
            // allocation that fails.
            reportError("(%d)Not enough memory in routine ShotCollectorThread",
                        static_cast<int>(c.cameraIndex));
        }
        // Frame i + 5 refills the slot once frame i + 4 is complete: a copy that finished after
        // that may hold parts of both, and the series fails instead of merging it.
        if (handle != kInvalidDeviceHandle) {
            newest = newestFrameOn(handle, newest);
            if (int64_t{newest} >= int64_t{i} + kRingSlots - 1) {
                timedOut_ = true;
            }
        }
        buffers_[i] = shot;
        collected_ = i + 1;
        c.shotReadyEvent->set();
    }
    if (c.abortRequested == 0) {
        if (handle == kInvalidDeviceHandle) {
            handle = openSecondHandle(c);
        }
        // The series is complete; the receive ends when it is cancelled.
        if (handle != kInvalidDeviceHandle) {
            cancelPendingReceive(c, handle);
        }
    }
    closeSecondHandle(handle);
    collectorDone_ = true;
    c.shotReadyEvent->set();
}

// Waits for shot i within waitMs. The frame event may still be signalled for a shot copied
// without waiting (the event is set once a frame and consumed once a wait), so the driver's
// count is asked again after each wake-up. A receive that ended can bring no more shots.
void MultiShotRun::waitForShot(uint32_t i, DeviceHandle handle, int32_t* newest, uint32_t waitMs) {
    CameraContext& c = *c_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (int64_t{i} > *newest && c.abortRequested == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (c.busy == 0 || left.count() <= 0 || !c.frameEvent->wait(uint32_t(left.count()))) {
            timedOut_ = true;
            return;
        }
        if (handle == kInvalidDeviceHandle) {
            return;  // without the driver's count, a frame event is taken as the shot
        }
        *newest = newestFrameOn(handle, *newest);
    }
}

void MultiShotRun::assemble() {
    CameraContext& c = *c_;
    ServingCamera serving(index_);
    // Shots of one row offset of the grid wait for each other and are placed together, so the
    // output rows they share are read and written once for all of them.
    uint16_t* group[kMaxShots] = {};
    ShotPlacement placements[kMaxShots];
    size_t grouped = 0;
    const auto placeGroup = [&] {
        if (grouped == 0) {
            return;
        }
        {
            SettingsHeld held(c);
            placeShots(recipeOf(c), output_, group, placements, grouped,
                       magnification(c.resolutionIndex), c.imageRect);
        }
        for (size_t k = 0; k < grouped; ++k) {
            freeZeroed(std::exchange(group[k], nullptr));
        }
        placed_ += uint32_t(grouped);
        c.shotsPlaced = placed_.load();
        grouped = 0;
    };
    for (uint32_t s = 0; s < shots_ && c.abortRequested == 0; ++s) {
        while (collected_ <= s && !collectorDone_ && c.abortRequested == 0) {
            c.shotReadyEvent->wait();
        }
        if (collected_ <= s) {
            break;
        }
        uint16_t* shot = buffers_[s].exchange(nullptr);
        if (shot == nullptr) {
            shotLost_ = true;
            continue;
        }
        if (!prepare(shot, s)) {
            freeZeroed(shot);
            ++placed_;
            c.shotsPlaced = placed_.load();
            continue;
        }
        const ShotPlacement p = placementOf(c.resolutionIndex, c.link.isMono != 0, s);
        if (grouped > 0 && placements[0].rowOffset != p.rowOffset) {
            placeGroup();
        }
        group[grouped] = shot;
        placements[grouped++] = p;
    }
    placeGroup();
    freeShots();
}

// Expands and corrects shot s in place; false when it is not to be placed (a calibration
// capture takes its patch from it instead).
bool MultiShotRun::prepare(uint16_t* shot, uint32_t s) {
    CameraContext& c = *c_;
    SettingsHeld held(c);
    const Rect rect = c.imageRect;
    const uint64_t w = uint64_t(int64_t{rect.right} - rect.left);
    const uint64_t h = uint64_t(int64_t{rect.bottom} - rect.top);
    const uint32_t e = c.exposureTime / c.exposureStep;
    const FrameRecipe recipe = recipeOf(c);
    // The shot buffer holds the region's samples; a camera that delivered more is not
    // expanded past it. 8-bit samples are expanded as the single-frame path does.
    if (deliveredArea(c) <= w * h) {
        expandRawFrame(recipe, shot);
    }
    const uint32_t f = magnification(c.resolutionIndex);
    if (c.calibrationCapture != 0) {
        CorrectBlemishes(recipe, shot, rect, 1, e);
        // One 128 x 128 patch of 8-bit values from the sensor's centre, one colour of the mosaic
        // on the colour model.
        const bool mono = c.link.isMono != 0;
        const uint32_t n = mono ? f : 2 * f;
        const uint32_t p = (s / n) * kPatchesPerRow + s % n;
        auto* patches = reinterpret_cast<uint8_t*>(output_);
        if (uint64_t{p + 1} * kPatchBytes > outputBytes_) {
            return false;
        }
        const uint32_t step = mono ? 1 : 2;
        const int64_t top = int64_t{c.sensorHeight} / 2 - (mono ? 64 : 128);
        const int64_t left = int64_t{c.sensorWidth} / 2 - (mono ? 64 : 128) + (mono ? 0 : 1);
        for (uint32_t y = 0; y < kPatchSide; ++y) {
            for (uint32_t x = 0; x < kPatchSide; ++x) {
                const int64_t i = (top + int64_t{y} * step) * c.sensorWidth + left + x * step;
                const bool inside = i >= 0 && uint64_t(i) < w * h;
                patches[p * kPatchBytes + y * kPatchSide + x] =
                    inside ? static_cast<uint8_t>(shot[i] >> 6) : 0;
            }
        }
        return false;
    }
    if (c.blackRefEnabled != 0 || c.whiteRefEnabled != 0) {
        ApplyReferences(recipe, shot, e, rect, 1, c.blackRefEnabled, c.whiteRefEnabled);
    }
    CorrectBlemishes(recipe, shot, rect, 1, e);
    return true;
}

uint32_t finishMultiShot(CameraContext& c, uint16_t* image, const MultiShotRun& run) {
    if (run.timedOut()) {
        return KQFW_STATUS_SHOT_TIMEOUT;
    }
    if (run.shotLost()) {
        return KQFW_STATUS_NO_MEMORY;
    }
    const uint32_t f = magnification(c.resolutionIndex);
    const Rect rect = c.imageRect;
    const int64_t wo = (int64_t{rect.right} - rect.left) * f;
    const int64_t ho = (int64_t{rect.bottom} - rect.top) * f;
    if (c.calibrationCapture != 0 && c.resolutionIndex != kSubsetResolution) {
        return KQFW_STATUS_OK;
    }
    if (c.link.isMono) {
        if (c.fadingCorrection != 0) {
            fadingcorrectionbw(image, f, rect, kFadingMinimumChange, c.fadingGainLimit);
        }
        if (c.sharpenerEnabled != 0) {
            scansharpenbw(image, f, rect, &c.processingPool);
        }
        return KQFW_STATUS_OK;
    }
    if (c.resolutionIndex == kSubsetResolution) {
        fillmosaicgaps(image, rect);
        InterpolateRatio(simdLevel(), 1, static_cast<int32_t>(wo), static_cast<int32_t>(ho), image,
                         &c.processingPool);
        if (c.sharpenerEnabled != 0 && f > 1) {
            scansharpen(image, f, rect, &c.processingPool);
        }
        ApplyColorMatrix(recipeOf(c), image, wo * ho);
        return KQFW_STATUS_OK;
    }
    fillborders(image, f, rect);
    if (c.fadingCorrection != 0) {
        fadingcorrection(image, f, rect, kFadingMinimumChange, c.fadingGainLimit);
    }
    if (c.sharpenerEnabled != 0 && f > 1) {
        scansharpen(image, f, rect, &c.processingPool);
    }
    if (c.multiShotFilter != 0) {
        multishotfilter(image, f, rect, c.multiShotFilter == 2, &c.processingPool);
    }
    ApplyColorMatrix(recipeOf(c), image, wo * ho);
    return KQFW_STATUS_OK;
}

}  // namespace kqfw
