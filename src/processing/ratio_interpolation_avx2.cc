// The ratio method's steps eight sites (or pixels) at a time. Compiled for AVX2 function by
// function, so nothing here runs unless the processor was checked for it first.
//
// What the vectors win is the work between the loads and stores of the interleaved samples:
// the sorting networks, the branch-free choices, and the divisions, done in doubles.
#include "processing/ratio_interpolation.h"

#if defined(__x86_64__) && defined(__GNUC__)

#include <immintrin.h>

#include <algorithm>

#include "camera/lut.h"
#include "processing/rgb_image.h"
#include "processing/site_vectors_avx2.h"

namespace kqfw {

namespace {

constexpr int kB = kChannelBlue, kG = kChannelGreen, kR = kChannelRed;
constexpr int32_t kUnity = 1024, kMaxRatio = 65535;

// The four green neighbours of eight sites, sorted: smallest, the two middle ones, largest.
struct Neighbours {
    __m256i min, lo, hi, max;
};

KQFW_AVX2_INLINE Neighbours neighbours(const uint16_t* green, int32_t rowStride, bool evenRow) {
    // The row above an even row, and the row below an odd one, belong to another pair.
    const __m256i up = evenRow ? sitesOneByOne(green - rowStride) : sites(green - rowStride, kG);
    const __m256i down = evenRow ? sites(green + rowStride, kG) : sitesOneByOne(green + rowStride);
    const __m256i left = sites(green - 3, kG), right = sites(green + 3, kG);
    const __m256i a = _mm256_min_epi32(up, down), b = _mm256_max_epi32(up, down);
    const __m256i c = _mm256_min_epi32(left, right), e = _mm256_max_epi32(left, right);
    const __m256i m1 = _mm256_max_epi32(a, c), m2 = _mm256_min_epi32(b, e);
    return {_mm256_min_epi32(a, c), _mm256_min_epi32(m1, m2), _mm256_max_epi32(m1, m2),
            _mm256_max_epi32(b, e)};
}

KQFW_AVX2_INLINE __m256i median3(__m256i a, __m256i b, __m256i c) {
    return _mm256_max_epi32(_mm256_min_epi32(a, b), _mm256_min_epi32(_mm256_max_epi32(a, b), c));
}

// Where a site's ratio lives, as in the plain steps.
int ratioChannel(int32_t y) {
    return (y & 1) == 0 ? kR : kB;
}

// The saved sample sits in the pixel below (even rows) or above (odd rows).
int32_t savedSampleOffset(int32_t width, int32_t y) {
    return (y & 1) == 0 ? 3 * width + kR : -3 * width + kB;
}

}  // namespace

KQFW_AVX2 int32_t estimateSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                    int32_t count) {
    const int32_t rowStride = 3 * width;
    const __m256i unity = _mm256_set1_epi32(kUnity), zero = _mm256_setzero_si256();
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* site = image + 3 * (size_t(y) * width + x + 2 * done);
        const Neighbours n = neighbours(site + kG, rowStride, (y & 1) == 0);
        const __m256i own = sites(site + kG, kG);
        const __m256i above = _mm256_cmpgt_epi32(own, n.hi);
        const __m256i atOrBelow =
            _mm256_xor_si256(_mm256_cmpgt_epi32(own, n.lo), _mm256_set1_epi32(-1));
        const __m256i none = _mm256_cmpeq_epi32(n.lo, zero);
        const __m256i limit = _mm256_blendv_epi8(n.lo, n.hi, above);
        const __m256i q = _mm256_min_epi32(quotient(_mm256_slli_epi32(own, 10), limit),
                                           _mm256_set1_epi32(kMaxRatio));
        const __m256i moved = _mm256_or_si256(above, atOrBelow);
        __m256i green = _mm256_blendv_epi8(own, limit, moved);
        __m256i ratio = _mm256_blendv_epi8(unity, q, moved);
        green = _mm256_andnot_si256(none, green);
        ratio = _mm256_blendv_epi8(ratio, unity, none);
        storeSites(site + kG, green);
        storeSites(site + ratioChannel(y), ratio);
    }
    return done;
}

