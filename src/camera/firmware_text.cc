#include "camera/firmware_text.h"

#include <algorithm>
#include <climits>

#include "kqfw/kqfw.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kLf = 0x0A;
constexpr uint32_t kErasedByte = 0xFF;

}  // namespace

uint32_t measureFirmwareText(const uint8_t* text, int32_t length, size_t* imageBytes) {
    // Lines are counted rather than estimated from the length, so short lines cannot overrun
    // the image, and every comment must end at a CR before any byte is formed.
    size_t lines = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (text[i] == ' ') {
            while (i < length && text[i] != kCr) {
                ++i;
            }
            if (i == length) {
                return KQFW_STATUS_BAD_ARGUMENT;
            }
        }
        if (text[i] == kCr) {
            if (i + 1 >= length || text[i + 1] != kLf) {
                return KQFW_STATUS_BAD_ARGUMENT;
            }
            ++lines;
        }
    }
    *imageBytes = (lines + kFlashBlockBytes - 1) / kFlashBlockBytes * kFlashBlockBytes;
    return 0;
}

void parseFirmwareText(const uint8_t* text, int32_t length, uint8_t* image, size_t imageBytes) {
    uint32_t a = 0;
    size_t n = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (text[i] == ' ') {
            while (text[i] != kCr) {
                ++i;
            }
        }
        if (text[i] == kCr && n < imageBytes) {
            image[n++] = static_cast<uint8_t>(a);
            a = 0;
        }
        a = (a * 2) & 0xFF;
        if (text[i] == '1') {
            a |= 1;
        }
    }
    for (; n < imageBytes; ++n) {
        image[n] = kErasedByte;
    }
}

}  // namespace kqfw
