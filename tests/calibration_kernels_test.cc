// The calibration computation on made-up patches and positions: the displacement estimate, the
// targets and the settings' correction.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "processing/calibration.h"

namespace kqfw::test {
namespace {

// A patch of smooth waves with gradients in every direction; `dx` moves its content right.
std::vector<uint8_t> texturedPatch(double dx, double dy) {
    std::vector<uint8_t> patch(kPatchBytes);
    for (uint32_t y = 0; y < kPatchSide; ++y) {
        for (uint32_t x = 0; x < kPatchSide; ++x) {
            const double u = x - dx, v = y - dy;
            const double value =
                128 + 60 * std::sin(u * 0.21) * std::cos(v * 0.17) + 40 * std::sin((u + v) * 0.11);
            patch[y * kPatchSide + x] = uint8_t(std::lround(value));
        }
    }
    return patch;
}

TEST(CalibrationKernels, PatchShiftMeasuresTwelfthsOfAPixelAndNeedsGradients) {
    double r[2] = {1, 1};
    const std::vector<uint8_t> a = texturedPatch(0, 0);
    EXPECT_EQ(patchshift(a.data(), a.data(), r), 0u);
    EXPECT_EQ(r[0], 0.0);
    EXPECT_EQ(r[1], 0.0);
    // B seen from a sensor half a pixel further right and a quarter lower (its content half a
    // pixel left and a quarter up): +6 and +3 twelfths.
    const std::vector<uint8_t> b = texturedPatch(-0.5, -0.25);
    ASSERT_EQ(patchshift(a.data(), b.data(), r), 0u);
    EXPECT_NEAR(r[0], 6.0, 0.6);
    EXPECT_NEAR(r[1], 3.0, 0.6);
    const std::vector<uint8_t> flat(kPatchBytes, 90);
    EXPECT_EQ(patchshift(flat.data(), flat.data(), r), 3u);
    EXPECT_EQ(r[0], 0.0);
    // Uniform patches give the whole iteration 9 and leave the grid alone.
    std::vector<uint8_t> patches(kCalPatches * kPatchBytes, 90);
    uint8_t grid[kCalGrid * kCalGrid * 2];
    for (uint8_t& b8 : grid) {
        b8 = 77;
    }
    float statistics[kCalStatistics];
    EXPECT_EQ(computecalibration(true, 2, patches.data(), grid, statistics), 9u);
    for (uint8_t b8 : grid) {
        EXPECT_EQ(b8, 77);
    }
}

TEST(CalibrationKernels, SettingsMoveTowardsTheTargetsAndStopAtTheirRange) {
    // n = 2: targets tx = -3, +3 and ty = +3, -3. Positions on target change nothing.
    const int n = 2;
    CalArray px = {}, py = {}, sx = {}, sy = {};
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            px[j][i] = i == 0 ? -3.0f : 3.0f;
            py[j][i] = j == 0 ? 3.0f : -3.0f;
            sx[j][i] = 10;
            sy[j][i] = 200;
        }
    }
    float s[kCalStatistics];
    updatesettings(n, px, py, sx, sy, s);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(s[k], 0.0f) << k;
    }
    EXPECT_EQ(s[4], 10.0f);
    EXPECT_EQ(s[5], 10.0f);
    EXPECT_EQ(s[6], 200.0f);
    EXPECT_EQ(s[7], 200.0f);
    EXPECT_EQ(sx[1][1], 10.0f);
    // A shot 20 steps short of its target from a setting of 250 stops at 255.
    px[0][0] = -3.0f - 20 * 0.09411765f;
    sx[0][0] = 250;
    updatesettings(n, px, py, sx, sy, s);
    EXPECT_EQ(sx[0][0], 255.0f);
    EXPECT_NEAR(s[0], 20 * 0.09411765f, 1e-5);
    EXPECT_NEAR(s[2], std::sqrt(std::pow(20 * 0.09411765f, 2) / 4), 1e-5);
    EXPECT_EQ(s[5], 255.0f);
    // n = 6: targets from -5 to +5 in steps of 2.
    CalArray qx = {}, qy = {}, tx = {}, ty = {};
    for (int i = 0; i < 6; ++i) {
        qx[0][i] = float(-5 + 2 * i);
        qy[i][0] = float(5 - 2 * i);
    }
    float t[kCalStatistics];
    updatesettings(6, qx, qy, tx, ty, t);
    EXPECT_EQ(tx[0][5], 0.0f);
    EXPECT_EQ(ty[5][0], 0.0f);
}

TEST(CalibrationKernels, IntegrationKernelsAreTheAxesMirrorImages) {
    for (int n : {2, 3, 4, 6}) {
        CalArray kx, ky;
        integrationkernel(n, 0, kx);
        integrationkernel(n, 1, ky);
        float sum = 0;
        for (int r = 0; r < n; ++r) {
            sum += kx[r][0];
            for (int c = 0; c < n; ++c) {
                EXPECT_NEAR(kx[r][c], ky[c][r], 1e-6) << n;
            }
        }
        EXPECT_NEAR(sum, float(1 - n) / (2 * n), 1e-6) << "column 0 sums to (1 - n) / 2n";
    }
}

}  // namespace
}  // namespace kqfw::test
