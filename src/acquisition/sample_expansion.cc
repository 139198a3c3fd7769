#include "acquisition/sample_expansion.h"

#include <algorithm>
#include <cstring>

#include "camera/settings_rules.h"

namespace kqfw {

namespace {

// Frames the 8-bit coding delivers this wide or wider end each row in a sample the camera
// does not fill; the nearest one of the same colour stands in.
constexpr int32_t kLastColumnRepairWidth = 660;

void expandSamples(SimdLevel level, const FrameRecipe& c, const uint8_t* bytes, uint16_t* image,
                   uint64_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (level >= SimdLevel::kAvx2) {
        expand8BitAvx2(bytes, image, n, c.expand8Table);
        return;
    }
#endif
    for (uint64_t i = n; i-- > 0;) {
        image[i] = c.expand8Table[bytes[i]];
    }
}

}  // namespace

void expandRawFrame(const FrameRecipe& c, uint16_t* raw) {
    if (c.compressed8) {
        Expand8Bit(c, raw);
    } else if (c.packed12) {
        UnpackPacked12(c, raw);
    }
}

void UnpackPacked12(const FrameRecipe& c, uint16_t* image) {
    UnpackPacked12(simdLevel(), c, image);
}

void UnpackPacked12(SimdLevel level, const FrameRecipe& c, uint16_t* image) {
    UnpackPacked12(level, c, reinterpret_cast<const uint8_t*>(image), image);
}

void UnpackPacked12(SimdLevel level, const FrameRecipe& c, const uint8_t* bytes, uint16_t* image) {
    const uint64_t pairs = deliveredArea(c.deliveredRect) / 2;
#if defined(__x86_64__) && defined(__GNUC__)
    if (level >= SimdLevel::kAvx2) {
        unpackPacked12Avx2(bytes, image, pairs);
        return;
    }
#endif
    for (uint64_t j = pairs; j-- > 0;) {
        const uint8_t b0 = bytes[3 * j], b1 = bytes[3 * j + 1], b2 = bytes[3 * j + 2];
        image[2 * j] = static_cast<uint16_t>((((b0 << 4) + (b2 >> 4)) * 4) + 3);
        image[2 * j + 1] = static_cast<uint16_t>((((b1 << 4) + (b2 & 15)) * 4) + 3);
    }
}

void Expand8Bit(const FrameRecipe& c, uint16_t* image) {
    Expand8Bit(simdLevel(), c, image);
}

void Expand8Bit(SimdLevel level, const FrameRecipe& c, uint16_t* image) {
    Expand8Bit(level, c, reinterpret_cast<const uint8_t*>(image), image);
}

void Expand8Bit(SimdLevel level, const FrameRecipe& c, const uint8_t* from, uint16_t* image) {
    const uint64_t n = deliveredArea(c.deliveredRect);
    expandSamples(level, c, from, image, n);
    const Rect& r = c.deliveredRect;
    const int64_t width = int64_t{r.right} - r.left;
    const int64_t back = c.isMono ? 1 : 2;
    if (r.right < kLastColumnRepairWidth || width <= back) {
        return;
    }
    for (uint64_t row = 0; row < n / uint64_t(width); ++row) {
        uint16_t* last = image + (row + 1) * width - 1;
        *last = *(last - back);
    }
}

void expandIntoWorkFrame(const FrameRecipe& c, const uint8_t* frame, uint64_t frameBytes,
                         uint16_t* work, uint64_t workBytes) {
    auto* bytes = reinterpret_cast<uint8_t*>(work);
    const uint64_t copied = std::min(workBytes, frameBytes);
    const uint64_t n = deliveredArea(c.deliveredRect);
    // The coded bytes the expansion reads, the samples it writes (bytes), and the 4 bytes the
    // vector forms may read beyond: the frame must hold them all to be read in place.
    const uint64_t coded = c.compressed8 ? n : c.packed12 ? n / 2 * 3 : 0;
    const uint64_t written = c.compressed8 ? 2 * n : c.packed12 ? n / 2 * 4 : 0;
    if (coded == 0 || coded + 4 > copied || written > workBytes) {
        std::memcpy(bytes, frame, copied);
        std::memset(bytes + copied, 0, workBytes - copied);
        expandRawFrame(c, work);
        return;
    }
    if (c.compressed8) {
        Expand8Bit(simdLevel(), c, frame, work);
    } else {
        UnpackPacked12(simdLevel(), c, frame, work);
    }
    // What in place would have left behind the samples: the frame's own bytes, then zeros.
    if (copied > written) {
        std::memcpy(bytes + written, frame + written, copied - written);
    }
    const uint64_t filled = std::max(copied, written);
    std::memset(bytes + filled, 0, workBytes - filled);
}

}  // namespace kqfw
