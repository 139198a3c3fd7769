// Vector loads and stores of the colour sites of an interleaved RGB16 row, and exact
// quotients, for the kernels compiled for AVX2 function by function. Include only from such
// files: every function here needs AVX2 and is inlined into its caller.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <cstdint>

#include "processing/rgb_image.h"

#define KQFW_AVX2 __attribute__((target("avx2")))
#define KQFW_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace kqfw {

// Samples from one site to the next of its colour in a row.
inline constexpr int kSiteStep = 6;

// Channel `channel` of eight sites, from `p` at the first's. Two sites lie in 16 bytes, which
// start at the channel (blue) or one sample before it (green, red), so no read leaves the
// pixels of the sites; a byte shuffle moves each site's sample into its lane. The loads read
// the samples between the sites too, so they are only for rows no other thread writes while
// they run: the kernels share rows out in pairs, and read a site's own pair this way.
KQFW_AVX2_INLINE __m256i sites(const uint16_t* p, int channel) {
    const uint16_t* q = channel == kChannelBlue ? p : p - 1;
    auto chunk = [q](int site) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 6 * site));
    };
    // Sites 0, 1 | 4, 5 into lanes 0, 1 | 4, 5, and sites 2, 3 | 6, 7 into lanes 2, 3 | 6, 7.
    const __m256i even = _mm256_inserti128_si256(_mm256_castsi128_si256(chunk(0)), chunk(4), 1);
    const __m256i odd = _mm256_inserti128_si256(_mm256_castsi128_si256(chunk(2)), chunk(6), 1);
    const __m256i pickEven =
        channel == kChannelBlue
            ? _mm256_setr_epi8(0, 1, -1, -1, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1,
                               -1, -1, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)
            : _mm256_setr_epi8(2, 3, -1, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 3,
                               -1, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i pickOdd = _mm256_shuffle_epi32(pickEven, 0x4e);  // halves of each lane swapped
    return _mm256_or_si256(_mm256_shuffle_epi8(even, pickEven), _mm256_shuffle_epi8(odd, pickOdd));
}

// The same one sample at a time: for rows of other pairs, and for samples near ones a step
// has just written (a wide read of a narrow write still on its way to memory waits for it).
KQFW_AVX2_INLINE __m256i sitesOneByOne(const uint16_t* p) {
    return _mm256_setr_epi32(p[0], p[6], p[12], p[18], p[24], p[30], p[36], p[42]);
}

KQFW_AVX2_INLINE void storeSites(uint16_t* p, __m256i v) {
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    for (int k = 0; k < 8; ++k) {
        p[kSiteStep * k] = static_cast<uint16_t>(lanes[k]);
    }
}

KQFW_AVX2_INLINE __m256i lanes8(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KQFW_AVX2_INLINE __m256i quotient4(__m128i n, __m128i d) {
    return _mm256_castsi128_si256(
        _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(n), _mm256_cvtepi32_pd(d))));
}

// n / d for |n| < 2^31, truncated like integer division; lanes where d is 0 give 0. A double
// quotient of such integers never rounds across an integer, so truncating it is exact,
// negative numerators included.
KQFW_AVX2_INLINE __m256i quotient(__m256i n, __m256i d) {
    const __m256i zero = _mm256_cmpeq_epi32(d, _mm256_setzero_si256());
    d = _mm256_blendv_epi8(d, _mm256_set1_epi32(1), zero);
    const __m256i low = quotient4(_mm256_castsi256_si128(n), _mm256_castsi256_si128(d));
    const __m256i high = quotient4(_mm256_extracti128_si256(n, 1), _mm256_extracti128_si256(d, 1));
    return _mm256_andnot_si256(zero, _mm256_permute2x128_si256(low, high, 0x20));
}

}  // namespace kqfw

#endif
