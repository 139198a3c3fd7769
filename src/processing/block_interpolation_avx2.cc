// The 2x2 block method, 16 pixels at a time. Compiled for AVX2 function by function, so nothing
// in this file runs unless the processor was checked for it first.
#include "processing/block_interpolation.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include "camera/lut.h"

#define KQFW_AVX2 __attribute__((target("avx2")))
#define KQFW_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

namespace kqfw::detail {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order

// How a white-balance table is applied: the tables are almost always the formula of their gain,
// which vectors compute faster than the table is read, and green's is most often the identity.
enum class Mapping { kIdentity, kGain, kTable };

struct Colour {
    Mapping mapping;
    __m256d gain;
    const uint16_t* table;
};

// The white-balance formula for 4 samples less the pedestal, in the operation order of the
// table's own computation (no fused operations: this file is not compiled for FMA).
KQFW_AVX2_INLINE __m128i balanced4(__m128i x, __m256d gain) {
    __m256d v = _mm256_mul_pd(_mm256_cvtepi32_pd(x), gain);
    v = _mm256_add_pd(v, _mm256_set1_pd(0.5));
    v = _mm256_add_pd(v, _mm256_set1_pd(kPedestal));
    // max(v, 0) gives 0 for a NaN, as the table does.
    v = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(kMaxSample));
    return _mm256_cvttpd_epi32(v);
}

// The white-balanced values of 16 samples of at most 16383.
KQFW_AVX2_INLINE __m256i balanced(__m256i samples, __m256d gain) {
    const __m256i pedestal = _mm256_set1_epi32(kPedestal);
    __m128i half[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i part =
            h == 0 ? _mm256_castsi256_si128(samples) : _mm256_extracti128_si256(samples, 1);
        const __m256i x = _mm256_sub_epi32(_mm256_cvtepu16_epi32(part), pedestal);
        const __m128i lo = balanced4(_mm256_castsi256_si128(x), gain);
        const __m128i hi = balanced4(_mm256_extracti128_si256(x, 1), gain);
        half[h] = _mm_packus_epi32(lo, hi);  // values 0..16383: the pack keeps them
    }
    return _mm256_inserti128_si256(_mm256_castsi128_si256(half[0]), half[1], 1);
}

KQFW_AVX2_INLINE __m256i clamped(__m256i samples) {
    return _mm256_min_epu16(samples, _mm256_set1_epi16(kMaxSample));
}

// Whether every entry of `table` is the formula of `gain` (or, without a gain, its index).
KQFW_AVX2 bool tableIs(const uint16_t* table, const double* gain) {
    __m256i index = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m256i differ = _mm256_setzero_si256();
    const __m256d g = _mm256_set1_pd(gain != nullptr ? *gain : 1.0);
    for (size_t i = 0; i < kLutEntries; i += 16) {
        const __m256i want = gain != nullptr ? balanced(index, g) : index;
        const __m256i have = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + i));
        differ = _mm256_or_si256(differ, _mm256_xor_si256(have, want));
        index = _mm256_add_epi16(index, _mm256_set1_epi16(16));
    }
    return _mm256_testz_si256(differ, differ) != 0;
}

KQFW_AVX2 Colour colourOf(const FrameRecipe& c, int colour) {
    const uint16_t* table = c.whiteLuts[colour];
    const double gain = c.whiteGains != nullptr ? c.whiteGains[colour] : 0.0;
    Mapping mapping = Mapping::kTable;
    if (tableIs(table, nullptr)) {
        mapping = Mapping::kIdentity;
    } else if (gain > 0 && tableIs(table, &gain)) {
        mapping = Mapping::kGain;
    }
    return {mapping, _mm256_set1_pd(gain), table};
}

KQFW_AVX2_INLINE __m256i load(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// 16 pixels' white-balanced values, or their clamped indexes for a table the caller reads.
KQFW_AVX2_INLINE __m256i mapped(const Colour& colour, __m256i samples) {
    samples = clamped(samples);
    return colour.mapping == Mapping::kGain ? balanced(samples, colour.gain) : samples;
}

// Interleaves 16 pixels' blue, green and red into 48 output values. The three 16-lane groups
// of the output take, lane by lane, channel l % 3 of pixel l / 3; each channel vector is
// spread by an in-lane byte shuffle of both of its 128-bit halves, blended by lane.
struct Spread {
    __m256i shuffle[3][3];   // [output vector][channel]: bytes of the channel's pixels
    __m256i fromHigh[3][3];  // lanes whose pixel lies in the channel's high half
};

KQFW_AVX2 Spread spread() {
    Spread t;
    for (int v = 0; v < 3; ++v) {
        for (int channel = 0; channel < 3; ++channel) {
            alignas(32) uint8_t bytes[32];
            alignas(32) uint16_t high[16];
            for (int i = 0; i < 16; ++i) {
                const int l = 16 * v + i, pixel = l / 3;
                const bool mine = l % 3 == channel;
                // A shuffle reads its own 128-bit half; the source is given in both halves.
                const int within = pixel % 8;
                bytes[2 * i] = mine ? uint8_t(2 * within) : 0x80;
                bytes[2 * i + 1] = mine ? uint8_t(2 * within + 1) : 0x80;
                high[i] = mine && pixel >= 8 ? 0xFFFF : 0;
            }
            t.shuffle[v][channel] = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
            t.fromHigh[v][channel] = _mm256_load_si256(reinterpret_cast<const __m256i*>(high));
        }
    }
    return t;
}

KQFW_AVX2_INLINE void store(const Spread& order, uint16_t* p, __m256i blue, __m256i green,
                            __m256i red) {
    const __m256i channels[3] = {blue, green, red};  // the output's order
    __m256i low[3], high[3];
    for (int k = 0; k < 3; ++k) {
        low[k] = _mm256_permute2x128_si256(channels[k], channels[k], 0x00);
        high[k] = _mm256_permute2x128_si256(channels[k], channels[k], 0x11);
    }
    for (int v = 0; v < 3; ++v) {
        __m256i all = _mm256_setzero_si256();
        for (int k = 0; k < 3; ++k) {
            const __m256i fromLow = _mm256_shuffle_epi8(low[k], order.shuffle[v][k]);
            const __m256i fromHigh = _mm256_shuffle_epi8(high[k], order.shuffle[v][k]);
            all = _mm256_or_si256(all, _mm256_blendv_epi8(fromLow, fromHigh, order.fromHigh[v][k]));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 16 * v), all);
    }
}

