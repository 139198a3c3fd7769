// Black reference blocks and white tables of any content, and blocks of nearly the right size,
// as an application restores them from its own files: a block of the wrong size is refused, one
// of the right size reads back as it was given, and images taken with both references applied,
// at every binning and sample width, stay inside their buffers and compute nothing undefined.
//
// Input: two bytes of choices (camera, block size off by -2..+2 bytes, binning, bits, which
// references apply, the transfer's packing or 8-bit compression), then the samples, repeated
// over the block and the table.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "small_bench.h"

namespace {

using kqfw::fuzz::kSensorHeight;
using kqfw::fuzz::kSensorWidth;
constexpr size_t kBlackBytes = size_t{kSensorHeight + 2} * kSensorWidth * 2;
constexpr size_t kWhiteBytes = size_t{kSensorHeight} * kSensorWidth * 2;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqfw::fuzz::quietLibrary();
    kqfw::fuzz::smallBench();
    return IxenmInit(0) == 0 && IxenmInit(1) == 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint8_t choice = data[0], transfer = data[1];
    data += 1;
    size -= 1;
    const int32_t camera = choice & 1;
    const size_t blockBytes = kBlackBytes + (choice >> 1) % 5 - 2;
    const auto binning = int32_t(1 + transfer % 5);
    std::vector<uint8_t> block(blockBytes), table(kWhiteBytes);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = data[1 + i % (size - 1)];
    }
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = data[1 + (i + 7) % (size - 1)];
    }
    const uint32_t restored = IxenmRestoreBlackRef(camera, block.data(), uint32_t(blockBytes));
    if (restored != (blockBytes == kBlackBytes ? 0u : uint32_t{KQFW_STATUS_BAD_ARGUMENT})) {
        std::abort();
    }
    if (IxenmSetWhiteTable(camera, table.data()) != 0) {
        std::abort();
    }
    std::vector<uint8_t> back(kWhiteBytes);
    if (IxenmGetWhiteTable(camera, back.data()) != 0 || back != table) {
        std::abort();
    }
    if (restored == 0) {
        std::vector<uint8_t> saved(kBlackBytes);
        if (IxenmSaveBlackRef(camera, saved.data(), uint32_t(kBlackBytes)) != 0 || saved != block) {
            std::abort();
        }
    }
    IxenmSetBlackRef(camera, (choice & 0x40) != 0);
    IxenmSetWhiteRef(camera, (choice & 0x80) != 0);
    IxenmSetBinning(camera, binning);
    IxenmSetBitsPerPixel(camera, camera == 0 && (choice & 0x08) != 0 ? 42 : 14);
    IxenmEnablePacking(camera, (transfer & 0x10) != 0);
    IxenmEnable8bitCompression(camera, (transfer & 0x20) != 0);
    std::vector<uint16_t> image(size_t{kSensorWidth} * kSensorHeight * 3);
    // Some combinations of transfer and binning are refused with a status; that is not this
    // target's concern.
    IxenmAcquisition(camera, image.data(), uint32_t(image.size() * 2), nullptr);
    return 0;
}
