#include "sim/sim_piezo.h"

#include <cmath>

namespace kqfw::sim {

namespace {

constexpr double kPatchPixelsPerStep = 0.0941 / 12.0;
constexpr double kGainError = 0.03;
constexpr double kBow = 0.02;  // pixels at mid travel
constexpr double kPi = 3.14159265358979323846;

}  // namespace

double piezoOffset(int steps, bool mono) {
    const double travel = steps - kRestSteps;
    const double patchPixels =
        travel * kPatchPixelsPerStep * (1.0 + kGainError) + kBow * std::sin(kPi * travel / 240.0);
    return mono ? patchPixels : 2 * patchPixels;
}

uint8_t piezoSteps(double pixels, bool mono) {
    int best = 0;
    double bestError = 1e9;
    for (int s = 0; s < 256; ++s) {
        const double error = std::fabs(piezoOffset(s, mono) - pixels);
        if (error < bestError) {
            bestError = error;
            best = s;
        }
    }
    return static_cast<uint8_t>(best);
}

}  // namespace kqfw::sim
