#include "processing/multishot_filters.h"

#include <algorithm>
#include <cstring>

#include "camera/lut.h"
#include "platform/error_report.h"
#include "platform/memory.h"
#include "processing/rgb_image.h"
#include "processing/row_filter.h"

namespace kqfw {

namespace {

void sharpen(uint16_t* image, uint32_t f, const Rect& rect, int channels, const char* routine,
             WorkerPool* pool) {
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
    const int64_t rowSamples = wo * channels;
    auto compute = [&](int64_t y, uint16_t* out) {
        // Rows y - 1 to y + 2, a sample's neighbours `channels` apart within them.
        const uint16_t* above = image + (y - 1) * rowSamples;
        const uint16_t* top = above + rowSamples;
        const uint16_t* bottom = top + rowSamples;
        const uint16_t* below = cross ? bottom : bottom + rowSamples;
        const int64_t c = channels;
        for (int64_t i = c; i <= lastColumn * c + c - 1; ++i) {
            int32_t s;
            if (cross) {
                s = 8 * top[i] - above[i] - bottom[i] - top[i - c] - top[i + c];
            } else {
                s = 3 * (top[i] + top[i + c] + bottom[i] + bottom[i + c]) -
                    (above[i] + above[i + c] + below[i] + below[i + c] + top[i - c] +
                     bottom[i - c] + top[i + 2 * c] + bottom[i + 2 * c]);
            }
            out[i] = static_cast<uint16_t>(clampSample(s / 4));
        }
    };
    auto store = [&](int64_t y, const uint16_t* from) {
        const size_t first = size_t(channels);
        const size_t count = size_t(lastColumn) * channels;
        std::memcpy(image + y * wo * channels + first, from + first, count * sizeof(uint16_t));
    };
    if (!filterRowsInPlace(pool, 1, int32_t(lastRow + 1), 1, cross ? 1 : 2, size_t(wo) * channels,
                           compute, store)) {
        reportError("Not enough memory in routine %s", routine);
    }
}

}  // namespace

void scansharpen(uint16_t* image, uint32_t f, const Rect& rect, WorkerPool* pool) {
    sharpen(image, f, rect, 3, "scansharpen", pool);
}

void scansharpenbw(uint16_t* image, uint32_t f, const Rect& rect, WorkerPool* pool) {
    sharpen(image, f, rect, 1, "scansharpenbw", pool);
}

void multishotfilter(uint16_t* image, uint32_t f, const Rect& rect, bool weighted,
                     WorkerPool* pool) {
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t h = int64_t{rect.bottom} - rect.top;
    if (w <= 0 || h <= 0) {
        return;
    }
    const int64_t wo = w * f, ho = h * f;
    const size_t rowValues = 3 * size_t(wo);
    auto compute = [&](int64_t y, uint16_t* out) {
        const uint16_t* top = image + 3 * y * wo;
        const uint16_t* bottom = top + 3 * wo;
        if (out != top) {
            std::memcpy(out, top, rowValues * sizeof(uint16_t));
        }
        for (int64_t x = 0; x + 1 < wo; ++x) {
            const uint16_t* p = top + 3 * x;
            const uint16_t* right = p + 3;
            const uint16_t* below = bottom + 3 * x;
            const uint16_t* diagonal = below + 3;
            const int32_t g = p[kChannelGreen];
            const int32_t d =
                right[kChannelGreen] + below[kChannelGreen] + diagonal[kChannelGreen] - 3 * g;
            for (int k : {kChannelRed, kChannelBlue}) {
                const int32_t sum = p[k] + right[k] + below[k] + diagonal[k];
                const int32_t filtered = clampSample((sum - d + 2) >> 2);
                uint16_t& o = out[3 * x + k];
                if (!weighted) {
                    o = static_cast<uint16_t>(filtered);
                    continue;
                }
                const int32_t x0 = p[k];
                const int32_t weight = std::min(512 * g / (x0 + 1), 256);
                o = static_cast<uint16_t>(((256 - weight) * x0 + weight * filtered) >> 8);
            }
        }
    };
    auto store = [&](int64_t y, const uint16_t* from) {
        std::memcpy(image + 3 * y * wo, from, rowValues * sizeof(uint16_t));
    };
    // The filter cannot fail: without memory for the bands' rows it makes one pass from the top
    // in place, which is sound because every window reaches only right and down, so each pixel
    // still sees unfiltered values. The output is the same.
    if (!filterRowsInPlace(pool, 0, int32_t(ho - 1), 0, 1, rowValues, compute, store)) {
        for (int64_t y = 0; y + 1 < ho; ++y) {
            compute(y, image + 3 * y * wo);
        }
    }
}

}  // namespace kqfw