KQFW_AVX2 int32_t refineSitesAvx2(int32_t strength, uint16_t* image, int32_t width, int32_t y,
                                  int32_t x, int32_t count) {
    const int32_t rowStride = 3 * width;
    const __m256i unity = _mm256_set1_epi32(kUnity), zero = _mm256_setzero_si256();
    const int32_t savedOffset = savedSampleOffset(width, y);
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* site = image + 3 * (size_t(y) * width + x + 2 * done);
        const Neighbours n = neighbours(site + kG, rowStride, (y & 1) == 0);
        const __m256i none = _mm256_cmpeq_epi32(n.lo, zero);
        const __m256i spread =
            _mm256_mullo_epi32(_mm256_sub_epi32(n.max, n.min), _mm256_set1_epi32(strength));
        const __m256i a = _mm256_sub_epi32(unity, quotient(spread, n.max));
        const __m256i green = _mm256_min_epi32(_mm256_max_epi32(sites(site + kG, kG), n.lo), n.hi);
        const __m256i difference =
            _mm256_sub_epi32(sites(site + savedOffset, ratioChannel(y)), green);
        __m256i ratio = _mm256_add_epi32(quotient(_mm256_mullo_epi32(difference, a), green), unity);
        ratio = _mm256_min_epi32(ratio, _mm256_set1_epi32(kMaxRatio));
        const __m256i keep = _mm256_or_si256(none, _mm256_cmpgt_epi32(_mm256_set1_epi32(1), a));
        ratio = _mm256_blendv_epi8(ratio, unity, keep);
        storeSites(site + kG, _mm256_andnot_si256(none, green));
        storeSites(site + ratioChannel(y), ratio);
    }
    return done;
}

// The saved sample, the pixel's own, divided by its filtered ratio.
KQFW_AVX2 int32_t greenFromRatioSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                          int32_t count) {
    const int32_t savedOffset = savedSampleOffset(width, y);
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* site = image + 3 * (size_t(y) * width + x + 2 * done);
        const __m256i ratio =
            _mm256_add_epi32(sites(site + ratioChannel(y), ratioChannel(y)), _mm256_set1_epi32(1));
        const __m256i green =
            quotient(_mm256_slli_epi32(sites(site + savedOffset, ratioChannel(y)), 10), ratio);
        storeSites(site + kG, _mm256_min_epi32(green, _mm256_set1_epi32(kMaxSample)));
    }
    return done;
}

KQFW_AVX2 int32_t medianAcrossSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                        int32_t count) {
    const int ratio = ratioChannel(y);
    // Parked beside the site: in the pixel to its right (even rows) or left (odd rows).
    const int parked = (y & 1) == 0 ? 3 + kR : -3 + kB;
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* site = image + 3 * (size_t(y) * width + x + 2 * done);
        const __m256i m =
            median3(sitesOneByOne(site + ratio - kSiteStep), sitesOneByOne(site + ratio),
                    sitesOneByOne(site + ratio + kSiteStep));
        storeSites(site + parked, m);
    }
    return done;
}

KQFW_AVX2 int32_t medianDownSitesAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                      int32_t count) {
    const int32_t rowStride = 3 * width;
    const int channel = ratioChannel(y), parked = (y & 1) == 0 ? 3 + kR : -3 + kB;
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* site = image + 3 * (size_t(y) * width + x + 2 * done);
        // Rows two away belong to other pairs.
        const __m256i m =
            median3(sitesOneByOne(site + parked - 2 * rowStride), sites(site + parked, channel),
                    sitesOneByOne(site + parked + 2 * rowStride));
        storeSites(site + ratioChannel(y), m);
    }
    return done;
}

