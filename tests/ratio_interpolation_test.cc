#include "processing/ratio_interpolation.h"
#include "processing/assemble_single.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using Ratio = test::KernelTest;
using test::pixelAt;
using Px = std::vector<uint16_t>;

// An image whose channel 1 is the mosaic m(y, x); the other channels hold noise to prove they
// are overwritten.
std::vector<uint16_t> mosaicImage(int32_t w, int32_t h, uint16_t (*m)(int32_t, int32_t)) {
    std::vector<uint16_t> image(size_t(w) * h * 3);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint16_t* p = &image[3 * (size_t(y) * w + x)];
            p[0] = 12345;
            p[1] = m(y, x);
            p[2] = 54321;
        }
    }
    return image;
}

TEST_F(Ratio, UniformMosaicIsGreyEverywhereBordersIncluded) {
    for (uint16_t v : {uint16_t(1), uint16_t(1000), uint16_t(16383)}) {
        static uint16_t value;
        value = v;
        auto image = mosaicImage(8, 6, [](int32_t, int32_t) { return value; });
        InterpolateRatio(SimdLevel::kPlain, 1, 8, 6, image.data());
        for (int32_t y = 0; y < 6; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                ASSERT_EQ(pixelAt(image, 8, y, x), (Px{v, v, v})) << v << " " << y << "," << x;
            }
        }
    }
}

TEST_F(Ratio, FirstEstimateKeepsASampleBetweenTheMiddleGreens) {
    // Red site (2, 2) with greens 100, 200, 300, 400 around it.
    auto image = mosaicImage(6, 6, [](int32_t, int32_t) { return uint16_t(500); });
    auto g = [&](int32_t y, int32_t x) -> uint16_t& { return image[3 * (y * 6 + x) + 1]; };
    g(1, 2) = 100, g(3, 2) = 200, g(2, 1) = 300, g(2, 3) = 400;
    g(2, 2) = 250;  // between the middle pair 200 and 300
    EstimateGreenAndRatios(SimdLevel::kPlain, 6, 6, image.data());
    EXPECT_EQ(g(2, 2), 250);
    EXPECT_EQ(image[3 * (2 * 6 + 2) + 2], 1024);
    // Above the pair: green is the upper one and the ratio says how much more red there is.
    g(2, 2) = 900;
    EstimateGreenAndRatios(SimdLevel::kPlain, 6, 6, image.data());
    EXPECT_EQ(g(2, 2), 300);
    EXPECT_EQ(image[3 * (2 * 6 + 2) + 2], 900 * 1024 / 300);
    // Below: the lower one.
    g(2, 2) = 150;
    EstimateGreenAndRatios(SimdLevel::kPlain, 6, 6, image.data());
    EXPECT_EQ(g(2, 2), 200);
    EXPECT_EQ(image[3 * (2 * 6 + 2) + 2], 150 * 1024 / 200);
}

TEST_F(Ratio, DarkGreenNeighbourhoodGivesBlackAndUnitRatio) {
    auto image = mosaicImage(4, 4, [](int32_t y, int32_t x) {
        return uint16_t(((y ^ x) & 1) ? 0 : 5000);  // greens 0, colour samples 5000
    });
    InterpolateRatio(SimdLevel::kPlain, 1, 4, 4, image.data());
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            ASSERT_EQ(pixelAt(image, 4, y, x), (Px{0, 0, 0}));
        }
    }
}

TEST_F(Ratio, RatioIsCappedAt65535) {
    // Greens of 1 around colour samples of 16383.
    auto image =
        mosaicImage(4, 4, [](int32_t y, int32_t x) { return uint16_t(((y ^ x) & 1) ? 1 : 16383); });
    EstimateGreenAndRatios(SimdLevel::kPlain, 4, 4, image.data());
    EXPECT_EQ(image[2], 65535);          // red ratio of site (0, 0)
    EXPECT_EQ(image[3 * 5 + 0], 65535);  // blue ratio of site (1, 1)
}

