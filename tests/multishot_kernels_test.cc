// The multi-shot kernels on small hand-made shots: where each sample lands, how the borders and
// the index-6 mosaic are completed, and the fading correction's and filters' arithmetic.
#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "platform/memory.h"
#include "platform/worker_pool.h"
#include "processing/fading_correction.h"
#include "processing/multishot_filters.h"
#include "processing/multishot_merge.h"
#include "processing_fixture.h"

namespace kqfw::test {
namespace {

constexpr int B = 0, G = 1, R = 2;  // channels of an output pixel

class MultiShotKernels : public KernelTest {
  protected:
    // A shot whose samples name their position: 1000 + 10 r + c.
    static std::vector<uint16_t> namedShot(int w, int h) {
        std::vector<uint16_t> shot(size_t(w) * h);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                shot[size_t(r) * w + c] = uint16_t(1000 + 10 * r + c);
            }
        }
        return shot;
    }
};

TEST_F(MultiShotKernels, ColourShotsOfIndexThreeLandOnTheirOffsetsThroughTheirTables) {
    const int w = 4, h = 4, f = 1;
    const Rect rect{0, 0, w, h};
    const std::vector<uint16_t> shot = namedShot(w, h);
    // Shot order (row, column) offsets: (1, 0), (1, 1), (0, 0), (0, 1).
    const int offsets[4][2] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
    for (uint32_t s = 0; s < 4; ++s) {
        std::vector<uint16_t> out(size_t(w) * h * 3, 0);
        mergeshot(recipeOf(*context), out.data(), shot.data(), f, s, rect);
        const int oy = offsets[s][0], ox = offsets[s][1];
        auto at = [&](int y, int x) { return &out[3 * (size_t(y) * w + x)]; };
        // A second-half shot (row offset 0) averages its green with what the pixel held (0).
        auto green = [&](int v) { return oy == 0 ? (v + 1) >> 1 : v; };
        // Red site (0, 0) through the red table, blue site (1, 1) through the blue one.
        if (oy + 0 < h && ox + 0 < w) {
            EXPECT_EQ(at(oy, ox)[R], 1000 + 1) << s;
        }
        if (oy + 1 < h && ox + 1 < w) {
            EXPECT_EQ(at(oy + 1, ox + 1)[B], 1011 + 2) << s;
        }
        // Raw row 2 lands two rows on; the last raw row only for a second-half shot (row
        // offset 0), since a first-half one would put it below the image.
        EXPECT_EQ(at(oy + 2, ox)[R], 1020 + 1) << s;
        if (oy == 0) {
            EXPECT_EQ(at(h - 1, ox)[G], green(1030)) << s;
        }
        // Column offset 1 drops the last column.
        EXPECT_EQ(at(oy, w - 1)[G], ox == 1 ? 0 : green(1003)) << s;
    }
}

