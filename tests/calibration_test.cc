// The sensor-shift calibration as a microscopist runs it: a camera whose shift tables are off
// is brought back to sharp multi-shot images by the library alone, and runs that cannot start
// or cannot measure say why. What a calibration refuses while another activity holds the
// camera is the activity matrix's (modes_test.cc).
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "slide_measures.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {
namespace {

constexpr int32_t kColour = 0, kMono = 1;

struct Progress {
    std::vector<std::vector<float>> statistics;
    int stopAfter = 0;  // 0: never
};

int32_t record(uint32_t iteration, uint32_t iterations, float* statistics, uintptr_t data) {
    auto& progress = *reinterpret_cast<Progress*>(data);
    EXPECT_EQ(iteration, progress.statistics.size() + 1);
    EXPECT_GE(iterations, iteration);
    progress.statistics.emplace_back(statistics, statistics + 8);
    return progress.stopAfter != 0 && int(iteration) >= progress.stopAfter ? 1 : 0;
}

class Calibration : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        kqsimSetTimeScale(0.05);
        kqsimSetNoise(kColour, 0);
        kqsimSetNoise(kMono, 0);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        path_ = ::testing::TempDir() + "kqfw_calibration_" + name + ".bin";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        ApiTest::TearDown();
    }
    // The camera over the slide's bars, at the default exposure (100 ms), which shows the
    // texture at the sensor's centre brightly enough to measure.
    void open(int32_t camera) {
        // Slots take cameras in list order: the colour one is slot 0, the mono one slot 1.
        ASSERT_EQ(IxenmInit(kColour), 0u);
        ASSERT_EQ(IxenmInit(kMono), 0u);
        uint32_t region[4] = {kRegion[0], kRegion[1], kRegion[2], kRegion[3]};
        ASSERT_EQ(IxenmSetFrameSize(camera, region), 0u);
    }
    // Tables written for a piezo of twice the travel: every shot lands at half its offset.
    void disturb(int32_t camera) {
        uint8_t block[256];
        ASSERT_EQ(kqsimReadFlash(camera, kCalibrationBlock, block, sizeof block), 0);
        for (uint8_t& entry : block) {
            entry = uint8_t(std::clamp(int(std::lround(16 + (entry - 16) * 0.5)), 0, 255));
        }
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(block, 1, sizeof block, file);
        std::fclose(file);
        ASSERT_EQ(IxenmLoadCalibration(camera, path_.c_str()), 0u);
    }
    // Bar modulation of the region at colour 0.4 or mono 0.55 cycles a pixel.
    static double sharpness(int32_t camera, uint32_t index) {
        EXPECT_EQ(IxenmSetResolution(camera, index), 0u);
        uint32_t w = 0, h = 0;
        EXPECT_EQ(IxenmGetCurrentDataSize(camera, &w, &h), 0u);
        const uint32_t channels = camera == kColour ? 3 : 1;
        std::vector<uint16_t> image(size_t(w) * h * channels);
        EXPECT_EQ(IxenmAcquisition(camera, image.data(), uint32_t(image.size() * 2), nullptr), 0);
        return camera == kColour ? modulation(image, w, 3, 1, factorOf(index), 4, 0.4)
                                 : modulation(image, w, 1, 0, factorOf(index), 6, 0.55);
    }
    std::string path_;
};

struct Case {
    int32_t camera;
    uint32_t index;
    // RMS deviation (horizontal + vertical, twelfths of a patch pixel) after iterations 1 to 4,
    // as measured on the bench with noise off.
    float rms[4];
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << (c.camera == kColour ? "colour" : "mono") << " index " << c.index;
}

class Converging : public Calibration, public ::testing::WithParamInterface<Case> {};

TEST_P(Converging, FromADisturbedTableBackToSharpImages) {
    const Case& t = GetParam();
    open(t.camera);
    const double factory = sharpness(t.camera, t.index);
    disturb(t.camera);
    const double disturbed = sharpness(t.camera, t.index);
    EXPECT_LT(disturbed, factory * 0.97);
    Progress progress;
    ASSERT_EQ(IxenmCalibrateEx(t.camera, 4, record, reinterpret_cast<uintptr_t>(&progress)), 0u);
    ASSERT_EQ(progress.statistics.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const std::vector<float>& s = progress.statistics[i];
        EXPECT_NEAR(s[2] + s[3], t.rms[i], 0.02f + 0.1f * t.rms[i]) << "iteration " << i + 1;
        EXPECT_LE(s[4], s[5]);
        EXPECT_LE(s[6], s[7]);
    }
    const double calibrated = sharpness(t.camera, t.index);
    EXPECT_GT(calibrated, factory * 0.97)
        << "factory " << factory << ", disturbed " << disturbed << ", calibrated " << calibrated;
    // The run put the frame size back.
    uint32_t rect[4];
    ASSERT_EQ(IxenmGetCurrentImageSize(t.camera, rect), 0u);
    EXPECT_EQ(rect[2] - rect[0], (kRegion[2] - kRegion[0]) * factorOf(t.index));
}

