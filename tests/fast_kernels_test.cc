// The fast kernels against their plain references, bit for bit, on random and structured
// inputs of many sizes, with ordinary and with odd white-balance tables.
#include <random>

#include "processing/assemble_single.h"
#include "processing/regression_interpolation.h"
#include "processing_fixture.h"

namespace kqfw {
namespace {

using FastKernels = test::KernelTest;

struct Size {
    int32_t width, height;
};
constexpr Size kSizes[] = {{2, 2}, {4, 4},   {6, 4},   {4, 6},    {8, 6}, {5, 7},
                           {3, 2}, {10, 10}, {64, 48}, {130, 98}, {1, 4}, {7, 3}};

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

TEST_F(FastKernels, BlockMethodEqualsItsPlainReference) {
    std::mt19937 rng(7);
    for (bool oddTables : {false, true}) {
        if (oddTables) {
            randomTables(*context, rng);
        }
        for (Pattern pattern :
             {Pattern::kRandom, Pattern::kFullRange, Pattern::kEdges, Pattern::kUniform}) {
            for (Size s : kSizes) {
                frame(s.width, s.height);
                const auto raw = mosaicOf(pattern, s, rng);
                std::vector<uint16_t> fast(raw.size() * 3, 1), plain(raw.size() * 3, 1);
                AssembleSingle(*context, fast.data(), raw.data(), kBlockMethod);
                AssembleSingleBlockReference(*context, plain.data(), raw.data());
                ASSERT_EQ(fast, plain) << s.width << "x" << s.height << " pattern " << int(pattern)
                                       << " odd tables " << oddTables;
            }
        }
    }
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

}  // namespace
}  // namespace kqfw
