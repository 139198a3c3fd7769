// The regression method's directional green eight sites at a time, for sites two or more
// pixels from every edge (where no mirrored neighbour or one-sided diagonal comes in). The
// doubles go through the same operations in the same order as the plain site's, four lanes at
// a time, so every rounding is the same; the scaled pairs' quotients have numerators below
// 2^34, exact in doubles.
#include "processing/regression_interpolation.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include "processing/site_vectors_avx2.h"

namespace kqfw {

namespace {

constexpr int kB = kChannelBlue, kG = kChannelGreen, kR = kChannelRed;

// The integer sums of four sites, one half of the eight.
struct Sums {
    __m128i H, V, D, dh, dv, Dh, Dv;
};

KQFW_AVX2_INLINE __m256d wide(__m128i v) {
    return _mm256_cvtepi32_pd(v);
}

// The green of four sites.
KQFW_AVX2_INLINE __m128i greenOf(const Sums& s) {
    const __m256d H = wide(s.H), V = wide(s.V), D = wide(s.D);
    const __m256d three = _mm256_set1_pd(3.0), sixteenth = _mm256_set1_pd(16.0),
                  quarter = _mm256_set1_pd(4.0);
    const __m256d dh = wide(s.dh), dv = wide(s.dv), Dh = wide(s.Dh), Dv = wide(s.Dv);
    const __m256d a = _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(three, H), D), V);
    const __m256d b = _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(three, V), D), H);
    const __m256d mv = _mm256_add_pd(
        _mm256_add_pd(_mm256_div_pd(_mm256_mul_pd(a, a), sixteenth), _mm256_mul_pd(dv, dv)),
        _mm256_div_pd(_mm256_mul_pd(Dv, Dv), quarter));
    const __m256d mh = _mm256_add_pd(
        _mm256_add_pd(_mm256_div_pd(_mm256_mul_pd(b, b), sixteenth), _mm256_mul_pd(dh, dh)),
        _mm256_div_pd(_mm256_mul_pd(Dh, Dh), quarter));
    const __m256d wh = _mm256_mul_pd(mv, mv), wv = _mm256_mul_pd(mh, mh);
    // Weights summing below 1 give the plain mean of the four.
    const __m256d sum = _mm256_add_pd(wh, wv);
    const __m256d even = _mm256_cmp_pd(sum, _mm256_set1_pd(1.0), _CMP_LT_OQ);
    const __m256d weighted = _mm256_div_pd(
        _mm256_add_pd(_mm256_mul_pd(H, wh), _mm256_mul_pd(V, wv)),
        _mm256_blendv_pd(_mm256_mul_pd(sum, _mm256_set1_pd(2.0)), _mm256_set1_pd(1.0), even));
    const __m256d mean = wide(_mm_srai_epi32(_mm_add_epi32(s.H, s.V), 2));
    return _mm256_cvttpd_epi32(_mm256_blendv_pd(weighted, mean, even));
}

// v x lesser / greater, truncated; v itself where both are 0.
KQFW_AVX2_INLINE __m128i scaled(__m128i v, __m128i lesser, __m128i greater) {
    const __m128i none = _mm_cmpeq_epi32(greater, _mm_setzero_si128());
    const __m256d d = wide(_mm_blendv_epi8(greater, _mm_set1_epi32(1), none));
    const __m128i q = _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_mul_pd(wide(v), wide(lesser)), d));
    return _mm_blendv_epi8(q, v, none);
}

KQFW_AVX2_INLINE __m256i join(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

KQFW_AVX2_INLINE __m128i half(__m256i v, int k) {
    return k == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
}

KQFW_AVX2_INLINE __m256i scaled(__m256i v, __m256i lesser, __m256i greater) {
    return join(scaled(half(v, 0), half(lesser, 0), half(greater, 0)),
                scaled(half(v, 1), half(lesser, 1), half(greater, 1)));
}

}  // namespace

KQFW_AVX2 int32_t directionalGreenSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                            int32_t count) {
    const int32_t rowStride = 3 * width;
    const bool evenRow = (y & 1) == 0;
    const int other = evenRow ? kB : kR, own = evenRow ? kR : kB;
    // The pairs' places, as pairX and pairY have them.
    const int32_t pairX = evenRow ? rowStride + 3 + kR : -rowStride - 3 + kB;
    const int32_t pairY = evenRow ? rowStride + kR : -rowStride + kB;
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* site = image + 3 * (size_t(y) * width + x + 2 * done);
        // The row above an even row and the row below an odd one belong to another pair, and
        // the row below an even row holds pairs this loop has just written: those are read one
        // sample at a time.
        const __m256i up =
            evenRow ? sitesOneByOne(site - rowStride + kG) : sites(site - rowStride + kG, kG);
        const __m256i down =
            evenRow ? sites(site + rowStride + kG, kG) : sitesOneByOne(site + rowStride + kG);
        const __m256i left = sites(site - 3 + kG, kG), right = sites(site + 3 + kG, kG);
        const __m256i ul = evenRow ? sitesOneByOne(site - rowStride - 3 + other)
                                   : sites(site - rowStride - 3 + other, other);
        const __m256i ur = evenRow ? sitesOneByOne(site - rowStride + 3 + other)
                                   : sites(site - rowStride + 3 + other, other);
        const __m256i dl = sitesOneByOne(site + rowStride - 3 + other),
                      dr = sitesOneByOne(site + rowStride + 3 + other);
        const __m256i sample = sites(site + own, own);
        const __m256i H = _mm256_add_epi32(left, right), V = _mm256_add_epi32(up, down);
        const __m256i D = _mm256_add_epi32(_mm256_add_epi32(ul, ur), _mm256_add_epi32(dl, dr));
        const __m256i dh = _mm256_sub_epi32(left, right), dv = _mm256_sub_epi32(up, down);
        const __m256i Dh = _mm256_sub_epi32(_mm256_add_epi32(ul, dl), _mm256_add_epi32(ur, dr));
        const __m256i Dv = _mm256_sub_epi32(_mm256_add_epi32(ul, ur), _mm256_add_epi32(dl, dr));
        Sums part[2];
        for (int k = 0; k < 2; ++k) {
            part[k] = {half(H, k),  half(V, k),  half(D, k), half(dh, k),
                       half(dv, k), half(Dh, k), half(Dv, k)};
        }
        const __m256i green = join(greenOf(part[0]), greenOf(part[1]));
        const __m256i lesser = _mm256_min_epi32(H, V), greater = _mm256_max_epi32(H, V);
        storeSites(site + kG, green);
        storeSites(site + pairX, scaled(green, lesser, greater));
        storeSites(site + pairY, scaled(sample, lesser, greater));
    }
    return done;
}

}  // namespace kqfw

#else

namespace kqfw {

// No vector form on other processors: the plain sites do every one.
int32_t directionalGreenSitesAvx2(uint16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}

}  // namespace kqfw

#endif
