#include "camera/colour_tables.h"

#include <algorithm>
#include <cmath>

#include "camera/lut.h"
#include "kqfw/kqfw.h"
#include "platform/worker_pool.h"

namespace kqfw {

namespace {

constexpr int32_t kMatrixBias = 16384;
constexpr int32_t kClampZero = 49152;
constexpr int32_t kClampFull = 65536;

// Truncates toward zero like a plain conversion, but keeps absurd saturations (and NaN) from
// leaving the 32-bit range, where the conversion is undefined.
int32_t truncated(double x) {
    if (x != x) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp(x, -1e9, 1e9));
}

}  // namespace

const double kBaseColorMatrix[3][3] = {
    {1.465, -0.283, -0.182},
    {-0.165, 1.334, -0.169},
    {0.083, -0.524, 1.441},
};

void saturationStep(CameraContext& context) {
    for (int r = 0; r < 3; ++r) {
        const double s = context.saturation[r];
        for (int c = 0; c < 3; ++c) {
            const double identity = r == c ? 1.0 : 0.0;
            context.colorMatrix[r][c] = (1.0 - s) * identity + s * kBaseColorMatrix[r][c];
        }
    }
}

uint32_t buildColourTables(CameraContext& context, const double wb[3]) {
    // A factor must be positive: zero has no gain, a negative one would turn the other
    // channels' tables to zero, and NaN and infinity have no meaningful gain either.
    for (int c = 0; c < 3; ++c) {
        if (!(wb[c] > 0) || !std::isfinite(wb[c])) {
            return KQFW_STATUS_BAD_WHITE_BALANCE;
        }
    }
    double gain[3] = {1.0 / wb[0], 1.0 / wb[1], 1.0 / wb[2]};
    const double smallest = std::min({gain[0], gain[1], gain[2]});
    for (double& g : gain) {
        g /= smallest;
    }
    for (int c = 0; c < 3; ++c) {
        for (int32_t i = 0; i <= kMaxSample; ++i) {
            context.whiteLuts[c][i] = whiteBalanced(i, gain[c]);
        }
        context.whiteGains[c] = gain[c];
    }
    for (int t = 0; t < 9; ++t) {
        const double k = context.colorMatrix[t / 3][t % 3];
        const int32_t limit = std::max(0, truncated((k + 1.0) * kMatrixBias));
        for (int32_t i = 0; i <= kMaxSample; ++i) {
            const int32_t v = truncated(i * k + kMatrixBias);
            const int32_t entry = k >= 0 ? std::min(limit, v) : std::max(limit + 1, v);
            // Saturations far beyond the sensor's range would leave the 16-bit tables.
            context.matrixTables[t][i] = static_cast<uint16_t>(std::clamp(entry, 0, 65535));
        }
    }
    return 0;
}

void fillClampTable(uint16_t (&table)[kClampEntries]) {
    for (int32_t i = 0; i < static_cast<int32_t>(kClampEntries); ++i) {
        table[i] = static_cast<uint16_t>(i < kClampZero   ? 0
                                         : i < kClampFull ? i - kClampZero
                                                          : kMaxSample);
    }
}

void fillExpand8Table(uint16_t (&table)[256]) {
    for (int32_t i = 0; i < 256; ++i) {
        int32_t v = i < 12    ? i - 4
                    : i < 24  ? (i - 8) * 2
                    : i < 48  ? (i - 16) * 4
                    : i < 96  ? (i - 32) * 8
                    : i < 192 ? (i - 64) * 16
                              : (i - 128) * 32;
        table[i] = static_cast<uint16_t>(v);
    }
}

}  // namespace kqfw
