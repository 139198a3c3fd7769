// The regression method's colour lines a cell row at a time, every cell of the row fitted side
// by side so the fits run in vector registers. No cell reads a pair an earlier cell overwrote,
// so each row's pairs can be read before any of the row's colours are written; the arithmetic
// is FitColourLine's, operation for operation, so the output is the cell-by-cell version's.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "camera/lut.h"
#include "platform/memory.h"
#include "platform/worker_pool.h"
#include "processing/regression_interpolation.h"
#include "processing/rgb_image.h"

#define KQFW_INLINE inline __attribute__((always_inline))

namespace kqfw {

namespace {

constexpr int kB = kChannelBlue, kG = kChannelGreen, kR = kChannelRed;
constexpr uint32_t kAnchor = kMaxSample;

// double(v) for every uint32, in the signed form vector units convert.
KQFW_INLINE double exactDouble(uint32_t v) {
    return double(int32_t(v ^ 0x80000000u)) + 2147483648.0;
}

// The pairs of one colour for a cell row: three lattice rows of x and of y, one value a site.
struct PairRows {
    uint32_t* x[3];
    uint32_t* y[3];
};

// Fits cells [0, cells): cell j's points are the pairs j, j + 1, j + 2 of the three rows.
KQFW_INLINE void fitRow(const PairRows& p, int32_t first, int32_t cells, double* slope,
                        double* intercept) {
    for (int32_t j = first; j < cells; ++j) {
        uint32_t x[11], y[11];
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) {
                x[3 * a + b] = p.x[a][j + b];
                y[3 * a + b] = p.y[a][j + b];
            }
        }
        x[9] = y[9] = kAnchor;
        x[10] = y[10] = 0;
        uint32_t sx = 0, sy = 0, sxx = 1, sxy = 1;
        for (int k = 0; k < 11; ++k) {
            sx += x[k];
            sy += y[k];
            sxx += x[k] * x[k];
            sxy += x[k] * y[k];
        }
        double b0 = 0;
        const double m0 =
            fitLine(11, exactDouble(sx), exactDouble(sy), exactDouble(sxx), exactDouble(sxy), &b0);
        double worst = -1;
        uint32_t wx = 0, wy = 0;
        for (int k = 0; k < 11; ++k) {
            const double r = double(int32_t(x[k])) * m0 + b0 - double(int32_t(y[k]));
            const bool further = r * r > worst;
            worst = further ? r * r : worst;
            wx = further ? x[k] : wx;
            wy = further ? y[k] : wy;
        }
        sx -= wx;
        sy -= wy;
        sxx -= wx * wx;
        sxy -= wx * wy;
        slope[j] = fitLine(10, exactDouble(sx), exactDouble(sy), exactDouble(sxx), exactDouble(sxy),
                           &intercept[j]);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KQFW_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

KQFW_AVX2_INLINE __m256d line4(__m256d n, __m256d sx, __m256d sy, __m256d sxx, __m256d sxy,
                               __m256d* intercept) {
    const __m256d delta = _mm256_sub_pd(_mm256_mul_pd(n, sxx), _mm256_mul_pd(sx, sx));
    *intercept =
        _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(sy, sxx), _mm256_mul_pd(sxy, sx)), delta);
    return _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(n, sxy), _mm256_mul_pd(sy, sx)), delta);
}

// double(v) for four uint32 lanes.
KQFW_AVX2_INLINE __m256d exactDouble4(__m128i v) {
    const __m128i flipped = _mm_xor_si128(v, _mm_set1_epi32(int32_t(0x80000000u)));
    return _mm256_add_pd(_mm256_cvtepi32_pd(flipped), _mm256_set1_pd(2147483648.0));
}

