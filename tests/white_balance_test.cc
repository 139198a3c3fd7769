#include <cmath>

#include "api_fixture.h"
#include "camera/colour_tables.h"
#include "processing/colour_matrix.h"

namespace kqfw {
namespace {

class WhiteBalance : public test::ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        ASSERT_EQ(IxenmInit(0), 0u);
    }
    static std::vector<double> factors() {
        std::vector<double> wb(3);
        EXPECT_EQ(IxenGetCurrentWhiteBalance(&wb[0], &wb[1], &wb[2]), 0u);
        return wb;
    }
};

// The tables come from the factors rounded to single precision: the float literals here are
// that rounding, done by the compiler's front end. All three must be rounded: when only the
// largest (blue, whose gain is the divisor) was, 278 red entries came out differently. The
// factors themselves are kept as given, not as the floats the tables used.
TEST_F(WhiteBalance, TablesAreBuiltFromFactorsRoundedToSinglePrecision) {
    ASSERT_EQ(IxenSetWhiteBalance(0.9, 1.21, 1.77), 0u);
    const double smallest = 1.0 / double(1.77f);
    const double red = (1.0 / double(0.9f)) / smallest;
    const double green = (1.0 / double(1.21f)) / smallest;
    int32_t differing = 0;
    for (int32_t i = 0; i < 16384; ++i) {
        auto entry = [i](double gain) {
            const double v = (i - 128) * gain + 0.5 + 128;
            return static_cast<uint16_t>(v < 0 ? 0 : v > 16383 ? 16383 : v);
        };
        differing += cameraAt(0)->whiteLuts[0][i] != entry(red);
        differing += cameraAt(0)->whiteLuts[1][i] != entry(green);
        differing += cameraAt(0)->whiteLuts[2][i] != entry(1.0);
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(factors(), (std::vector<double>{0.9, 1.21, 1.77}));

    // The image balance multiplies the levels and the stored factors, both rounded, and keeps
    // the product.
    ASSERT_EQ(IxenmSetImageWhiteBalance(0, 1.1, 0.3, 1.3), 0u);
    EXPECT_EQ(factors(),
              (std::vector<double>{double(1.1f) * double(0.9f), double(0.3f) * double(1.21f),
                                   double(1.3f) * double(1.77f)}));
}

// Factors and levels count at single precision: 1e-300 is positive as a double and 0 as a
// float, and is refused whatever the build.
TEST_F(WhiteBalance, FactorsOrLevelsNotPositiveAsFloatsAreRefusedAndChangeNothing) {
    const uint16_t before = cameraAt(0)->whiteLuts[2][3000];
    const double refused[][3] = {
        {1, 0, 1}, {-1, 1, 1}, {NAN, 1, 1}, {1e-300, 1, 1}, {1, 1, -1e-300}};
    for (const auto& v : refused) {
        SCOPED_TRACE(testing::Message() << v[0] << ", " << v[1] << ", " << v[2]);
        EXPECT_EQ(IxenmSetWhiteBalance(0, v[0], v[1], v[2]), 5u);
        EXPECT_EQ(IxenmSetImageWhiteBalance(0, v[0], v[1], v[2]), 5u);
    }
    double zero[3] = {1, 1, 0}, negative[3] = {1, -2, 1};
    EXPECT_EQ(Ixenm_setwhite(0, zero), 5u);
    EXPECT_EQ(Ixenm_setwhite(0, negative), 5u);
    EXPECT_EQ(Ixenm_setwhite(0, nullptr), 8u);
    EXPECT_EQ(factors(), (std::vector<double>{1.49, 1.98, 1.0}));
    EXPECT_EQ(cameraAt(0)->whiteLuts[2][3000], before);
}

TEST_F(WhiteBalance, SetwhiteBuildsTablesButKeepsTheStoredFactors) {
    double wb[3] = {1, 1, 1};
    ASSERT_EQ(Ixen_setwhite(wb), 0u);
    EXPECT_EQ(cameraAt(0)->whiteLuts[2][5000], 5000);
    EXPECT_EQ(factors(), (std::vector<double>{1.49, 1.98, 1.0}));
}

TEST_F(WhiteBalance, NeutralLevelsLeaveTheFactorsAndTooStrongColourLowersItsGain) {
    ASSERT_EQ(IxenmSetImageWhiteBalance(0, 1, 1, 1), 0u);
    auto wb = factors();
    EXPECT_NEAR(wb[0], 1.49, 1e-6);
    EXPECT_NEAR(wb[1], 1.98, 1e-6);
    EXPECT_EQ(wb[2], 1.0);
    ASSERT_EQ(IxenmSetImageWhiteBalance(0, 2, 1, 0.5), 0u);
    wb = factors();
    EXPECT_NEAR(wb[0], 2.98, 1e-6);
    EXPECT_NEAR(wb[2], 0.5, 1e-6);
}

TEST_F(WhiteBalance, WithColourProcessingLevelsAreMappedBackThroughTheMatrix) {
    ASSERT_EQ(IxenmEnableColorProcessing(0, 1), 0u);
    // Levels the matrix makes of a grey input stay grey: each row sums to 1.
    ASSERT_EQ(IxenmSetImageWhiteBalance(0, 1, 1, 1), 0u);
    EXPECT_NEAR(factors()[0], 1.49, 1e-6);
    // Levels the matrix made of the input (2, 1, 1) solve back to it.
    const CameraContext& c = *cameraAt(0);
    auto level = [&](int r) {
        return 2 * c.colorMatrix[r][0] + c.colorMatrix[r][1] + c.colorMatrix[r][2];
    };
    ASSERT_EQ(IxenmSetImageWhiteBalance(0, level(0), level(1), level(2)), 0u);
    EXPECT_NEAR(factors()[0], 2 * 1.49, 1e-5);
    EXPECT_NEAR(factors()[1], 1.98, 1e-5);
    EXPECT_NEAR(factors()[2], 1.0, 1e-5);
}

TEST_F(WhiteBalance, SingularMatrixRefusesTheImageBalance) {
    ASSERT_EQ(IxenmEnableColorProcessing(0, 1), 0u);
    // Saturations that cancel a row are hard to hit exactly; make the matrix singular directly.
    CameraContext& c = *cameraAt(0);
    for (auto& row : c.colorMatrix) {
        row[0] = 1;
        row[1] = 1;
        row[2] = 1;
    }
    const auto before = factors();
    EXPECT_EQ(IxenmSetImageWhiteBalance(0, 1, 1, 1), 8u);
    EXPECT_EQ(factors(), before);
}

// The saturation and white balance in each activity are the activity matrix's (modes_test.cc).
TEST_F(WhiteBalance, SaturationRebuildsTheMatrixAndTheImageBalanceRefusesWhileBusy) {
    ASSERT_EQ(IxenmSetColorSaturation(0, 0, 0, 0), 0u);
    EXPECT_EQ(cameraAt(0)->colorMatrix[0][0], 1.0);
    EXPECT_EQ(cameraAt(0)->colorMatrix[2][1], 0.0);
    IxenSetColorSaturation(1, 1, 1);
    EXPECT_EQ(cameraAt(0)->colorMatrix[2][1], -0.524);
    cameraAt(0)->busy = 1;
    EXPECT_EQ(IxenmSetImageWhiteBalance(0, 1, 1, 1), 10u);
    cameraAt(0)->busy = 0;
}

TEST_F(WhiteBalance, ColourMatrixAppliesOnlyWhenSwitchedOn) {
    uint16_t pixel[3] = {1000, 2000, 3000};  // blue, green, red
    ApplyColorMatrix(recipeOf(*cameraAt(0)), pixel, 1);
    EXPECT_EQ(pixel[0], 1000);
    IxenEnableColorProcessing(7);
    EXPECT_EQ(IxenIsColorProcessingEnabled(), 7u);
    ApplyColorMatrix(recipeOf(*cameraAt(0)), pixel, 1);
    // Red out = 1.465 * 3000 - 0.283 * 2000 - 0.182 * 1000, each term truncated in its table.
    EXPECT_NEAR(pixel[2], 1.465 * 3000 - 0.283 * 2000 - 0.182 * 1000, 3);
    EXPECT_NEAR(pixel[0], 0.083 * 3000 - 0.524 * 2000 + 1.441 * 1000, 3);
    uint16_t dark[3] = {0, 16383, 0};  // pure green drives red and blue below zero
    ApplyColorMatrix(recipeOf(*cameraAt(0)), dark, 1);
    EXPECT_EQ(dark[0], 0);
    EXPECT_EQ(dark[2], 0);
    uint16_t over[3] = {65535, 65535, 65535};  // out-of-range samples count as full scale
    ApplyColorMatrix(recipeOf(*cameraAt(0)), over, 1);
    EXPECT_EQ(over[1], 16383);
}

}  // namespace
}  // namespace kqfw
