// The colour matrix four pixels at a time, computed rather than looked up. Compiled for AVX2
// function by function, so nothing here runs unless the processor was checked for it first.
//
// Twelve table reads a pixel from 480 KB of tables are what the pixel-by-pixel matrix spends
// its time on, and gathers are slower still on this processor family. The tables are a formula
// of colorMatrix, though: an entry is trunc(i * k + 16384) held between two bounds of its
// table, and the clamp table a fixed ramp. The kernel computes those, in the same double
// operations, once every entry of the camera's tables was checked to be that formula; tables
// of any other content (an offline context's, say) stay with the lookups.
#include "processing/colour_matrix.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#define KQFW_AVX2 __attribute__((target("avx2")))
#define KQFW_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace kqfw {

namespace {

constexpr int32_t kMaxSample = 16383;
constexpr double kBias = 16384.0;
constexpr int32_t kClampZero = 49152;
// |k| below this keeps i * k + bias inside the 32-bit range for every sample.
constexpr double kLargestFactor = 60000.0;

struct Formula {
    __m256d factor[9];
    __m128i low[9], high[9];
};

// The entries of table t for four samples (as doubles).
KQFW_AVX2_INLINE __m128i entries(const Formula& f, int t, __m256d samples) {
    const __m256d x = _mm256_add_pd(_mm256_mul_pd(samples, f.factor[t]), _mm256_set1_pd(kBias));
    return _mm_min_epi32(_mm_max_epi32(_mm256_cvttpd_epi32(x), f.low[t]), f.high[t]);
}

// The bounds each table's entries are held in: below by limit + 1 for a negative factor, above
// by the limit for a positive one, and always inside 16 bits.
KQFW_AVX2 bool formulaOf(const FrameRecipe& c, Formula& f) {
    if (c.colorMatrix == nullptr) {
        return false;
    }
    for (int t = 0; t < 9; ++t) {
        const double k = c.colorMatrix[t / 3][t % 3];
        if (!std::isfinite(k) || std::fabs(k) >= kLargestFactor) {
            return false;
        }
        const auto limit = std::max(0, static_cast<int32_t>((k + 1.0) * kBias));
        f.factor[t] = _mm256_set1_pd(k);
        f.low[t] = _mm_set1_epi32(k >= 0 ? 0 : std::max(limit + 1, 0));
        f.high[t] = _mm_set1_epi32(k >= 0 ? std::min(limit, 65535) : 65535);
    }
    return true;
}

KQFW_AVX2 bool tablesAreFormula(const FrameRecipe& c, const Formula& f) {
    __m128i differ = _mm_setzero_si128();
    for (int t = 0; t < 9; ++t) {
        const uint16_t* table = c.matrixTables[t];
        for (int32_t i = 0; i <= kMaxSample; i += 4) {
            const __m128i have =
                _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(table + i)));
            const __m256d samples =
                _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(i), _mm_setr_epi32(0, 1, 2, 3)));
            differ = _mm_or_si128(differ, _mm_xor_si128(have, entries(f, t, samples)));
        }
    }
    // The clamp ramp: 0 below 49152, then the sum less 49152 up to full scale.
    for (int32_t i = 0; i < static_cast<int32_t>(kClampEntries); i += 8) {
        const __m128i have = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.clampTable + i));
        // Both ends of the ramp lie on eight-entry boundaries.
        const __m128i want = i < kClampZero ? _mm_setzero_si128()
                             : i >= kClampZero + kMaxSample
                                 ? _mm_set1_epi16(kMaxSample)
                                 : _mm_add_epi16(_mm_set1_epi16(int16_t(i - kClampZero)),
                                                 _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
        differ = _mm_or_si128(differ, _mm_xor_si128(have, want));
    }
    return _mm_testz_si128(differ, differ) != 0;
}

// Four pixels are twelve samples, read as samples 0-7 and 4-11; a byte shuffle of each gathers
// one channel's four samples into 32-bit lanes, which the other shuffle's zeros leave to the OR.
struct Pick {
    __m128i low, high;
};

