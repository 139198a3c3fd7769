// The fast kernels against their plain references, bit for bit, on random and structured
// inputs of many sizes, with ordinary and with odd white-balance tables.
#include <cstdio>
#include <cstdlib>
#include <random>

#include "acquisition/sample_expansion.h"
#include "api/colour_tables.h"
#include "platform/worker_pool.h"
#include "processing/assemble_single.h"
#include "processing/ratio_interpolation.h"
#include "processing/regression_interpolation.h"
#include "processing/simd_level.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using FastKernels = test::KernelTest;

struct Size {
    int32_t width, height;
};
// Small frames, and widths on both sides of the 16- and 32-pixel steps of the vector kernels.
constexpr Size kSizes[] = {{2, 2},    {4, 4},    {6, 4},   {4, 6},  {8, 6},  {5, 7},
                           {3, 2},    {10, 10},  {64, 48}, {1, 4},  {7, 3},  {33, 5},
                           {34, 4},   {35, 6},   {36, 3},  {66, 4}, {67, 7}, {98, 6},
                           {130, 98}, {2090, 5}, {17, 3},  {18, 4}, {19, 5}, {20, 2}};

enum class Pattern { kRandom, kFullRange, kEdges, kUniform };

std::vector<uint16_t> mosaicOf(Pattern pattern, Size s, std::mt19937& rng) {
    std::vector<uint16_t> raw(size_t(s.width) * s.height);
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x) {
            uint16_t& v = raw[size_t(y) * s.width + x];
            switch (pattern) {
                case Pattern::kRandom:
                    v = static_cast<uint16_t>(rng() % 16384);
                    break;
                case Pattern::kFullRange:  // damaged frames reach past 14 bits
                    v = static_cast<uint16_t>(rng());
                    break;
                case Pattern::kEdges:
                    v = static_cast<uint16_t>(((x / 3 + y / 2) % 2) ? 16000 : 40 + x);
                    break;
                case Pattern::kUniform:
                    v = 5000;
            }
        }
    }
    return raw;
}

void randomTables(CameraContext& c, std::mt19937& rng) {
    for (auto& table : c.whiteLuts) {
        for (uint32_t i = 0; i < kLutEntries; ++i) {
            table[i] = static_cast<uint16_t>(rng() % 16384);
        }
    }
}

// The white-balance tables the block kernels meet: built from gains (which the vector kernel
// computes rather than reads, green scaled or not, saturating or not), gains that no longer
// describe their tables, and tables of no formula at all.
enum class Tables { kFixture, kDefaultBalance, kGreenScaled, kSaturating, kStaleGains, kRandom };

void setTables(CameraContext& c, Tables tables, std::mt19937& rng) {
    // White balances by factor: the default, one for reddish light, one that saturates.
    const double balances[3][3] = {{1.49, 1.98, 1.0}, {1.0, 1.49, 1.98}, {0.05, 0.9, 0.3}};
    switch (tables) {
        case Tables::kFixture:
            break;
        case Tables::kDefaultBalance:
        case Tables::kGreenScaled:
        case Tables::kSaturating:
            buildColourTables(c, balances[int(tables) - int(Tables::kDefaultBalance)]);
            break;
        case Tables::kStaleGains:
            buildColourTables(c, balances[1]);
            for (auto& table : c.whiteLuts) {
                table[rng() % kLutEntries] ^= 1;
            }
            break;
        case Tables::kRandom:
            randomTables(c, rng);
    }
}

TEST_F(FastKernels, BlockMethodKernelsEqualThePlainReference) {
    std::mt19937 rng(7);
    std::vector<BlockKernel> kernels = {BlockKernel::kShared};
    for (BlockKernel vector : {BlockKernel::kAvx2, BlockKernel::kAvx512}) {
        if (blockKernelSupported(vector)) {
            kernels.push_back(vector);
        } else {
            std::printf("[ SKIPPED  ] block kernel %d: this processor lacks it\n", int(vector));
        }
    }
    for (Tables tables : {Tables::kFixture, Tables::kDefaultBalance, Tables::kGreenScaled,
                          Tables::kSaturating, Tables::kStaleGains, Tables::kRandom}) {
        setTables(*context, tables, rng);
        for (Pattern pattern :
             {Pattern::kRandom, Pattern::kFullRange, Pattern::kEdges, Pattern::kUniform}) {
            for (Size s : kSizes) {
                frame(s.width, s.height);
                const auto raw = mosaicOf(pattern, s, rng);
                std::vector<uint16_t> plain(raw.size() * 3, 1);
                AssembleSingleBlock(BlockKernel::kPlain, *context, plain.data(), raw.data());
                for (BlockKernel kernel : kernels) {
                    std::vector<uint16_t> fast(raw.size() * 3, 1);
                    AssembleSingleBlock(kernel, *context, fast.data(), raw.data());
                    ASSERT_EQ(fast, plain)
                        << s.width << "x" << s.height << " pattern " << int(pattern) << " tables "
                        << int(tables) << " kernel " << int(kernel);
                }
                std::vector<uint16_t> chosen(raw.size() * 3, 1);
                AssembleSingle(*context, chosen.data(), raw.data(), kBlockMethod);
                ASSERT_EQ(chosen, plain);
            }
        }
    }
}

