#include "processing/lmmse_interpolation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "platform/memory.h"
#include "platform/worker_pool.h"
#include "processing/assemble_single.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using Px = std::vector<uint16_t>;
using test::pixelAt;

constexpr int kRed = 0, kGreen = 1, kBlue = 2;

// Tables that tell the colours apart: red + 1, green as is, blue + 2 (clamped).
struct Tables {
    std::vector<uint16_t> t[3];
    Tables() {
        for (int c = 0; c < 3; ++c) {
            t[c].resize(16384);
            for (int32_t i = 0; i < 16384; ++i) {
                const int32_t add = c == kRed ? 1 : c == kBlue ? 2 : 0;
                t[c][i] = static_cast<uint16_t>(i + add > 16383 ? 16383 : i + add);
            }
        }
    }
};

struct Mosaic {
    int32_t w, h;
    BayerPhase phase;
    std::vector<uint16_t> raw;
    Tables tables;

    Mosaic(int32_t width, int32_t height, BayerPhase p = {0, 0})
        : w(width), h(height), phase(p), raw(size_t(width) * height) {}
    int colourAt(int32_t y, int32_t x) const {
        const bool redRow = (y & 1) == phase.redRow, redColumn = (x & 1) == phase.redColumn;
        return redRow && redColumn ? kRed : !redRow && !redColumn ? kBlue : kGreen;
    }
    // Samples of the scene rgb(y, x) (red, green, blue) as the mosaic sees it.
    template <typename Scene>
    void fill(Scene scene) {
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const auto rgb = scene(y, x);
                raw[size_t(y) * w + x] = static_cast<uint16_t>(rgb[colourAt(y, x)]);
            }
        }
    }
    MosaicFrame frame() const {
        return {raw.data(), w,     h,
                w,          phase, {tables.t[0].data(), tables.t[1].data(), tables.t[2].data()}};
    }
    Px run(SimdLevel level, WorkerPool* pool = nullptr) const {
        Px out(size_t(w) * h * 3, 0xBEEF);
        EXPECT_TRUE(InterpolateLmmse(level, frame(), out.data(), pool));
        return out;
    }
};

std::vector<SimdLevel> levels() {
    std::vector<SimdLevel> out{SimdLevel::kPlain, SimdLevel::kScalar};
    for (SimdLevel l : {SimdLevel::kAvx2, SimdLevel::kAvx512}) {
        if (simdLevelSupported(l)) {
            out.push_back(l);
        }
    }
    return out;
}

TEST(Lmmse, AFlatColourComesOutExactlyWhiteBalancedEverywhereInEveryPhaseAndSize) {
    struct Case {
        int32_t w, h;
        BayerPhase phase;
    };
    for (const Case& k : {Case{16, 12, {0, 0}}, Case{17, 13, {1, 0}}, Case{2, 2, {0, 1}},
                          Case{3, 7, {1, 1}}, Case{40, 5, {0, 0}}}) {
        Mosaic m(k.w, k.h, k.phase);
        m.fill([](int32_t, int32_t) { return std::array<int32_t, 3>{3000, 5000, 16383}; });
        for (SimdLevel level : levels()) {
            const Px out = m.run(level);
            for (int32_t y = 0; y < k.h; ++y) {
                for (int32_t x = 0; x < k.w; ++x) {
                    // Blue's table clamps at full scale; red's adds 1.
                    ASSERT_EQ(pixelAt(out, k.w, y, x), (Px{16383, 5000, 3001}))
                        << k.w << "x" << k.h << " phase " << k.phase.redRow << k.phase.redColumn
                        << " at " << y << "," << x << " level " << simdLevelName(level);
                }
            }
        }
    }
}

// The 2x2 block method puts a pixel half a pixel down and right; this one at the pixel.
TEST(Lmmse, ALinearRampComesBackAtThePixelsOwnCentre) {
    const int32_t w = 48, h = 40;
    for (bool across : {true, false}) {
        Mosaic m(w, h);
        auto grey = [across](int32_t y, int32_t x) {
            const int32_t v = 2000 + 150 * (across ? x : y);
            return std::array<int32_t, 3>{v, v, v};
        };
        m.fill(grey);
        const Px out = m.run(SimdLevel::kPlain);
        for (int32_t y = 12; y < h - 12; ++y) {
            for (int32_t x = 12; x < w - 12; ++x) {
                const uint16_t v = static_cast<uint16_t>(grey(y, x)[0]);
                ASSERT_EQ(pixelAt(out, w, y, x), (Px{uint16_t(v + 2), v, uint16_t(v + 1)}))
                    << (across ? "across" : "down") << " at " << y << "," << x;
            }
        }
    }
}

