// Directional linear minimum mean square error interpolation: green along rows and along
// columns as Hamilton and Adams estimate it, each direction's colour difference denoised by its
// LMMSE estimate, the two fused by their error variances; then red and blue from the colour
// differences, diagonally at the colour sites and across at the green ones.
//
// A stripe of rows streams down the frame through a few rings of rows, so its working set stays
// in the cache: the white-balanced mosaic (mirrored around the frame), the column direction's
// differences and their smoothing, green, and the red and blue of the colour sites. Every row
// depends only on the mosaic, so a stripe gives the rows it owns exactly as the whole frame does.
#include "processing/lmmse_interpolation.h"

#include <atomic>

#include "platform/memory.h"
#include "platform/worker_pool.h"
#include "processing/lmmse_passes.h"

namespace kqfw {

namespace plain_rows {
#include "processing/lmmse_rows.h"
}  // namespace plain_rows

namespace {

constexpr LmmsePasses kPlainPasses = {
    plain_rows::differenceRow, plain_rows::smoothRow, plain_rows::squaresRow,
    plain_rows::estimateRow,   plain_rows::fuseRow,   plain_rows::diagonalRow,
    plain_rows::finishRow,
};

// Columns of mirrored samples on each side of a row: the row direction reaches ten samples out
// (two for the difference, four for the smoothing, four for the statistics). Even, so a padded
// index has the parity of its column.
constexpr int32_t kPad = 12;
// Rings, in rows (powers of two): the mosaic reaches ten rows down from the green row being
// made, the differences eight, the smoothing four; green and the colour sites' pairs are kept
// for the two rows on each side of the row being finished.
constexpr int32_t kMosaicRing = 32, kDifferenceRing = 32, kSmoothRing = 16, kFinalRing = 8;

// Index i of a line of n, mirrored about its ends as often as it takes; keeps the parity.
int32_t reflect(int32_t i, int32_t n) {
    if (n == 1) {
        return 0;
    }
    const int32_t period = 2 * (n - 1);
    i %= period;
    if (i < 0) {
        i += period;
    }
    return i < n ? i : period - i;
}

class Stripe {
  public:
    Stripe(const LmmsePasses& passes, const MosaicFrame& frame, uint16_t* out)
        : p_(passes), f_(frame), out_(out), length_(frame.width + 2 * kPad) {}
    ~Stripe() {
        freeZeroed(floats_);
        freeZeroed(ints_);
    }
    Stripe(const Stripe&) = delete;
    Stripe& operator=(const Stripe&) = delete;

    bool allocate() {
        const size_t floatRows = kMosaicRing + kDifferenceRing + 3 * kSmoothRing + kTempRows;
        const size_t intRows = 3 * kFinalRing + kIntPatterns;
        floats_ = static_cast<float*>(allocZeroed(floatRows * length_ * sizeof(float)));
        ints_ = static_cast<int32_t*>(allocZeroed(intRows * length_ * sizeof(int32_t)));
        if (floats_ == nullptr || ints_ == nullptr) {
            return false;
        }
        // The site patterns of the two kinds of row, as the passes take them (a row's green
        // sites have one parity; a row of red sites has them at the other, a blue row none).
        for (int32_t parity = 0; parity < 2; ++parity) {
            float* sign = pattern(kSign, parity);
            float* colour = pattern(kColour, parity);
            int32_t* greenSite = intPattern(kGreenSite, parity);
            int32_t* redSite = intPattern(kRedSite, parity);
            for (size_t x = 0; x < length_; ++x) {
                const bool green = int32_t(x & 1) == parity;
                sign[x] = green ? -1.0f : 1.0f;
                colour[x] = green ? 0.0f : 1.0f;
                greenSite[x] = green ? -1 : 0;
                redSite[x] = green ? 0 : -1;
            }
        }
        return true;
    }

    void run(int32_t first, int32_t end) {
        const int32_t h = f_.height;
        greenNext_ = first - 2 < 0 ? 0 : first - 2;
        mosaicNext_ = greenNext_ - 10;
        differenceNext_ = greenNext_ - 8;
        smoothNext_ = greenNext_ - 4;
        for (int32_t& tag : finalTag_) {
            tag = -1;
        }
        for (int32_t k = first; k < end; ++k) {
            const int32_t lastGreen = k + 2 < h ? k + 2 : h - 1;
            while (greenNext_ <= lastGreen) {
                makeGreen(greenNext_++);
            }
            const int32_t up = reflect(k - 1, h), down = reflect(k + 1, h);
            for (int32_t row : {up, k, down}) {
                if (finalTag_[row & (kFinalRing - 1)] != row) {
                    makeColourSites(row);
                }
            }
            const int32_t w = f_.width;
            p_.finish(red(up), red(k), red(down), blue(up), blue(k), blue(down), green(up),
                      green(k), green(down), intPattern(kGreenSite, greenParity(k)), kPad, kPad + w,
                      out_ + 3 * size_t(w) * k);
        }
    }

