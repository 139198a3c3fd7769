// Firmware files of any content: a text is refused (8) with the flash untouched, or written and
// the flash then holds exactly the bytes its lines make, erased to the end of the last block;
// measuring and parsing stay inside the text and the image (AddressSanitizer checks).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "camera/firmware_text.h"
#include "small_bench.h"

namespace {

// The firmware area the bench keeps (larger texts would only repeat the same path).
constexpr size_t kMaxImageBytes = 0x4000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqfw::fuzz::quietLibrary();
    kqfw::fuzz::smallBench();
    return IxenmInit(0) == 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text in a buffer of its own size, so a read past its end is caught.
    std::vector<uint8_t> text(data, data + size);
    const auto length = static_cast<int32_t>(size);
    size_t imageBytes = 0;
    const uint32_t measured = kqfw::measureFirmwareText(text.data(), length, &imageBytes);
    if (measured != 0) {
        if (measured != KQFW_STATUS_BAD_ARGUMENT) {
            std::abort();
        }
    } else if (imageBytes % 128 != 0 || imageBytes > size_t(size) / 2 + 128) {
        std::abort();  // every byte takes a CR LF line
    }
    std::vector<uint8_t> image(imageBytes);
    if (measured == 0) {
        kqfw::parseFirmwareText(text.data(), length, image.data(), image.size());
    }
    if (imageBytes > kMaxImageBytes) {
        return 0;
    }
    std::vector<uint8_t> before(kMaxImageBytes), after(kMaxImageBytes);
    kqsimReadFlash(0, 0, before.data(), kMaxImageBytes);
    const uint32_t written = IxenmWriteFirmware(0, text.empty() ? nullptr : text.data(), length);
    kqsimReadFlash(0, 0, after.data(), kMaxImageBytes);
    if (written != measured && !(text.empty() && written == KQFW_STATUS_BAD_ARGUMENT)) {
        std::abort();
    }
    if (written != 0) {
        if (after != before) {
            std::abort();  // a refused text must leave the flash alone
        }
        return 0;
    }
    for (size_t i = 0; i < imageBytes; ++i) {
        if (after[i] != image[i]) {
            std::abort();
        }
    }
    return 0;
}
