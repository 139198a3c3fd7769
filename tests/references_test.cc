// Black and white references through the C API on the bench, as a microscopist measures, keeps
// and applies them.
#include <cmath>
#include <cstring>
#include <vector>

#include "api_fixture.h"

namespace kqfw::test {
namespace {

constexpr int32_t kColour = 0;
constexpr int32_t kMono = 1;
constexpr uint32_t kWidth = 1388, kHeight = 1040;
constexpr size_t kBlackBlockBytes = size_t{kHeight + 2} * kWidth * 2;
constexpr size_t kWhiteTableBytes = size_t{kHeight} * kWidth * 2;

class References : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        kqsimSetTimeScale(0.001);
        ASSERT_EQ(IxenmInit(kColour), 0u);
        ASSERT_EQ(IxenmInit(kMono), 0u);
    }

    // A raw full-sensor frame as the application gets it with the references it enabled.
    static std::vector<uint16_t> rawFrame(int32_t camera) {
        EXPECT_EQ(IxenmSetResolution(camera, 2), 0u);
        EXPECT_EQ(IxenmSetBitsPerPixel(camera, 14), 0u);
        EXPECT_EQ(IxenmSetFrameSize(camera, nullptr), 0u);
        std::vector<uint16_t> frame(size_t{kWidth} * kHeight);
        EXPECT_EQ(IxenmAcquisition(camera, frame.data(), uint32_t(frame.size() * 2), nullptr), 0);
        return frame;
    }

    // The mean of four frames, so the spread left is the pattern rather than the noise.
    static std::vector<double> meanFrame(int32_t camera) {
        std::vector<double> mean(size_t{kWidth} * kHeight, 0.0);
        for (int k = 0; k < 4; ++k) {
            const std::vector<uint16_t> f = rawFrame(camera);
            for (size_t i = 0; i < f.size(); ++i) {
                mean[i] += f[i] / 4.0;
            }
        }
        return mean;
    }

    // Standard deviation and mean over the sites of one mosaic class (-1: every site).
    struct Spread {
        double mean, sd;
    };
    static Spread spread(const std::vector<double>& f, int site = -1) {
        double sum = 0, sum2 = 0;
        size_t n = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                if (site >= 0 && int((y & 1) * 2 + (x & 1)) != site) {
                    continue;
                }
                const double v = f[size_t(y) * kWidth + x];
                sum += v;
                sum2 += v * v;
                ++n;
            }
        }
        const double mean = sum / n;
        return {mean, std::sqrt(sum2 / n - mean * mean)};
    }

    static std::vector<uint8_t> savedBlack(int32_t camera) {
        std::vector<uint8_t> block(kBlackBlockBytes);
        EXPECT_EQ(IxenmSaveBlackRef(camera, block.data(), uint32_t(block.size())), 0u);
        return block;
    }

    static std::vector<uint8_t> whiteTable(int32_t camera) {
        std::vector<uint8_t> table(kWhiteTableBytes);
        EXPECT_EQ(IxenmGetWhiteTable(camera, table.data()), 0u);
        return table;
    }
};

TEST_F(References, SwitchesAndBlocksAnswerWithTheirStatuses) {
    uint32_t v = 7;
    EXPECT_EQ(IxenmHasBlackRef(kColour, &v), 0u);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(IxenmSetBlackRef(kColour, 1), 8u) << "nothing to enable yet";
    EXPECT_EQ(IxenmSetWhiteRef(kColour, 1), 8u);
    EXPECT_EQ(IxenmSetBlackRef(kColour, 0), 0u);
    std::vector<uint8_t> block(kBlackBlockBytes, 0);
    EXPECT_EQ(IxenmSaveBlackRef(kColour, block.data(), uint32_t(block.size())), 8u)
        << "no black reference to save";
    EXPECT_EQ(IxenmGetWhiteTable(kColour, block.data()), 8u);
    EXPECT_EQ(IxenmRestoreBlackRef(kColour, nullptr, uint32_t(block.size())), 8u);
    EXPECT_EQ(IxenmRestoreBlackRef(kColour, block.data(), uint32_t(kWhiteTableBytes)), 8u)
        << "a block without the two extra rows";
    EXPECT_EQ(IxenmSetWhiteTable(kColour, nullptr), 8u);
    EXPECT_EQ(IxenmHasBlackRef(kColour, nullptr), 8u);

    // Any block of the right size counts as a reference, and so does any white table.
    EXPECT_EQ(IxenmRestoreBlackRef(kColour, block.data(), uint32_t(block.size())), 0u);
    EXPECT_EQ(IxenmSaveBlackRef(kColour, block.data(), uint32_t(kWhiteTableBytes)), 8u);
    EXPECT_EQ(IxenmSetWhiteTable(kColour, block.data()), 0u);
    EXPECT_EQ(IxenmSetBlackRef(kColour, 5), 0u);
    EXPECT_EQ(IxenmSetWhiteRef(kColour, 1), 0u);
    EXPECT_EQ(IxenmGetCurrentBlackRef(kColour, &v), 0u);
    EXPECT_EQ(v, 1u) << "any non-zero enable is stored as 1";
    EXPECT_EQ(IxenGetCurrentWhiteRef(&v), 0u);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(IxenHasWhiteRef(&v), 0u);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(IxenmHasBlackRef(kMono, &v), 0u);
    EXPECT_EQ(v, 0u) << "references belong to one camera";

    EXPECT_EQ(IxenmSetBlackRef(10, 0), 3u);
    EXPECT_EQ(IxenmCalculateBlackRef(4, nullptr), 3u);
    EXPECT_EQ(IxenmCalculateWhiteRefEx(-1, nullptr, 0), 3u);
    EXPECT_EQ(IxenmSaveBlackRef(7, block.data(), uint32_t(block.size())), 3u);
}

