// The row passes of the directional LMMSE interpolation: straight loops over one row, each
// output element an expression of its inputs written out in one order. Included by the plain
// file and by the one compiled for AVX2, each inside a namespace of its own, so the compiler
// vectorises the same expressions at both levels: without contraction and without fast-math, a
// lane rounds exactly as the scalar loop does. Nothing here calls into templates of the
// standard library, whose instances the two compilations would share.
//
// The header has no include guard on purpose: it is meant to be included once per level. The
// rows a pass reads and the one it writes never overlap, which `ivdep` tells the compiler; it
// would not vectorise loops reading nine rows otherwise (too many overlap checks).

// GCC's promise; clang does not know it, and its own form is an order that fails the build
// where a sanitizer keeps the loop from vectorising, so clang decides by itself.
#ifndef KQFW_LOOP_INDEPENDENT
#if defined(__clang__)
#define KQFW_LOOP_INDEPENDENT
#else
#define KQFW_LOOP_INDEPENDENT _Pragma("GCC ivdep")
#endif
#endif

namespace {

constexpr float kDirectionalEpsilon = 1.0f / 1024;
constexpr float kNinth = 1.0f / 9;
// The Gaussian the colour differences are smoothed with, taps -4 to 4 (exp(-k^2 / 2 sigma^2)
// over their sum). The paper's sigma of 2 smooths more than full-resolution 14-bit images need:
// sigma 1.25 gives 0.3 dB more on the quality bench's images (1.0 to 1.25 agree within 0.02 dB).
constexpr float kSmoothTaps[5] = {0.31922423f, 0.23180437f, 0.08875624f, 0.01791958f, 0.00190769f};

// Green minus the site's other colour along one direction, at every element of a line: the
// missing colour from the two neighbours plus the second difference of the site's own colour
// (half the neighbours, a quarter of twice the centre less the samples two away).
// `m2`..`p2` are the samples two before to two after; `sign` is -1 at green sites and 1 at the
// others (a product by it is exact, and vectorises where a choice would not).
inline void differenceRow(const float* m2, const float* m1, const float* c, const float* p1,
                          const float* p2, const float* sign, int32_t begin, int32_t end,
                          float* out) {
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        const float estimate = (m1[x] + p1[x]) * 0.5f + (c[x] * 2.0f - m2[x] - p2[x]) * 0.25f;
        out[x] = (estimate - c[x]) * sign[x];
    }
}

// The differences smoothed by the Gaussian: `d[k]` is the line k - 4 elements away.
inline void smoothRow(const float* const d[9], int32_t begin, int32_t end, float* out) {
    const float *a = d[0], *b = d[1], *c = d[2], *e = d[3], *f = d[4], *g = d[5], *h = d[6],
                *i = d[7], *j = d[8];
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        out[x] = f[x] * kSmoothTaps[0] + (e[x] + g[x]) * kSmoothTaps[1] +
                 (c[x] + h[x]) * kSmoothTaps[2] + (b[x] + i[x]) * kSmoothTaps[3] +
                 (a[x] + j[x]) * kSmoothTaps[4];
    }
}

// The squares of the smoothed differences, and of their residual: the noise the estimate
// weighs against the signal.
inline void squaresRow(const float* d, const float* s, int32_t begin, int32_t end, float* s2,
                       float* r2) {
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        const float r = d[x] - s[x];
        s2[x] = s[x] * s[x];
        r2[x] = r * r;
    }
}

// The linear minimum mean square error estimate of the colour difference from its noisy
// observation `d`, with the signal's mean and variance taken from the smoothed differences `s`
// (and their squares `s2`) and the noise's from the squared residuals `r2` over the nine lines
// around; and its error variance.
inline void estimateRow(const float* const s[9], const float* const s2[9], const float* const r2[9],
                        const float* d, int32_t begin, int32_t end, float* estimate, float* error) {
    const float *s0 = s[0], *s1 = s[1], *s3 = s[3], *s4 = s[4], *s5 = s[5], *s6 = s[6], *s7 = s[7],
                *s8 = s[8], *sb = s[2];
    const float *q0 = s2[0], *q1 = s2[1], *q2 = s2[2], *q3 = s2[3], *q4 = s2[4], *q5 = s2[5],
                *q6 = s2[6], *q7 = s2[7], *q8 = s2[8];
    const float *r0 = r2[0], *r1 = r2[1], *rb = r2[2], *r3 = r2[3], *r4 = r2[4], *r5 = r2[5],
                *r6 = r2[6], *r7 = r2[7], *r8 = r2[8];
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        const float mean =
            (s0[x] + s1[x] + sb[x] + s3[x] + s4[x] + s5[x] + s6[x] + s7[x] + s8[x]) * kNinth;
        const float power =
            (q0[x] + q1[x] + q2[x] + q3[x] + q4[x] + q5[x] + q6[x] + q7[x] + q8[x]) * kNinth;
        const float spread = power - mean * mean;
        const float signal = spread > 0.0f ? spread : 0.0f;
        const float noise =
            (r0[x] + r1[x] + rb[x] + r3[x] + r4[x] + r5[x] + r6[x] + r7[x] + r8[x]) * kNinth;
        const float gain = signal / (signal + noise + kDirectionalEpsilon);
        estimate[x] = mean + gain * (d[x] - mean);
        error[x] = signal - gain * signal;
    }
}