// The series' assembler places the shots of each row of the shot grid together, row by row; the
// image is the one placing every shot on its own, sample by sample, in series order gives, for
// every kind of series and for regions whose last columns and rows fall off the grid.
TEST_F(MultiShotKernels, ShotsPlacedARowOfTheGridAtATimeEqualThemPlacedOneByOne) {
    std::mt19937 rng(7);
    struct Kind {
        uint32_t resolution;
        bool mono;
    };
    for (Kind kind : {Kind{3, false}, Kind{4, false}, Kind{5, false}, Kind{6, false}, Kind{4, true},
                      Kind{5, true}}) {
        for (Rect rect : {Rect{0, 0, 4, 4}, Rect{2, 2, 9, 7}, Rect{0, 0, 34, 6}}) {
            const uint32_t f = kind.resolution == 3 ? 1 : kind.resolution == 4 ? 2 : 3;
            const uint32_t shots = shotCount(kind.resolution, kind.mono);
            const size_t w = size_t(rect.right - rect.left), h = size_t(rect.bottom - rect.top);
            std::vector<std::vector<uint16_t>> raws(shots, std::vector<uint16_t>(w * h));
            for (auto& raw : raws) {
                for (uint16_t& v : raw) {
                    v = uint16_t(rng() % 17000);
                }
            }
            const size_t samples = w * f * h * f * (kind.mono ? 1 : 3);
            std::vector<uint16_t> one(samples, 77), grouped(samples, 77);
            const FrameRecipe recipe = recipeOf(*context);
            for (uint32_t s = 0; s < shots; ++s) {
                if (kind.mono) {
                    mergeshotbw(SimdLevel::kPlain, one.data(), raws[s].data(), f, s, rect);
                } else if (kind.resolution == 6) {
                    mergeshotsub(SimdLevel::kPlain, recipe, one.data(), raws[s].data(), f,
                                 kPositionSubset[s], rect);
                } else {
                    mergeshot(SimdLevel::kPlain, recipe, one.data(), raws[s].data(), f, s, rect);
                }
            }
            std::vector<const uint16_t*> group;
            std::vector<ShotPlacement> placements;
            for (uint32_t s = 0; s <= shots; ++s) {
                const bool last = s == shots;
                const ShotPlacement p =
                    last ? ShotPlacement{} : placementOf(kind.resolution, kind.mono, s);
                if (!group.empty() && (last || p.rowOffset != placements[0].rowOffset)) {
                    placeShots(recipe, grouped.data(), group.data(), placements.data(),
                               group.size(), f, rect);
                    group.clear();
                    placements.clear();
                }
                if (!last) {
                    group.push_back(raws[s].data());
                    placements.push_back(p);
                }
            }
            ASSERT_EQ(grouped, one) << kind.resolution << (kind.mono ? " mono " : " colour ")
                                    << rect.right << "x" << rect.bottom;
        }
    }
}

TEST_F(MultiShotKernels, SecondHalfGreenIsTheRoundedMeanWithTheFirstHalf) {
    identityTables();
    const int w = 2, h = 2, f = 1;
    const Rect rect{0, 0, w, h};
    std::vector<uint16_t> out(size_t(w) * h * 3, 0);
    // Shot 2 (second half, offset (0, 0)): green sample at raw (0, 1) lands on pixel (0, 1).
    out[3 * 1 + G] = 100;
    const std::vector<uint16_t> shot = {0, 101, 0, 0};
    mergeshot(recipeOf(*context), out.data(), shot.data(), f, 2, rect);
    EXPECT_EQ(out[3 * 1 + G], 101) << "(101 + 100 + 1) >> 1";
}

TEST_F(MultiShotKernels, MonoShotsTileTheGridAndIndexSixUsesItsPositionSubset) {
    const int w = 3, h = 2, f = 2;
    const Rect rect{0, 0, w, h};
    const std::vector<uint16_t> shot = namedShot(w, h);
    std::vector<uint16_t> out(size_t(w) * f * h * f, 0);
    const int offsets[4][2] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
    for (uint32_t s = 0; s < 4; ++s) {
        mergeshotbw(out.data(), shot.data(), f, s, rect);
    }
    for (int s = 0; s < 4; ++s) {
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                const size_t i = size_t(offsets[s][0] + r * f) * (w * f) + offsets[s][1] + c * f;
                EXPECT_EQ(out[i], 1000 + 10 * r + c) << "every pixel comes from one shot";
            }
        }
    }
    // 8-bit codes 0 to 3 expand to 65532 to 65535: placed, they are full scale like any
    // image value past 14 bits.
    const std::vector<uint16_t> expanded = {65532, 65535, 16384, 16383, 0, 7};
    mergeshotbw(out.data(), expanded.data(), f, 2, rect);
    EXPECT_EQ(out[0], 16383);
    EXPECT_EQ(out[2], 16383);
    EXPECT_EQ(out[4], 16383);
    EXPECT_EQ(out[12], 16383);
    EXPECT_EQ(out[14], 0);
    EXPECT_EQ(out[16], 7);

    // Index 6: shot 4 is position 14, row offset 2, column offset 2; every colour goes to the
    // middle channel.
    EXPECT_EQ(kPositionSubset[4], 14u);
    const int w6 = 4, h6 = 4;
    const Rect rect6{0, 0, w6, h6};
    const std::vector<uint16_t> shot6 = namedShot(w6, h6);
    std::vector<uint16_t> mosaic(size_t(w6) * 3 * h6 * 3 * 3, 0);
    mergeshotsub(recipeOf(*context), mosaic.data(), shot6.data(), 3, 14, rect6);
    auto middle = [&](int y, int x) { return mosaic[3 * (size_t(y) * w6 * 3 + x) + G]; };
    EXPECT_EQ(middle(2, 2), 1000 + 1) << "red site through the red table";
    EXPECT_EQ(middle(2 + 3, 2 + 3), 1011 + 2) << "blue site through the blue table";
    EXPECT_EQ(mosaic[3 * (size_t(2) * w6 * 3 + 2) + R], 0) << "only the middle channel";
    // Rows and columns 1 are reached by no shot: the gap fill copies from two on.
    mosaic.assign(mosaic.size(), 0);
    for (size_t i = G; i < mosaic.size(); i += 3) {
        mosaic[i] = uint16_t(i);
    }
    std::vector<uint16_t> before = mosaic;
    fillmosaicgaps(mosaic.data(), rect6);
    const int wo = w6 * 3, ho = h6 * 3;
    auto old = [&](int y, int x) { return before[3 * (size_t(y) * wo + x) + G]; };
    EXPECT_EQ(middle(0, 1), old(0, 3));
    EXPECT_EQ(middle(1, 0), old(3, 0));
    EXPECT_EQ(middle(1, 1), old(3, 3));
    EXPECT_EQ(middle(1, wo - 1), old(3, wo - 1));
    EXPECT_EQ(middle(ho - 1, 1), old(ho - 1, 3));
    EXPECT_EQ(middle(5, 5), old(5, 5));
}

