// Writing new firmware into a camera's flash and starting it.
#include "camera/firmware_text.h"

#include <algorithm>
#include <climits>
#include <memory>

#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint32_t kFirmwareAddress = 0;
constexpr uint32_t kStartFirmware = 0x40000000;
constexpr uint32_t kSettleAfterWriteMs = 500;
constexpr uint32_t kSettleAfterStartMs = 2000;

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode IxenmWriteFirmware(int32_t index, const uint8_t* text, int32_t length) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (length < 0 || (text == nullptr && length > 0)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    // The work buffer comes first, as large as the CRs could make it; the text is checked after.
    const size_t crs = static_cast<size_t>(std::count(text, text + length, kCr));
    const size_t capacity = (crs + kFlashBlockBytes - 1) / kFlashBlockBytes * kFlashBlockBytes;
    std::unique_ptr<uint8_t, decltype(&freeZeroed)> image(
        static_cast<uint8_t*>(allocZeroed(std::max<size_t>(capacity, 1))), &freeZeroed);
    if (!image) {
        return KQFW_STATUS_NO_MEMORY;
    }
    size_t imageBytes = 0;
    if (uint32_t result = measureFirmwareText(text, length, &imageBytes)) {
        return result;
    }
    parseFirmwareText(text, length, image.get(), imageBytes);
    // A text without a whole line makes no byte; the flash write still unlocks and locks the
    // vendor registers around its (no) blocks, and the firmware still starts.
    const uint32_t written =
        writeFlash(c->link, kFirmwareAddress, static_cast<uint32_t>(imageBytes), image.get());
    image.reset();
    if (written != 0) {
        return KQFW_STATUS_WRITE_FAILED;
    }
    settleMs(kSettleAfterWriteMs);
    if (unlockAdvancedRegisters(c->link) != 0) {
        return KQFW_STATUS_WRITE_FAILED;
    }
    const uint32_t error =
        writeQuadlet(c->link, c->link.advancedBase + kAdvFirmwareStart, kStartFirmware);
    settleMs(kSettleAfterStartMs);
    return error != 0 ? KQFW_STATUS_WRITE_FAILED : KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenWriteFirmware(const uint8_t* text, uint32_t length) {
    // An absent or busy camera is reported before the length, as by the indexed form.
    if (auto [c, status] = idleCameraFor(0); c == nullptr) {
        return status;
    }
    if (length > static_cast<uint32_t>(INT32_MAX)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    return IxenmWriteFirmware(0, text, static_cast<int32_t>(length));
}

}  // extern "C"
