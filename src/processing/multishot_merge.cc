#include "processing/multishot_merge.h"

#include <algorithm>

#include "camera/lut.h"
#include "processing/rgb_image.h"

namespace kqfw {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order

struct Grid {
    int64_t w, h;    // shot size
    int64_t wo, ho;  // output size
};

Grid gridOf(const Rect& rect, uint32_t f) {
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t h = int64_t{rect.bottom} - rect.top;
    if (w <= 0 || h <= 0) {
        return {0, 0, 0, 0};
    }
    return {w, h, w * f, h * f};
}

// Places the samples of one colour shot at row offset R and column offset C, sample by
// sample: the reference of the row passes below. `middleOnly`
// writes every colour into the middle channel (index 6); otherwise each goes to its own
// channel, and `mergeGreen` averages green with what the pixel holds.
void placeColourPlain(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                      int64_t R, int64_t C, const Rect& rect, bool middleOnly, bool mergeGreen) {
    const Grid g = gridOf(rect, f);
    for (int64_t r = 0; r < g.h; ++r) {
        const int64_t y = R + r * f;
        if (y >= g.ho) {
            break;
        }
        const bool evenRow = (r & 1) == 0;
        const uint16_t* row = raw + r * g.w;
        uint16_t* out = output + 3 * y * g.wo;
        for (int64_t col = 0; col < g.w; ++col) {
            const int64_t x = C + col * f;
            if (x >= g.wo) {
                break;
            }
            const bool evenColumn = (col & 1) == 0;
            const int table =
                evenRow ? (evenColumn ? kRed : kGreen) : (evenColumn ? kGreen : kBlue);
            const uint16_t value = lut(c.whiteLuts[table], row[col]);
            uint16_t* pixel = out + 3 * x;
            if (middleOnly) {
                pixel[kChannelGreen] = value;
            } else if (table == kRed) {
                pixel[kChannelRed] = value;
            } else if (table == kBlue) {
                pixel[kChannelBlue] = value;
            } else if (mergeGreen) {
                pixel[kChannelGreen] =
                    static_cast<uint16_t>((value + pixel[kChannelGreen] + 1) >> 1);
            } else {
                pixel[kChannelGreen] = value;
            }
        }
    }
}

// One shot row into one output row (`out` at the row's first placed pixel, the channel
// included): the even and odd columns are the row's two mosaic classes, each with its table
// and channel, so the loop decides nothing per sample. Merge averages a class into the green
// the pixel holds.
template <bool MergeEven, bool MergeOdd>
void placeRow(uint16_t* out, const uint16_t* row, int64_t columns, int64_t step,
              const uint16_t* evenTable, int64_t evenChannel, const uint16_t* oddTable,
              int64_t oddChannel) {
    const auto put = [](uint16_t* at, uint16_t value, bool merge) {
        *at = merge ? static_cast<uint16_t>((value + *at + 1) >> 1) : value;
    };
    int64_t col = 0;
    for (; col + 1 < columns; col += 2) {
        put(out + col * step + evenChannel, lut(evenTable, row[col]), MergeEven);
        put(out + (col + 1) * step + oddChannel, lut(oddTable, row[col + 1]), MergeOdd);
    }
    if (col < columns) {
        put(out + col * step + evenChannel, lut(evenTable, row[col]), MergeEven);
    }
}

// Shot row r of a colour shot into its output row.
void placeColourRow(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                    const ShotPlacement& p, const Grid& g, int64_t r) {
    const int64_t y = p.rowOffset + r * f;
    const int64_t C = p.columnOffset;
    if (y >= g.ho || C >= g.wo) {
        return;
    }
    // The columns whose position C + col f lies in the output.
    const int64_t columns = std::min(g.w, (g.wo - C + f - 1) / f);
    const auto channel = [&](int table) {
        return p.middleOnly || table == kGreen ? kChannelGreen
               : table == kRed                 ? kChannelRed
                                               : kChannelBlue;
    };
    const bool evenRow = (r & 1) == 0;
    const int even = evenRow ? kRed : kGreen, odd = evenRow ? kGreen : kBlue;
    const bool mergeEven = p.mergeGreen && !p.middleOnly && even == kGreen;
    const bool mergeOdd = p.mergeGreen && !p.middleOnly && odd == kGreen;
    uint16_t* out = output + 3 * (y * g.wo + C);
    const uint16_t* row = raw + r * g.w;
    const int64_t step = 3 * int64_t{f};
    const uint16_t* te = c.whiteLuts[even];
    const uint16_t* to = c.whiteLuts[odd];
    if (mergeEven) {
        placeRow<true, false>(out, row, columns, step, te, channel(even), to, channel(odd));
    } else if (mergeOdd) {
        placeRow<false, true>(out, row, columns, step, te, channel(even), to, channel(odd));
    } else {
        placeRow<false, false>(out, row, columns, step, te, channel(even), to, channel(odd));
    }
}

void placeMonoRow(uint16_t* output, const uint16_t* raw, uint32_t f, const ShotPlacement& p,
                  const Grid& g, int64_t r) {
    const int64_t y = p.rowOffset + r * f;
    const int64_t C = p.columnOffset;
    if (y < 0 || y >= g.ho || C >= g.wo) {
        return;
    }
    const int64_t columns = std::min(g.w, (g.wo - C + f - 1) / f);
    const uint16_t* row = raw + r * g.w;
    uint16_t* out = output + y * g.wo + C;
    for (int64_t col = 0; col < columns; ++col) {
        out[col * f] = std::min<uint16_t>(row[col], kMaxSample);
    }
}

void placeShotRow(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                  const ShotPlacement& p, const Grid& g, int64_t r) {
    if (p.mono) {
        placeMonoRow(output, raw, f, p, g, r);
    } else {
        placeColourRow(c, output, raw, f, p, g, r);
    }
}

}  // namespace