// Four cells' fits side by side: the sums in uint32 lanes, wrapping as the cell-by-cell fit's
// do, the rest its double operations in its order, the first of equal worst residuals kept.
KQFW_AVX2_INLINE void fit4(const PairRows& p, int32_t j, double* slope, double* intercept) {
    __m128i xi[11], yi[11];
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            xi[3 * a + b] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.x[a] + j + b));
            yi[3 * a + b] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.y[a] + j + b));
        }
    }
    xi[9] = yi[9] = _mm_set1_epi32(int32_t(kAnchor));
    xi[10] = yi[10] = _mm_setzero_si128();
    __m128i sx = _mm_setzero_si128(), sy = sx, sxx = _mm_set1_epi32(1), sxy = sxx;
    for (int k = 0; k < 11; ++k) {
        sx = _mm_add_epi32(sx, xi[k]);
        sy = _mm_add_epi32(sy, yi[k]);
        sxx = _mm_add_epi32(sxx, _mm_mullo_epi32(xi[k], xi[k]));
        sxy = _mm_add_epi32(sxy, _mm_mullo_epi32(xi[k], yi[k]));
    }
    __m256d b0;
    const __m256d m0 = line4(_mm256_set1_pd(11.0), exactDouble4(sx), exactDouble4(sy),
                             exactDouble4(sxx), exactDouble4(sxy), &b0);
    // The pairs are 16-bit values, so the signed conversion is exact and so is the way back.
    __m256d worst = _mm256_set1_pd(-1.0), wx = _mm256_setzero_pd(), wy = wx;
    for (int k = 0; k < 11; ++k) {
        const __m256d x = _mm256_cvtepi32_pd(xi[k]), y = _mm256_cvtepi32_pd(yi[k]);
        const __m256d r = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(x, m0), b0), y);
        const __m256d rr = _mm256_mul_pd(r, r);
        const __m256d further = _mm256_cmp_pd(rr, worst, _CMP_GT_OQ);
        worst = _mm256_blendv_pd(worst, rr, further);
        wx = _mm256_blendv_pd(wx, x, further);
        wy = _mm256_blendv_pd(wy, y, further);
    }
    const __m128i wxi = _mm256_cvttpd_epi32(wx), wyi = _mm256_cvttpd_epi32(wy);
    sx = _mm_sub_epi32(sx, wxi);
    sy = _mm_sub_epi32(sy, wyi);
    sxx = _mm_sub_epi32(sxx, _mm_mullo_epi32(wxi, wxi));
    sxy = _mm_sub_epi32(sxy, _mm_mullo_epi32(wxi, wyi));
    __m256d b1;
    _mm256_storeu_pd(slope + j, line4(_mm256_set1_pd(10.0), exactDouble4(sx), exactDouble4(sy),
                                      exactDouble4(sxx), exactDouble4(sxy), &b1));
    _mm256_storeu_pd(intercept + j, b1);
}

// Fits the row's cells four at a time; returns how many it fitted.
__attribute__((target("avx2"))) int32_t fitRowAvx2(const PairRows& p, int32_t cells, double* slope,
                                                   double* intercept) {
    int32_t j = 0;
    for (; j + 4 <= cells; j += 4) {
        fit4(p, j, slope, intercept);
    }
    return j;
}
#endif

KQFW_INLINE uint16_t predicted(uint16_t green, double slope, double intercept) {
    const double v = green * slope + intercept;
    return static_cast<uint16_t>(v < 0.0 ? 0.0 : double(kMaxSample) < v ? double(kMaxSample) : v);
}

// The buffers of one image's pass, carved from one allocation.
struct Scratch {
    PairRows red, blue;
    double *slopeR, *interceptR, *slopeB, *interceptB;
    // A cell row's colours, 2 rows x (cells x 2) pixels x (red, blue): two in turn and one
    // for the stripe's first cell row.
    uint16_t* slot[3];
    void* block;
};

