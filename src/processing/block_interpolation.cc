#include "processing/block_interpolation.h"

#include "camera/lut.h"
#include "platform/worker_pool.h"
#include "processing/simd_level.h"

namespace kqfw {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order
constexpr int kOutBlue = 0, kOutGreen = 1, kOutRed = 2;

int mosaicColour(int32_t y, int32_t x) {
    return (y & 1) == 0 ? ((x & 1) == 0 ? kRed : kGreen) : ((x & 1) == 0 ? kGreen : kBlue);
}

// One pixel of the 2x2 method whose block lies inside the frame.
void blockPixel(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t y, int32_t x,
                int32_t stride) {
    const uint16_t* s = raw + size_t(y) * stride + x;
    const uint16_t a = s[0], b = s[1], d = s[stride], e = s[stride + 1];
    // The block's samples by colour: one red, one blue, two greens on a diagonal.
    uint16_t red, blue, g1, g2;
    switch (mosaicColour(y, x)) {
        case kRed:
            red = a, g1 = b, g2 = d, blue = e;
            break;
        case kBlue:
            blue = a, g1 = b, g2 = d, red = e;
            break;
        default:
            g1 = a, g2 = e;
            // A green top-left has red and blue on the other diagonal.
            red = (y & 1) == 0 ? b : d;
            blue = (y & 1) == 0 ? d : b;
    }
    uint16_t* p = out + 3 * (size_t(y) * stride + x);
    p[kOutBlue] = lut(c.whiteLuts[kBlue], blue);
    p[kOutGreen] = lut(c.whiteLuts[kGreen], (g1 + g2) >> 1);
    p[kOutRed] = lut(c.whiteLuts[kRed], red);
}

// The last column: the cut block is a green and a blue sample; red comes from the left.
void lastColumnPixel(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t y, int32_t x,
                     int32_t stride) {
    const uint16_t* s = raw + size_t(y) * stride + x;
    uint16_t* p = out + 3 * (size_t(y) * stride + x);
    const bool evenRow = (y & 1) == 0;
    p[kOutGreen] = lut(c.whiteLuts[kGreen], evenRow ? s[0] : s[stride]);
    p[kOutBlue] = lut(c.whiteLuts[kBlue], evenRow ? s[stride] : s[0]);
    p[kOutRed] = p[kOutRed - 3];
}

// The last row (green and blue from the cut block, red from above) and the corner (its own
// blue, red from the left, green of the samples above and left of it).
void lastRowAndCorner(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t w,
                      int32_t h, int32_t stride) {
    const uint16_t* tg = c.whiteLuts[kGreen];
    const uint16_t* tb = c.whiteLuts[kBlue];
    const int32_t y = h - 1;
    const uint16_t* s = raw + size_t(y) * stride;
    uint16_t* o = out + 3 * size_t(y) * stride;
    for (int32_t x = 0; x + 1 < w; ++x) {
        uint16_t* p = o + 3 * x;
        const bool evenColumn = (x & 1) == 0;
        p[kOutGreen] = lut(tg, evenColumn ? s[x] : s[x + 1]);
        p[kOutBlue] = lut(tb, evenColumn ? s[x + 1] : s[x]);
        p[kOutRed] = p[kOutRed - 3 * stride];
    }
    uint16_t* corner = o + 3 * (w - 1);
    corner[kOutBlue] = lut(tb, s[w - 1]);
    corner[kOutRed] = corner[kOutRed - 3];
    corner[kOutGreen] = lut(tg, (s[w - 1 - stride] + s[w - 2]) >> 1);
}

void blockInterpolatePlain(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t w,
                           int32_t h, int32_t stride) {
    for (int32_t y = 0; y + 1 < h; ++y) {
        for (int32_t x = 0; x + 1 < w; ++x) {
            blockPixel(c, out, raw, y, x, stride);
        }
        lastColumnPixel(c, out, raw, y, w - 1, stride);
    }
    lastRowAndCorner(c, out, raw, w, h, stride);
}

// Output row y (0 <= y < h - 1) from column xBegin (even) on, with shared lookups. A red sample
// serves four pixels: the pair of columns that meet on it, in the two rows that meet on it; a
// blue sample likewise. So each row looks up only one of red and blue, for every second pixel,
// and takes the other from the row above, which met the same samples; only green is looked up
// per pixel.
void sharedRow(const FrameRecipe& c, uint16_t* out, const uint16_t* raw, int32_t y, int32_t xBegin,
               int32_t w, int32_t stride) {
    const uint16_t* tr = c.whiteLuts[kRed];
    const uint16_t* tg = c.whiteLuts[kGreen];
    const uint16_t* tb = c.whiteLuts[kBlue];
    const size_t outStride = 3 * size_t(stride);
    const uint16_t* s = raw + size_t(y) * stride;
    const uint16_t* n = s + stride;
    uint16_t* o = out + size_t(y) * outStride;
    const uint16_t* above = o - outStride;
    const int32_t end = w - 2;  // whole pixel pairs before the last two columns
    if ((y & 1) == 0) {
        // Red-green row: blue from the row below, shared by the pair; red shared with the row
        // above (the first row looks it up).
        for (int32_t x = xBegin; x < end; x += 2) {
            uint16_t* p = o + 3 * x;
            const uint16_t blue = lut(tb, n[x + 1]);
            p[kOutBlue] = blue;
            p[kOutGreen] = lut(tg, (s[x + 1] + n[x]) >> 1);
            p[3 + kOutBlue] = blue;
            p[3 + kOutGreen] = lut(tg, (s[x + 1] + n[x + 2]) >> 1);
            if (y > 0) {
                p[kOutRed] = above[3 * x + kOutRed];
                p[3 + kOutRed] = above[3 * x + 3 + kOutRed];
            } else {
                p[kOutRed] = lut(tr, s[x]);
                p[3 + kOutRed] = lut(tr, s[x + 2]);
            }
        }
    } else if (xBegin < end) {
        // Green-blue row: red from the row below, shared across pairs; blue as above.
        uint16_t red = lut(tr, n[xBegin]);
        for (int32_t x = xBegin; x < end; x += 2) {
            uint16_t* p = o + 3 * x;
            const uint16_t nextRed = lut(tr, n[x + 2]);
            p[kOutRed] = red;
            p[kOutGreen] = lut(tg, (s[x] + n[x + 1]) >> 1);
            p[kOutBlue] = above[3 * x + kOutBlue];
            p[3 + kOutRed] = nextRed;
            p[3 + kOutGreen] = lut(tg, (s[x + 2] + n[x + 1]) >> 1);
            p[3 + kOutBlue] = above[3 * x + 3 + kOutBlue];
            red = nextRed;
        }
    }
    // The last two columns: one whole block and the cut one.
    blockPixel(c, out, raw, y, w - 2, stride);
    lastColumnPixel(c, out, raw, y, w - 1, stride);
}

}  // namespace

