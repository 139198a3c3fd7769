#include "processing/multishot_filters.h"

#include <algorithm>
#include <cstring>

#include "platform/error_report.h"
#include "platform/memory.h"
#include "processing/lut.h"
#include "processing/rgb_image.h"

namespace kqfw {

namespace {

void sharpen(uint16_t* image, uint32_t f, const Rect& rect, int channels, const char* routine) {
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t h = int64_t{rect.bottom} - rect.top;
    if (w <= 0 || h <= 0) {
        return;
    }
    const int64_t wo = w * f, ho = h * f;
    const bool cross = f == 2;
    // Rows and columns a kernel position covers: 1 .. last.
    const int64_t lastRow = cross ? ho - 2 : ho - 3;
    const int64_t lastColumn = cross ? wo - 2 : wo - 3;
    if (lastRow < 1 || lastColumn < 1) {
        return;
    }
    const size_t rowSamples = size_t(wo) * channels;
    auto* ring = static_cast<uint16_t*>(allocZeroed(2 * rowSamples * sizeof(uint16_t)));
    if (ring == nullptr) {
        reportError("Not enough memory in routine %s", routine);
        return;
    }
    auto v = [&](int64_t y, int64_t x, int k) -> int32_t {
        return image[(y * wo + x) * channels + k];
    };
    auto store = [&](int64_t y) {
        const uint16_t* from = ring + (y % 2) * rowSamples;
        const size_t first = size_t(channels);
        const size_t count = size_t(lastColumn) * channels;
        std::memcpy(image + y * wo * channels + first, from + first, count * sizeof(uint16_t));
    };
    for (int64_t y = 1; y <= lastRow; ++y) {
        uint16_t* out = ring + (y % 2) * rowSamples;
        for (int64_t x = 1; x <= lastColumn; ++x) {
            for (int k = 0; k < channels; ++k) {
                int32_t s;
                if (cross) {
                    s = 8 * v(y, x, k) - v(y - 1, x, k) - v(y + 1, x, k) - v(y, x - 1, k) -
                        v(y, x + 1, k);
                } else {
                    s = 3 * (v(y, x, k) + v(y, x + 1, k) + v(y + 1, x, k) + v(y + 1, x + 1, k)) -
                        (v(y - 1, x, k) + v(y - 1, x + 1, k) + v(y + 2, x, k) + v(y + 2, x + 1, k) +
                         v(y, x - 1, k) + v(y + 1, x - 1, k) + v(y, x + 2, k) + v(y + 1, x + 2, k));
                }
                out[x * channels + k] = static_cast<uint16_t>(clampSample(s / 4));
            }
        }
        // The previous row's kernels are done reading it: its new values go in.
        if (y > 1) {
            store(y - 1);
        }
    }
    store(lastRow);
    freeZeroed(ring);
}

}  // namespace

void scansharpen(uint16_t* image, uint32_t f, const Rect& rect) {
    sharpen(image, f, rect, 3, "scansharpen");
}

void scansharpenbw(uint16_t* image, uint32_t f, const Rect& rect) {
    sharpen(image, f, rect, 1, "scansharpenbw");
}

void multishotfilter(uint16_t* image, uint32_t f, const Rect& rect, bool weighted) {
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t h = int64_t{rect.bottom} - rect.top;
    if (w <= 0 || h <= 0) {
        return;
    }
    const int64_t wo = w * f, ho = h * f;
    for (int64_t y = 0; y + 1 < ho; ++y) {
        uint16_t* top = image + 3 * y * wo;
        uint16_t* bottom = top + 3 * wo;
        for (int64_t x = 0; x + 1 < wo; ++x) {
            uint16_t* p = top + 3 * x;
            const uint16_t* right = p + 3;
            const uint16_t* below = bottom + 3 * x;
            const uint16_t* diagonal = below + 3;
            const int32_t g = p[kChannelGreen];
            const int32_t d =
                right[kChannelGreen] + below[kChannelGreen] + diagonal[kChannelGreen] - 3 * g;
            for (int k : {kChannelRed, kChannelBlue}) {
                const int32_t sum = p[k] + right[k] + below[k] + diagonal[k];
                const int32_t filtered = clampSample((sum - d + 2) >> 2);
                if (!weighted) {
                    p[k] = static_cast<uint16_t>(filtered);
                    continue;
                }
                const int32_t x0 = p[k];
                const int32_t weight = std::min(512 * g / (x0 + 1), 256);
                p[k] = static_cast<uint16_t>(((256 - weight) * x0 + weight * filtered) >> 8);
            }
        }
    }
}

}  // namespace kqfw