inline int32_t clamped(int32_t v) {
    return v < 0 ? 0 : v > 16383 ? 16383 : v;
}

// Green of a row: its own sample at green sites; elsewhere the site's sample plus the two
// directions' estimates weighted by each other's error, rounded into 0..16383. `colour` is 0 at
// green sites and 1 at the others.
inline void fuseRow(const float* sample, const float* xh, const float* eh, const float* xv,
                    const float* ev, const float* colour, int32_t begin, int32_t end,
                    int32_t* green) {
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        const float weight =
            (ev[x] + kDirectionalEpsilon) / (eh[x] + ev[x] + 2.0f * kDirectionalEpsilon);
        const float v = sample[x] + colour[x] * (xv[x] + weight * (xh[x] - xv[x]));
        // v is bounded (the weights and gains lie in [0, 1]); truncating v + 1/2 rounds it
        // half up, and what it does below 0 the clamp undoes. A float clamp would not vectorise.
        green[x] = clamped(static_cast<int32_t>(v + 0.5f));
    }
}

// Red and blue of a row at its colour sites: the site's own sample, and the other colour as
// green plus the mean of colour minus green at the four diagonal neighbours (rounded down).
// `redSite` is -1 at red sites and 0 elsewhere; what green sites get is never read.
inline void diagonalRow(const float* up, const float* sample, const float* down,
                        const int32_t* greenUp, const int32_t* green, const int32_t* greenDown,
                        const int32_t* redSite, int32_t begin, int32_t end, int32_t* red,
                        int32_t* blue) {
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        const int32_t sum = static_cast<int32_t>(up[x - 1]) - greenUp[x - 1] +
                            static_cast<int32_t>(up[x + 1]) - greenUp[x + 1] +
                            static_cast<int32_t>(down[x - 1]) - greenDown[x - 1] +
                            static_cast<int32_t>(down[x + 1]) - greenDown[x + 1];
        const int32_t own = static_cast<int32_t>(sample[x]);
        const int32_t other = clamped(green[x] + ((sum + 2) >> 2));
        const int32_t swap = (own ^ other) & redSite[x];
        red[x] = other ^ swap;
        blue[x] = own ^ swap;
    }
}

// The finished row, blue, green and red a pixel: colour sites as they are; at green sites red
// and blue as green plus the mean of colour minus green at the four neighbours (rounded down),
// two of which lie in the row and two in the rows above and below. `greenSite` is -1 at green
// sites and 0 elsewhere.
inline void finishRow(const int32_t* redUp, const int32_t* red, const int32_t* redDown,
                      const int32_t* blueUp, const int32_t* blue, const int32_t* blueDown,
                      const int32_t* greenUp, const int32_t* green, const int32_t* greenDown,
                      const int32_t* greenSite, int32_t begin, int32_t end, uint16_t* out) {
    KQFW_LOOP_INDEPENDENT
    for (int32_t x = begin; x < end; ++x) {
        const int32_t g = green[x];
        const int32_t redSum = red[x - 1] - green[x - 1] + red[x + 1] - green[x + 1] + redUp[x] -
                               greenUp[x] + redDown[x] - greenDown[x];
        const int32_t blueSum = blue[x - 1] - green[x - 1] + blue[x + 1] - green[x + 1] +
                                blueUp[x] - greenUp[x] + blueDown[x] - greenDown[x];
        const int32_t r = red[x] ^ ((red[x] ^ clamped(g + ((redSum + 2) >> 2))) & greenSite[x]);
        const int32_t b = blue[x] ^ ((blue[x] ^ clamped(g + ((blueSum + 2) >> 2))) & greenSite[x]);
        out[3 * (x - begin)] = static_cast<uint16_t>(b);
        out[3 * (x - begin) + 1] = static_cast<uint16_t>(g);
        out[3 * (x - begin) + 2] = static_cast<uint16_t>(r);
    }
}

}  // namespace
