#include <array>

#include "camera/colour_tables.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

// The kernels' context, its saturations at 1 and its clamp table filled.
class ColourTables : public test::KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        for (int r = 0; r < 3; ++r) {
            context->saturation[r] = 1.0;
        }
        fillClampTable(context->clampTable);
    }
    // Applies the matrix tables and the clamp to one pixel given as (red, green, blue).
    std::array<int, 3> apply(int red, int green, int blue) {
        const int in[3] = {red, green, blue};
        std::array<int, 3> out{};
        for (int r = 0; r < 3; ++r) {
            int sum = 0;
            for (int c = 0; c < 3; ++c) {
                sum += context->matrixTables[3 * r + c][in[c]];
            }
            out[r] = context->clampTable[sum];
        }
        return out;
    }
};

TEST_F(ColourTables, NoSaturationMeansTheIdentityMatrix) {
    for (double& s : context->saturation) {
        s = 0.0;
    }
    saturationStep(*context);
    const double wb[3] = {1, 1, 1};
    ASSERT_EQ(buildColourTables(*context, wb), 0u);
    EXPECT_EQ(apply(100, 2000, 16383), (std::array<int, 3>{100, 2000, 16383}));
    EXPECT_EQ(apply(0, 0, 0), (std::array<int, 3>{0, 0, 0}));
}

TEST_F(ColourTables, FullScaleWhiteKeepsItsLevelUnderTheBaseMatrix) {
    saturationStep(*context);
    for (int r = 0; r < 3; ++r) {
        double sum = 0;
        for (int c = 0; c < 3; ++c) {
            sum += context->colorMatrix[r][c];
        }
        EXPECT_NEAR(sum, 1.0, 1e-12);
    }
    const double wb[3] = {1.49, 1.98, 1.0};
    ASSERT_EQ(buildColourTables(*context, wb), 0u);
    // Each table truncates its term, so a row can lose up to one step per term: the third row
    // sums to 65533 (17743 + 7799 + 39991), two steps short of full scale.
    EXPECT_EQ(apply(16383, 16383, 16383), (std::array<int, 3>{16383, 16383, 16381}));
}

TEST_F(ColourTables, MatrixEntriesAreLimitedToWhatAFullScaleInputGives) {
    saturationStep(*context);
    const double wb[3] = {1, 1, 1};
    ASSERT_EQ(buildColourTables(*context, wb), 0u);
    // Row 0, column 0: k = 1.465, L = trunc(2.465 * 16384) = 40386.
    EXPECT_EQ(context->matrixTables[0][0], 16384);
    EXPECT_EQ(context->matrixTables[0][10], 16398);  // 16384 + 14.65
    EXPECT_EQ(context->matrixTables[0][16383], 40385);
    // Row 0, column 1: k = -0.283, L = trunc(0.717 * 16384) = 11747; entries never below L + 1.
    EXPECT_EQ(context->matrixTables[1][100], 16355);  // 16384 - 28.3
    EXPECT_EQ(context->matrixTables[1][16383], 11748);
}

}  // namespace
}  // namespace kqfw
