// The sensor-shift calibration as a microscopist runs it: a camera whose shift tables are off
// is brought back to sharp multi-shot images by the library alone, and runs that cannot start
// or cannot measure say why.
#include <cstdio>
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
        path_ = ::testing::TempDir() + "kqfw_calibration_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        ApiTest::TearDown();
    }
    // The camera over the slide's bars, exposed for a bright texture at the sensor's centre.
    void open(int32_t camera) {
        ASSERT_EQ(IxenmInit(camera), 0u);
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

TEST_F(Calibration, ADisturbedTableIsCalibratedBackToSharpImages) {
    // Measured: the RMS deviation falls from about 2 twelfths of a patch pixel to 0.2 (colour,
    // index 4) and from 1.6 to 0.03 (mono, index 4) in four iterations.
    for (int32_t camera : {kColour, kMono}) {
        SCOPED_TRACE(camera);
        open(camera);
        const double factory = sharpness(camera, 4);
        disturb(camera);
        const double disturbed = sharpness(camera, 4);
        ASSERT_LT(disturbed, factory * 0.97);
        Progress progress;
        ASSERT_EQ(IxenmCalibrateEx(camera, 4, record, reinterpret_cast<uintptr_t>(&progress)), 0u);
        ASSERT_EQ(progress.statistics.size(), 4u);
        const std::vector<float>& first = progress.statistics.front();
        const std::vector<float>& last = progress.statistics.back();
        EXPECT_GT(first[2] + first[3], 2.0f) << "the disturbance is seen";
        EXPECT_LT(last[2] + last[3], camera == kColour ? 0.5f : 0.1f) << "and corrected";
        EXPECT_LE(last[4], last[5]);
        EXPECT_LE(last[6], last[7]);
        const double calibrated = sharpness(camera, 4);
        EXPECT_GT(calibrated, factory * 0.97) << "factory " << factory << ", disturbed "
                                              << disturbed << ", calibrated " << calibrated;
        // The run put the frame size back (the image is twice it at index 4).
        uint32_t rect[4];
        ASSERT_EQ(IxenmGetCurrentImageSize(camera, rect), 0u);
        EXPECT_EQ(rect[2] - rect[0], (kRegion[2] - kRegion[0]) * factorOf(4));
    }
}

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
    EXPECT_EQ(kqsimRequestCount(kIoctlIsochAttachBuffers), attaches) << "nothing acquired";

    // A callback that stops after the first of five iterations: one series.
    Progress once;
    once.stopAfter = 1;
    ASSERT_EQ(IxenmSetResolution(kMono, 4), 0u);
    EXPECT_EQ(IxenmCalibrateEx(kMono, 5, record, reinterpret_cast<uintptr_t>(&once)), 0u);
    EXPECT_EQ(once.statistics.size(), 1u);
    EXPECT_EQ(kqsimRequestCount(kIoctlIsochAttachBuffers), attaches + 1);
    // The single-camera form passes the callback's own address.
    EXPECT_EQ(IxenmCalibrate(kMono, 3, ownAddress), 0u);

    // Nothing to measure under a flat field: 9, and the table stays.
    uint8_t before[256], after[256];
    ASSERT_EQ(kqsimReadFlash(kMono, kCalibrationBlock, before, 256), 0);
    kqsimSetScene(KQSIM_SCENE_FLAT, 0.5, nullptr, 0, 0, 0);
    EXPECT_EQ(IxenmCalibrate(kMono, 2, nullptr), 9u);
    ASSERT_EQ(kqsimReadFlash(kMono, kCalibrationBlock, after, 256), 0);
    EXPECT_TRUE(std::equal(before, before + 256, after));
    // A run that owns the camera.
    ASSERT_EQ(IxenmStartFastAcquisition(kMono), 0);
    EXPECT_EQ(IxenmCalibrate(kMono, 1, nullptr), 10u);
    EXPECT_EQ(IxenmAbortFastAcquisition(kMono), 0);
}

}  // namespace
}  // namespace kqfw::test
