#include "processing/grey_binned.h"

#include "camera/lut.h"
#include "platform/error_report.h"
#include "platform/memory.h"
#include "processing/assemble_single.h"

namespace kqfw {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order

struct Frame {
    int32_t width;     // raw samples a row
    int32_t rows;      // raw rows (binned)
    int32_t outWidth;  // w'
    int32_t outRows;   // h'
};

Frame binnedFrame(const FrameRecipe& c, int32_t b) {
    const int32_t w = c.imageRect.right - c.imageRect.left;
    const int32_t h = c.imageRect.bottom - c.imageRect.top;
    return {w, h / b, (w / b) / 2 * 2, ((h / b) / 2) * 2};
}

// The mean of the group's samples of one parity: two samples averaged, three weighted 1-2-1,
// a single one as it is.
int32_t parityMean(const uint16_t* group, int32_t b, int32_t parity) {
    int32_t v[3], n = 0;
    for (int32_t i = 0; i < b; ++i) {
        if ((i & 1) == parity) {
            v[n++] = group[i];
        }
    }
    if (n == 3) {
        return (v[0] + 2 * v[1] + v[2]) >> 2;
    }
    return n == 2 ? (v[0] + v[1]) >> 1 : v[0];
}

void writePixel(const FrameRecipe& c, uint16_t* p, int64_t red, int64_t green, int64_t blue) {
    auto clamp = [](int64_t v) { return uint32_t(v < 0 ? 0 : v > kMaxSample ? kMaxSample : v); };
    p[0] = lut(c.whiteLuts[kBlue], clamp(blue));
    p[1] = lut(c.whiteLuts[kGreen], clamp(green));
    p[2] = lut(c.whiteLuts[kRed], clamp(red));
}

// Solves the mixed rows of binned frames; weights (heavy : light) are 2 : 1 for b = 3 and
// 3 : 2 for b = 5. Products are 64-bit: 9·c·b' passes 31 bits for the brightest inputs.
template <int32_t B>
void assembleBinned(const FrameRecipe& c, uint16_t* output, const uint16_t* raw) {
    const Frame f = binnedFrame(c, B);
    for (int32_t j = 0; 2 * j + 1 < f.outRows; ++j) {
        const uint16_t* even = raw + size_t(2 * j) * f.width;
        const uint16_t* odd = raw + size_t(2 * j + 1) * f.width;
        uint16_t* out0 = output + 3 * size_t(2 * j) * f.outWidth;
        uint16_t* out1 = output + 3 * size_t(2 * j + 1) * f.outWidth;
        for (int32_t k = 0; k < f.outWidth; ++k) {
            // Columns B*k .. B*k + B - 1; with an odd B the group starts on alternating parity.
            const int32_t start = B * k;
            const int32_t evenFirst = start & 1;
            const int64_t a = parityMean(even + start, B, evenFirst);
            const int64_t bp = parityMean(even + start, B, 1 - evenFirst);
            const int64_t cc = parityMean(odd + start, B, evenFirst);
            const int64_t d = parityMean(odd + start, B, 1 - evenFirst);
            int64_t red, green, blue;
            if constexpr (B == 3) {
                const int64_t n = 4 * cc * bp - d * a;
                green = d + 2 * cc > 0 ? n / (d + 2 * cc) : 2 * bp - a;
                red = (3 * a - green) >> 1;
                blue = 3 * bp - 2 * green;
                writePixel(c, out0 + 3 * k, red, green, blue);
                green = a + 2 * bp > 0 ? n / (a + 2 * bp) : 2 * cc - d;
                red = 3 * cc - 2 * green;
                blue = (3 * d - green) >> 1;
                writePixel(c, out1 + 3 * k, red, green, blue);
            } else {
                const int64_t n = 9 * cc * bp - 4 * d * a;
                green = 2 * d + 3 * cc > 0 ? n / (2 * d + 3 * cc) : 3 * bp - 2 * a;
                red = (5 * a - 2 * green) / 3;
                blue = (5 * bp - 3 * green) >> 1;
                writePixel(c, out0 + 3 * k, red, green, blue);
                green = 3 * bp + 2 * a > 0 ? n / (3 * bp + 2 * a) : 3 * cc - 2 * d;
                red = (5 * cc - 3 * green) >> 1;
                blue = (5 * d - 2 * green) / 3;
                writePixel(c, out1 + 3 * k, red, green, blue);
            }
        }
    }
}

}  // namespace

