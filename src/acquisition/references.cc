#include "acquisition/references.h"

#include <algorithm>
#include <cstring>

#include "camera/geometry.h"
#include "platform/error_report.h"
#include "platform/memory.h"

namespace kqfw {

namespace {

constexpr uint32_t kFullFrameResolution = 2;
constexpr uint32_t kRawBits = 14;
constexpr uint32_t kReferenceStep = 400;
constexpr uint32_t kBlackExposureFactor = 16383;
constexpr int32_t kBrightestBlackMean = 1280;
constexpr int16_t kNoBlackReference = 256;  // a dark level of 128 at twice the sample scale
constexpr uint32_t kWhiteFrames = 4;
constexpr int32_t kHistogramBins = 16384;
constexpr int32_t kPedestal = 128;
constexpr int32_t kSaturatedLevel = 16283;
constexpr int32_t kDarkLevel = 4095;
constexpr int32_t kUnitGain = 4096;
constexpr int32_t kMaxGain = 32767;
// A sample this far above its neighbourhood's mean is a hot pixel, not dark pattern.
constexpr int32_t kOutlierMargin = 6;

// Frees its blocks on every way out of a measurement.
struct Blocks {
    void* a = nullptr;
    void* b = nullptr;
    ~Blocks() {
        freeZeroed(a);
        freeZeroed(b);
    }
};

// The mosaic class of a sensor site: 0 first colour, 1 green, 2 third colour.
int siteClass(uint32_t y, uint32_t x) {
    return (y & 1) == 0 ? ((x & 1) == 0 ? 0 : 1) : ((x & 1) == 0 ? 1 : 2);
}

// The histogram level of one class: walking down from the top bin, the bin below the one at
// which the brightest `threshold` sites are reached, less the pedestal.
int32_t levelOf(const uint32_t* histogram, uint32_t threshold) {
    if (threshold == 0) {
        return kHistogramBins - 1 - kPedestal;
    }
    uint32_t total = 0;
    int32_t bin = kHistogramBins - 1;
    for (; bin > 0; --bin) {
        total += histogram[bin];
        if (total >= threshold) {
            break;
        }
    }
    return bin - 1 - kPedestal;
}

}  // namespace

size_t blackRefEntries(const CameraContext& c) {
    return (size_t{c.sensorHeight} + 2) * c.sensorWidth;
}

size_t whiteRefEntries(const CameraContext& c) {
    return size_t{c.sensorHeight} * c.sensorWidth;
}

bool ensureBlackRefStorage(CameraContext& c) {
    if (c.blackRefImage == nullptr) {
        c.blackRefImage = static_cast<int16_t*>(allocZeroed(blackRefEntries(c) * sizeof(int16_t)));
    }
    return c.blackRefImage != nullptr;
}

bool ensureWhiteRefStorage(CameraContext& c) {
    if (c.whiteRefImage == nullptr) {
        c.whiteRefImage = static_cast<int16_t*>(allocZeroed(whiteRefEntries(c) * sizeof(int16_t)));
    }
    return c.whiteRefImage != nullptr;
}

uint32_t getFullFrame(CameraLease& lease, uint16_t* frame, uint32_t exposureFactor,
                      ProgressKind progress) {
    CameraContext& c = *lease.get();
    const uint32_t exposureStep = c.exposureStep, resolutionIndex = c.resolutionIndex;
    const uint32_t exposureTime = c.exposureTime, bitsPerPixel = c.bitsPerPixel;
    const uint32_t binning = c.binning, packingEnabled = c.packingEnabled;
    const uint32_t compression8Enabled = c.compression8Enabled;
    const uint32_t blackRefEnabled = c.blackRefEnabled, whiteRefEnabled = c.whiteRefEnabled;
    const uint32_t blackRefPresent = c.blackRefPresent;
    const Rect frameRect = c.frameRect;

    c.resolutionIndex = kFullFrameResolution;
    c.binning = 1;
    c.bitsPerPixel = kRawBits;
    c.exposureTime = exposureStep * exposureFactor;
    c.blackRefPresent = 0;
    c.whiteRefEnabled = 0;
    c.blackRefEnabled = 0;
    if (c.busy == 0) {
        setFrame(c, nullptr);
    }
    c.packingEnabled = 0;
    // References are measured from full 14-bit samples, whatever the application transfers.
    c.compression8Enabled = 0;
    c.exposureStep = kReferenceStep;

    const uint32_t status = AcquireImage(lease, frame, c.sensorHeight * c.sensorWidth * 2, progress,
                                         true, AcquireAs::kInsideActivity);

    c.exposureStep = exposureStep;
    c.resolutionIndex = resolutionIndex;
    c.exposureTime = exposureTime;
    c.bitsPerPixel = bitsPerPixel;
    c.binning = binning;
    c.blackRefEnabled = blackRefEnabled;
    c.whiteRefEnabled = whiteRefEnabled;
    c.blackRefPresent = blackRefPresent;
    c.packingEnabled = packingEnabled;
    c.compression8Enabled = compression8Enabled;
    const uint32_t rect[4] = {
        static_cast<uint32_t>(frameRect.left), static_cast<uint32_t>(frameRect.top),
        static_cast<uint32_t>(frameRect.right), static_cast<uint32_t>(frameRect.bottom)};
    setFrame(c, rect);
    if (status != 0) {
        reportError("(%d)getfullframe error %d", static_cast<int>(c.cameraIndex),
                    static_cast<int>(status));
    }
    return status;
}

uint32_t MeasureBlackRef(CameraLease& lease, ProgressKind progress) {
    CameraContext& c = *lease.get();
    if (c.busy != 0) {
        return KQFW_STATUS_BUSY;
    }
    const size_t pixels = whiteRefEntries(c);
    Blocks blocks;
    blocks.a = allocZeroed(blackRefEntries(c) * sizeof(int16_t));
    if (blocks.a == nullptr || !ensureBlackRefStorage(c)) {
        reportError("(%d)Not enough memory in routine IxenCalculateBlackRef",
                    static_cast<int>(c.cameraIndex));
        return KQFW_STATUS_NO_MEMORY;
    }
    auto* samples = static_cast<uint16_t*>(blocks.a);
    const uint32_t blackRefEnabled = c.blackRefEnabled;
    if (getFullFrame(lease, samples, kBlackExposureFactor, progress) != 0) {
        c.blackRefEnabled = blackRefEnabled;
        return KQFW_STATUS_ABORTED;
    }
    double total = 0;
    for (uint32_t y = 0; y < c.sensorHeight; ++y) {
        uint32_t row = 0;
        for (uint32_t x = 0; x < c.sensorWidth; ++x) {
            row += samples[size_t(y) * c.sensorWidth + x];
        }
        total += row;
    }
    const auto mean = static_cast<int32_t>(total / static_cast<double>(pixels));
    if (mean > kBrightestBlackMean) {
        return KQFW_STATUS_BLACK_TOO_BRIGHT;
    }
    auto* frame = static_cast<int16_t*>(blocks.a);
    for (size_t i = 0; i < pixels; ++i) {
        frame[i] = static_cast<int16_t>(samples[i] - mean);
    }
    StoreBlackRef(c, frame);
    return KQFW_STATUS_OK;
}

void StoreBlackRef(CameraContext& c, const int16_t* frame) {
    const auto w = static_cast<int32_t>(c.sensorWidth);
    const auto h = static_cast<int32_t>(c.sensorHeight);
    int16_t* ref = c.blackRefImage;
    // The dark pattern is the local mean without the hot pixels, at twice the sample scale.
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = std::max(0, y - 2), y1 = std::min(h - 1, y + 2);
        for (int32_t x = 0; x < w; ++x) {
            const int32_t x0 = std::max(0, x - 2), x1 = std::min(w - 1, x + 2);
            int32_t sum = 0, count = 0;
            for (int32_t yy = y0; yy <= y1; ++yy) {
                for (int32_t xx = x0; xx <= x1; ++xx) {
                    sum += frame[size_t(yy) * w + xx];
                    ++count;
                }
            }
            const int32_t limit = sum / count + kOutlierMargin;
            for (int32_t yy = y0; yy <= y1; ++yy) {
                for (int32_t xx = x0; xx <= x1; ++xx) {
                    const int32_t v = frame[size_t(yy) * w + xx];
                    if (v > limit) {
                        sum -= v;
                        --count;
                    }
                }
            }
            // The smallest sample never lies above the mean, so count stays at least 1.
            ref[size_t(y) * w + x] = static_cast<int16_t>(count > 0 ? 2 * sum / count : 0);
        }
    }
    // Every row is levelled to the mean row: row offsets are not part of the dark pattern.
    double total = 0;
    for (int32_t y = 0; y < h; ++y) {
        int32_t row = 0;
        for (int32_t x = 0; x < w; ++x) {
            row += ref[size_t(y) * w + x];
        }
        total += row;
    }
    const auto meanRow = static_cast<int32_t>(total / h);
    for (int32_t y = 0; y < h; ++y) {
        int16_t* line = ref + size_t(y) * w;
        int32_t row = 0;
        for (int32_t x = 0; x < w; ++x) {
            row += line[x];
        }
        const int32_t d = (meanRow - row) / w;
        for (int32_t x = 0; x < w; ++x) {
            line[x] = static_cast<int16_t>(line[x] + d);
        }
    }
    // Hot pixels keep their own dark signal.
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        if (frame[i] > ref[i] / 2 + kOutlierMargin) {
            ref[i] = static_cast<int16_t>(2 * frame[i]);
        }
    }
    c.blackRefPresent = 1;
}