TEST_F(References, ABlackReferenceRemovesTheDarkPatternAndKeepsTheLevel) {
    kqsimSetScene(KQSIM_SCENE_DARK, 0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetExposure(kMono, 3000000), 0u);
    const Spread before = spread(meanFrame(kMono));
    ASSERT_EQ(IxenmCalculateBlackRef(kMono, nullptr), 0u);
    ASSERT_EQ(IxenmSetBlackRef(kMono, 1), 0u);
    const Spread after = spread(meanFrame(kMono));
    // Measured: 43.7 DN before (hot pixels and the amplifier's glow), 2.5 DN after, close to
    // the read noise of a mean of four frames.
    EXPECT_GT(before.sd, 35.0);
    EXPECT_LT(after.sd, 3.5);
    EXPECT_NEAR(after.mean, before.mean, 2.0) << "the dark level itself stays";
    uint32_t exposure = 0;
    ASSERT_EQ(IxenmGetCurrentExposure(kMono, &exposure), 0u);
    EXPECT_EQ(exposure, 3000000u) << "the measurement put the settings back";
}

TEST_F(References, AWhiteReferenceFlattensVignettingAndPixelGain) {
    kqsimSetScene(KQSIM_SCENE_FLAT, 1.0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetExposure(kColour, 100000), 0u);
    ASSERT_EQ(IxenmSetExposure(kMono, 100000), 0u);
    const Spread monoBefore = spread(meanFrame(kMono));
    const Spread greenBefore = spread(meanFrame(kColour), 1);
    ASSERT_EQ(IxenmCalculateWhiteRef(kMono, nullptr), 0u);
    ASSERT_EQ(IxenmCalculateWhiteRef(kColour, nullptr), 0u);
    ASSERT_EQ(IxenmSetWhiteRef(kMono, 1), 0u);
    ASSERT_EQ(IxenmSetWhiteRef(kColour, 1), 0u);
    const Spread monoAfter = spread(meanFrame(kMono));
    const Spread greenAfter = spread(meanFrame(kColour), 1);
    // Measured relative spreads: 5.3 % before on both, 0.57 % after (the shot noise left in a
    // mean of four frames and in the reference's own four).
    EXPECT_GT(monoBefore.sd / monoBefore.mean, 0.045);
    EXPECT_LT(monoAfter.sd / monoAfter.mean, 0.007);
    EXPECT_GT(greenBefore.sd / greenBefore.mean, 0.045);
    EXPECT_LT(greenAfter.sd / greenAfter.mean, 0.007);
}