// The table lookups of 16 clamped indexes.
KQFW_AVX2_INLINE __m256i looked(const uint16_t* table, __m256i indexes) {
    alignas(32) uint16_t at[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), indexes);
    for (uint16_t& i : at) {
        i = table[i];
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(at));
}

KQFW_AVX2_INLINE __m256i finished(const Colour& colour, __m256i samples) {
    const __m256i v = mapped(colour, samples);
    return colour.mapping == Mapping::kTable ? looked(colour.table, v) : v;
}

// Columns per strip: a strip's red and blue values serve two rows each, so a strip runs down all
// rows; frames up to a strip wide (every sensor of the family) take one pass.
constexpr int32_t kStrip = 2048;

// One white-balanced value per pixel of a strip, each cell's value given to both of its
// columns: entry i holds the value of the cell at columns 2 * (i / 2) and 2 * (i / 2) + 1.
struct Strip {
    alignas(32) uint16_t red[kStrip + 64];
    alignas(32) uint16_t blue[kStrip + 64];
};

// Entries [0, count] of `to` from the row samples at `first` + 2 * (i / 2), `available` of them
// readable from `first`: 16 cells are mapped at once and each is written twice.
KQFW_AVX2 void mapCells(const Colour& colour, const uint16_t* first, int32_t count,
                        int32_t available, uint16_t* to) {
    int32_t i = 0;
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    for (; i + 32 <= count + 1 && i + 32 <= available; i += 32) {
        const __m256i a = _mm256_and_si256(load(first + i), low16);
        const __m256i b = _mm256_and_si256(load(first + i + 16), low16);
        const __m256i cells = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        const __m256i m = finished(colour, cells);
        const __m256i lo = _mm256_unpacklo_epi16(m, m), hi = _mm256_unpackhi_epi16(m, m);
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i),
                           _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_store_si256(reinterpret_cast<__m256i*>(to + i + 16),
                           _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    for (; i <= count; ++i) {
        to[i] = lut(colour.table, first[2 * (i / 2)]);
    }
}

}  // namespace

// Pixel x of a row takes red from the cell at column (x + 1) & ~1 of the red row and blue from
// the one at x | 1 of the blue row: entries x + 1 and x of the strip. Green is the mean of the red
// row at x | 1 and the blue row at (x + 1) & ~1; for 16 pixels from an even column these are
// the lanes of two loads, from x and from x + 1, alternating, so no lane crosses a vector.
KQFW_AVX2 int32_t blockAvx2(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t w,
                            int32_t h, int32_t stride) {
    static const Spread order = spread();
    // A step reads up to column x + 16; the last two columns are not done here.
    const int32_t done = w >= 18 ? (w - 2) / 16 * 16 : 0;
    if (done == 0) {
        return 0;
    }
    const Colour red = colourOf(c, kRed), green = colourOf(c, kGreen), blue = colourOf(c, kBlue);
    Strip strip;
    for (int32_t x0 = 0; x0 < done; x0 += kStrip) {
        const int32_t columns = done - x0 < kStrip ? done - x0 : kStrip;
        for (int32_t y = 0; y + 1 < h; ++y) {
            const uint16_t* s = raw + size_t(y) * stride;
            const uint16_t* n = s + stride;
            const uint16_t* redRow = (y & 1) == 0 ? s : n;
            const uint16_t* blueRow = (y & 1) == 0 ? n : s;
            // Rows 2m - 1 and 2m share their red samples, rows 2m and 2m + 1 their blue ones.
            if (y == 0 || (y & 1) == 1) {
                mapCells(red, redRow + x0, columns, w - x0, strip.red);
            }
            if ((y & 1) == 0) {
                mapCells(blue, blueRow + x0 + 1, columns - 1, w - x0 - 1, strip.blue);
            }
            uint16_t* o = out + 3 * size_t(y) * stride;
            for (int32_t i = 0; i < columns; i += 16) {
                const int32_t x = x0 + i;
                const __m256i r0 = load(redRow + x), r1 = load(redRow + x + 1);
                const __m256i b0 = load(blueRow + x), b1 = load(blueRow + x + 1);
                const __m256i ga = _mm256_blend_epi16(r1, r0, 0xAA);
                const __m256i gb = _mm256_blend_epi16(b0, b1, 0xAA);
                // (a + b) >> 1 without leaving 16 bits.
                const __m256i greenSamples = _mm256_add_epi16(
                    _mm256_and_si256(ga, gb), _mm256_srli_epi16(_mm256_xor_si256(ga, gb), 1));
                store(order, o + 3 * size_t(x), load(strip.blue + i), finished(green, greenSamples),
                      load(strip.red + i + 1));
            }
        }
    }
    return done;
}

}  // namespace kqfw::detail

#else

namespace kqfw::detail {

int32_t blockAvx2(const CameraContext&, uint16_t*, const uint16_t*, int32_t, int32_t, int32_t) {
    return 0;
}

}  // namespace kqfw::detail

#endif