  private:
    // Rows of the row direction and the two estimates, and the site patterns after them.
    static constexpr size_t kTempRows = 8 + 4;
    static constexpr size_t kIntPatterns = 4;
    enum Pattern { kSign = 0, kColour = 2, kGreenSite = 0, kRedSite = 2 };

    float* floatRow(size_t index) const { return floats_ + index * length_; }
    int32_t* intRow(size_t index) const { return ints_ + index * length_; }
    // Logical rows (mirrored ones included, negative ones too) of the streaming rings.
    float* mosaic(int32_t j) const { return floatRow(j & (kMosaicRing - 1)); }
    float* difference(int32_t j) const {
        return floatRow(kMosaicRing + (j & (kDifferenceRing - 1)));
    }
    float* smooth(int32_t j) const {
        return floatRow(kMosaicRing + kDifferenceRing + (j & (kSmoothRing - 1)));
    }
    float* squared(int32_t j) const {
        return floatRow(kMosaicRing + kDifferenceRing + kSmoothRing + (j & (kSmoothRing - 1)));
    }
    float* residual(int32_t j) const {
        return floatRow(kMosaicRing + kDifferenceRing + 2 * kSmoothRing + (j & (kSmoothRing - 1)));
    }
    float* temp(size_t i) const {
        return floatRow(kMosaicRing + kDifferenceRing + 3 * kSmoothRing + i);
    }
    float* pattern(int32_t kind, int32_t parity) const { return temp(8 + kind + parity); }
    int32_t* intPattern(int32_t kind, int32_t parity) const {
        return intRow(3 * kFinalRing + kind + parity);
    }
    // Frame rows of the final rings.
    int32_t* green(int32_t r) const { return intRow(r & (kFinalRing - 1)); }
    int32_t* red(int32_t r) const { return intRow(kFinalRing + (r & (kFinalRing - 1))); }
    int32_t* blue(int32_t r) const { return intRow(2 * kFinalRing + (r & (kFinalRing - 1))); }

    bool redRow(int32_t j) const { return (j & 1) == f_.phase.redRow; }
    int32_t greenParity(int32_t j) const {
        return redRow(j) ? f_.phase.redColumn ^ 1 : f_.phase.redColumn;
    }

    // The white-balanced samples of logical row j, mirrored into the pads.
    void fillMosaic(int32_t j) {
        const int32_t w = f_.width;
        const int32_t r = reflect(j, f_.height);
        const uint16_t* in = f_.raw + size_t(r) * f_.pitch;
        const uint16_t* own = f_.tables[redRow(r) ? 0 : 2];
        const uint16_t* greens = f_.tables[1];
        // Columns in pairs, each of the pair's colour (no choice a sample).
        const bool greenFirst = greenParity(r) == 0;
        const uint16_t* even = greenFirst ? greens : own;
        const uint16_t* odd = greenFirst ? own : greens;
        float* out = mosaic(j) + kPad;
        auto sample = [in](int32_t x) { return in[x] < 16383 ? in[x] : 16383; };
        int32_t x = 0;
        for (; x + 1 < w; x += 2) {
            out[x] = static_cast<float>(even[sample(x)]);
            out[x + 1] = static_cast<float>(odd[sample(x + 1)]);
        }
        if (x < w) {
            out[x] = static_cast<float>(even[sample(x)]);
        }
        for (int32_t k = 1; k <= kPad; ++k) {
            out[-k] = out[reflect(-k, w)];
            out[w - 1 + k] = out[reflect(w - 1 + k, w)];
        }
    }

    void makeDifference(int32_t j) {
        p_.difference(mosaic(j - 2), mosaic(j - 1), mosaic(j), mosaic(j + 1), mosaic(j + 2),
                      pattern(kSign, greenParity(j)), kPad, kPad + f_.width, difference(j));
    }

    void makeSmooth(int32_t j) {
        const float* d[9];
        for (int32_t k = 0; k < 9; ++k) {
            d[k] = difference(j + k - 4);
        }
        p_.smooth(d, kPad, kPad + f_.width, smooth(j));
        p_.squares(difference(j), smooth(j), kPad, kPad + f_.width, squared(j), residual(j));
    }

