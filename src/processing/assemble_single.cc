#include "processing/assemble_single.h"

#include <cstring>

#include "camera/lut.h"
#include "processing/block_interpolation.h"
#include "processing/lmmse_interpolation.h"
#include "processing/ratio_interpolation.h"
#include "processing/regression_interpolation.h"

namespace kqfw {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order

// Odd sizes: the extra column and row repeat their neighbours.
void repeatOddEdges(uint16_t* out, int32_t width, int32_t height) {
    if (width % 2 == 1 && width > 1) {
        for (int32_t y = 0; y < height; ++y) {
            uint16_t* row = out + 3 * size_t(y) * width;
            std::memcpy(row + 3 * (width - 1), row + 3 * (width - 2), 3 * sizeof(uint16_t));
        }
    }
    if (height % 2 == 1 && height > 1) {
        std::memcpy(out + 3 * size_t(height - 1) * width, out + 3 * size_t(height - 2) * width,
                    3 * sizeof(uint16_t) * width);
    }
}

}  // namespace

void tablePass(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t width,
               int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* even = c.whiteLuts[(y & 1) == 0 ? kRed : kGreen];
        const uint16_t* odd = c.whiteLuts[(y & 1) == 0 ? kGreen : kBlue];
        const uint16_t* in = raw + size_t(y) * width;
        uint16_t* p = out + 3 * size_t(y) * width;
        for (int32_t x = 0; x < width; ++x) {
            p[3 * x + 1] = lut((x & 1) == 0 ? even : odd, in[x]);
        }
    }
}

void AssembleSingle(const FrameRecipe& c, uint16_t* output, const uint16_t* raw, int32_t mode) {
    const int32_t width = c.imageRect.right - c.imageRect.left;
    const int32_t height = c.imageRect.bottom - c.imageRect.top;
    const int32_t w = width & ~1, h = height & ~1;
    if (w < 2 || h < 2) {
        return;
    }
    if (mode == kLmmseMethod) {
        const MosaicFrame frame{
            raw,   width,  height,
            width, {0, 0}, {c.whiteLuts[kRed], c.whiteLuts[kGreen], c.whiteLuts[kBlue]}};
        if (InterpolateLmmse(simdLevel(), frame, output, c.processingPool)) {
            return;
        }
        // Short of memory for its rows: the image the camera API would have given.
        return AssembleSingle(c, output, raw, kBlockMethod);
    }
    if (mode == kRatioMethod || mode == kRegressionMethod) {
        if (w != width || h != height) {
            // The ratio and regression methods run on whole cells only.
            return AssembleSingle(c, output, raw, kBlockMethod);
        }
        tablePass(c, output, raw, width, height);
        if (mode == kRatioMethod) {
            InterpolateRatio(simdLevel(), mode, width, height, output, c.processingPool);
        } else {
            InterpolateRegression(simdLevel(), width, height, output, c.processingPool);
        }
        return;
    }
    AssembleSingleBlock(fastestBlockKernel(), c, output, raw);
}

void AssembleSingleBlock(BlockKernel kernel, const FrameRecipe& c, uint16_t* output,
                         const uint16_t* raw) {
    const int32_t width = c.imageRect.right - c.imageRect.left;
    const int32_t height = c.imageRect.bottom - c.imageRect.top;
    const int32_t w = width & ~1, h = height & ~1;
    if (w < 2 || h < 2) {
        return;
    }
    blockInterpolate(kernel, c, output, raw, w, h, width, c.processingPool);
    repeatOddEdges(output, width, height);
}

}  // namespace kqfw
