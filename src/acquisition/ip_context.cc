#include "acquisition/ip_context.h"

#include <cstring>

#include "acquisition/references.h"
#include "acquisition/sample_expansion.h"
#include "kqfw/kqfw.h"

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
int64_t outputPixels(const CameraContext& c) {
    const Rect& r = c.imageRect;
    const int64_t b = c.binning;
    return (int64_t{r.bottom} / b - r.top / b) * (int64_t{r.right} / b - r.left / b);
}

}  // namespace

bool fitsIpContext(const CameraContext& c) {
    return blackRefEntries(c) * sizeof(int16_t) <= ip::kBlackRefBytes &&
           whiteRefEntries(c) * sizeof(int16_t) <= ip::kWhiteRefBytes;
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
}

uint32_t restoreFromIpContext(const uint8_t* block, CameraContext& c) {
    c.streamBytesPerPacket = get32(block, ip::kBytesPerPacketAt);
    c.streamPacketsPerFrame = get32(block, ip::kPacketsPerFrameAt);
    c.deliveredRect = getRect(block, ip::kDeliveredRectAt);
    get(block, ip::kBlemishCountAt, &c.blemishCount, sizeof c.blemishCount);
    get(block, ip::kMarkedPixelCountAt, &c.markedPixelCount, sizeof c.markedPixelCount);
    get(block, ip::kBlemishPositionsAt, c.blemishPositions, sizeof c.blemishPositions);
    get(block, ip::kMarkedPixelPositionsAt, c.markedPixelPositions, sizeof c.markedPixelPositions);
    get(block, ip::kMarkedPixelCodesAt, c.markedPixelCodes, sizeof c.markedPixelCodes);
    c.flashValid = get32(block, ip::kFlashValidAt);
    c.sensorWidth = get32(block, ip::kSensorWidthAt);
    c.sensorHeight = get32(block, ip::kSensorHeightAt);
    c.sensorPitch = c.sensorWidth;
    c.sensorPitchPlusOne = c.sensorWidth + 1;
    get(block, ip::kWhiteLutsAt, c.whiteLuts, sizeof c.whiteLuts);
    get(block, ip::kExpand8TableAt, c.expand8Table, sizeof c.expand8Table);
    c.format7Modes[0].packingCapable = get32(block, ip::kPackingCapableAt);
    c.packingEnabled = get32(block, ip::kPackingEnabledAt);
    c.compression8Enabled = get32(block, ip::kCompression8EnabledAt);
    c.link.isMono = get32(block, ip::kIsMonoAt);
    c.format7Modes[0].compressionCapable = get32(block, ip::kCompressionCapableAt);
    c.resolutionIndex = get32(block, ip::kResolutionIndexAt);
    c.bitsPerPixel = get32(block, ip::kBitsPerPixelAt);
    c.binning = get32(block, ip::kBinningAt);
    c.exposureTime = get32(block, ip::kExposureTimeAt);
    c.imageRect = getRect(block, ip::kImageRectAt);
    c.blackRefEnabled = get32(block, ip::kBlackRefEnabledAt);
    c.whiteRefEnabled = get32(block, ip::kWhiteRefEnabledAt);
    c.colorProcessingEnabled = get32(block, ip::kColorProcessingEnabledAt);
    c.blackRefPresent = get32(block, ip::kBlackRefPresentAt);
    c.exposureStep = get32(block, ip::kExposureStepAt);

    // What the processing indexes by must lie within the blocks it indexes.
    const uint64_t sensorPixels = uint64_t{c.sensorWidth} * c.sensorHeight;
    if (c.sensorWidth == 0 || c.sensorHeight == 0 || !fitsIpContext(c) || c.blemishCount < 0 ||
        c.blemishCount > kMaxBlemishes || c.markedPixelCount < 0 ||
        c.markedPixelCount > kMaxBlemishes || c.exposureStep == 0 || c.deliveredRect.left < 0 ||
        c.deliveredRect.top < 0 || deliveredArea(c) > sensorPixels) {
        return KQFW_STATUS_WRONG_CONTEXT_VERSION;
    }
    // The colour matrix runs over the delivered pixels; more than the image has would write
    // past the application's buffer.
    if (c.bitsPerPixel == kColourBits && c.binning >= 1 &&
        static_cast<int64_t>(deliveredArea(c) / c.binning) > outputPixels(c)) {
        return KQFW_STATUS_WRONG_CONTEXT_VERSION;
    }

    if (c.colorProcessingEnabled != 0) {
        get(block, ip::kMatrixTablesAt, c.matrixTables, sizeof c.matrixTables);
        get(block, ip::kClampTableAt, c.clampTable, sizeof c.clampTable);
    }
    if (c.blackRefPresent != 0) {
        if (!ensureBlackRefStorage(c)) {
            return KQFW_STATUS_NO_MEMORY;
        }
        get(block, ip::kBlackRefAt, c.blackRefImage, blackRefEntries(c) * sizeof(int16_t));
    }
    if (c.whiteRefEnabled != 0) {
        if (!ensureWhiteRefStorage(c)) {
            return KQFW_STATUS_NO_MEMORY;
        }
        get(block, ip::kWhiteRefAt, c.whiteRefImage, whiteRefEntries(c) * sizeof(int16_t));
    }
    return KQFW_STATUS_OK;
}

}  // namespace kqfw