Pick pickOf(int channel) {
    alignas(16) int8_t low[16], high[16];
    for (int lane = 0; lane < 4; ++lane) {
        const int sample = channel + 3 * lane;
        for (int b = 0; b < 2; ++b) {
            low[4 * lane + b] = sample < 8 ? int8_t(2 * sample + b) : int8_t(-128);
            high[4 * lane + b] = sample >= 8 ? int8_t(2 * (sample - 4) + b) : int8_t(-128);
            low[4 * lane + 2 + b] = high[4 * lane + 2 + b] = int8_t(-128);
        }
    }
    return {_mm_load_si128(reinterpret_cast<const __m128i*>(low)),
            _mm_load_si128(reinterpret_cast<const __m128i*>(high))};
}

// A row of the matrix for four pixels, through the clamp ramp.
KQFW_AVX2_INLINE __m128i matrixRow(const Formula& f, int row, const __m256d in[3]) {
    __m128i sum = entries(f, 3 * row, in[0]);
    sum = _mm_add_epi32(sum, entries(f, 3 * row + 1, in[1]));
    sum = _mm_add_epi32(sum, entries(f, 3 * row + 2, in[2]));
    return _mm_min_epi32(
        _mm_max_epi32(_mm_sub_epi32(sum, _mm_set1_epi32(kClampZero)), _mm_setzero_si128()),
        _mm_set1_epi32(kMaxSample));
}

}  // namespace

KQFW_AVX2 bool colorMatrixComputable(const FrameRecipe& context) {
    Formula f;
    return formulaOf(context, f) && tablesAreFormula(context, f);
}

KQFW_AVX2 int64_t computeColorMatrixAvx2(const FrameRecipe& context, uint16_t* pixels,
                                         int64_t count) {
    Formula f;
    if (!formulaOf(context, f)) {
        return 0;
    }
    // Four pixels are twelve samples, read as samples 0-7 and 4-11; a byte shuffle of each
    // gathers one channel's four samples, which the other shuffle's zeros leave to the OR.
    Pick channel[3];  // red, green, blue
    for (int k = 0; k < 3; ++k) {
        channel[k] = pickOf(2 - k);
    }
    // The results packed as (blue 0-3, green 0-3) and (red 0-3 twice), spread back into
    // samples 0-7 and 8-11.
    const __m128i lowFromBlueGreen =
        _mm_setr_epi8(0, 1, 8, 9, -128, -128, 2, 3, 10, 11, -128, -128, 4, 5, 12, 13);
    const __m128i lowFromRed = _mm_setr_epi8(-128, -128, -128, -128, 0, 1, -128, -128, -128, -128,
                                             2, 3, -128, -128, -128, -128);
    const __m128i highFromBlueGreen = _mm_setr_epi8(-128, -128, 6, 7, 14, 15, -128, -128, -128,
                                                    -128, -128, -128, -128, -128, -128, -128);
    const __m128i highFromRed = _mm_setr_epi8(4, 5, -128, -128, -128, -128, 6, 7, -128, -128, -128,
                                              -128, -128, -128, -128, -128);
    const __m128i full = _mm_set1_epi32(kMaxSample);
    int64_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint16_t* p = pixels + 3 * i;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
        __m256d in[3];
        for (int k = 0; k < 3; ++k) {
            const __m128i samples = _mm_or_si128(_mm_shuffle_epi8(low, channel[k].low),
                                                 _mm_shuffle_epi8(high, channel[k].high));
            // A sample above 14 bits counts as full scale.
            in[k] = _mm256_cvtepi32_pd(_mm_min_epi32(samples, full));
        }
        const __m128i red = matrixRow(f, 0, in), green = matrixRow(f, 1, in),
                      blue = matrixRow(f, 2, in);
        const __m128i blueGreen = _mm_packus_epi32(blue, green), reds = _mm_packus_epi32(red, red);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm_or_si128(_mm_shuffle_epi8(blueGreen, lowFromBlueGreen),
                                      _mm_shuffle_epi8(reds, lowFromRed)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 8),
                         _mm_or_si128(_mm_shuffle_epi8(blueGreen, highFromBlueGreen),
                                      _mm_shuffle_epi8(reds, highFromRed)));
    }
    return i;
}

}  // namespace kqfw

#endif