uint32_t shotCount(uint32_t resolutionIndex, bool mono) {
    switch (resolutionIndex) {
        case 3:
            return mono ? 1 : 4;
        case 4:
            return mono ? 4 : 16;
        case 5:
            return mono ? 9 : 36;
        case 6:
            return 9;
        default:
            return 1;
    }
}

void mergeshot(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s,
               const Rect& rect) {
    mergeshot(simdLevel(), c, output, raw, f, s, rect);
}

void mergeshot(SimdLevel level, const FrameRecipe& c, uint16_t* output, const uint16_t* raw,
               uint32_t f, uint32_t s, const Rect& rect) {
    const ShotPlacement p = colourPlacement(f, s);
    if (level == SimdLevel::kPlain) {
        placeColourPlain(c, output, raw, f, p.rowOffset, p.columnOffset, rect, false, p.mergeGreen);
    } else {
        placeShots(c, output, &raw, &p, 1, f, rect);
    }
}

void mergeshotsub(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                  uint32_t p, const Rect& rect) {
    mergeshotsub(simdLevel(), c, output, raw, f, p, rect);
}

void mergeshotsub(SimdLevel level, const FrameRecipe& c, uint16_t* output, const uint16_t* raw,
                  uint32_t f, uint32_t p, const Rect& rect) {
    const ShotPlacement placement = subsetPlacement(f, p);
    if (level == SimdLevel::kPlain) {
        placeColourPlain(c, output, raw, f, placement.rowOffset, placement.columnOffset, rect, true,
                         false);
    } else {
        placeShots(c, output, &raw, &placement, 1, f, rect);
    }
}

ShotPlacement colourPlacement(uint32_t f, uint32_t s) {
    const uint32_t n = 2 * f;
    const uint32_t q = s / n;
    // The first row of shots has the largest row offset; the second half merges its green.
    return {int64_t{n} - 1 - q, s % n, false, q >= f, false};
}

ShotPlacement subsetPlacement(uint32_t f, uint32_t p) {
    return {2 * int64_t{f} - 2 - p / 6, p % 6, true, false, false};
}

