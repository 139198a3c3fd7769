// The fast kernels against their plain references, bit for bit, on random and structured
// inputs of many sizes, with ordinary and with odd white-balance tables.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "acquisition/sample_expansion.h"
#include "camera/colour_tables.h"
#include "platform/worker_pool.h"
#include "processing/assemble_single.h"
#include "processing/colour_matrix.h"
#include "processing/grey_binned.h"
#include "processing/ratio_interpolation.h"
#include "processing/raw_corrections.h"
#include "processing/regression_interpolation.h"
#include "processing/simd_level.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using FastKernels = test::KernelTest;

struct Size {
    int32_t width, height;
};
// Small frames, widths on both sides of the 16- and 32-pixel steps of the vector kernels, and
// one wide enough for kernels that work through a row in chunks of 256.
constexpr Size kSizes[] = {{2, 2},   {4, 4},   {6, 4},  {4, 6},  {8, 6},    {5, 7},    {3, 2},
                           {10, 10}, {64, 48}, {1, 4},  {7, 3},  {33, 5},   {34, 4},   {35, 6},
                           {36, 3},  {66, 4},  {67, 7}, {98, 6}, {130, 98}, {2090, 5}, {17, 3},
                           {18, 4},  {19, 5},  {20, 2}, {522, 8}};