// CI runs this binary once per level through KQFW_SIMD; a level the processor has must be taken.
TEST(SimdLevel, TheLevelAskedForIsTakenWhenTheProcessorHasIt) {
    const char* wanted = std::getenv("KQFW_SIMD");
    if (wanted == nullptr) {
        GTEST_SKIP() << "no level asked for";
    }
    const SimdLevel level = parseSimdLevel(wanted, SimdLevel::kPlain);
    if (!simdLevelSupported(level)) {
        GTEST_SKIP() << wanted << ": this processor lacks it";
    }
    EXPECT_STREQ(simdLevelName(simdLevel()), wanted);
}

TEST_F(FastKernels, HalfPixelResamplingEqualsItsPlainReference) {
    std::mt19937 rng(11);
    for (Pattern pattern : {Pattern::kRandom, Pattern::kEdges, Pattern::kUniform}) {
        for (Size s : kSizes) {
            std::vector<uint16_t> image(size_t(s.width) * s.height * 3);
            const auto values = mosaicOf(pattern, {s.width * 3, s.height}, rng);
            std::copy(values.begin(), values.end(), image.begin());
            for (int channel : {0, 1, 2}) {
                auto fast = image, plain = image;
                ResampleChannelHalfPixel(channel, s.width, s.height, fast.data());
                ResampleChannelHalfPixelReference(channel, s.width, s.height, plain.data());
                ASSERT_EQ(fast, plain) << s.width << "x" << s.height << " channel " << channel;
            }
        }
    }
}

TEST_F(FastKernels, RegressionAtEveryLevelAndThreadCountEqualsTheCellByCellFits) {
    WorkerPool pool;
    std::mt19937 rng(13);
    for (Pattern pattern :
         {Pattern::kRandom, Pattern::kFullRange, Pattern::kEdges, Pattern::kUniform}) {
        for (Size s : kSizes) {
            std::vector<uint16_t> image(size_t(s.width) * s.height * 3);
            const auto values = mosaicOf(pattern, s, rng);
            for (size_t i = 0; i < values.size(); ++i) {
                image[3 * i + 1] = values[i];
            }
            auto plain = image;
            InterpolateRegression(SimdLevel::kPlain, s.width, s.height, plain.data());
            for (SimdLevel level : {SimdLevel::kScalar, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
                if (!simdLevelSupported(level)) {
                    continue;
                }
                // Stripes of every size down to one cell row, and more threads than stripes.
                for (int32_t threads : {1, 2, 3, 7}) {
                    pool.setThreads(threads);
                    auto fast = image;
                    InterpolateRegression(level, s.width, s.height, fast.data(), &pool);
                    ASSERT_EQ(fast, plain)
                        << s.width << "x" << s.height << " pattern " << int(pattern) << " "
                        << simdLevelName(level) << " " << threads << " threads";
                }
            }
        }
    }
}

TEST_F(FastKernels, RatioMethodSharedOutToThreadsEqualsOneThread) {
    std::mt19937 rng(17);
    WorkerPool pool;
    for (Pattern pattern : {Pattern::kRandom, Pattern::kFullRange, Pattern::kEdges}) {
        for (Size s : kSizes) {
            std::vector<uint16_t> image(size_t(s.width) * s.height * 3);
            const auto values = mosaicOf(pattern, s, rng);
            for (size_t i = 0; i < values.size(); ++i) {
                image[3 * i + 1] = values[i];
            }
            for (int32_t mode : {1, 2}) {
                auto one = image;
                InterpolateRatio(mode, s.width, s.height, one.data());
                for (int32_t threads : {2, 3, 7}) {
                    pool.setThreads(threads);
                    auto shared = image;
                    InterpolateRatio(mode, s.width, s.height, shared.data(), &pool);
                    ASSERT_EQ(shared, one) << s.width << "x" << s.height << " mode " << mode << " "
                                           << threads << " threads";
                }
            }
        }
    }
}

TEST_F(FastKernels, TwelveBitUnpackingAtEveryLevelEqualsThePairByPairOne) {
    std::mt19937 rng(19);
    for (Size s : kSizes) {
        context->deliveredRect = {0, 0, s.width, s.height};
        const size_t samples = size_t(s.width) * s.height;
        // Packed bytes in the front three quarters; the rest of the buffer is stale data.
        std::vector<uint16_t> frame(samples);
        for (uint16_t& v : frame) {
            v = static_cast<uint16_t>(rng());
        }
        auto plain = frame;
        UnpackPacked12(SimdLevel::kPlain, *context, plain.data());
        for (SimdLevel level : {SimdLevel::kAvx2, SimdLevel::kAvx512}) {
            if (!simdLevelSupported(level)) {
                std::printf("[ SKIPPED  ] unpacking at %s: this processor lacks it\n",
                            simdLevelName(level));
                continue;
            }
            auto fast = frame;
            UnpackPacked12(level, *context, fast.data());
            ASSERT_EQ(fast, plain) << s.width << "x" << s.height << " " << simdLevelName(level);
        }
    }
}

}  // namespace
}  // namespace kqfw
