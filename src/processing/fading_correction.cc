#include "processing/fading_correction.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "camera/lut.h"
#include "platform/error_report.h"

namespace kqfw {

namespace {

constexpr int kMaxClasses = 36;
constexpr int32_t kUnitGain = 8192;  // 1.0 with 13 fractional bits
constexpr int kGainBits = 13;
constexpr int32_t kEmptyClassGain = 1000000;

void correct(uint16_t* image, uint32_t f, const Rect& rect, double minimumChange, double gainLimit,
             bool colour) {
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t h = int64_t{rect.bottom} - rect.top;
    if (w <= 0 || h <= 0 || f == 0) {
        return;
    }
    const int channels = colour ? 3 : 1;
    const int64_t n = colour ? 2 * int64_t{f} : f;
    const int64_t classes = n * n;
    if (classes > kMaxClasses) {
        return;
    }
    const int64_t wo = w * f;
    // The visited area: whole blocks of the grid (an odd colour region leaves a band).
    const int64_t visitedW = (colour ? w / 2 : w) * n;
    const int64_t visitedH = (colour ? h / 2 : h) * n;
    double sums[kMaxClasses][3];
    const double start = -128.0 * double(w) * double(h) * double(f) * double(f);
    std::fill(&sums[0][0], &sums[0][0] + kMaxClasses * 3, start);
    for (int64_t y = 0; y < visitedH; ++y) {
        const uint16_t* row = image + y * wo * channels;
        for (int64_t x = 0; x < visitedW; ++x) {
            double* sum = sums[(y % n) * n + x % n];
            for (int k = 0; k < channels; ++k) {
                sum[k] += row[x * channels + k];
            }
        }
    }
    int64_t gains[kMaxClasses][3];
    int64_t offsets[kMaxClasses][3];
    int64_t largest = std::numeric_limits<int64_t>::min();
    for (int k = 0; k < channels; ++k) {
        double maximum = sums[0][k];
        for (int64_t i = 1; i < classes; ++i) {
            maximum = std::max(maximum, sums[i][k]);
        }
        for (int64_t i = 0; i < classes; ++i) {
            int64_t gain = kEmptyClassGain;
            if (sums[i][k] > 0) {
                // Truncated toward zero like the 32-bit conversion; a near-empty class would
                // pass 32 bits and is held at the largest 32-bit gain (it is refused anyway).
                const double exact = std::trunc(maximum * kUnitGain / sums[i][k]);
                gain = exact >= 2147483647.0 ? 2147483647 : static_cast<int64_t>(exact);
            }
            gains[i][k] = gain;
            offsets[i][k] = 128 - ((gain * 128) >> kGainBits);
            largest = std::max(largest, gain);
        }
    }
    const double ratio = double(largest) / kUnitGain;
    const int promille = static_cast<int>((ratio - 1.0) * 1000.0);
    if (ratio > gainLimit + 1.0) {
        if (colour) {
            reportError("Exiting because max/min(promille)= %d too large", promille);
        }
        return;
    }
    if (ratio < minimumChange + 1.0) {
        if (colour) {
            reportError("Exiting because max/min(promille)= %d insignificant", promille);
        }
        return;
    }
    // The product is formed in 64 bits: with a gain limit of 15 or more it passes 32.
    for (int64_t y = 0; y < visitedH; ++y) {
        uint16_t* row = image + y * wo * channels;
        for (int64_t x = 0; x < visitedW; ++x) {
            const int64_t i = (y % n) * n + x % n;
            for (int k = 0; k < channels; ++k) {
                uint16_t& v = row[x * channels + k];
                const int64_t corrected = ((gains[i][k] * v) >> kGainBits) + offsets[i][k];
                v = static_cast<uint16_t>(std::clamp<int64_t>(corrected, 0, kMaxSample));
            }
        }
    }
}

}  // namespace

void fadingcorrection(uint16_t* image, uint32_t f, const Rect& rect, double minimumChange,
                      double gainLimit) {
    correct(image, f, rect, minimumChange, gainLimit, true);
}

void fadingcorrectionbw(uint16_t* image, uint32_t f, const Rect& rect, double minimumChange,
                        double gainLimit) {
    correct(image, f, rect, minimumChange, gainLimit, false);
}

}  // namespace kqfw
