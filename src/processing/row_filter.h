// In-place filters whose output row y reads input rows y - up to y + down only, run in bands
// of rows on a pool's threads with the output of one pass from the top.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/memory.h"
#include "platform/worker_pool.h"

namespace kqfw {

// Filters rows [first, end): compute(y, out) writes row y's new values to `out` (rowValues
// samples), reading the image only; store(y, from) puts them into the image. A band's rows
// that a neighbouring band reads (its first `down`, its last `up`) are computed first into
// rows of their own and stored only once every band is done; the others go through a ring of
// up + 1 rows, each stored as soon as no later row of its band reads it. Returns false, with
// the image untouched, when there was no memory for those rows.
template <typename Compute, typename Store>
bool filterRowsInPlace(WorkerPool* pool, int32_t first, int32_t end, int32_t up, int32_t down,
                       size_t rowValues, Compute compute, Store store) {
    if (end <= first) {
        return true;
    }
    const RowStripes bands = rowStripes(pool, end - first, 1);
    const int32_t held = up + down, ringRows = up + 1;
    const size_t perBand = size_t(held + ringRows) * rowValues;
    auto* block = static_cast<uint16_t*>(allocZeroed(perBand * bands.count * sizeof(uint16_t)));
    if (block == nullptr) {
        return false;
    }
    struct Band {
        int32_t first, end;            // its rows
        int32_t innerFirst, innerEnd;  // those no other band reads
        uint16_t *heldRows, *ring;
    };
    auto bandOf = [&](int32_t k) {
        Band b;
        b.first = first + bands.first(k);
        b.end = first + bands.end(k);
        b.innerFirst = b.first + down;
        b.innerEnd = b.end - up > b.innerFirst ? b.end - up : b.innerFirst;
        b.heldRows = block + k * perBand;
        b.ring = b.heldRows + size_t(held) * rowValues;
        return b;
    };
    // Where a held row waits: the first `down` rows, then the last `up`.
    auto heldRow = [&](const Band& b, int32_t y) {
        const int32_t slot = y < b.innerFirst ? y - b.first : down + (y - (b.end - up));
        return b.heldRows + size_t(slot) * rowValues;
    };
    auto eachHeldRow = [&](const Band& b, auto f) {
        for (int32_t y = b.first; y < b.end; ++y) {
            if (y < b.innerFirst || y >= b.innerEnd) {
                f(y, heldRow(b, y));
            }
        }
    };
    forRowStripes(pool, bands,
                  [&](int32_t k, int32_t, int32_t) { eachHeldRow(bandOf(k), compute); });
    forRowStripes(pool, bands, [&](int32_t k, int32_t, int32_t) {
        const Band b = bandOf(k);
        auto ringRow = [&](int32_t y) { return b.ring + size_t(y % ringRows) * rowValues; };
        for (int32_t y = b.innerFirst; y < b.innerEnd; ++y) {
            compute(y, ringRow(y));
            if (y - up >= b.innerFirst) {
                store(y - up, ringRow(y - up));
            }
        }
        for (int32_t y = std::max(b.innerFirst, b.innerEnd - up); y < b.innerEnd; ++y) {
            store(y, ringRow(y));
        }
    });
    forRowStripes(pool, bands, [&](int32_t k, int32_t, int32_t) {
        eachHeldRow(bandOf(k), [&](int32_t y, const uint16_t* from) { store(y, from); });
    });
    freeZeroed(block);
    return true;
}

}  // namespace kqfw