KQFW_AVX2 int32_t resampleGreenRowAvx2(uint16_t* image, int32_t width, int32_t y, int32_t x,
                                       int32_t count) {
    // The four rows' greens, from column x - 1 on, gathered into planes a chunk at a time.
    constexpr int32_t kChunk = 256;
    alignas(32) int32_t rows[4][kChunk + 8];
    const int spare = (y & 1) == 0 ? kB : kR;
    int32_t done = 0;
    while (count - done >= 8) {
        const int32_t n = std::min(kChunk, (count - done) & ~7);
        const int32_t first = x + done - 1;
        for (int r = 0; r < 4; ++r) {
            const uint16_t* g = image + 3 * (size_t(y - 1 + r) * width + first) + kG;
            for (int32_t i = 0; i < n + 3; ++i) {
                rows[r][i] = g[3 * i];
            }
        }
        for (int32_t i = 0; i < n; i += 8) {
            // Rows y - 1 to y + 2 at the output pixels' columns.
            const int32_t *above = &rows[0][i + 1], *top = &rows[1][i + 1];
            const int32_t *bottom = &rows[2][i + 1], *below = &rows[3][i + 1];
            const __m256i in =
                _mm256_add_epi32(_mm256_add_epi32(lanes8(top), lanes8(top + 1)),
                                 _mm256_add_epi32(lanes8(bottom), lanes8(bottom + 1)));
            const __m256i out = _mm256_add_epi32(
                _mm256_add_epi32(_mm256_add_epi32(lanes8(above), lanes8(above + 1)),
                                 _mm256_add_epi32(lanes8(top - 1), lanes8(bottom - 1))),
                _mm256_add_epi32(_mm256_add_epi32(lanes8(top + 2), lanes8(bottom + 2)),
                                 _mm256_add_epi32(lanes8(below), lanes8(below + 1))));
            __m256i v = _mm256_srai_epi32(
                _mm256_sub_epi32(_mm256_mullo_epi32(in, _mm256_set1_epi32(6)), out), 4);
            v = _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()),
                                 _mm256_set1_epi32(kMaxSample));
            alignas(32) int32_t lanes[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
            uint16_t* p = image + 3 * (size_t(y) * width + first + 1 + i) + spare;
            for (int k = 0; k < 8; ++k) {
                p[3 * k] = static_cast<uint16_t>(lanes[k]);
            }
        }
        done += n;
    }
    return done;
}

// A colour from a pixel's green and its cell's ratio, with the 32-bit product of the plain step.
KQFW_AVX2_INLINE __m256i colourOf(__m256i green, __m256i ratio) {
    const __m256i v = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(green, ratio), _mm256_set1_epi32(512)), 10);
    return _mm256_min_epu32(v, _mm256_set1_epi32(kMaxSample));
}

KQFW_AVX2 int32_t applyRatioCellsAvx2(uint16_t* image, int32_t width, int32_t y, int32_t count) {
    int32_t done = 0;
    for (; done + 8 <= count; done += 8) {
        uint16_t* cell = image + 3 * (size_t(y) * width + 2 * done);
        // Both ratios are read before the cell's colours overwrite them.
        const __m256i red = sitesOneByOne(cell + kR),
                      blue = sitesOneByOne(cell + 3 * width + 3 + kB);
        for (int32_t dy = 0; dy < 2; ++dy) {
            for (int32_t dx = 0; dx < 2; ++dx) {
                uint16_t* p = cell + 3 * (dy * width + dx);
                const __m256i green = sitesOneByOne(p + kG);
                storeSites(p + kR, colourOf(green, red));
                storeSites(p + kB, colourOf(green, blue));
            }
        }
    }
    return done;
}

}  // namespace kqfw

#else

namespace kqfw {

// No vector steps on other processors: the plain ones do every site.
int32_t estimateSitesAvx2(uint16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int32_t refineSitesAvx2(int32_t, uint16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int32_t medianAcrossSitesAvx2(uint16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int32_t medianDownSitesAvx2(uint16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int32_t resampleGreenRowAvx2(uint16_t*, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}

}  // namespace kqfw

#endif