bool allocate(Scratch& s, int32_t sites, int32_t cells) {
    const size_t pairBytes = 12 * size_t(sites) * sizeof(uint32_t);
    const size_t fitBytes = 4 * size_t(cells) * sizeof(double);
    const size_t slotValues = 2 * size_t(cells) * 2 * 2;
    s.block = allocZeroed(pairBytes + fitBytes + 3 * slotValues * sizeof(uint16_t));
    if (s.block == nullptr) {
        return false;
    }
    auto* pairs = static_cast<uint32_t*>(s.block);
    for (int a = 0; a < 3; ++a) {
        s.red.x[a] = pairs + (0 + a) * size_t(sites);
        s.red.y[a] = pairs + (3 + a) * size_t(sites);
        s.blue.x[a] = pairs + (6 + a) * size_t(sites);
        s.blue.y[a] = pairs + (9 + a) * size_t(sites);
    }
    auto* fits = reinterpret_cast<double*>(static_cast<char*>(s.block) + pairBytes);
    s.slopeR = fits;
    s.interceptR = fits + cells;
    s.slopeB = fits + 2 * size_t(cells);
    s.interceptB = fits + 3 * size_t(cells);
    auto* slots = reinterpret_cast<uint16_t*>(static_cast<char*>(s.block) + pairBytes + fitBytes);
    s.slot[0] = slots;
    s.slot[1] = slots + slotValues;
    s.slot[2] = slots + 2 * slotValues;
    return true;
}

// Red pairs sit in channel 2 of the row below their sites (x right of the site, y below it),
// blue pairs in channel 0 of the row above theirs (x left of the site, y above it).
KQFW_INLINE void readPairs(const RgbImage& im, int32_t y0, int32_t sites, const Scratch& s) {
    for (int a = 0; a < 3; ++a) {
        const uint16_t* red = im.at(y0 - 1 + 2 * a, 0);
        const uint16_t* blue = im.at(y0 - 2 + 2 * a, 0);
        for (int32_t i = 0; i < sites; ++i) {
            s.red.x[a][i] = red[6 * i + 3 + kR];
            s.red.y[a][i] = red[6 * i + kR];
            s.blue.x[a][i] = blue[6 * i + kB];
            s.blue.y[a][i] = blue[6 * i + 3 + kB];
        }
    }
}

KQFW_INLINE void predictRow(const RgbImage& im, int32_t y0, int32_t cells, const Scratch& s,
                            uint16_t* slot) {
    for (int dy = 0; dy < 2; ++dy) {
        const uint16_t* green = im.at(y0 + dy, 2) + kG;
        uint16_t* out = slot + dy * size_t(cells) * 4;
        for (int32_t j = 0; j < cells; ++j) {
            for (int dx = 0; dx < 2; ++dx) {
                const uint16_t g = green[3 * (2 * j + dx)];
                out[2 * (2 * j + dx)] = predicted(g, s.slopeR[j], s.interceptR[j]);
                out[2 * (2 * j + dx) + 1] = predicted(g, s.slopeB[j], s.interceptB[j]);
            }
        }
    }
}

KQFW_INLINE void writeRow(const RgbImage& im, int32_t y0, int32_t cells, const uint16_t* slot) {
    for (int dy = 0; dy < 2; ++dy) {
        uint16_t* p = im.at(y0 + dy, 2);
        const uint16_t* in = slot + dy * size_t(cells) * 4;
        for (int32_t x = 0; x < 2 * cells; ++x) {
            p[3 * x + kR] = in[2 * x];
            p[3 * x + kB] = in[2 * x + 1];
        }
    }
}

// The cell rows [first, end) of a stripe (cell row i is image row 2 + 2i). A cell row's pixels
// hold pairs the cell rows above and below it read, so its colours wait until both have read
// them: within the stripe, one cell row behind; the stripe's first and last cell rows, whose
// neighbours may belong to other stripes, until every stripe is done (held in their slots).
template <bool kVector>
KQFW_INLINE void colourLines(const RgbImage& im, const Scratch& s, int32_t sites, int32_t cells,
                             int32_t first, int32_t end) {
    for (int32_t i = first; i < end; ++i) {
        const int32_t y0 = 2 + 2 * i;
        readPairs(im, y0, sites, s);
        int32_t firstR = 0, firstB = 0;
#if defined(__x86_64__) && defined(__GNUC__)
        if constexpr (kVector) {
            firstR = fitRowAvx2(s.red, cells, s.slopeR, s.interceptR);
            firstB = fitRowAvx2(s.blue, cells, s.slopeB, s.interceptB);
        }
#endif
        fitRow(s.red, firstR, cells, s.slopeR, s.interceptR);
        fitRow(s.blue, firstB, cells, s.slopeB, s.interceptB);
        predictRow(im, y0, cells, s, i == first ? s.slot[2] : s.slot[i % 2]);
        if (i - 1 > first) {
            writeRow(im, y0 - 2, cells, s.slot[(i - 1) % 2]);
        }
    }
}

