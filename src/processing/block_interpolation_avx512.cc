// The 2x2 block method, 32 pixels at a time. Compiled for AVX-512 BW function by function, so
// nothing in this file runs unless the processor was checked for it first.
#include "processing/block_interpolation.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

// The intrinsics start some results from a deliberately undefined vector, which GCC 12 takes
// for an uninitialised read once they are inlined.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "camera/lut.h"

#define KQFW_AVX512 __attribute__((target("avx512f,avx512bw")))
#define KQFW_AVX512_INLINE inline __attribute__((always_inline, target("avx512f,avx512bw")))

namespace kqfw::detail {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order

// How a white-balance table is applied. The tables are almost always the formula of their
// gain, which vectors compute faster than the table is read; green's is most often the
// identity (the white balance leaves the most sensitive colour unscaled).
enum class Mapping { kIdentity, kGain, kTable };

struct Colour {
    Mapping mapping;
    __m512d gain;
    const uint16_t* table;
};

KQFW_AVX512_INLINE __m512i iota16() {
    return _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14,
                            13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
}

// The white-balance formula for 8 samples less the pedestal, in the operation order of the
// table's own computation; rounded operations, so no build ever fuses them.
KQFW_AVX512_INLINE __m256i balanced8(__m256i x, __m512d gain) {
    constexpr int kRound = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    __m512d v = _mm512_mul_round_pd(_mm512_cvtepi32_pd(x), gain, kRound);
    v = _mm512_add_round_pd(v, _mm512_set1_pd(0.5), kRound);
    v = _mm512_add_round_pd(v, _mm512_set1_pd(kPedestal), kRound);
    v = _mm512_min_pd(_mm512_max_pd(v, _mm512_setzero_pd()), _mm512_set1_pd(kMaxSample));
    return _mm512_cvttpd_epi32(v);
}

// The white-balanced values of 32 samples of at most 16383.
KQFW_AVX512_INLINE __m512i balanced(__m512i samples, __m512d gain) {
    const __m512i pedestal = _mm512_set1_epi32(kPedestal);
    __m256i half[2];
    for (int h = 0; h < 2; ++h) {
        const __m256i part =
            h == 0 ? _mm512_castsi512_si256(samples) : _mm512_extracti64x4_epi64(samples, 1);
        const __m512i x = _mm512_sub_epi32(_mm512_cvtepu16_epi32(part), pedestal);
        const __m256i lo = balanced8(_mm512_castsi512_si256(x), gain);
        const __m256i hi = balanced8(_mm512_extracti64x4_epi64(x, 1), gain);
        half[h] = _mm512_cvtepi32_epi16(_mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1));
    }
    return _mm512_inserti64x4(_mm512_castsi256_si512(half[0]), half[1], 1);
}

// Whether every entry of `table` is the formula of `gain` (or, without a gain, its index).
KQFW_AVX512 bool tableIs(const uint16_t* table, const double* gain) {
    __m512i index = iota16();
    __mmask32 differ = 0;
    const __m512d g = _mm512_set1_pd(gain != nullptr ? *gain : 1.0);
    for (size_t i = 0; i < kLutEntries; i += 32) {
        const __m512i want = gain != nullptr ? balanced(index, g) : index;
        differ |= _mm512_cmpneq_epi16_mask(_mm512_loadu_si512(table + i), want);
        index = _mm512_add_epi16(index, _mm512_set1_epi16(32));
    }
    return differ == 0;
}

KQFW_AVX512 Colour colourOf(const FrameRecipe& c, int colour) {
    const uint16_t* table = c.whiteLuts[colour];
    const double gain = c.whiteGains != nullptr ? c.whiteGains[colour] : 0.0;
    Mapping mapping = Mapping::kTable;
    if (tableIs(table, nullptr)) {
        mapping = Mapping::kIdentity;
    } else if (gain > 0 && tableIs(table, &gain)) {
        mapping = Mapping::kGain;
    }
    return {mapping, _mm512_set1_pd(gain), table};
}

// The white-balanced values of 32 samples of any value.
KQFW_AVX512_INLINE __m512i mapped(const Colour& colour, __m512i samples) {
    samples = _mm512_min_epu16(samples, _mm512_set1_epi16(kMaxSample));
    return colour.mapping == Mapping::kGain ? balanced(samples, colour.gain) : samples;
}

