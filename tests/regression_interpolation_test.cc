#include <cmath>

#include "platform/memory.h"
#include "processing/assemble_single.h"
#include "processing/regression_interpolation.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using Regression = test::KernelTest;
using test::pixelAt;
using Px = std::vector<uint16_t>;

std::vector<uint16_t> mosaic(int32_t w, int32_t h, uint16_t v) {
    std::vector<uint16_t> image(size_t(w) * h * 3, 999);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        image[3 * i + 1] = v;
    }
    return image;
}

TEST_F(Regression, UniformMosaicIsUniformInEveryChannelFrameIncluded) {
    for (uint16_t v : {uint16_t(0), uint16_t(3000), uint16_t(16383)}) {
        auto image = mosaic(10, 8, v);
        InterpolateRegression(simdLevel(), 10, 8, image.data());
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 10; ++x) {
                ASSERT_EQ(pixelAt(image, 10, y, x), (Px{v, v, v})) << v << " " << y << "," << x;
            }
        }
    }
}

TEST_F(Regression, GreenFollowsTheDirectionThatChangesLeast) {
    // A vertical edge: columns 0 to 2 at 1000, 3 to 5 at 3000. The red site (2, 2) sits on the
    // dark side of it: across the edge (horizontally) the image changes, along it it does not.
    const int32_t w = 6;
    std::vector<uint16_t> image(size_t(w) * w * 3, 0);
    for (int32_t y = 0; y < w; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint16_t* p = &image[3 * (y * w + x)];
            p[1] = x < 3 ? 1000 : 3000;
            // Own-colour copies, as the first step makes them.
            if ((y & 1) == 0 && (x & 1) == 0) {
                p[2] = p[1];
            } else if ((y & 1) == 1 && (x & 1) == 1) {
                p[0] = p[1];
            }
        }
    }
    InterpolateGreenDirectional(SimdLevel::kPlain, w, w, image.data());
    // H = 4000, V = 2000: the weights make green (almost exactly) the vertical mean, 1000.
    EXPECT_EQ(image[3 * (2 * w + 2) + 1], 1000);
    // Its pair is (green, own) scaled by V / H = 1/2, stored below it in channel 2.
    EXPECT_EQ(image[3 * (3 * w + 2) + 2], 500);  // y
    EXPECT_EQ(image[3 * (3 * w + 3) + 2], 500);  // x
}

TEST_F(Regression, QuietNeighbourhoodAveragesAllFourGreens) {
    auto image = mosaic(6, 6, 2000);
    for (size_t i = 0; i < 36; ++i) {
        image[3 * i] = image[3 * i + 2] = 2000;
    }
    InterpolateGreenDirectional(SimdLevel::kPlain, 6, 6, image.data());
    EXPECT_EQ(image[3 * (2 * 6 + 2) + 1], 2000);
}

TEST_F(Regression, FitDropsTheOutlierAndNeverDividesByZero) {
    uint32_t x[11], y[11];
    for (int k = 0; k < 9; ++k) {
        x[k] = y[k] = 1000 * (k + 1);
    }
    y[4] = 100;  // one defective value
    ColourLine fit = FitColourLine(x, y);
    EXPECT_NEAR(fit.slope, 1.0, 1e-6);
    EXPECT_NEAR(fit.intercept, 0.0, 0.01);
    EXPECT_EQ(x[9], 16383u);
    EXPECT_EQ(y[10], 0u);

    for (int k = 0; k < 9; ++k) {
        x[k] = y[k] = 0;
    }
    fit = FitColourLine(x, y);
    EXPECT_TRUE(std::isfinite(fit.slope));
    EXPECT_TRUE(std::isfinite(fit.intercept));

    for (int k = 0; k < 9; ++k) {
        x[k] = y[k] = 5000;
    }
    fit = FitColourLine(x, y);
    EXPECT_NEAR(fit.slope, 1.0, 1e-4);
    EXPECT_NEAR(5000 * fit.slope + fit.intercept, 5000, 0.5);
}

TEST_F(Regression, HalfPixelResamplingRepeatsRowsAndHoldsColumnsAtTheEdge) {
    const int32_t w = 4, h = 3;
    std::vector<uint16_t> image(size_t(w) * h * 3, 0);
    for (int32_t i = 0; i < w * h; ++i) {
        image[3 * i + 2] = static_cast<uint16_t>(100 * (i + 1));
    }
    ResampleChannelHalfPixel(2, w, h, image.data());
    // (0, 0): rows above are row 0 itself, columns left column 0; row 1 is real:
    // (6 * 4 * 100 - (4 * 100 + 2 * 200 + 2 * 500)) >> 4 = 37.
    EXPECT_EQ(image[2], 37);
    // (1, 1): block (0,0) (0,1) (1,0) (1,1) = 100 + 200 + 500 + 600; outside: rows -1 -> 1.
    const int32_t in = 100 + 200 + 500 + 600;
    const int32_t out = 500 + 600 + 100 + 500 + 300 + 700 + 900 + 1000;
    EXPECT_EQ(image[3 * (1 * w + 1) + 2], (6 * in - out) >> 4);
    EXPECT_EQ(image[3 * (1 * w + 1) + 1], 0);  // other channels untouched
}

TEST_F(Regression, MissingMemoryCostsAtMostOneChannelsResamplingAtEveryLevel) {
    const int32_t w = 8, h = 8;
    std::vector<uint16_t> image(size_t(w) * h * 3, 0);
    for (int i = 0; i < w * h; ++i) {
        image[3 * i + 1] = static_cast<uint16_t>(1000 + 37 * ((i * 7) % 19));
    }
    for (SimdLevel level :
         {SimdLevel::kPlain, SimdLevel::kScalar, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
        if (!simdLevelSupported(level)) {
            continue;
        }
        auto full = image;
        InterpolateRegression(level, w, h, full.data());
        // A plane that cannot be had leaves its channel as the colour lines left it; row
        // buffers that cannot be had fall back to the plain steps, whose planes then succeed.
        int channelsLost = 0;
        for (int n = 1; n <= 5; ++n) {
            auto failed = image;
            failAllocationAfter(n);
            InterpolateRegression(level, w, h, failed.data());
            failAllocationAfter(0);
            int differing = 0;
            for (int c = 0; c < 3; ++c) {
                bool differs = false;
                for (int i = 0; i < w * h; ++i) {
                    differs |= failed[3 * i + c] != full[3 * i + c];
                }
                differing += differs;
            }
            ASSERT_LE(differing, 1) << simdLevelName(level) << " allocation " << n;
            channelsLost += differing;
        }
        if (level == SimdLevel::kPlain) {
            EXPECT_GT(channelsLost, 0);
        } else {
            EXPECT_EQ(channelsLost, 0) << simdLevelName(level);
        }
    }
}

TEST_F(Regression, SmallImagesFallBackWithoutReadingPastTheFrame) {
    frame(4, 4);
    std::vector<uint16_t> raw(16, 500), out(48, 0);
    identityTables();
    AssembleSingle(recipeOf(*context), out.data(), raw.data(), kRegressionMethod);
    EXPECT_EQ(pixelAt(out, 4, 3, 3), (Px{500, 500, 500}));
}

}  // namespace
}  // namespace kqfw
