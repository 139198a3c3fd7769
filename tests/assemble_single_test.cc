#include "processing/assemble_single.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using Block = test::KernelTest;
using test::pixelAt;
using Px = std::vector<uint16_t>;

TEST_F(Block, UniformFrameMapsEveryPixelThroughItsColoursTables) {
    frame(6, 4);
    std::vector<uint16_t> raw(24, 700), out(72, 0);
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kBlockMethod);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            ASSERT_EQ(pixelAt(out, 6, y, x), (Px{702, 700, 701})) << y << "," << x;
        }
    }
}

TEST_F(Block, EachPixelTakesTheBlockBelowAndRightOfIt) {
    frame(4, 4);
    std::vector<uint16_t> raw(16), out(48, 0);
    for (int i = 0; i < 16; ++i) {
        raw[i] = static_cast<uint16_t>(100 * (i + 1));  // sample (y, x) = 100 * (4y + x + 1)
    }
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kBlockMethod);
    // (0, 1): red (0, 2) = 300, blue (1, 1) = 600, green mean of (0, 1) and (1, 2) = 450.
    EXPECT_EQ(pixelAt(out, 4, 0, 1), (Px{602, 450, 301}));
    // (1, 1) starts on blue: red (2, 2) = 1100, greens (1, 2) and (2, 1) = 700 and 1000.
    EXPECT_EQ(pixelAt(out, 4, 1, 1), (Px{602, 850, 1101}));
    // (1, 0) starts on green: red (2, 0) = 900 below, blue (1, 1) = 600 beside.
    EXPECT_EQ(pixelAt(out, 4, 1, 0), (Px{602, 750, 901}));
    // Last column (0, 3): green (0, 3), blue (1, 3), red from (0, 2).
    EXPECT_EQ(pixelAt(out, 4, 0, 3), (Px{802, 400, pixelAt(out, 4, 0, 2)[2]}));
    // Last row (3, 0): green (3, 0), blue (3, 1), red from (2, 0).
    EXPECT_EQ(pixelAt(out, 4, 3, 0), (Px{1402, 1300, pixelAt(out, 4, 2, 0)[2]}));
    // Corner: its own blue, red from the left, green of the samples above and left.
    EXPECT_EQ(pixelAt(out, 4, 3, 3), (Px{1602, (1200 + 1500) / 2, pixelAt(out, 4, 3, 2)[2]}));
}

TEST_F(Block, TwoByTwoFrameUsesItsOneCellEverywhere) {
    frame(2, 2);
    std::vector<uint16_t> raw = {1000, 2000, 3000, 4000}, out(12, 0);
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kBlockMethod);
    EXPECT_EQ(pixelAt(out, 2, 0, 0), (Px{4002, 2500, 1001}));
    EXPECT_EQ(pixelAt(out, 2, 0, 1), (Px{4002, 2000, 1001}));
    EXPECT_EQ(pixelAt(out, 2, 1, 0), (Px{4002, 3000, 1001}));
    EXPECT_EQ(pixelAt(out, 2, 1, 1), (Px{4002, 2500, 1001}));
}

TEST_F(Block, OddSizesRepeatTheirLastColumnAndRow) {
    frame(5, 3);
    std::vector<uint16_t> raw(15), out(45, 0);
    for (int i = 0; i < 15; ++i) {
        raw[i] = static_cast<uint16_t>(50 * i + 10);
    }
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kBlockMethod);
    EXPECT_EQ(pixelAt(out, 5, 0, 4), pixelAt(out, 5, 0, 3));
    EXPECT_EQ(pixelAt(out, 5, 2, 1), pixelAt(out, 5, 1, 1));
    frame(1, 1);
    std::vector<uint16_t> untouched(3, 9);
    AssembleSingle(recipeOf(*context), untouched.data(), raw.data(), kBlockMethod);
    EXPECT_EQ(untouched, (Px{9, 9, 9}));
}

TEST_F(Block, SamplesBeyond14BitsReadFullScale) {
    frame(2, 2);
    std::vector<uint16_t> raw = {65535, 65535, 65535, 65535}, out(12, 0);
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kBlockMethod);
    EXPECT_EQ(pixelAt(out, 2, 0, 0), (Px{16383, 16383, 16383}));
}

TEST_F(Block, TablePassPutsEverySampleThroughItsOwnTable) {
    std::vector<uint16_t> raw = {10, 20, 30, 40}, out(12, 7);
    tablePass(recipeOf(*context), out.data(), raw.data(), 2, 2);
    EXPECT_EQ(pixelAt(out, 2, 0, 0), (Px{7, 11, 7}));  // red table, other channels left
    EXPECT_EQ(pixelAt(out, 2, 0, 1)[1], 20);
    EXPECT_EQ(pixelAt(out, 2, 1, 0)[1], 30);
    EXPECT_EQ(pixelAt(out, 2, 1, 1)[1], 42);
}

}  // namespace
}  // namespace kqfw
