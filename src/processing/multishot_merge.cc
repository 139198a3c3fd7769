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

// Places the samples of one colour shot at row offset R and column offset C. `middleOnly`
// writes every colour into the middle channel (index 6); otherwise each goes to its own
// channel, and `mergeGreen` averages green with what the pixel holds.
void placeColour(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f, int64_t R,
                 int64_t C, const Rect& rect, bool middleOnly, bool mergeGreen) {
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
    const uint32_t n = 2 * f;
    const uint32_t q = s / n;
    // The first row of shots has the largest row offset; the second half merges its green.
    placeColour(c, output, raw, f, int64_t{n} - 1 - q, s % n, rect, false, q >= f);
}

void mergeshotsub(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, uint32_t f,
                  uint32_t p, const Rect& rect) {
    placeColour(c, output, raw, f, 2 * int64_t{f} - 2 - p / 6, p % 6, rect, true, false);
}

void mergeshotbw(uint16_t* output, const uint16_t* raw, uint32_t f, uint32_t s, const Rect& rect) {
    const Grid g = gridOf(rect, f);
    const int64_t R = int64_t{f} - 1 - s / f;
    const int64_t C = s % f;
    for (int64_t r = 0; r < g.h; ++r) {
        const int64_t y = R + r * f;
        if (y < 0 || y >= g.ho) {
            continue;
        }
        const uint16_t* row = raw + r * g.w;
        uint16_t* out = output + y * g.wo;
        // Samples pass unchanged, but within 14 bits as every image value is: 8-bit codes 0 to
        // 3 expand to 65532 and above.
        for (int64_t col = 0; col < g.w && C + col * f < g.wo; ++col) {
            out[C + col * f] = std::min<uint16_t>(row[col], kMaxSample);
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