    // Green of frame row r, the rings advanced to what it needs.
    void makeGreen(int32_t r) {
        while (mosaicNext_ <= r + 10) {
            fillMosaic(mosaicNext_++);
        }
        while (differenceNext_ <= r + 8) {
            makeDifference(differenceNext_++);
        }
        while (smoothNext_ <= r + 4) {
            makeSmooth(smoothNext_++);
        }
        const int32_t w = f_.width;
        const int32_t parity = greenParity(r);
        const float* m = mosaic(r);
        float *dh = temp(0), *sh = temp(1), *qh = temp(2), *rh = temp(3), *xh = temp(4),
              *eh = temp(5), *xv = temp(6), *ev = temp(7);
        p_.difference(m - 2, m - 1, m, m + 1, m + 2, pattern(kSign, parity), kPad - 8, kPad + w + 8,
                      dh);
        const float *d[9], *sAlong[9], *qAlong[9], *rAlong[9];
        for (int32_t k = 0; k < 9; ++k) {
            d[k] = dh + k - 4;
        }
        p_.smooth(d, kPad - 4, kPad + w + 4, sh);
        p_.squares(dh, sh, kPad - 4, kPad + w + 4, qh, rh);
        for (int32_t k = 0; k < 9; ++k) {
            sAlong[k] = sh + k - 4;
            qAlong[k] = qh + k - 4;
            rAlong[k] = rh + k - 4;
        }
        p_.estimate(sAlong, qAlong, rAlong, dh, kPad, kPad + w, xh, eh);
        const float *sDown[9], *qDown[9], *rDown[9];
        for (int32_t k = 0; k < 9; ++k) {
            sDown[k] = smooth(r + k - 4);
            qDown[k] = squared(r + k - 4);
            rDown[k] = residual(r + k - 4);
        }
        p_.estimate(sDown, qDown, rDown, difference(r), kPad, kPad + w, xv, ev);
        int32_t* g = green(r);
        p_.fuse(m, xh, eh, xv, ev, pattern(kColour, parity), kPad, kPad + w, g);
        mirrorEnds(g);
    }

    void makeColourSites(int32_t r) {
        const int32_t h = f_.height;
        const int32_t up = reflect(r - 1, h), down = reflect(r + 1, h);
        // A blue row has no red sites; the green sites' pattern is 0 at all its others.
        const int32_t* redSite = redRow(r) ? intPattern(kRedSite, greenParity(r))
                                           : intPattern(kGreenSite, greenParity(r));
        p_.diagonal(mosaic(r - 1), mosaic(r), mosaic(r + 1), green(up), green(r), green(down),
                    redSite, kPad, kPad + f_.width, red(r), blue(r));
        mirrorEnds(red(r));
        mirrorEnds(blue(r));
        finalTag_[r & (kFinalRing - 1)] = r;
    }

    // The one column on each side that the neighbours of the edge pixels read.
    void mirrorEnds(int32_t* row) const {
        const int32_t w = f_.width;
        row[kPad - 1] = row[kPad + reflect(-1, w)];
        row[kPad + w] = row[kPad + reflect(w, w)];
    }

    const LmmsePasses& p_;
    const MosaicFrame& f_;
    uint16_t* out_;
    size_t length_;
    float* floats_ = nullptr;  // allocZeroed's, so tests can make it fail
    int32_t* ints_ = nullptr;
    int32_t mosaicNext_ = 0, differenceNext_ = 0, smoothNext_ = 0, greenNext_ = 0;
    int32_t finalTag_[kFinalRing] = {};
};

const LmmsePasses& passesFor(SimdLevel level) {
    if (level >= SimdLevel::kAvx2 && simdLevelSupported(SimdLevel::kAvx2)) {
        if (const LmmsePasses* vector = lmmseAvx2Passes()) {
            return *vector;
        }
    }
    return kPlainPasses;
}

}  // namespace

bool InterpolateLmmseRows(SimdLevel level, const MosaicFrame& frame, uint16_t* out, int32_t first,
                          int32_t end) {
    if (frame.width < 2 || frame.height < 2 || first < 0 || end > frame.height) {
        return false;
    }
    if (first >= end) {
        return true;
    }
    Stripe stripe(passesFor(level), frame, out);
    if (!stripe.allocate()) {
        return false;
    }
    stripe.run(first, end);
    return true;
}

bool InterpolateLmmse(SimdLevel level, const MosaicFrame& frame, uint16_t* out, WorkerPool* pool) {
    std::atomic<bool> done{true};
    forRowStripes(pool, frame.height, 2, [&](int32_t first, int32_t end) {
        if (!InterpolateLmmseRows(level, frame, out, first, end)) {
            done = false;
        }
    });
    return done;
}

}  // namespace kqfw