TEST_F(MultiShotKernels, BorderFillCopiesBlueAndGreenButNotRed) {
    const int w = 3, h = 3, f = 2;
    const Rect rect{0, 0, w, h};
    const int wo = w * f, ho = h * f;
    std::vector<uint16_t> out(size_t(wo) * ho * 3);
    std::iota(out.begin(), out.end(), 0);
    const std::vector<uint16_t> before = out;
    fillborders(out.data(), f, rect);
    auto px = [&](const std::vector<uint16_t>& v, int y, int x) {
        return &v[3 * (size_t(y) * wo + x)];
    };
    for (int y = 0; y < ho; ++y) {
        for (int x = 0; x < wo; ++x) {
            const int fromY = y < f ? f : y;
            const int fromX = x < f ? f : x;
            EXPECT_EQ(px(out, y, x)[B], px(before, fromY, fromX)[B]) << y << "," << x;
            EXPECT_EQ(px(out, y, x)[G], px(before, fromY, fromX)[G]) << y << "," << x;
            EXPECT_EQ(px(out, y, x)[R], px(before, y, x)[R]);
        }
    }
}

// Fading correction on a mono image of factor 2 and a region of 4 x 2: 8 pixels a class. The
// accumulators start at -128 times the whole image's pixels (32), so a class's accumulator is
// its sum less 4096.
class Fading : public MultiShotKernels {
  protected:
    // Classes 1 to 3 sum to 12288 (accumulator 8192); class 0 (even rows and columns) to
    // `brightest`.
    static std::vector<uint16_t> image(uint32_t brightest) {
        std::vector<uint16_t> img(8 * 4, 1536);
        const uint32_t each = brightest / 8;
        for (int y = 0; y < 4; y += 2) {
            for (int x = 0; x < 8; x += 2) {
                img[size_t(y) * 8 + x] = uint16_t(each);
            }
        }
        img[0] = uint16_t(img[0] + brightest - each * 8);
        return img;
    }
    const Rect rect{0, 0, 4, 2};
};