ShotPlacement monoPlacement(uint32_t f, uint32_t s) {
    return {int64_t{f} - 1 - s / f, s % f, false, false, true};
}

ShotPlacement placementOf(uint32_t resolutionIndex, bool mono, uint32_t s) {
    const uint32_t f = resolutionIndex <= 3 ? 1 : resolutionIndex == 4 ? 2 : 3;
    if (mono) {
        return monoPlacement(f, s);
    }
    if (resolutionIndex == 6) {
        return subsetPlacement(f, kPositionSubset[std::min<uint32_t>(s, 8)]);
    }
    return colourPlacement(f, s);
}

void placeShots(const FrameRecipe& c, uint16_t* output, const uint16_t* const* shots,
                const ShotPlacement* placements, size_t count, uint32_t f, const Rect& rect) {
    const Grid g = gridOf(rect, f);
    for (int64_t r = 0; r < g.h; ++r) {
        for (size_t k = 0; k < count; ++k) {
            placeShotRow(c, output, shots[k], f, placements[k], g, r);
        }
    }
}

void mergeshotbw(uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s, const Rect& rect) {
    mergeshotbw(simdLevel(), output, raw, f, s, rect);
}

void mergeshotbw(SimdLevel level, uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s,
                 const Rect& rect) {
    const ShotPlacement p = monoPlacement(f, s);
    if (level != SimdLevel::kPlain) {
        placeShots(FrameRecipe{}, output, &raw, &p, 1, f, rect);
        return;
    }
    const Grid g = gridOf(rect, f);
    for (int64_t r = 0; r < g.h; ++r) {
        const int64_t y = p.rowOffset + r * f;
        if (y < 0 || y >= g.ho) {
            continue;
        }
        const uint16_t* row = raw + r * g.w;
        uint16_t* out = output + y * g.wo;
        // Samples pass unchanged, but within 14 bits as every image value is: 8-bit codes 0 to
        // 3 expand to 65532 and above.
        for (int64_t col = 0; col < g.w && p.columnOffset + col * f < g.wo; ++col) {
            out[p.columnOffset + col * f] = std::min<uint16_t>(row[col], kMaxSample);
        }
    }
}

void fillborders(uint16_t* output, uint32_t f, const Rect& rect) {
    const Grid g = gridOf(rect, f);
    if (g.ho <= f || g.wo <= f) {
        return;
    }
    auto copyBlueGreen = [&](int64_t toY, int64_t toX, int64_t fromY, int64_t fromX) {
        uint16_t* to = output + 3 * (toY * g.wo + toX);
        const uint16_t* from = output + 3 * (fromY * g.wo + fromX);
        to[kChannelBlue] = from[kChannelBlue];
        to[kChannelGreen] = from[kChannelGreen];
    };
    for (int64_t y = 0; y < f; ++y) {
        for (int64_t x = 0; x < g.wo; ++x) {
            copyBlueGreen(y, x, f, x);
        }
    }
    for (int64_t y = 0; y < g.ho; ++y) {
        for (int64_t x = 0; x < f; ++x) {
            copyBlueGreen(y, x, y, f);
        }
    }
}

void fillmosaicgaps(uint16_t* output, const Rect& rect) {
    const Grid g = gridOf(rect, 3);
    if (g.wo < 4 || g.ho < 4) {
        return;
    }
    auto middle = [&](int64_t y, int64_t x) -> uint16_t& {
        return output[3 * (y * g.wo + x) + kChannelGreen];
    };
    middle(0, 1) = middle(0, 3);
    middle(1, 0) = middle(3, 0);
    middle(1, 1) = middle(3, 3);
    for (int64_t x = 2; x < g.wo; ++x) {
        middle(1, x) = middle(3, x);
    }
    for (int64_t y = 2; y < g.ho; ++y) {
        middle(y, 1) = middle(y, 3);
    }
}

}  // namespace kqfw