TEST_F(Ratio, IsolatedRatioSpikeIsRemovedByTheMedians) {
    const int32_t w = 10, h = 10;
    std::vector<uint16_t> image(size_t(w) * h * 3, 0);
    for (int32_t y = 0; y < h; y += 2) {
        for (int32_t x = 0; x < w; x += 2) {
            image[3 * (y * w + x) + 2] = 1024;            // red ratios
            image[3 * ((y + 1) * w + x + 1) + 0] = 2048;  // blue ratios
        }
    }
    image[3 * (4 * w + 4) + 2] = 9000;
    image[3 * (5 * w + 5) + 0] = 1;
    MedianFilterRatios(SimdLevel::kPlain, w, h, image.data());
    for (int32_t y = 0; y < h; y += 2) {
        for (int32_t x = 0; x < w; x += 2) {
            ASSERT_EQ(image[3 * (y * w + x) + 2], 1024);
            ASSERT_EQ(image[3 * ((y + 1) * w + x + 1) + 0], 2048);
        }
    }
}

TEST_F(Ratio, ContrastyNeighbourhoodPullsColourTowardNeutral) {
    // Red site (2, 2) beside a black-to-white edge in green: min 0, so a = 1024 - 512.
    const int32_t w = 6;
    std::vector<uint16_t> image(size_t(w) * w * 3, 0);
    auto px = [&](int32_t y, int32_t x) { return &image[3 * (y * w + x)]; };
    px(1, 2)[1] = 0, px(3, 2)[1] = 4000, px(2, 1)[1] = 2000, px(2, 3)[1] = 3000;
    px(2, 2)[1] = 2500;  // the green of step 4
    px(3, 2)[2] = 3500;  // the saved red sample
    RefineGreenAndRatios(SimdLevel::kPlain, 512, w, w, image.data());
    EXPECT_EQ(px(2, 2)[1], 2500);  // within [lo, hi] = [2000, 3000]
    EXPECT_EQ(px(2, 2)[2], (3500 - 2500) * 512 / 2500 + 1024);
    // With gentler contrast the same colour comes through stronger.
    px(1, 2)[1] = 2000;
    px(3, 2)[1] = 3000;
    px(2, 1)[1] = 2000;
    px(2, 3)[1] = 3000;
    RefineGreenAndRatios(SimdLevel::kPlain, 512, w, w, image.data());
    const int32_t a = 1024 - (1000 * 512) / 3000;
    EXPECT_EQ(px(2, 2)[2], (3500 - 2500) * a / 2500 + 1024);
}

TEST_F(Ratio, HalfPixelResamplingKeepsItsBordersAndFlatGround) {
    const int32_t w = 6, h = 6;
    std::vector<uint16_t> image(size_t(w) * h * 3, 0);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        image[3 * i + 1] = 800;
    }
    image[3 * (2 * w + 2) + 1] = 1600;  // one bright green
    ResampleGreenHalfPixel(SimdLevel::kPlain, w, h, image.data());
    auto g = [&](int32_t y, int32_t x) { return image[3 * (y * w + x) + 1]; };
    // (1, 1)'s block holds the bright one: (6 * (3 * 800 + 1600) - 8 * 800) >> 4 = 1100.
    EXPECT_EQ(g(1, 1), 1100);
    // (2, 0) is a border column and keeps its value; (0, 3) a border row.
    EXPECT_EQ(g(2, 0), 800);
    EXPECT_EQ(g(0, 3), 800);
    // (1, 3) has the bright one on its outer ring: (6 * 3200 - (7 * 800 + 1600)) >> 4 = 750.
    EXPECT_EQ(g(1, 3), (6 * 3200 - (7 * 800 + 1600)) >> 4);
}

TEST_F(Ratio, SmallOrOddImagesBecomeGrey) {
    auto image = mosaicImage(2, 2, [](int32_t y, int32_t x) { return uint16_t(100 * (y + x)); });
    InterpolateRatio(SimdLevel::kPlain, 1, 2, 2, image.data());
    EXPECT_EQ(pixelAt(image, 2, 1, 1), (Px{200, 200, 200}));
}

TEST_F(Ratio, AssembleSingleRunsTheTablePassFirst) {
    identityTables();
    context->whiteLuts[0][300] = 600;  // red samples of 300 become 600
    frame(4, 4);
    std::vector<uint16_t> raw(16, 300), out(48, 0);
    for (int i = 0; i < 16; ++i) {
        if ((i / 4) % 2 == 1 || i % 2 == 1) {
            raw[i] = 600;  // the greens and blues already at 600
        }
    }
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kRatioMethod);
    for (int32_t i = 0; i < 16; ++i) {
        ASSERT_EQ(pixelAt(out, 4, i / 4, i % 4), (Px{600, 600, 600}));
    }
}

}  // namespace
}  // namespace kqfw