namespace {

// The grey of the ratio method's colours, a loop the compiler puts in vector registers by
// itself: the plain form and, compiled for AVX2, the fast one.
inline __attribute__((always_inline)) void averageColours(uint16_t* output, const uint16_t* colour,
                                                          size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint16_t* p = colour + 3 * i;
        output[i] = static_cast<uint16_t>((((p[0] + p[2]) >> 1) + p[1]) >> 1);
    }
}

// b samples averaged; with b a constant the division becomes a multiplication.
template <int32_t B>
inline __attribute__((always_inline)) void averageRow(uint16_t* out, const uint16_t* in,
                                                      int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        int32_t sum = 0;
        for (int32_t i = 0; i < B; ++i) {
            sum += in[B * x + i];
        }
        out[x] = static_cast<uint16_t>(sum / B);
    }
}

// Each binning's rows, for the level's instructions.
template <int32_t B>
void averageRows(uint16_t* out, const uint16_t* in, int32_t n) {
    averageRow<B>(out, in, n);
}
#if defined(__x86_64__) && defined(__GNUC__)
template <int32_t B>
__attribute__((target("avx2"))) void averageRowsAvx2(uint16_t* out, const uint16_t* in, int32_t n) {
    averageRow<B>(out, in, n);
}
__attribute__((target("avx2"))) void averageColoursAvx2(uint16_t* output, const uint16_t* colour,
                                                        size_t n) {
    averageColours(output, colour, n);
}
#endif

using RowAverage = void (*)(uint16_t*, const uint16_t*, int32_t);

template <int32_t B>
RowAverage rowAverage(SimdLevel level) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (level >= SimdLevel::kAvx2) {
        return averageRowsAvx2<B>;
    }
#endif
    (void)level;
    return averageRows<B>;
}

RowAverage rowAverage(SimdLevel level, int32_t b) {
    switch (b) {
        case 1:
            return rowAverage<1>(level);
        case 2:
            return rowAverage<2>(level);
        case 3:
            return rowAverage<3>(level);
        case 4:
            return rowAverage<4>(level);
        default:
            return rowAverage<5>(level);
    }
}

}  // namespace

void AssembleSingleMono(SimdLevel level, const FrameRecipe& c, uint16_t* output,
                        const uint16_t* raw) {
    const int32_t w = c.imageRect.right - c.imageRect.left;
    const int32_t h = c.imageRect.bottom - c.imageRect.top;
    if (w < 1 || h < 1) {
        return;
    }
    auto* colour = static_cast<uint16_t*>(allocZeroed(size_t(w) * h * 3 * sizeof(uint16_t)));
    if (colour == nullptr) {
        reportError("Not enough memory in routine AssembleSingleMono");
        return;
    }
    AssembleSingle(c, colour, raw, kRatioMethod);
    const size_t n = size_t(w) * h;
#if defined(__x86_64__) && defined(__GNUC__)
    if (level >= SimdLevel::kAvx2) {
        averageColoursAvx2(output, colour, n);
        freeZeroed(colour);
        return;
    }
#endif
    averageColours(output, colour, n);
    freeZeroed(colour);
}

void AssembleGrey(SimdLevel level, const FrameRecipe& c, uint16_t* output, const uint16_t* raw) {
    const int32_t b = static_cast<int32_t>(c.binning);
    if (b < 1 || b > 5) {
        return;
    }
    const Frame f = binnedFrame(c, b);
    const RowAverage average = level == SimdLevel::kPlain ? nullptr : rowAverage(level, b);
    for (int32_t j = 0; j < f.outRows; ++j) {
        const uint16_t* in = raw + size_t(j) * f.width;
        uint16_t* out = output + size_t(j) * f.outWidth;
        if (average != nullptr) {
            average(out, in, f.outWidth);
            continue;
        }
        for (int32_t x = 0; x < f.outWidth; ++x) {
            int32_t sum = 0;
            for (int32_t i = 0; i < b; ++i) {
                sum += in[b * x + i];
            }
            out[x] = static_cast<uint16_t>(sum / b);
        }
    }
}

void AssembleBinned3(const FrameRecipe& c, uint16_t* output, const uint16_t* raw) {
    assembleBinned<3>(c, output, raw);
}

void AssembleBinned5(const FrameRecipe& c, uint16_t* output, const uint16_t* raw) {
    assembleBinned<5>(c, output, raw);
}

}  // namespace kqfw