// Lane permutations of 32 u16 samples starting at column x0 (even), second source starting at
// x0 + 2. Odd sample of the lane's cell: x0 + (j | 1). Even sample of the cell on the right
// for odd lanes: x0 + ((j + 1) & ~1), the last lane's from the second source.
KQFW_AVX512_INLINE __m512i oddOfCell() {
    return _mm512_set_epi16(31, 31, 29, 29, 27, 27, 25, 25, 23, 23, 21, 21, 19, 19, 17, 17, 15, 15,
                            13, 13, 11, 11, 9, 9, 7, 7, 5, 5, 3, 3, 1, 1);
}
KQFW_AVX512_INLINE __m512i evenOfNearestCell() {
    return _mm512_set_epi16(62, 30, 30, 28, 28, 26, 26, 24, 24, 22, 22, 20, 20, 18, 18, 16, 16, 14,
                            14, 12, 12, 10, 10, 8, 8, 6, 6, 4, 4, 2, 2, 0);
}
// Every second lane of two sources: lanes 0, 2, .., 62.
KQFW_AVX512_INLINE __m512i evenLanes() {
    return _mm512_add_epi16(iota16(), iota16());
}

// Interleaves 32 pixels' blue, green and red into 96 output values (blue, green, red per
// pixel). Blue and red come from per-cell values: pixel j of a 32-pixel step takes blue from
// cell j / 2 and red from cell (j + 1) / 2, counted from the step's first cell.
struct Interleave {
    __m512i blueGreen[3];
    __m512i red[3];
    __mmask32 redLanes[3];
};

KQFW_AVX512 Interleave interleave() {
    Interleave t;
    for (int v = 0; v < 3; ++v) {
        alignas(64) uint16_t bg[32], r[32];
        uint32_t mask = 0;
        for (int i = 0; i < 32; ++i) {
            const int l = 32 * v + i, pixel = l / 3, channel = l % 3;
            bg[i] = static_cast<uint16_t>(channel == 0 ? pixel / 2 : 32 + pixel);
            r[i] = static_cast<uint16_t>((pixel + 1) / 2);
            mask |= uint32_t(channel == 2) << i;
        }
        t.blueGreen[v] = _mm512_load_si512(bg);
        t.red[v] = _mm512_load_si512(r);
        t.redLanes[v] = mask;
    }
    return t;
}

// Columns per strip. The red and blue cell values of a strip serve two rows each, so a strip
// runs down all rows; frames up to a strip wide (every sensor of the family) take one pass,
// which keeps the reads and writes in memory order.
constexpr int32_t kStrip = 2048;

struct Strip {
    alignas(64) uint16_t red[kStrip / 2 + 32];   // red of cells 0..cells
    alignas(64) uint16_t blue[kStrip / 2 + 32];  // blue of cells 0..cells - 1
    alignas(64) uint16_t greenIndex[kStrip];
    alignas(64) uint16_t green[kStrip];
};

// The white-balanced samples of every second column from `first` on, `count` of them, with
// `available` samples readable from `first`.
KQFW_AVX512 void mapCells(const Colour& colour, const uint16_t* first, int32_t count,
                          int32_t available, uint16_t* to) {
    int32_t k = 0;
    if (colour.mapping != Mapping::kTable) {
        const __m512i even = evenLanes();
        for (; k + 32 <= count && 2 * k + 64 <= available; k += 32) {
            const __m512i samples = _mm512_permutex2var_epi16(
                _mm512_loadu_si512(first + 2 * k), even, _mm512_loadu_si512(first + 2 * k + 32));
            _mm512_store_si512(to + k, mapped(colour, samples));
        }
    }
    for (; k < count; ++k) {
        to[k] = lut(colour.table, first[2 * k]);
    }
}

// Green index of 32 pixels from column x: the mean of the odd sample of the red row's cell and
// the nearest even sample of the blue row, (a + b) >> 1 without leaving 16 bits.
KQFW_AVX512_INLINE __m512i greenSamples(const uint16_t* redRow, const uint16_t* blueRow,
                                        int32_t x) {
    const __m512i ga = _mm512_permutexvar_epi16(oddOfCell(), _mm512_loadu_si512(redRow + x));
    const __m512i gb = _mm512_permutex2var_epi16(
        _mm512_loadu_si512(blueRow + x), evenOfNearestCell(), _mm512_loadu_si512(blueRow + x + 2));
    return _mm512_add_epi16(_mm512_and_si512(ga, gb),
                            _mm512_srli_epi16(_mm512_xor_si512(ga, gb), 1));
}