INSTANTIATE_TEST_SUITE_P(ColourAndMono, Converging,
                         ::testing::Values(Case{kColour, 3, {3.57f, 0.57f, 0.09f, 0.09f}},
                                           Case{kColour, 4, {3.89f, 0.71f, 0.25f, 0.15f}},
                                           Case{kColour, 5, {3.97f, 0.79f, 0.36f, 0.24f}},
                                           Case{kMono, 4, {3.33f, 0.20f, 0.05f, 0.05f}},
                                           Case{kMono, 5, {3.60f, 0.34f, 0.18f, 0.11f}}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.camera == kColour ? "Colour" : "Mono") +
                                    "Index" + std::to_string(info.param.index);
                         });

TEST_F(Calibration, ARunAtColourIndexFiveAlsoCalibratesIndexSix) {
    open(kColour);
    disturb(kColour);
    ASSERT_EQ(IxenmSetResolution(kColour, 5), 0u);
    ASSERT_EQ(IxenmCalibrate(kColour, 1, nullptr), 0u);
    uint8_t block[256];
    ASSERT_EQ(kqsimReadFlash(kColour, kCalibrationBlock, block, sizeof block), 0);
    const int subset[9] = {0, 2, 4, 12, 14, 16, 24, 26, 28};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(block[20 + 2 * k], block[84 + 2 * subset[k]]) << k;
        EXPECT_EQ(block[21 + 2 * k], block[85 + 2 * subset[k]]) << k;
    }
}

int32_t ownAddress(uint32_t, uint32_t, float*, uintptr_t data);
int32_t ownAddress(uint32_t, uint32_t, float*, uintptr_t data) {
    EXPECT_EQ(data, reinterpret_cast<uintptr_t>(&ownAddress));
    return 1;
}

TEST_F(Calibration, RunsThatCannotStartOrMeasureSayWhy) {
    EXPECT_EQ(IxenmCalibrate(kColour, 1, nullptr), 3u);
    open(kColour);
    open(kMono);
    const uint32_t attaches = kqsimRequestCount(kIoctlIsochAttachBuffers);
    for (uint32_t index : {0u, 2u, 6u}) {
        ASSERT_EQ(IxenmSetResolution(kColour, index), 0u);
        EXPECT_EQ(IxenmCalibrateEx(kColour, 3, nullptr, 0), 8u) << index;
    }
    ASSERT_EQ(IxenmSetResolution(kColour, 4), 0u);
    Progress none;
    EXPECT_EQ(IxenmCalibrateEx(kColour, 0, record, reinterpret_cast<uintptr_t>(&none)), 0u);
    EXPECT_TRUE(none.statistics.empty());
    const bool counted = test::benchSeesRequest(kIoctlIsochAttachBuffers);
    EXPECT_EQ(kqsimRequestCount(kIoctlIsochAttachBuffers), attaches) << "nothing acquired";

    // A callback that stops after the first of five iterations: one series.
    Progress once;
    once.stopAfter = 1;
    ASSERT_EQ(IxenmSetResolution(kMono, 4), 0u);
    EXPECT_EQ(IxenmCalibrateEx(kMono, 5, record, reinterpret_cast<uintptr_t>(&once)), 0u);
    EXPECT_EQ(once.statistics.size(), 1u);
    EXPECT_EQ(kqsimRequestCount(kIoctlIsochAttachBuffers), attaches + (counted ? 1 : 0));
    // The single-camera form passes the callback's own address.
    EXPECT_EQ(IxenmCalibrate(kMono, 3, ownAddress), 0u);

    // Nothing to measure under a flat field: 9, and the table stays.
    uint8_t before[256], after[256];
    ASSERT_EQ(kqsimReadFlash(kMono, kCalibrationBlock, before, 256), 0);
    kqsimSetScene(KQSIM_SCENE_FLAT, 0.5, nullptr, 0, 0, 0);
    EXPECT_EQ(IxenmCalibrate(kMono, 2, nullptr), 9u);
    ASSERT_EQ(kqsimReadFlash(kMono, kCalibrationBlock, after, 256), 0);
    EXPECT_TRUE(std::equal(before, before + 256, after));
}

}  // namespace
}  // namespace kqfw::test
