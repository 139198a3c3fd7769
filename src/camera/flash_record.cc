#include "camera/flash_record.h"

#include <cstring>

#include "transport/async_request.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kRecordFirstBlocks = 8;
constexpr uint32_t kIdWordOffset = 144;
constexpr uint32_t kBlemishCountOffset = 512;
constexpr uint32_t kMarkedCountOffset = 516;
constexpr uint32_t kListsOffset = 524;
constexpr uint32_t kRecordMargin = 4;
// Positions index a 1388 x 1040 sensor.
constexpr uint32_t kPositionLimit = 1443520;

uint32_t readBlocks(CameraContext& context, uint32_t first, uint32_t last) {
    for (uint32_t block = first; block < last; ++block) {
        const uint32_t offset = block * kFlashBlockBytes;
        if (uint32_t status = readFlashBlock(context.link, offset, context.flashImage + offset,
                                             kFlashReadCommand)) {
            return status;
        }
    }
    return 0;
}

uint32_t inconsistent(CameraContext& context) {
    context.flashValid = 0;
    return KQFW_STATUS_FLASH_INCONSISTENT;
}

}  // namespace

uint32_t readFlashRecord(CameraContext& context) {
    std::memset(context.flashImage, 0, sizeof context.flashImage);
    if (uint32_t status = readBlocks(context, 0, kRecordFirstBlocks)) {
        return status;
    }
    const uint8_t* image = context.flashImage;
    const uint32_t a = loadBe32(image + kBlemishCountOffset);
    const uint32_t b = loadBe32(image + kMarkedCountOffset);
    if (a >= kMaxBlemishes || b >= kMaxBlemishes) {
        return inconsistent(context);
    }
    const uint32_t length = kListsOffset + 6 * a + 4 * b;
    if (length + kRecordMargin > kFlashImageBytes) {
        return KQFW_STATUS_FLASH_INCONSISTENT;
    }
    const uint32_t blocks = (length + kFlashBlockBytes - 1) / kFlashBlockBytes;
    if (uint32_t status = readBlocks(context, kRecordFirstBlocks, blocks)) {
        return status;
    }
    context.blemishCount = static_cast<int32_t>(a);
    context.markedPixelCount = static_cast<int32_t>(b);
    for (uint32_t i = 0; i < a; ++i) {
        const uint32_t position = loadBe32(image + kListsOffset + 4 * i);
        if (position >= kPositionLimit) {
            return inconsistent(context);
        }
        context.blemishPositions[i] = position;
    }
    for (uint32_t j = 0; j < b; ++j) {
        const uint8_t* e = image + kListsOffset + 6 * a + 4 * j;
        const uint32_t position = (uint32_t{e[1]} << 16) | (uint32_t{e[2]} << 8) | e[3];
        if (position >= kPositionLimit) {
            return inconsistent(context);
        }
        context.markedPixelPositions[j] = position;
        context.markedPixelCodes[j] = e[0];
    }
    context.flashValid = 1;
    return 0;
}

// The identification word sits in the record's first block.
uint32_t flashIdWordOf(const CameraContext& context) {
    return loadBe32(context.flashImage + kIdWordOffset);
}

}  // namespace kqfw