TEST_F(Fading, GainsAreAppliedWithinTheLimitsAndRefusedBeyondThem) {
    // Largest gain 49152 (ratio exactly 6): applied with the default limit of 5.
    std::vector<uint16_t> img = image(53248);
    const std::vector<uint16_t> before = img;
    fadingcorrectionbw(img.data(), 2, rect, 0.01, 5.0);
    EXPECT_EQ(img[0], before[0]) << "the brightest class keeps its values";
    // ((49152 * 1536) >> 13) + 128 - ((49152 * 128) >> 13) = 9216 + 128 - 768
    EXPECT_EQ(img[1], 8576);
    // 49153 (ratio 6 + 1/8192) is refused as too large; 8233 as insignificant; both silently
    // on the mono model, with their promille on the colour one.
    for (uint32_t brightest : {53249u, 8233u + 4096u}) {
        std::vector<uint16_t> refused = image(brightest);
        const std::vector<uint16_t> kept = refused;
        fadingcorrectionbw(refused.data(), 2, rect, 0.01, 5.0);
        EXPECT_EQ(refused, kept) << brightest;
    }
}

TEST_F(Fading, TheColourVariantSaysWhyItLeftAnImageAlone) {
    std::vector<std::string> texts;
    IxenSetErrorMessages(1);
    kqfwSetMessageSink(
        [](const char* text, void* self) {
            static_cast<std::vector<std::string>*>(self)->push_back(text);
        },
        &texts);
    const Rect colourRect{0, 0, 2, 2};  // factor 1: a 2 x 2 grid of 4 classes, one pixel each
    std::vector<uint16_t> flat(2 * 2 * 3, 1000);
    fadingcorrection(flat.data(), 1, colourRect, 0.01, 5.0);
    std::vector<uint16_t> dark(2 * 2 * 3, 1000);
    dark[0] = 100;  // a class at or below the start value: gain 1000000
    fadingcorrection(dark.data(), 1, colourRect, 0.01, 5.0);
    // Class sums less 512: 1000 - 512 against 600 - 512 is a ratio of 5.5: applied.
    std::vector<uint16_t> steep(2 * 2 * 3, 1000);
    for (int k = 0; k < 3; ++k) {
        steep[3 + k] = 600;
    }
    fadingcorrection(steep.data(), 1, colourRect, 0.01, 5.0);
    kqfwSetMessageSink(nullptr, nullptr);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Exiting because max/min(promille)= 0 insignificant");
    EXPECT_EQ(texts[1], "Exiting because max/min(promille)= 121070 too large");
    EXPECT_EQ(flat, std::vector<uint16_t>(12, 1000));
    // gain = 488 * 8192 / 88 = 45428; 600 -> ((45428 * 600) >> 13) + 128 - 709 = 2746
    EXPECT_EQ(steep[3], 2746);
    EXPECT_EQ(steep[0], 1000);
}

TEST_F(MultiShotKernels, SharpenerKernelsMatchTheirWeightsAndLeaveFlatAreas) {
    const int w = 5, h = 5;
    for (uint32_t f : {2u, 3u}) {
        const Rect rect{0, 0, w, h};
        const int wo = w * int(f), ho = h * int(f);
        std::vector<uint16_t> flat(size_t(wo) * ho, 700);
        scansharpenbw(flat.data(), f, rect);
        EXPECT_EQ(flat, std::vector<uint16_t>(size_t(wo) * ho, 700)) << f;

        std::vector<uint16_t> dot(size_t(wo) * ho, 0);
        const int a = 5, b = 6;
        dot[size_t(a) * wo + b] = 1000;
        scansharpenbw(dot.data(), f, rect);
        auto v = [&](int y, int x) { return dot[size_t(y) * wo + x]; };
        if (f == 2) {
            EXPECT_EQ(v(a, b), 2000);
            EXPECT_EQ(v(a - 1, b) + v(a + 1, b) + v(a, b - 1) + v(a, b + 1), 0);
        } else {
            for (auto [y, x] : {std::pair{a - 1, b - 1}, {a - 1, b}, {a, b - 1}, {a, b}}) {
                EXPECT_EQ(v(y, x), 750) << y << "," << x;
            }
            EXPECT_EQ(v(a - 2, b), 0);
            EXPECT_EQ(v(a + 1, b), 0);
        }
        // The colour sharpener filters each channel alone with the same kernel, and clamps.
        std::vector<uint16_t> colour(size_t(wo) * ho * 3, 0);
        colour[3 * (size_t(a) * wo + b) + R] = 16000;
        scansharpen(colour.data(), f, rect);
        EXPECT_EQ(colour[3 * (size_t(a) * wo + b) + R], f == 2 ? 16383 : 12000);
        EXPECT_EQ(colour[3 * (size_t(a) * wo + b) + G], 0);
    }
    // One row of the region at factor 2 has too few rows for the kernel.
    std::vector<uint16_t> thin(10 * 2, 500);
    thin[5] = 9000;
    const std::vector<uint16_t> kept = thin;
    scansharpenbw(thin.data(), 2, Rect{0, 0, 5, 1});
    EXPECT_EQ(thin, kept);
}

