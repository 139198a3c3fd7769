#pragma once

#include <numbers>

// Measures on images of the bench's test slide, for tests that judge sharpness.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kqfw::test {

inline constexpr double kSensorW = 1388, kSensorH = 1040;
// A region over the test slide's vertical bars of 0.4 to 0.7 cycles a pixel.
inline constexpr uint32_t kRegion[4] = {376, 232, 624, 408};
inline constexpr uint32_t kCalibrationBlock = 0x1D500;

inline uint32_t factorOf(uint32_t index) {
    return index == 4 ? 2 : index >= 5 ? 3 : 1;
}

// The modulation (amplitude over mean above the pedestal) of bar patch `patch` of the test
// slide at its own frequency, in the output grid of factor k, for one channel.
inline double modulation(const std::vector<uint16_t>& image, uint32_t width, uint32_t channels,
                         uint32_t channel, uint32_t k, int patch, double cyclesPerPixel) {
    const double x0 = (kSensorW * (0.03 + 0.06 * patch) - kRegion[0]) * k;
    const double x1 = x0 + kSensorW * 0.05 * k;
    const int xa = int(x0) + 4 * int(k), xb = int(x1) - 4 * int(k);
    const int ya = 16 * int(k), yb = int(kRegion[3] - kRegion[1] - 16) * int(k);
    std::vector<double> profile(size_t(xb - xa), 0.0);
    for (int y = ya; y < yb; ++y) {
        for (int x = xa; x < xb; ++x) {
            profile[size_t(x - xa)] += image[(size_t(y) * width + x) * channels + channel];
        }
    }
    double mean = 0;
    for (double& v : profile) {
        v /= (yb - ya);
        mean += v;
    }
    mean /= double(profile.size());
    double re = 0, im = 0;
    for (size_t j = 0; j < profile.size(); ++j) {
        const double phase = 2 * std::numbers::pi * cyclesPerPixel / k * double(xa + int(j));
        re += (profile[j] - mean) * std::cos(phase);
        im += (profile[j] - mean) * std::sin(phase);
    }
    return 2 * std::sqrt(re * re + im * im) / double(profile.size()) / (mean - 128);
}

// An image of factor 1 brought to the grid of factor k bilinearly, so that bars beyond its own
// sampling show as what they are there (their aliases), not as the bars.
inline std::vector<uint16_t> upsampled(const std::vector<uint16_t>& in, uint32_t w, uint32_t h,
                                       uint32_t channels, uint32_t k) {
    std::vector<uint16_t> out(size_t(w) * k * h * k * channels);
    for (uint32_t y = 0; y < h * k; ++y) {
        for (uint32_t x = 0; x < w * k; ++x) {
            const double sy = (y + 0.5) / k - 0.5, sx = (x + 0.5) / k - 0.5;
            const int y0 = std::max(0, int(std::floor(sy))), x0 = std::max(0, int(std::floor(sx)));
            const int y1 = std::min(int(h) - 1, y0 + 1), x1 = std::min(int(w) - 1, x0 + 1);
            const double fy = std::clamp(sy - y0, 0.0, 1.0), fx = std::clamp(sx - x0, 0.0, 1.0);
            for (uint32_t c = 0; c < channels; ++c) {
                auto at = [&](int yy, int xx) { return in[(size_t(yy) * w + xx) * channels + c]; };
                const double v = (1 - fy) * ((1 - fx) * at(y0, x0) + fx * at(y0, x1)) +
                                 fy * ((1 - fx) * at(y1, x0) + fx * at(y1, x1));
                out[(size_t(y) * w * k + x) * channels + c] = uint16_t(v + 0.5);
            }
        }
    }
    return out;
}

}  // namespace kqfw::test
