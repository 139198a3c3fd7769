#include <vector>

#include "processing/raw_corrections.h"
#include "processing_fixture.h"

namespace kqfw::test {
namespace {

constexpr uint32_t kWidth = 12, kHeight = 6;

class References : public KernelTest {
  protected:
    void SetUp() override {
        KernelTest::SetUp();
        context->sensorWidth = kWidth;
        context->sensorHeight = kHeight;
        black.assign(kWidth * kHeight, 0);
        white.assign(kWidth * kHeight, 4096);
        context->blackRefImage = black.data();
        context->whiteRefImage = white.data();
    }
    void TearDown() override {
        // The vectors own the references, not the context.
        context->blackRefImage = context->whiteRefImage = nullptr;
    }
    std::vector<uint16_t> apply(std::vector<uint16_t> raw, uint32_t e, const Rect& rect,
                                int16_t binning, bool blackOn, bool whiteOn) {
        ApplyReferences(recipeOf(*context), raw.data(), e, rect, binning, blackOn, whiteOn);
        return raw;
    }
    std::vector<int16_t> black, white;
};

TEST_F(References, BlackIsScaledByExposureCappedAndWhiteGainsAboutThePedestal) {
    const Rect row = {0, 2, 4, 3};
    // e = 16384: black scale 1024, so a reference value of 20 subtracts 10.
    black[2 * kWidth + 0] = 20;
    black[2 * kWidth + 1] = 20;
    // The largest reference meets the cap, 2 x 16383 at this exposure: at most full scale.
    black[2 * kWidth + 2] = 32767;
    white[2 * kWidth + 0] = 8192;  // doubles the distance from 128
    white[2 * kWidth + 3] = 2048;  // halves it
    const std::vector<uint16_t> raw = {1128, 5, 16383, 1128};
    EXPECT_EQ(apply(raw, 16384, row, 1, true, false), (std::vector<uint16_t>{1118, 0, 0, 1128}));
    EXPECT_EQ(apply(raw, 16384, row, 1, false, true), (std::vector<uint16_t>{2128, 5, 16383, 628}));
    // Black first, then white on its result.
    EXPECT_EQ(apply(raw, 16384, row, 1, true, true), (std::vector<uint16_t>{2108, 0, 0, 628}));
    // No exposure, no dark signal; a bad binning or a missing reference, nothing at all.
    EXPECT_EQ(apply(raw, 0, row, 1, true, false), raw);
    EXPECT_EQ(apply(raw, 16384, row, 0, true, true), raw);
    EXPECT_EQ(apply(raw, 16384, row, 6, true, true), raw);
    context->whiteRefImage = nullptr;
    EXPECT_EQ(apply(raw, 16384, row, 1, false, true), raw);
}

TEST_F(References, ANegativeReferenceWrapsAsThirtyTwoBitArithmeticDoes) {
    // e = 2^24: scale 2^20. 2^20 x -32768 is -2^35, 0 in 32 bits; 2^20 x -3000 wraps to
    // 1149239296, which subtracts 561152.
    black[0] = -32768;
    black[1] = -3000;
    EXPECT_EQ(apply({1000, 1000}, 1u << 24, {0, 0, 2, 1}, 1, true, false),
              (std::vector<uint16_t>{1000, 0}));
}

TEST_F(References, BinnedSamplesUseTheSumOfTheBlockTheyCollected) {
    // Colour, binning 2: a sample sums its sensor column over the two rows it binned, and
    // its gain is that sum over 2. Sensor rows 2-3 feed frame row 1.
    context->link.isMono = 0;
    for (uint32_t x = 0; x < kWidth; ++x) {
        black[2 * kWidth + x] = 10;
        black[3 * kWidth + x] = 30;
        white[2 * kWidth + x] = 4096;
        white[3 * kWidth + x] = 12288;  // average 8192: doubling
    }
    const Rect rect = {0, 0, 4, 4};
    const std::vector<uint16_t> colour = {500, 500, 500, 500, 1128, 1128, 1128, 1128};
    // e = 16384, B = 40: subtract 20.
    EXPECT_EQ(apply(colour, 16384, rect, 2, true, true),
              (std::vector<uint16_t>{500, 500, 500, 500, 2088, 2088, 2088, 2088}));
    // Mono, binning 2: the b x b block, the gain divided by 4. Frame (1, 0) covers sensor
    // columns 0-1 of rows 2-3: B = 80, G = (2 x 4096 + 2 x 12288) / 4 = 8192.
    context->link.isMono = 1;
    const std::vector<uint16_t> mono = {500, 500, 1128, 1128};
    EXPECT_EQ(apply(mono, 16384, rect, 2, true, true),
              (std::vector<uint16_t>{500, 500, 2048, 2048}));
}

// The rule in the 32-bit arithmetic of the processing, written out with 64-bit sums: the
// product (e / 2) x B taken modulo 2^32 as a signed value.
bool hotBy32BitRule(uint32_t e, int32_t b) {
    int64_t product = (int64_t{e / 2} * b) % (int64_t{1} << 32);
    if (product >= (int64_t{1} << 31)) {
        product -= int64_t{1} << 32;
    } else if (product < -(int64_t{1} << 31)) {
        product += int64_t{1} << 32;
    }
    return product > 0x1FFC000 || b / 2 >= 14330;
}

TEST(HotPixels, RuleWrapsItsProductAndTheBandAroundZeroHoldsNoHotValue) {
    for (uint32_t e : {0u, 1u, 2u, 3u, 1000u, 2341u, 300000u, 67076096u, 67076098u, 4294967295u}) {
        const HotBand band = hotBand(e);
        for (int32_t b = -32768; b <= 32767; ++b) {
            ASSERT_EQ(isHotPixel(e, b), hotBy32BitRule(e, b)) << "e " << e << " b " << b;
            if (b > band.below && b < band.above) {
                ASSERT_FALSE(isHotPixel(e, b)) << "e " << e << " b " << b;
            }
        }
        EXPECT_TRUE(band.above > 32767 || isHotPixel(e, band.above)) << e;
        EXPECT_TRUE(band.below < -32768 || isHotPixel(e, band.below)) << e;
    }
    // 150000 x 20000 = 3e9 wraps negative: not hot by the dark signal, though far past it.
    EXPECT_FALSE(isHotPixel(300000, 20000));
    EXPECT_TRUE(isHotPixel(300000, -20000));
}

TEST_F(References, HotPixelsOfTheBlackReferenceAreFoundInOrderUpToTheListsEnd) {
    context->blackRefPresent = 1;
    black[5] = 28660;    // hot at any exposure
    black[40] = 28659;   // hot only where (e / 2) x B passes the dark limit
    black[70] = -32768;  // never
    const auto hot = [&](uint32_t e, int32_t room) {
        std::vector<uint32_t> found;
        const int32_t n =
            visitHotPixels(recipeOf(*context), e, room, [&](uint32_t p) { found.push_back(p); });
        EXPECT_EQ(n, int32_t(found.size()));
        return found;
    };
    EXPECT_EQ(hot(0, kMaxBlemishes), (std::vector<uint32_t>{5}));
    EXPECT_EQ(hot(2342, kMaxBlemishes), (std::vector<uint32_t>{5, 40}));  // 1171 x 28659 > 33538048
    // At long exposures the 32-bit product wraps: 150000 x 20000 is not hot, 150000 x -20000
    // is.
    black[40] = 0;
    black[30] = 20000;
    black[60] = -20000;
    EXPECT_EQ(hot(300000, kMaxBlemishes), (std::vector<uint32_t>{5, 60}));
    // A list with room for one takes the first; a full list takes none.
    EXPECT_EQ(hot(300000, 1), (std::vector<uint32_t>{5}));
    EXPECT_TRUE(hot(2342, 0).empty());
}

}  // namespace
}  // namespace kqfw::test