void colourLinesScalar(const RgbImage& im, const Scratch& s, int32_t sites, int32_t cells,
                       int32_t first, int32_t end) {
    colourLines<false>(im, s, sites, cells, first, end);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void colourLinesAvx2(const RgbImage& im, const Scratch& s,
                                                     int32_t sites, int32_t cells, int32_t first,
                                                     int32_t end) {
    colourLines<true>(im, s, sites, cells, first, end);
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) void colourLinesAvx512(
    const RgbImage& im, const Scratch& s, int32_t sites, int32_t cells, int32_t first,
    int32_t end) {
    colourLines<true>(im, s, sites, cells, first, end);
}
#endif

void colourLinesAt(SimdLevel level, const RgbImage& im, const Scratch& s, int32_t sites,
                   int32_t cells, int32_t first, int32_t end) {
    switch (level) {
#if defined(__x86_64__) && defined(__GNUC__)
        case SimdLevel::kAvx512:
            colourLinesAvx512(im, s, sites, cells, first, end);
            break;
        case SimdLevel::kAvx2:
            colourLinesAvx2(im, s, sites, cells, first, end);
            break;
#endif
        default:
            colourLinesScalar(im, s, sites, cells, first, end);
    }
}

// The colour-line values of `count` greens, the expression predictRow evaluates, compiled for
// each level as the colour lines are: where a compiler fuses the product and the sum, it does so
// here as there.
KQFW_INLINE void predictValues(const uint16_t* green, const double* slope, const double* intercept,
                               int32_t count, uint16_t* out) {
    for (int32_t i = 0; i < count; ++i) {
        out[i] = predicted(green[i], slope[i], intercept[i]);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void predictValuesAvx2(const uint16_t* green, const double* slope,
                                                       const double* intercept, int32_t count,
                                                       uint16_t* out) {
    predictValues(green, slope, intercept, count, out);
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) void predictValuesAvx512(
    const uint16_t* green, const double* slope, const double* intercept, int32_t count,
    uint16_t* out) {
    predictValues(green, slope, intercept, count, out);
}
#endif

}  // namespace

void ColourLineValues(SimdLevel level, const uint16_t* green, const double* slope,
                      const double* intercept, int32_t count, uint16_t* out) {
    switch (level) {
#if defined(__x86_64__) && defined(__GNUC__)
        case SimdLevel::kAvx512:
            predictValuesAvx512(green, slope, intercept, count, out);
            break;
        case SimdLevel::kAvx2:
            predictValuesAvx2(green, slope, intercept, count, out);
            break;
#endif
        default:
            predictValues(green, slope, intercept, count, out);
    }
}

bool ColourLinesByRows(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                       WorkerPool* pool) {
    const RgbImage im{image, width, height};
    const int32_t sites = width / 2, cells = (width - 4) / 2;
    const RowStripes stripes = rowStripes(pool, (height - 6) / 2 + 1, 1);
    // A stripe a thread at most, so the buffers fit in a fixed array.
    Scratch scratch[WorkerPool::kMaxThreads]{};
    const int32_t count = std::min(stripes.count, WorkerPool::kMaxThreads);
    bool allocated = true;
    for (int32_t k = 0; k < count; ++k) {
        allocated = allocated && allocate(scratch[k], sites, cells);
    }
    if (allocated) {
        forRowStripes(pool, stripes, [&](int32_t k, int32_t first, int32_t end) {
            colourLinesAt(level, im, scratch[k], sites, cells, first, end);
        });
        for (int32_t k = 0; k < count; ++k) {
            const int32_t first = stripes.first(k), last = stripes.end(k) - 1;
            writeRow(im, 2 + 2 * first, cells, scratch[k].slot[2]);
            if (last > first) {
                writeRow(im, 2 + 2 * last, cells, scratch[k].slot[last % 2]);
            }
        }
    }
    for (int32_t k = 0; k < count; ++k) {
        freeZeroed(scratch[k].block);
    }
    return allocated;
}

}  // namespace kqfw