// Interpolating across an edge instead of along it gives colour fringes of a good part of the
// step; the directions' weighing keeps a grey edge grey.
TEST(Lmmse, SharpGreyEdgesInBothDirectionsStayGrey) {
    const int32_t w = 64, h = 48;
    for (bool vertical : {true, false}) {
        Mosaic m(w, h);
        for (auto& t : m.tables.t) {
            for (int32_t i = 0; i < 16384; ++i) {
                t[i] = static_cast<uint16_t>(i);
            }
        }
        m.fill([vertical](int32_t y, int32_t x) {
            const int32_t v = (vertical ? x : y) < 31 ? 1000 : 9000;
            return std::array<int32_t, 3>{v, v, v};
        });
        const Px out = m.run(SimdLevel::kPlain);
        int32_t worst = 0;
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const Px p = pixelAt(out, w, y, x);
                worst = std::max({worst, std::abs(p[0] - p[1]), std::abs(p[2] - p[1])});
            }
        }
        EXPECT_LE(worst, 80) << (vertical ? "vertical" : "horizontal") << " edge of 8000";
    }
}

TEST(Lmmse, EveryLevelAndEveryRowSplitGiveTheSameImage) {
    std::mt19937 random(44);
    for (const auto& [w, h] : {std::pair{61, 37}, std::pair{128, 50}, std::pair{9, 33}}) {
        Mosaic m(w, h, {1, 0});
        // Noise over gradients, with samples beyond 14 bits that read as full scale.
        for (uint16_t& s : m.raw) {
            s = static_cast<uint16_t>(random() % 5 == 0 ? 65535 : random() % 16384);
        }
        const Px reference = m.run(SimdLevel::kPlain);
        for (uint16_t v : reference) {
            ASSERT_LE(v, 16383);
        }
        for (SimdLevel level : levels()) {
            EXPECT_EQ(m.run(level), reference) << simdLevelName(level);
            Px split(reference.size(), 0xBEEF);
            const int32_t cuts[] = {0, 1, h / 3, h / 3 + 1, h - 2, h};
            for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
                ASSERT_TRUE(
                    InterpolateLmmseRows(level, m.frame(), split.data(), cuts[i], cuts[i + 1]));
            }
            EXPECT_EQ(split, reference) << simdLevelName(level) << " in stripes";
            WorkerPool pool;
            pool.setThreads(3);
            EXPECT_EQ(m.run(level, &pool), reference) << simdLevelName(level) << " on threads";
        }
    }
}

TEST(Lmmse, SizesBelowTwoAndRowsOffTheFrameAreRefused) {
    Mosaic m(1, 8);
    Px out(3 * 8, 0xBEEF);
    EXPECT_FALSE(InterpolateLmmse(SimdLevel::kPlain, m.frame(), out.data()));
    EXPECT_EQ(out, Px(3 * 8, 0xBEEF));
    Mosaic n(8, 8);
    Px image(3 * 64);
    EXPECT_FALSE(InterpolateLmmseRows(SimdLevel::kPlain, n.frame(), image.data(), 4, 9));
    EXPECT_FALSE(InterpolateLmmseRows(SimdLevel::kPlain, n.frame(), image.data(), -1, 2));
    EXPECT_TRUE(InterpolateLmmseRows(SimdLevel::kPlain, n.frame(), image.data(), 3, 3));
}

// Through the camera record as frame processing calls it: the record's tables and its pool.
using LmmseAssemble = test::KernelTest;

// The record's tables and frame, and without memory for its rows the camera API's image.
TEST_F(LmmseAssemble, TheMethodReadsTheRecordAndFallsBackToBlocksWithoutMemory) {
    const int32_t w = 20, h = 10;
    frame(w, h);
    Mosaic m(w, h);
    m.fill([](int32_t y, int32_t x) {
        return std::array<int32_t, 3>{100 * x, 3000 + 7 * y, 9000 - 50 * x};
    });
    Px viaRecord(size_t(w) * h * 3, 0), blocks(viaRecord), image(viaRecord);
    AssembleSingle(recipeOf(*context), viaRecord.data(), m.raw.data(), kLmmseMethod);
    EXPECT_EQ(viaRecord, m.run(SimdLevel::kPlain));  // both red + 1, blue + 2

    AssembleSingle(recipeOf(*context), blocks.data(), m.raw.data(), kBlockMethod);
    failAllocationAfter(1);
    AssembleSingle(recipeOf(*context), image.data(), m.raw.data(), kLmmseMethod);
    failAllocationAfter(0);
    EXPECT_EQ(image, blocks);
    EXPECT_NE(image, viaRecord);
}

}  // namespace
}  // namespace kqfw