enum class Pattern { kRandom, kFullRange, kEdges, kUniform, kSparse };

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
                    break;
                case Pattern::kSparse:  // dark ground, black holes, rare full-range spikes
                    v = static_cast<uint16_t>(rng() % 8 == 0 ? rng() : rng() % 4);
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
                AssembleSingleBlock(BlockKernel::kPlain, recipeOf(*context), plain.data(),
                                    raw.data());
                for (BlockKernel kernel : kernels) {
                    // Bands down to one cell row, and more threads than bands.
                    for (int32_t threads : {1, 2, 7}) {
                        context->processingPool.setThreads(threads);
                        std::vector<uint16_t> fast(raw.size() * 3, 1);
                        AssembleSingleBlock(kernel, recipeOf(*context), fast.data(), raw.data());
                        ASSERT_EQ(fast, plain)
                            << s.width << "x" << s.height << " pattern " << int(pattern)
                            << " tables " << int(tables) << " kernel " << int(kernel) << " "
                            << threads << " threads";
                    }
                }
                context->processingPool.setThreads(1);
                std::vector<uint16_t> chosen(raw.size() * 3, 1);
                AssembleSingle(recipeOf(*context), chosen.data(), raw.data(), kBlockMethod);
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
    for (Pattern pattern : {Pattern::kRandom, Pattern::kFullRange, Pattern::kEdges,
                            Pattern::kUniform, Pattern::kSparse}) {
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

// Runs f(level) for each vector level, saying which this processor lacks.
template <typename F>
void atEveryVectorLevel(const char* kernel, F f) {
    for (SimdLevel level : {SimdLevel::kScalar, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
        if (!simdLevelSupported(level)) {
            std::printf("[ SKIPPED  ] %s at %s: this processor lacks it\n", kernel,
                        simdLevelName(level));
            continue;
        }
        f(level);
    }
}

// A colour line rounds the product and then the sum. The first case is one where a fused
// multiply-add (one rounding) gives the next integer: 8191 x slope + intercept is
// 7566.9999999999991 rounded twice. The rest are random lines over the whole green range, at
// positions inside vector steps and in their tails.
TEST_F(FastKernels, ColourLinesRoundProductAndSumApartAtEveryLevel) {
    constexpr int32_t kCount = 1000;
    std::vector<uint16_t> green(kCount);
    std::vector<double> slope(kCount), intercept(kCount);
    std::mt19937 rng(38);
    std::uniform_real_distribution<double> slopes(-2.0, 3.0), intercepts(-8000.0, 8000.0);
    for (int32_t i = 0; i < kCount; ++i) {
        green[i] = static_cast<uint16_t>(rng() % 16384);
        slope[i] = slopes(rng);
        intercept[i] = intercepts(rng);
    }
    for (int32_t i : {0, 5, 16, 37, kCount - 1}) {
        green[i] = 8191;
        slope[i] = 0.69555517942766931;
        intercept[i] = 1869.7075253079604;
    }
    ASSERT_EQ(std::trunc(std::fma(8191.0, slope[0], intercept[0])), 7567.0);
    std::vector<uint16_t> expected(kCount);
    for (int32_t i = 0; i < kCount; ++i) {
        const double product = green[i] * slope[i];
        const double v = product + intercept[i];
        expected[i] = static_cast<uint16_t>(std::clamp(v, 0.0, 16383.0));
    }
    ASSERT_EQ(expected[0], 7566);
    for (SimdLevel level :
         {SimdLevel::kPlain, SimdLevel::kScalar, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
        if (!simdLevelSupported(level)) {
            std::printf("[ SKIPPED  ] colour lines at %s: this processor lacks it\n",
                        simdLevelName(level));
            continue;
        }
        std::vector<uint16_t> out(kCount);
        ColourLineValues(level, green.data(), slope.data(), intercept.data(), kCount, out.data());
        EXPECT_EQ(out, expected) << simdLevelName(level);
    }
}

TEST_F(FastKernels, RatioMethodAtEveryLevelAndThreadCountEqualsThePlainOne) {
    std::mt19937 rng(17);
    WorkerPool pool;
    for (Pattern pattern :
         {Pattern::kRandom, Pattern::kFullRange, Pattern::kEdges, Pattern::kSparse}) {
        for (Size s : kSizes) {
            std::vector<uint16_t> image(size_t(s.width) * s.height * 3);
            const auto values = mosaicOf(pattern, s, rng);
            for (size_t i = 0; i < values.size(); ++i) {
                image[3 * i + 1] = values[i];
            }
            for (int32_t mode : {1, 2}) {
                auto plain = image;
                InterpolateRatio(SimdLevel::kPlain, mode, s.width, s.height, plain.data());
                atEveryVectorLevel("ratio method", [&](SimdLevel level) {
                    for (int32_t threads : {1, 2, 3, 7}) {
                        pool.setThreads(threads);
                        auto fast = image;
                        InterpolateRatio(level, mode, s.width, s.height, fast.data(), &pool);
                        ASSERT_EQ(fast, plain)
                            << s.width << "x" << s.height << " pattern " << int(pattern) << " mode "
                            << mode << " " << simdLevelName(level) << " " << threads << " threads";
                    }
                });
            }
        }
    }
}

std::vector<uint16_t> randomSamples(size_t n, std::mt19937& rng) {
    std::vector<uint16_t> v(n);
    for (uint16_t& x : v) {
        x = static_cast<uint16_t>(rng());
    }
    return v;
}

TEST_F(FastKernels, SampleCodingsAtEveryLevelEqualThePlainOnes) {
    std::mt19937 rng(19);
    std::vector<uint16_t> table(256);
    for (Size s : kSizes) {
        // Bytes in the front of the buffer; the rest is stale data. Frames of the repair width
        // also repair their last column.
        for (int32_t left : {0, 700}) {
            context->deliveredRect = {left, 0, left + s.width, s.height};
            const auto frame = randomSamples(size_t(s.width) * s.height, rng);
            for (uint16_t& v : context->expand8Table) {
                v = static_cast<uint16_t>(rng());
            }
            auto unpacked = frame, expanded = frame;
            UnpackPacked12(SimdLevel::kPlain, recipeOf(*context), unpacked.data());
            Expand8Bit(SimdLevel::kPlain, recipeOf(*context), expanded.data());
            atEveryVectorLevel("sample codings", [&](SimdLevel level) {
                auto fast = frame;
                UnpackPacked12(level, recipeOf(*context), fast.data());
                ASSERT_EQ(fast, unpacked)
                    << s.width << "x" << s.height << " " << left << " " << simdLevelName(level);
                fast = frame;
                Expand8Bit(level, recipeOf(*context), fast.data());
                ASSERT_EQ(fast, expanded)
                    << s.width << "x" << s.height << " " << left << " " << simdLevelName(level);
            });
        }
    }
}

// An offline frame is expanded on its way into the work frame: the same work frame as copying
// the application's bytes in, zeroing the rest and expanding in place, for every coding and for
// frames shorter than their samples, just long enough, and longer than the work frame.
TEST_F(FastKernels, WorkFrameExpandedOnTheWayEqualsCopyingThenExpandingInPlace) {
    std::mt19937 rng(23);
    for (uint16_t& v : context->expand8Table) {
        v = static_cast<uint16_t>(rng());
    }
    for (Size s : {Size{2, 2}, Size{5, 7}, Size{34, 4}, Size{700, 3}}) {
        context->deliveredRect = {0, 0, s.width, s.height};
        const uint64_t n = uint64_t(s.width) * s.height;
        const uint64_t workBytes = 2 * n + 64;
        for (int coding = 0; coding < 3; ++coding) {
            FrameRecipe r = recipeOf(*context);
            r.packed12 = coding == 1;
            r.compressed8 = coding == 2;
            const uint64_t coded = coding == 1 ? n / 2 * 3 : coding == 2 ? n : 2 * n;
            for (uint64_t frameBytes :
                 {uint64_t{0}, coded - 1, coded + 3, coded + 4, 2 * n + 9, workBytes + 100}) {
                std::vector<uint8_t> frame(frameBytes + 1);  // never empty: data() is not null
                for (uint8_t& b : frame) {
                    b = static_cast<uint8_t>(rng());
                }
                std::vector<uint16_t> expected(workBytes / 2, 0), work(workBytes / 2, 0x5555);
                std::memcpy(expected.data(), frame.data(), std::min(frameBytes, workBytes));
                expandRawFrame(r, expected.data());
                expandIntoWorkFrame(r, frame.data(), frameBytes, work.data(), workBytes);
                ASSERT_EQ(work, expected) << s.width << "x" << s.height << " coding " << coding
                                          << " frame " << frameBytes;
            }
        }
    }
}

TEST_F(FastKernels, GreyAtEveryLevelEqualsThePlainOne) {
    std::mt19937 rng(29);
    for (Size s : kSizes) {
        frame(s.width, s.height);
        const auto raw = randomSamples(size_t(s.width) * s.height, rng);
        for (uint32_t b = 1; b <= 5; ++b) {
            context->binning = b;
            std::vector<uint16_t> plain(raw.size(), 1);
            AssembleGrey(SimdLevel::kPlain, recipeOf(*context), plain.data(), raw.data());
            atEveryVectorLevel("grey", [&](SimdLevel level) {
                std::vector<uint16_t> fast(raw.size(), 1);
                AssembleGrey(level, recipeOf(*context), fast.data(), raw.data());
                ASSERT_EQ(fast, plain) << s.width << "x" << s.height << " binning " << b << " "
                                       << simdLevelName(level);
            });
        }
        context->binning = 1;
        std::vector<uint16_t> plain(raw.size(), 1);
        AssembleSingleMono(SimdLevel::kPlain, recipeOf(*context), plain.data(), raw.data());
        atEveryVectorLevel("grey of the colours", [&](SimdLevel level) {
            std::vector<uint16_t> fast(raw.size(), 1);
            AssembleSingleMono(level, recipeOf(*context), fast.data(), raw.data());
            ASSERT_EQ(fast, plain) << s.width << "x" << s.height << " " << simdLevelName(level);
        });
    }
}

TEST_F(FastKernels, ReferencesAtEveryLevelAndThreadCountEqualThePlainOnes) {
    std::mt19937 rng(23);
    int32_t threads = 0;
    for (Size s : kSizes) {
        // The fast levels share the rows out; the plain one keeps to the caller's thread.
        context->processingPool.setThreads(1 + threads++ % 3);
        // The frame lies inside a larger sensor, so the reference rows have a pitch of their own.
        context->sensorWidth = uint32_t(s.width) + 3;
        context->sensorHeight = uint32_t(s.height) + 2;
        const Rect rect = {2, 1, 2 + s.width, 1 + s.height};
        std::vector<uint16_t> black = randomSamples(size_t(s.width + 3) * (s.height + 2), rng),
                              white = randomSamples(black.size(), rng);
        for (size_t i = 0; i < white.size(); i += 3) {
            white[i] = static_cast<uint16_t>(rng() % 8192);  // plausible gains too
        }
        context->blackRefImage = reinterpret_cast<int16_t*>(black.data());
        context->whiteRefImage = reinterpret_cast<int16_t*>(white.data());
        const auto raw = randomSamples(size_t(s.width) * s.height, rng);
        for (uint32_t e : {0u, 7u, 16384u, 1u << 24, uint32_t(rng())}) {
            for (uint32_t on : {1u, 2u, 3u}) {
                auto plain = raw;
                ApplyReferences(SimdLevel::kPlain, recipeOf(*context), plain.data(), e, rect, 1,
                                on & 1, on & 2);
                atEveryVectorLevel("references", [&](SimdLevel level) {
                    auto fast = raw;
                    ApplyReferences(level, recipeOf(*context), fast.data(), e, rect, 1, on & 1,
                                    on & 2);
                    ASSERT_EQ(fast, plain) << s.width << "x" << s.height << " e " << e << " " << on
                                           << " " << simdLevelName(level);
                });
            }
        }
        context->blackRefImage = context->whiteRefImage = nullptr;
    }
    context->processingPool.setThreads(1);
}

TEST_F(FastKernels, ColourMatrixAtEveryLevelAndThreadCountEqualsTheTableLookups) {
    std::mt19937 rng(29);
    const double balance[3] = {1.3, 1.0, 1.9};
    // Saturations: none, the usual, strong, inverted, and one whose factors pass 16 bits.
    const double saturations[][3] = {
        {0, 0, 0}, {1, 1, 1}, {2.5, 1.7, 3}, {-1, 0.5, -2}, {1e5, 1, 1}};
    context->colorProcessingEnabled = 1;
    fillClampTable(context->clampTable);
    const auto pixels = randomSamples(3 * 2090 * 5, rng);
    // Tables of the matrix's formula (which the vector form computes), a formula table with
    // one stale entry, a clamp table with one, and tables of no formula at all.
    for (int tables = 0; tables < 8; ++tables) {
        if (tables < 5) {
            std::copy_n(saturations[tables], 3, context->saturation);
            saturationStep(*context);
            ASSERT_EQ(buildColourTables(*context, balance), 0u);
        } else if (tables == 5) {
            context->matrixTables[4][rng() % kLutEntries] ^= 1;
        } else if (tables == 6) {
            buildColourTables(*context, balance);
            context->clampTable[60000] ^= 1;
        } else {
            for (auto& t : context->matrixTables) {
                for (uint16_t& v : t) {
                    v = static_cast<uint16_t>(rng());
                }
            }
        }
        for (int64_t count : {1, 3, 4, 5, 9, 4095, 4097, 2090 * 5}) {
            auto plain = pixels;
            context->processingPool.setThreads(1);
            ApplyColorMatrix(SimdLevel::kPlain, recipeOf(*context), plain.data(), count);
            atEveryVectorLevel("colour matrix", [&](SimdLevel level) {
                for (int32_t threads : {1, 3}) {
                    context->processingPool.setThreads(threads);
                    auto fast = pixels;
                    ApplyColorMatrix(level, recipeOf(*context), fast.data(), count);
                    ASSERT_EQ(fast, plain) << "tables " << tables << ", " << count << " pixels, "
                                           << simdLevelName(level) << ", " << threads;
                }
            });
        }
    }
}

}  // namespace
}  // namespace kqfw
