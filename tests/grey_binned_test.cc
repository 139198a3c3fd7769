#include "processing/grey_binned.h"
#include "platform/memory.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using GreyBinned = test::KernelTest;
using test::pixelAt;
using Px = std::vector<uint16_t>;

TEST_F(GreyBinned, MonoOfAUniformFrameIsTheTableValue) {
    for (auto& table : context->whiteLuts) {
        for (uint32_t i = 0; i < kLutEntries; ++i) {
            table[i] = static_cast<uint16_t>(std::min<uint32_t>(i + 5, 16383));
        }
    }
    frame(8, 6);
    std::vector<uint16_t> raw(48, 4000), out(48, 0);
    AssembleSingleMono(SimdLevel::kPlain, recipeOf(*context), out.data(), raw.data());
    for (uint16_t v : out) {
        ASSERT_EQ(v, 4005);
    }
}

TEST_F(GreyBinned, MonoWithoutMemoryLeavesTheOutputAlone) {
    frame(8, 6);
    std::vector<uint16_t> raw(48, 4000), out(48, 3);
    failAllocationAfter(1);
    AssembleSingleMono(SimdLevel::kPlain, recipeOf(*context), out.data(), raw.data());
    EXPECT_EQ(out, std::vector<uint16_t>(48, 3));
}

TEST_F(GreyBinned, GreyAveragesGroupsAndDropsOddColumns) {
    frame(5, 2);
    std::vector<uint16_t> raw = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, out(8, 0);
    AssembleGrey(SimdLevel::kPlain, recipeOf(*context), out.data(), raw.data());
    EXPECT_EQ(out, (std::vector<uint16_t>{1, 2, 3, 4, 6, 7, 8, 9}));  // the fifth column dropped
    context->binning = 2;
    frame(8, 4);  // 2 binned rows of 8 samples
    std::vector<uint16_t> binned = {10, 21, 30, 40, 50, 61, 70, 80, 1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint16_t> grey(8, 0);
    AssembleGrey(SimdLevel::kPlain, recipeOf(*context), grey.data(), binned.data());
    EXPECT_EQ(grey, (std::vector<uint16_t>{15, 35, 55, 75, 1, 3, 5, 7}));
    context->binning = 0;
    std::vector<uint16_t> untouched(4, 9);
    AssembleGrey(SimdLevel::kPlain, recipeOf(*context), untouched.data(), binned.data());
    EXPECT_EQ(untouched, std::vector<uint16_t>(4, 9));
}

// Raw rows of a frame binned by b over a scene of constant red, green and blue: even raw rows
// hold a (even columns) and b' (odd), odd rows c and d.
std::vector<uint16_t> mixedRows(int32_t width, int32_t rows, uint16_t a, uint16_t bp, uint16_t c,
                                uint16_t d) {
    std::vector<uint16_t> raw(size_t(width) * rows);
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            raw[size_t(y) * width + x] =
                (y & 1) == 0 ? ((x & 1) == 0 ? a : bp) : ((x & 1) == 0 ? c : d);
        }
    }
    return raw;
}

// Binned by 3 the rows mix 2 : 1, by 5 they mix 3 : 2, and both solve back to the scene's
// colour at every pixel. By 3, R = 3000, G = 6000, B = 1500: a = (2R + G) / 3 and so on. By 5,
// R = 2000, G = 7000, B = 4000: a = (3R + 2G) / 5 = 4000, b' = (3G + 2B) / 5 = 5800,
// c = (3G + 2R) / 5 = 5000, d = (3B + 2G) / 5 = 5200; groups of five alternate in parity, which
// the weighted means of a uniform row do not see. Grey stays grey, and dark falls back to zero.
TEST_F(GreyBinned, BinnedRowMixturesSolveBackIntoTheirColour) {
    identityTables();
    struct Case {
        int32_t binning;
        uint16_t a, bp, c, d;
        Px pixel;
    };
    std::vector<Case> cases = {{3, 4000, 4500, 5000, 3000, {1500, 6000, 3000}},
                               {5, 4000, 5800, 5000, 5200, {4000, 7000, 2000}}};
    for (int32_t b : {3, 5}) {
        for (uint16_t v : {uint16_t(16383), uint16_t(700), uint16_t(0)}) {
            cases.push_back({b, v, v, v, v, {v, v, v}});
        }
    }
    for (const Case& k : cases) {
        context->binning = k.binning;
        frame(4 * k.binning, 4 * k.binning);  // 4 raw rows, output 4 x 4
        auto raw = mixedRows(4 * k.binning, 4, k.a, k.bp, k.c, k.d);
        std::vector<uint16_t> out(4 * 4 * 3, 1);
        (k.binning == 3 ? AssembleBinned3 : AssembleBinned5)(recipeOf(*context), out.data(),
                                                             raw.data());
        for (int32_t i = 0; i < 16; ++i) {
            ASSERT_EQ(pixelAt(out, 4, i / 4, i % 4), k.pixel)
                << k.binning << " " << k.a << " " << i;
        }
    }
}

TEST_F(GreyBinned, OutputsAreWhiteBalanced) {
    context->binning = 3;
    frame(6, 6);
    auto raw = mixedRows(6, 2, 700, 700, 700, 700);
    std::vector<uint16_t> out(2 * 2 * 3, 0);
    AssembleBinned3(recipeOf(*context), out.data(), raw.data());
    EXPECT_EQ(pixelAt(out, 2, 0, 0), (Px{702, 700, 701}));
}

}  // namespace
}  // namespace kqfw