bool blockKernelSupported(BlockKernel kernel) {
    switch (kernel) {
        case BlockKernel::kAvx512:
            return simdLevelSupported(SimdLevel::kAvx512);
        case BlockKernel::kAvx2:
            return simdLevelSupported(SimdLevel::kAvx2);
        default:
            return true;
    }
}

BlockKernel fastestBlockKernel() {
    switch (simdLevel()) {
        case SimdLevel::kPlain:
            return BlockKernel::kPlain;
        case SimdLevel::kAvx2:
            return BlockKernel::kAvx2;
        case SimdLevel::kAvx512:
            return BlockKernel::kAvx512;
        default:
            return BlockKernel::kShared;
    }
}

namespace {

// Output rows 0 to rows - 1 of a frame that has a raw row more below them. A row reads only
// its own raw row and the next, and row 0 looks up what a later row takes from the one above,
// so a band of rows starting on an even one gives the same output by itself.
void blockRows(BlockKernel kernel, const FrameRecipe& c, uint16_t* out, const uint16_t* raw,
               int32_t w, int32_t rows, int32_t stride) {
    int32_t x = 0;
    if (blockKernelSupported(kernel)) {
        if (kernel == BlockKernel::kAvx512) {
            x = detail::blockAvx512(c, out, raw, w, rows + 1, stride);
        } else if (kernel == BlockKernel::kAvx2) {
            x = detail::blockAvx2(c, out, raw, w, rows + 1, stride);
        }
    }
    for (int32_t y = 0; y < rows; ++y) {
        sharedRow(c, out, raw, y, x, w, stride);
    }
}

}  // namespace

void blockInterpolate(BlockKernel kernel, const FrameRecipe& c, uint16_t* out, const uint16_t* raw,
                      int32_t w, int32_t h, int32_t stride, WorkerPool* pool) {
    // Frames narrower or lower than two cells have no pairs worth sharing.
    if (kernel == BlockKernel::kPlain || w < 4 || h < 4) {
        return blockInterpolatePlain(c, out, raw, w, h, stride);
    }
    forRowStripes(pool, h - 1, 2, [&](int32_t first, int32_t end) {
        blockRows(kernel, c, out + 3 * size_t(first) * stride, raw + size_t(first) * stride, w,
                  end - first, stride);
    });
    lastRowAndCorner(c, out, raw, w, h, stride);
}

}  // namespace kqfw
