// The calibration block: the camera's shift tables as the library holds them (in the flash
// record), kept in files and restored from the camera's factory copy.
#include <cstdio>
#include <cstring>

#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "processing/multishot_merge.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kBlockBytes = 256;
constexpr uint32_t kBlockRecordOffset = 256;  // within flashImage
constexpr uint32_t kBlockFlashAddress = kFlashRecordAddress + kBlockRecordOffset;
constexpr uint32_t kSubsetTable = 20;   // 9 entries: mono index 5, colour index 6
constexpr uint32_t kColourIndex5 = 84;  // 36 entries
constexpr uint32_t kEntryBytes = 2;

uint8_t* heldBlock(CameraContext& c) {
    return c.flashImage + kBlockRecordOffset;
}

uint32_t writeBlock(CameraContext& c) {
    return writeFlash(c.link, kBlockFlashAddress, kBlockBytes, heldBlock(c));
}

uint32_t save(CameraContext& c, const char* path) {
    std::FILE* file = path != nullptr ? std::fopen(path, "wb") : nullptr;
    if (file == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const bool written = std::fwrite(heldBlock(c), 1, kBlockBytes, file) == kBlockBytes;
    // A close that fails has not put the bytes on disk either.
    const bool closed = std::fclose(file) == 0;
    return written && closed ? KQFW_STATUS_OK : KQFW_STATUS_WRITE_FAILED;
}

// The held block is replaced only by a whole block: a file shorter than one (or unreadable)
// leaves the block and the flash as they were.
uint32_t load(CameraContext& c, const char* path) {
    std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    uint8_t read[kBlockBytes];
    const size_t got = std::fread(read, 1, kBlockBytes, file);
    std::fclose(file);
    if (got != kBlockBytes) {
        return KQFW_STATUS_READ_FAILED;
    }
    std::memcpy(heldBlock(c), read, kBlockBytes);
    return writeBlock(c);
}

uint32_t reset(CameraContext& c) {
    uint8_t* block = heldBlock(c);
    bool subsetEmpty = true;
    for (uint32_t i = 0; i < 9 * kEntryBytes; ++i) {
        subsetEmpty = subsetEmpty && block[kSubsetTable + i] == 0;
    }
    for (uint32_t half = 0; half < kBlockBytes; half += kFlashBlockBytes) {
        const uint32_t offset = kBlockRecordOffset + half;
        if (uint32_t status =
                readFlashBlock(c.link, offset, c.flashImage + offset, kFlashAltReadCommand)) {
            return status;
        }
    }
    // A colour camera whose index-6 table was empty gets it from the index-5 table's positions.
    if (!c.link.isMono && subsetEmpty) {
        for (uint32_t k = 0; k < 9; ++k) {
            std::memcpy(block + kSubsetTable + kEntryBytes * k,
                        block + kColourIndex5 + kEntryBytes * kPositionSubset[k], kEntryBytes);
        }
    }
    return writeBlock(c);
}

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode IxenmSaveCalibration(int32_t camera, const char* path) {
    auto [c, status] = idleCameraFor(camera);
    return c == nullptr ? status : save(*c, path);
}

KQFW_API StatusCode IxenSaveCalibration(const char* path) {
    return IxenmSaveCalibration(0, path);
}

KQFW_API StatusCode IxenmLoadCalibration(int32_t camera, const char* path) {
    auto [c, status] = idleCameraFor(camera);
    return c == nullptr ? status : load(*c, path);
}

KQFW_API StatusCode IxenLoadCalibration(const char* path) {
    return IxenmLoadCalibration(0, path);
}

KQFW_API StatusCode IxenmResetCalibration(int32_t camera) {
    auto [c, status] = idleCameraFor(camera);
    return c == nullptr ? status : reset(*c);
}

KQFW_API StatusCode IxenResetCalibration(void) {
    return IxenmResetCalibration(0);
}

}  // extern "C"