// Step i of the strip: 32 pixels from their green and the strip's red and blue cells.
KQFW_AVX512_INLINE void storePixels(const Strip& strip, const Interleave& order, uint16_t* p,
                                    int32_t i, __m512i green) {
    const __m512i blue = _mm512_loadu_si512(strip.blue + 16 * i);
    const __m512i red = _mm512_loadu_si512(strip.red + 16 * i);
    for (int v = 0; v < 3; ++v) {
        const __m512i bg = _mm512_permutex2var_epi16(blue, order.blueGreen[v], green);
        const __m512i all = _mm512_mask_permutexvar_epi16(bg, order.redLanes[v], order.red[v], red);
        _mm512_storeu_si512(p + 96 * size_t(i) + 32 * v, all);
    }
}

// Output row y over the strip's columns [x0, x0 + 32 * steps), given the strip's red and blue
// cell values for this row.
KQFW_AVX512 void stripRow(const Colour& green, Strip& strip, const Interleave& order, uint16_t* o,
                          const uint16_t* redRow, const uint16_t* blueRow, int32_t x0,
                          int32_t steps) {
    uint16_t* p = o + 3 * size_t(x0);
    if (green.mapping != Mapping::kTable) {
        for (int32_t i = 0; i < steps; ++i) {
            storePixels(strip, order, p, i,
                        mapped(green, greenSamples(redRow, blueRow, x0 + 32 * i)));
        }
        return;
    }
    // Indexes first and lookups after, so the lookups do not wait on the vector unit.
    for (int32_t i = 0; i < steps; ++i) {
        _mm512_store_si512(strip.greenIndex + 32 * i,
                           _mm512_min_epu16(greenSamples(redRow, blueRow, x0 + 32 * i),
                                            _mm512_set1_epi16(kMaxSample)));
    }
    for (int32_t i = 0; i < 32 * steps; ++i) {
        strip.green[i] = green.table[strip.greenIndex[i]];
    }
    for (int32_t i = 0; i < steps; ++i) {
        storePixels(strip, order, p, i, _mm512_load_si512(strip.green + 32 * i));
    }
}

}  // namespace

KQFW_AVX512 int32_t blockAvx512(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t w,
                                int32_t h, int32_t stride) {
    static const Interleave order = interleave();
    // A pixel reads up to two columns to its right; the last two columns are not done here.
    const int32_t done = w >= 34 ? (w - 2) / 32 * 32 : 0;
    if (done == 0) {
        return 0;
    }
    const Colour red = colourOf(c, kRed), green = colourOf(c, kGreen), blue = colourOf(c, kBlue);
    Strip strip;
    for (int32_t x0 = 0; x0 < done; x0 += kStrip) {
        const int32_t columns = done - x0 < kStrip ? done - x0 : kStrip;
        const int32_t cells = columns / 2;
        for (int32_t y = 0; y + 1 < h; ++y) {
            const uint16_t* s = raw + size_t(y) * stride;
            const uint16_t* n = s + stride;
            const uint16_t* redRow = (y & 1) == 0 ? s : n;
            const uint16_t* blueRow = (y & 1) == 0 ? n : s;
            // Rows 2m - 1 and 2m share their red samples, rows 2m and 2m + 1 their blue ones.
            if (y == 0 || (y & 1) == 1) {
                mapCells(red, redRow + x0, cells + 1, w - x0, strip.red);
            }
            if ((y & 1) == 0) {
                mapCells(blue, blueRow + x0 + 1, cells, w - x0 - 1, strip.blue);
            }
            stripRow(green, strip, order, out + 3 * size_t(y) * stride, redRow, blueRow, x0,
                     columns / 32);
        }
    }
    return done;
}

}  // namespace kqfw::detail

#else

namespace kqfw::detail {

int32_t blockAvx512(const CameraContext&, uint16_t*, const uint16_t*, int32_t, int32_t, int32_t) {
    return 0;
}

}  // namespace kqfw::detail

#endif