uint32_t MeasureWhiteRef(CameraLease& lease, ProgressKind progress) {
    CameraContext& c = *lease.get();
    if (c.busy != 0) {
        return KQFW_STATUS_BUSY;
    }
    auto outOfMemory = [&c] {
        reportError("(%d)Not enough memory in routine IxenCalculateWhiteRef",
                    static_cast<int>(c.cameraIndex));
        return KQFW_STATUS_NO_MEMORY;
    };
    if (c.blackRefPresent == 0) {
        if (!ensureBlackRefStorage(c)) {
            return outOfMemory();
        }
        std::fill_n(c.blackRefImage, blackRefEntries(c), kNoBlackReference);
    }
    const size_t pixels = whiteRefEntries(c);
    Blocks blocks;
    blocks.a = allocZeroed(pixels * sizeof(uint16_t));
    blocks.b = allocZeroed(pixels * sizeof(uint16_t));
    if (blocks.a == nullptr || blocks.b == nullptr || !ensureWhiteRefStorage(c)) {
        return outOfMemory();
    }
    auto* frame = static_cast<uint16_t*>(blocks.a);
    auto* sum = static_cast<uint16_t*>(blocks.b);
    const Progress callback = Progress::of(c, progress);
    // The callback may wait for another thread that asks the camera something: the settings are
    // left while it runs (the measurement's activity still refuses setters and starts).
    auto report = [&](uint32_t frame, int32_t state) {
        lease.leaveSettings();
        const int32_t answer = callback.report(frame, kWhiteFrames, state);
        lease.enterSettings();
        return answer;
    };
    if (report(0, 1) != 0) {
        return KQFW_STATUS_ABORTED;
    }
    for (uint32_t k = 0; k < kWhiteFrames; ++k) {
        // A frame that failed leaves the buffer as it was; the levels judge the sum. A close
        // of the camera meanwhile ends the measurement as an abort, not as a dark field.
        getFullFrame(lease, frame, c.exposureTime / c.exposureStep, ProgressKind::kNone);
        if (c.closeRequested != 0 || report(k, 2) != 0) {
            return KQFW_STATUS_ABORTED;
        }
        for (size_t i = 0; i < pixels; ++i) {
            sum[i] = static_cast<uint16_t>(sum[i] + frame[i]);
        }
    }
    if (uint32_t r = CalculateWhiteRef(c, sum, c.exposureTime / c.exposureStep - 1)) {
        return r;
    }
    c.whiteRefPresent = 1;
    return KQFW_STATUS_OK;
}

