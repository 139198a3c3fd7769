#include "acquisition/ip_context.h"

#include <cstring>
#include <mutex>
#include <utility>

#include "acquisition/references.h"
#include "acquisition/sample_expansion.h"
#include "camera/camera_table.h"
#include "camera/settings_rules.h"
#include "kqfw/kqfw.h"
#include "platform/memory.h"

namespace kqfw {

namespace {

constexpr char kName32[] = "kqfw.dll";
constexpr char kName64[] = "kqfw64.dll";
constexpr uint32_t kColourBits = 42;

void put(uint8_t* block, size_t at, const void* data, size_t bytes) {
    std::memcpy(block + at, data, bytes);
}

void put32(uint8_t* block, size_t at, uint32_t value) {
    put(block, at, &value, sizeof value);
}

void putRect(uint8_t* block, size_t at, const Rect& r) {
    const int32_t v[4] = {r.left, r.top, r.right, r.bottom};
    put(block, at, v, sizeof v);
}

void get(const uint8_t* block, size_t at, void* data, size_t bytes) {
    std::memcpy(data, block + at, bytes);
}

uint32_t get32(const uint8_t* block, size_t at) {
    uint32_t value;
    get(block, at, &value, sizeof value);
    return value;
}

Rect getRect(const uint8_t* block, size_t at) {
    int32_t v[4];
    get(block, at, v, sizeof v);
    return {v[0], v[1], v[2], v[3]};
}

// A reference area holds the camera's reference and zeros after it, never stale bytes.
void putArea(uint8_t* block, size_t at, size_t areaBytes, const int16_t* data, size_t bytes) {
    if (data != nullptr) {
        put(block, at, data, bytes);
    } else {
        std::memset(block + at, 0, bytes);
    }
    std::memset(block + at + bytes, 0, areaBytes - bytes);
}

// The pixels of the image the settings produce at resolutions 0 to 2 (each edge divided by the
// binning, as the image size is computed).
int64_t outputPixels(const Rect& r, int64_t b) {
    return (int64_t{r.bottom} / b - r.top / b) * (int64_t{r.right} / b - r.left / b);
}

}  // namespace

namespace {

// Whether the reference areas hold a sensor's references: the black one has two rows more.
bool referencesFit(uint64_t width, uint64_t height) {
    return (height + 2) * width * sizeof(int16_t) <= ip::kBlackRefBytes &&
           height * width * sizeof(int16_t) <= ip::kWhiteRefBytes;
}

}  // namespace

bool fitsIpContext(const CameraContext& c) {
    return referencesFit(c.sensorWidth, c.sensorHeight);
}

void fillIpContext(const CameraContext& c, uint8_t* block) {
    put32(block, ip::kVersionAt, ip::kVersion);
    std::memset(block + ip::kName32At, 0, 2 * ip::kNameBytes);
    put(block, ip::kName32At, kName32, sizeof kName32);
    put(block, ip::kName64At, kName64, sizeof kName64);
    put32(block, ip::kBytesPerPacketAt, c.streamBytesPerPacket);
    put32(block, ip::kPacketsPerFrameAt, c.streamPacketsPerFrame);
    putRect(block, ip::kDeliveredRectAt, c.deliveredRect);
    put(block, ip::kBlemishCountAt, &c.blemishCount, sizeof c.blemishCount);
    put(block, ip::kMarkedPixelCountAt, &c.markedPixelCount, sizeof c.markedPixelCount);
    put(block, ip::kBlemishPositionsAt, c.blemishPositions, sizeof c.blemishPositions);
    put(block, ip::kMarkedPixelPositionsAt, c.markedPixelPositions, sizeof c.markedPixelPositions);
    put(block, ip::kMarkedPixelCodesAt, c.markedPixelCodes, sizeof c.markedPixelCodes);
    put32(block, ip::kFlashValidAt, c.flashValid);
    put32(block, ip::kSensorWidthAt, c.sensorWidth);
    put32(block, ip::kSensorHeightAt, c.sensorHeight);
    put(block, ip::kWhiteLutsAt, c.whiteLuts, sizeof c.whiteLuts);
    if (c.colorProcessingEnabled != 0) {
        put(block, ip::kMatrixTablesAt, c.matrixTables, sizeof c.matrixTables);
        put(block, ip::kClampTableAt, c.clampTable, sizeof c.clampTable);
    }
    put(block, ip::kExpand8TableAt, c.expand8Table, sizeof c.expand8Table);
    put32(block, ip::kPackingCapableAt, c.format7Modes[0].packingCapable);
    put32(block, ip::kPackingEnabledAt, c.packingEnabled);
    put32(block, ip::kCompression8EnabledAt, c.compression8Enabled);
    put32(block, ip::kIsMonoAt, c.link.isMono);
    put32(block, ip::kCompressionCapableAt, c.format7Modes[0].compressionCapable);
    if (c.blackRefPresent != 0) {
        putArea(block, ip::kBlackRefAt, ip::kBlackRefBytes, c.blackRefImage,
                blackRefEntries(c) * sizeof(int16_t));
    }
    if (c.whiteRefEnabled != 0) {
        putArea(block, ip::kWhiteRefAt, ip::kWhiteRefBytes, c.whiteRefImage,
                whiteRefEntries(c) * sizeof(int16_t));
    }
    put32(block, ip::kResolutionIndexAt, c.resolutionIndex);
    put32(block, ip::kBitsPerPixelAt, c.bitsPerPixel);
    put32(block, ip::kBinningAt, c.binning);
    put32(block, ip::kExposureTimeAt, c.exposureTime);
    putRect(block, ip::kImageRectAt, c.imageRect);
    put32(block, ip::kBlackRefEnabledAt, c.blackRefEnabled);
    put32(block, ip::kWhiteRefEnabledAt, c.whiteRefEnabled);
    put32(block, ip::kColorProcessingEnabledAt, c.colorProcessingEnabled);
    put32(block, ip::kBlackRefPresentAt, c.blackRefPresent);
    put32(block, ip::kExposureStepAt, c.exposureStep);
    put(block, ip::kWhiteGainsHintAt, c.whiteGains, sizeof c.whiteGains);
    put(block, ip::kColorMatrixHintAt, c.colorMatrix, sizeof c.colorMatrix);
}

uint32_t mapIpContext(const uint8_t* block, FrameRecipe& r, uint64_t* frameBytes) {
    const auto u16 = [block](size_t at) { return reinterpret_cast<const uint16_t*>(block + at); };
    const auto flag = [block](size_t at) { return get32(block, at) != 0; };
    *frameBytes =
        uint64_t{get32(block, ip::kBytesPerPacketAt)} * get32(block, ip::kPacketsPerFrameAt);
    r.deliveredRect = getRect(block, ip::kDeliveredRectAt);
    int32_t listed;
    get(block, ip::kBlemishCountAt, &listed, sizeof listed);
    r.blemishCount = listed;
    r.blemishPositions = reinterpret_cast<const uint32_t*>(block + ip::kBlemishPositionsAt);
    r.blemishCorrection = blemishCorrectionEnabled != 0;
    r.flashValid = flag(ip::kFlashValidAt);
    r.sensorWidth = get32(block, ip::kSensorWidthAt);
    r.sensorHeight = get32(block, ip::kSensorHeightAt);
    for (int k = 0; k < 3; ++k) {
        r.whiteLuts[k] = u16(ip::kWhiteLutsAt + k * kLutEntries * sizeof(uint16_t));
    }
    r.expand8Table = u16(ip::kExpand8TableAt);
    const bool packingCapable = flag(ip::kPackingCapableAt);
    const bool compressionCapable = flag(ip::kCompressionCapableAt);
    const bool compression8 = flag(ip::kCompression8EnabledAt);
    r.compressed8 = compressionCapable && compression8;
    r.packed12 = packingCapable && flag(ip::kPackingEnabledAt) && !r.compressed8;
    r.isMono = flag(ip::kIsMonoAt);
    r.resolutionIndex = get32(block, ip::kResolutionIndexAt);
    r.bitsPerPixel = get32(block, ip::kBitsPerPixelAt);
    r.binning = get32(block, ip::kBinningAt);
    const uint32_t exposureTime = get32(block, ip::kExposureTimeAt);
    const uint32_t exposureStep = get32(block, ip::kExposureStepAt);
    r.imageRect = getRect(block, ip::kImageRectAt);
    r.blackRefEnabled = flag(ip::kBlackRefEnabledAt);
    r.whiteRefEnabled = flag(ip::kWhiteRefEnabledAt);
    r.colorProcessingEnabled = flag(ip::kColorProcessingEnabledAt);
    r.blackRefPresent = flag(ip::kBlackRefPresentAt);

    // What the processing indexes by must lie within the blocks it indexes.
    const uint64_t sensorPixels = uint64_t{r.sensorWidth} * r.sensorHeight;
    if (r.sensorWidth == 0 || r.sensorHeight == 0 ||
        !referencesFit(r.sensorWidth, r.sensorHeight) || listed < 0 || listed > kMaxBlemishes ||
        get32(block, ip::kMarkedPixelCountAt) > uint32_t(kMaxBlemishes) || exposureStep == 0 ||
        r.deliveredRect.left < 0 || r.deliveredRect.top < 0 ||
        deliveredArea(r.deliveredRect) > sensorPixels) {
        return KQFW_STATUS_WRONG_CONTEXT_VERSION;
    }
    r.exposureUnits = exposureTime / exposureStep;
    // The colour matrix runs over the delivered pixels; more than the image has would write
    // past the application's buffer.
    if (r.bitsPerPixel == kColourBits && r.binning >= 1 &&
        static_cast<int64_t>(deliveredArea(r.deliveredRect) / r.binning) >
            outputPixels(r.imageRect, r.binning)) {
        return KQFW_STATUS_WRONG_CONTEXT_VERSION;
    }
    if (r.colorProcessingEnabled) {
        for (int t = 0; t < 9; ++t) {
            r.matrixTables[t] = u16(ip::kMatrixTablesAt + t * kLutEntries * sizeof(uint16_t));
        }
        r.clampTable = u16(ip::kClampTableAt);
        r.colorMatrix = reinterpret_cast<const double(*)[3]>(block + ip::kColorMatrixHintAt);
    }
    r.whiteGains = reinterpret_cast<const double*>(block + ip::kWhiteGainsHintAt);
    r.blackRefImage =
        r.blackRefPresent ? reinterpret_cast<const int16_t*>(block + ip::kBlackRefAt) : nullptr;
    r.whiteRefImage =
        r.whiteRefEnabled ? reinterpret_cast<const int16_t*>(block + ip::kWhiteRefAt) : nullptr;
    return KQFW_STATUS_OK;
}

namespace {

constexpr size_t kKeptWorkFrames = 4;

struct WorkFrame {
    uint16_t* frame;
    size_t bytes;
};
std::mutex workFramesMutex;
WorkFrame keptWorkFrames[kKeptWorkFrames];  // guarded by workFramesMutex

}  // namespace

uint16_t* borrowWorkFrame(size_t bytes) {
    {
        std::lock_guard lock(workFramesMutex);
        for (WorkFrame& kept : keptWorkFrames) {
            if (kept.frame != nullptr && kept.bytes == bytes) {
                return std::exchange(kept.frame, nullptr);
            }
        }
    }
    return static_cast<uint16_t*>(allocZeroed(bytes));
}

void returnWorkFrame(uint16_t* frame, size_t bytes) {
    if (frame == nullptr) {
        return;
    }
    {
        std::lock_guard lock(workFramesMutex);
        for (WorkFrame& kept : keptWorkFrames) {
            if (kept.frame == nullptr) {
                kept = {frame, bytes};
                return;
            }
        }
    }
    freeZeroed(frame);
}

}  // namespace kqfw
