#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "kqfw/kqsim.h"
#include "sim/sim_scene.h"
#include "sim/sim_sensor.h"

namespace kqfw::sim {
namespace {

// A sensor without fixed pattern, fall-off or noise: a frame is the scene and nothing else.
SensorModel idealSensor(bool mono) {
    SensorModel s;
    s.mono = mono;
    s.width = 256;
    s.height = 128;
    s.noise = false;
    s.vignetting = 0;
    s.prnu = 0;
    s.darkDnPerMs = 0;
    s.hotDnPerMs = 0;
    s.glowDnPerMs = 0;
    return s;
}

std::vector<uint16_t> render(const SensorModel& sensor, const Scene& scene, int32_t left, double dx,
                             double dy, uint32_t bin = 1) {
    FrameRequest r;
    r.left = left;
    r.top = 16;
    r.width = 64;
    r.height = 32;
    r.binX = sensor.mono ? bin : 1;
    r.binY = bin;
    r.exposureMs = 100;
    r.dx = dx;
    r.dy = dy;
    std::vector<uint16_t> samples(size_t(r.width / r.binX) * (r.height / r.binY));
    renderSamples(sensor, scene, r, samples.data());
    return samples;
}

TEST(SimImage, AWholePixelShiftIsTheNeighbouringPixel) {
    const auto scene = Scene::testSlide(256, 128);
    const SensorModel sensor = idealSensor(true);
    const auto shifted = render(sensor, *scene, 40, 1.0, 0.0);
    const auto moved = render(sensor, *scene, 41, 0.0, 0.0);
    EXPECT_EQ(shifted, moved);
}

TEST(SimImage, WhiteIsNeutralUnderTheDefaultWhiteBalanceAndMatrix) {
    const auto scene = Scene::flat(0.5);
    const auto raw = render(idealSensor(false), *scene, 40, 0, 0);
    // Red, green and blue sites, scaled by the library's default gains 1.98/1.49, 1, 1.98.
    const double red = (raw[0] - 128) * 1.98 / 1.49;
    const double green = raw[1] - 128;
    const double blue = (raw[64 + 1] - 128) * 1.98;
    EXPECT_NEAR(red, 4000, 2);
    EXPECT_NEAR(green, 4000, 1);
    EXPECT_NEAR(blue, 4000, 2);
}

TEST(SimImage, CrosstalkIsWhatTheBaseMatrixUndoes) {
    // A reddish scene: every site sees some of every colour, the matrix sorts them out again.
    const double colour[3] = {0.5, 0.3, 0.2};
    auto samples = std::vector<uint16_t>(4 * 4 * 3, 0);
    for (size_t i = 0; i < 16; ++i) {
        for (int c = 0; c < 3; ++c) {
            samples[3 * i + 2 - c] = static_cast<uint16_t>(colour[c] * 65535);
        }
    }
    const auto scene = Scene::image(samples.data(), 4, 4, 3, 256, 128);
    const auto raw = render(idealSensor(false), *scene, 40, 0, 0);
    const double r = (raw[0] - 128) * 1.98 / 1.49, g = raw[1] - 128, b = (raw[65] - 128) * 1.98;
    const double matrix[3][3] = {
        {1.465, -0.283, -0.182}, {-0.165, 1.334, -0.169}, {0.083, -0.524, 1.441}};
    const double corrected[3] = {matrix[0][0] * r + matrix[0][1] * g + matrix[0][2] * b,
                                 matrix[1][0] * r + matrix[1][1] * g + matrix[1][2] * b,
                                 matrix[2][0] * r + matrix[2][1] * g + matrix[2][2] * b};
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(corrected[c], 8000 * colour[c], 8) << c;
    }
    EXPECT_GT(std::fabs(g - 8000 * colour[1]), 20);  // there was crosstalk to undo
}

TEST(SimImage, BinningAveragesSoThePedestalStays) {
    const auto dark = Scene::flat(0.0);
    for (uint32_t bin : {1u, 2u, 4u}) {
        for (uint16_t v : render(idealSensor(true), *dark, 40, 0, 0, bin)) {
            ASSERT_EQ(v, 128);
        }
    }
    const auto grey = Scene::flat(0.25);
    const auto binned = render(idealSensor(true), *grey, 40, 0, 0, 2);
    EXPECT_EQ(binned.size(), 32u * 16);
    EXPECT_EQ(binned[0], 128 + 2000);
}

TEST(SimImage, NoiseIsDeterministicPerFrameAndVariesBetweenFrames) {
    SensorModel sensor = idealSensor(true);
    sensor.noise = true;
    const auto scene = Scene::flat(0.5);
    FrameRequest r;
    r.width = 64;
    r.height = 32;
    r.exposureMs = 100;
    std::vector<uint16_t> a(64 * 32), b(64 * 32), c(64 * 32);
    renderSamples(sensor, *scene, r, a.data());
    renderSamples(sensor, *scene, r, b.data());
    r.frameNumber = 1;
    renderSamples(sensor, *scene, r, c.data());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    // Shot noise of 4000 DN at 0.5 DN an electron: about 45 DN.
    double sum = 0, sumSquares = 0;
    for (uint16_t v : a) {
        sum += v;
        sumSquares += double(v) * v;
    }
    const double mean = sum / a.size();
    const double sigma = std::sqrt(sumSquares / a.size() - mean * mean);
    EXPECT_NEAR(mean, 4128, 5);
    EXPECT_NEAR(sigma, std::sqrt(4000 * 0.5 + 9), 6);
}

// Red, green and blue of a region of a scene at `scale` scene pixels a sensor pixel, displaced
// by dx, as the sensor's pixels gather it through the optics.
std::vector<float> gathered(const std::vector<uint16_t>& grey, uint32_t width, uint32_t height,
                            double scale, double dx) {
    const auto scene = Scene::image(grey.data(), width, height, 1, uint32_t(width / scale),
                                    uint32_t(height / scale));
    std::vector<float> rgb(size_t{24} * 16 * 3);
    scene->renderRegion(8, 8, 24, 16, dx, 0, SensorModel{}.blurSigma, rgb.data());
    return rgb;
}

TEST(SimImage, ImageScenesAreGatheredOverThePixelAndThroughTheOptics) {
    constexpr uint32_t kScale = 4, kWidth = 40 * kScale, kHeight = 32 * kScale;
    // A flat image stays exactly flat, wherever the sensor stands.
    const std::vector<uint16_t> flat(kWidth * kHeight, 30000);
    for (double dx : {0.0, 0.3, 1.0 / 3}) {
        for (float v : gathered(flat, kWidth, kHeight, kScale, dx)) {
            ASSERT_NEAR(v, 30000 / 65535.0, 1e-6) << dx;
        }
    }
    // Bars as fine as a sensor pixel average out in every pixel, as a real sensor's do; points
    // at the pixel centres would see all bar or all gap.
    std::vector<uint16_t> bars(kWidth * kHeight, 0);
    for (size_t i = 0; i < bars.size(); ++i) {
        bars[i] = (i % kWidth) % kScale < kScale / 2 ? 65535 : 0;
    }
    for (double dx : {0.0, 0.25, 0.5}) {
        for (float v : gathered(bars, kWidth, kHeight, kScale, dx)) {
            ASSERT_NEAR(v, 0.5, 0.01) << dx;
        }
    }
    // One bright scene pixel: its light (a sixteenth of a sensor pixel's area) is all gathered,
    // spread by the optics over the pixels around.
    std::vector<uint16_t> speck(kWidth * kHeight, 0);
    speck[size_t{16 * kScale + 1} * kWidth + 20 * kScale + 1] = 65535;
    const auto spread = gathered(speck, kWidth, kHeight, kScale, 0);
    double total = 0, peak = 0;
    for (size_t i = 0; i < spread.size(); i += 3) {
        total += spread[i];
        peak = std::max<double>(peak, spread[i]);
    }
    EXPECT_NEAR(total, 1.0 / (kScale * kScale), 1e-5);
    EXPECT_LT(peak, 0.5 * total);
}

TEST(SimImage, GroundTruthOfAnImageSceneIsTheImage) {
    kqsimResetDefault();
    std::vector<uint16_t> image(1388 * 2 * 3, 0);
    for (size_t i = 0; i < 1388 * 2; ++i) {
        image[3 * i] = static_cast<uint16_t>(i * 23);  // blue ramp
        image[3 * i + 2] = 65535;                      // full red
    }
    ASSERT_EQ(kqsimSetScene(KQSIM_SCENE_IMAGE, 0, image.data(), 1388, 2, 3), 0);
    std::vector<uint16_t> truth(8 * 3);
    // At scale 1 the pixel centres of this 1388 x 2 image fall on every 520th sensor row.
    ASSERT_EQ(kqsimGroundTruth(0, 1, 100, 0, 8, 1, truth.data()), 0);
    EXPECT_EQ(truth[2], 128 + 8000);
    EXPECT_EQ(truth[1], 128);
    EXPECT_EQ(kqsimSetScene(KQSIM_SCENE_IMAGE, 0, nullptr, 4, 4, 3), -1);
    EXPECT_EQ(kqsimSetScene(KQSIM_SCENE_IMAGE, 0, image.data(), 4, 4, 2), -1);
    kqsimResetDefault();
}

}  // namespace
}  // namespace kqfw::sim