uint32_t CalculateWhiteRef(CameraContext& c, const uint16_t* sum, uint32_t e) {
    constexpr size_t kHistogramBytes = 3 * kHistogramBins * sizeof(uint32_t);
    Blocks blocks;
    blocks.a = allocZeroed(kHistogramBytes);
    if (blocks.a == nullptr) {
        reportError("Not enough memory in routine CalculateWhiteRef");
        return KQFW_STATUS_NO_MEMORY;
    }
    auto* histograms = static_cast<uint32_t*>(blocks.a);
    const uint32_t w = c.sensorWidth, h = c.sensorHeight;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t bin = sum[size_t(y) * w + x] >> 2;
            ++histograms[siteClass(y, x) * kHistogramBins + bin];
        }
    }
    const uint32_t sites = h * w;
    const uint32_t thresholds[3] = {sites / 200, sites / 100, sites / 200};
    int32_t levels[3];
    for (int k = 0; k < 3; ++k) {
        levels[k] = levelOf(histograms + k * kHistogramBins, thresholds[k]);
    }
    if (std::max({levels[0], levels[1], levels[2]}) > kSaturatedLevel) {
        return KQFW_STATUS_WHITE_TOO_BRIGHT;
    }
    if (std::max({levels[0], levels[1], levels[2]}) < kDarkLevel) {
        return KQFW_STATUS_WHITE_TOO_DARK;
    }
    // The black product is 32-bit signed arithmetic that wraps, as the camera's own did.
    const auto halfE = static_cast<int32_t>(e / 2);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const auto dark = static_cast<int32_t>(static_cast<uint32_t>(c.blackRefImage[i]) *
                                                   static_cast<uint32_t>(halfE));
            const int32_t d = (sum[i] >> 2) - (dark >> 14);
            const int32_t level = levels[siteClass(y, x)];
            c.whiteRefImage[i] = static_cast<int16_t>(
                d > kPedestal ? std::min(level * kUnitGain / (d - kPedestal), kMaxGain)
                              : kUnitGain);
        }
    }
    return KQFW_STATUS_OK;
}

}  // namespace kqfw