// Bands of every size down to one row, more threads than rows, and frames the kernels only
// just fit: each filter's output is that of one pass from the top.
TEST_F(MultiShotKernels, FinishingFiltersOnManyThreadsEqualOnePass) {
    std::mt19937 rng(41);
    WorkerPool pool;
    for (auto [w, h] : {std::pair{5, 1}, {3, 2}, {4, 3}, {7, 5}, {40, 17}, {33, 64}}) {
        const Rect rect{0, 0, w, h};
        for (uint32_t f : {1u, 2u, 3u}) {
            std::vector<uint16_t> image(size_t(w) * h * f * f * 3);
            for (uint16_t& v : image) {
                v = static_cast<uint16_t>(rng() % 16384);
            }
            auto one = image;
            scansharpen(one.data(), f, rect);
            multishotfilter(one.data(), f, rect, true);
            std::vector<uint16_t> grey(image.begin(), image.begin() + image.size() / 3);
            auto greyOne = grey;
            scansharpenbw(greyOne.data(), f, rect);
            for (int32_t threads : {2, 3, 7}) {
                pool.setThreads(threads);
                auto shared = image;
                scansharpen(shared.data(), f, rect, &pool);
                multishotfilter(shared.data(), f, rect, true, &pool);
                auto greyShared = grey;
                scansharpenbw(greyShared.data(), f, rect, &pool);
                ASSERT_EQ(shared, one) << w << "x" << h << " f " << f << " " << threads;
                ASSERT_EQ(greyShared, greyOne) << w << "x" << h << " f " << f << " " << threads;
            }
            // Without memory for the held rows the multi-shot filter still filters, alike.
            auto filtered = image;
            multishotfilter(filtered.data(), f, rect, true);
            auto unheld = image;
            failAllocationAfter(1);
            multishotfilter(unheld.data(), f, rect, true, &pool);
            failAllocationAfter(0);
            ASSERT_EQ(unheld, filtered) << w << "x" << h << " f " << f;
        }
    }
}

TEST_F(MultiShotKernels, MultiShotFilterFollowsGreenDetailAndWeighsStrongColour) {
    const Rect rect{0, 0, 2, 2};
    const int wo = 2, ho = 2;
    std::vector<uint16_t> flat(size_t(wo) * ho * 3, 900);
    multishotfilter(flat.data(), 1, rect, false);
    EXPECT_EQ(flat, std::vector<uint16_t>(12, 900));
    // Window: G = 100 at (0,0), 200 elsewhere; red 500 at (0,0), 300 elsewhere.
    std::vector<uint16_t> img(size_t(wo) * ho * 3);
    for (int i = 0; i < 4; ++i) {
        img[3 * i + G] = i == 0 ? 100 : 200;
        img[3 * i + R] = i == 0 ? 500 : 300;
        img[3 * i + B] = 50;
    }
    std::vector<uint16_t> weighted = img;
    multishotfilter(img.data(), 1, rect, false);
    // D = 600 - 300 = 300; F = (1400 - 300 + 2) >> 2 = 275 for red, (200 - 300 + 2) >> 2 < 0.
    EXPECT_EQ(img[R], 275);
    EXPECT_EQ(img[B], 0);
    EXPECT_EQ(img[3 * 3 + R], 300) << "the last row and column stay";
    multishotfilter(weighted.data(), 1, rect, true);
    // w = min(51200 / 501, 256) = 102: (154 * 500 + 102 * 275) >> 8
    EXPECT_EQ(weighted[R], (154 * 500 + 102 * 275) >> 8);
    EXPECT_EQ(weighted[G], 100) << "green never changes";
}

}  // namespace
}  // namespace kqfw::test