TEST_F(References, MeasurementsThatFailLeaveTheReferencesAsTheyWere) {
    kqsimSetNoise(kMono, 0);
    kqsimSetScene(KQSIM_SCENE_DARK, 0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmCalculateBlackRef(kMono, nullptr), 0u);
    kqsimSetScene(KQSIM_SCENE_FLAT, 1.0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetExposure(kMono, 100000), 0u);
    ASSERT_EQ(IxenmCalculateWhiteRef(kMono, nullptr), 0u);
    const std::vector<uint8_t> black = savedBlack(kMono);
    const std::vector<uint8_t> white = whiteTable(kMono);

    EXPECT_EQ(IxenmCalculateBlackRef(kMono, nullptr), 12u) << "a black frame under light";
    ASSERT_EQ(IxenmSetExposure(kMono, 2000), 0u);
    EXPECT_EQ(IxenmCalculateWhiteRef(kMono, nullptr), 14u) << "a white frame too dark";
    auto abortAtOnce = [](uint32_t, uint32_t, int32_t) -> int32_t { return 1; };
    EXPECT_EQ(IxenmCalculateBlackRef(kMono, abortAtOnce), 4u);
    EXPECT_EQ(IxenmCalculateWhiteRef(kMono, abortAtOnce), 4u);
    EXPECT_EQ(savedBlack(kMono), black);
    EXPECT_EQ(whiteTable(kMono), white);
    uint32_t present = 0;
    EXPECT_EQ(IxenmHasBlackRef(kMono, &present), 0u);
    EXPECT_EQ(present, 1u);
}

// The saturation status needs a level above 16283, but the highest level four 14-bit frames
// can give is 16254: a saturated field is measured like any other.
TEST_F(References, ASaturatedWhiteFieldIsMeasuredSinceFourteenBitsCannotReachTheLimit) {
    kqsimSetNoise(kMono, 0);
    kqsimSetScene(KQSIM_SCENE_FLAT, 20.0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetExposure(kMono, 100000), 0u);
    EXPECT_EQ(IxenmCalculateWhiteRef(kMono, nullptr), 0u);
    const std::vector<uint8_t> table = whiteTable(kMono);
    int16_t centre;
    std::memcpy(&centre, &table[(size_t{kHeight} / 2 * kWidth + kWidth / 2) * 2], 2);
    // Level 16383 - 1 - 128 over a dark-corrected 16382 - 128: unit gain.
    EXPECT_EQ(centre, 4096);
}

TEST_F(References, WhiteMeasurementReportsEachFrameAndItsStart) {
    kqsimSetNoise(kMono, 0);
    kqsimSetScene(KQSIM_SCENE_FLAT, 1.0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetExposure(kMono, 100000), 0u);
    static std::vector<std::vector<uint32_t>> calls;
    calls.clear();
    auto record = [](uint32_t done, uint32_t total, int32_t state, uint64_t user) -> int32_t {
        calls.push_back({done, total, uint32_t(state), uint32_t(user)});
        return 0;
    };
    ASSERT_EQ(IxenmCalculateWhiteRefEx(kMono, record, 77), 0u);
    const std::vector<std::vector<uint32_t>> expected = {
        {0, 4, 1, 77}, {0, 4, 2, 77}, {1, 4, 2, 77}, {2, 4, 2, 77}, {3, 4, 2, 77}};
    EXPECT_EQ(calls, expected);
}

TEST_F(References, SavedReferencesSurviveACloseAndReopenBitForBit) {
    kqsimSetScene(KQSIM_SCENE_DARK, 0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmCalculateBlackRef(kColour, nullptr), 0u);
    kqsimSetScene(KQSIM_SCENE_FLAT, 1.0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetExposure(kColour, 100000), 0u);
    ASSERT_EQ(IxenmCalculateWhiteRef(kColour, nullptr), 0u);
    std::vector<uint8_t> black = savedBlack(kColour);
    std::vector<uint8_t> white = whiteTable(kColour);
    kqsimSetNoise(kColour, 0);
    kqsimSetScene(KQSIM_SCENE_SLIDE, 1.0, nullptr, 0, 0, 0);
    ASSERT_EQ(IxenmSetBlackRef(kColour, 1), 0u);
    ASSERT_EQ(IxenmSetWhiteRef(kColour, 1), 0u);
    const std::vector<uint16_t> corrected = rawFrame(kColour);

    IxenmClose(kColour);
    ASSERT_EQ(IxenmInit(kColour), 0u);
    ASSERT_EQ(IxenmSetExposure(kColour, 100000), 0u);
    ASSERT_EQ(IxenmRestoreBlackRef(kColour, black.data(), uint32_t(black.size())), 0u);
    ASSERT_EQ(IxenmSetWhiteTable(kColour, white.data()), 0u);
    EXPECT_EQ(savedBlack(kColour), black);
    EXPECT_EQ(whiteTable(kColour), white);
    ASSERT_EQ(IxenmSetBlackRef(kColour, 1), 0u);
    ASSERT_EQ(IxenmSetWhiteRef(kColour, 1), 0u);
    EXPECT_EQ(rawFrame(kColour), corrected);
}

}  // namespace
}  // namespace kqfw::test
