// The colour sites of a mosaic row by row: red at even rows and columns, blue at odd ones.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/worker_pool.h"
#include "processing/simd_level.h"

namespace kqfw {

// Calls f(y, x) for every red site and every blue site, rows in pairs from the top, each cell
// left to right, its red site before its blue site. No step's sites depend on each other, so
// the row pairs may also be shared out to the pool's threads.
template <typename F>
void forEachSite(WorkerPool* pool, int32_t width, int32_t height, F f) {
    forRowStripes(pool, height, 2, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y += 2) {
            for (int32_t x = 0; x < width; x += 2) {
                f(y, x);
                f(y + 1, x + 1);
            }
        }
    });
}

// The same, where the level has vector steps handing each row's inner sites, those at least
// `margin` from every edge, to `inner(y, x, count)` first; it returns how many it did, and f
// does the rest. The sites of a row are independent, so the order between them is free.
template <typename F, typename Inner>
void forEachSite(WorkerPool* pool, int32_t width, int32_t height, SimdLevel level, int32_t margin,
                 F f, Inner inner) {
    if (level < SimdLevel::kAvx2) {
        return forEachSite(pool, width, height, f);
    }
    forRowStripes(pool, height, 2, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; ++y) {
            int32_t begin = 0, doneEnd = 0;  // the columns `inner` did, of this row's parity
            const int32_t last = width - 1 - margin;
            if (y >= margin && y < height - margin) {
                begin = margin + ((margin - (y & 1)) & 1);
                if (last >= begin) {
                    doneEnd = begin + 2 * inner(y, begin, (last - begin) / 2 + 1);
                }
            }
            for (int32_t x = y & 1; x < begin; x += 2) {
                f(y, x);
            }
            for (int32_t x = std::max(doneEnd, y & 1); x < width; x += 2) {
                f(y, x);
            }
        }
    });
}

}  // namespace kqfw
