#include "processing/assemble_single.h"

#include <cstring>

#include "processing/lut.h"
#include "processing/ratio_interpolation.h"
#include "processing/regression_interpolation.h"

namespace kqfw {

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;  // whiteLuts order
constexpr int kOutBlue = 0, kOutGreen = 1, kOutRed = 2;

int mosaicColour(int32_t y, int32_t x) {
    return (y & 1) == 0 ? ((x & 1) == 0 ? kRed : kGreen) : ((x & 1) == 0 ? kGreen : kBlue);
}

// One pixel of the 2x2 method whose block lies inside the frame.
void blockPixel(const CameraContext& c, uint16_t* out, const uint16_t* raw, int32_t y, int32_t x,
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
void lastColumnPixel(const CameraContext& c, uint16_t* out, const uint16_t* raw, int32_t y,
                     int32_t x, int32_t stride) {
    const uint16_t* s = raw + size_t(y) * stride + x;
    uint16_t* p = out + 3 * (size_t(y) * stride + x);
    const bool evenRow = (y & 1) == 0;
    p[kOutGreen] = lut(c.whiteLuts[kGreen], evenRow ? s[0] : s[stride]);
    p[kOutBlue] = lut(c.whiteLuts[kBlue], evenRow ? s[stride] : s[0]);
    p[kOutRed] = p[kOutRed - 3];
}

// The last row (green and blue from the cut block, red from above) and the corner (its own
// blue, red from the left, green of the samples above and left of it).
void lastRowAndCorner(const CameraContext& c, uint16_t* out, const uint16_t* raw, int32_t w,
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

// The 2x2 method over the even part (w x h) of a frame whose rows are `stride` samples long,
// plainly, pixel by pixel: the reference of the fast version below.
void blockInterpolatePlain(const CameraContext& c, uint16_t* out, const uint16_t* raw, int32_t w,
                           int32_t h, int32_t stride) {
    for (int32_t y = 0; y + 1 < h; ++y) {
        for (int32_t x = 0; x + 1 < w; ++x) {
            blockPixel(c, out, raw, y, x, stride);
        }
        lastColumnPixel(c, out, raw, y, w - 1, stride);
    }
    lastRowAndCorner(c, out, raw, w, h, stride);
}

// The 2x2 method with its lookups shared. A red sample serves four pixels: the pair of
// columns that meet on it, in the two rows that meet on it; a blue sample likewise. So each
// pixel row looks up only one of red and blue, for every second pixel, and takes the other
// from the row above, which met the same samples; only green is looked up per pixel. Same
// outputs as the plain version, bit for bit.
void blockInterpolateFast(const CameraContext& c, uint16_t* out, const uint16_t* raw, int32_t w,
                          int32_t h, int32_t stride) {
    if (w < 4 || h < 4) {
        return blockInterpolatePlain(c, out, raw, w, h, stride);
    }
    const uint16_t* tr = c.whiteLuts[kRed];
    const uint16_t* tg = c.whiteLuts[kGreen];
    const uint16_t* tb = c.whiteLuts[kBlue];
    const size_t outStride = 3 * size_t(stride);
    const int32_t pairs = w / 2 - 1;  // whole pixel pairs before the last two columns
    for (int32_t y = 0; y + 1 < h; ++y) {
        const uint16_t* s = raw + size_t(y) * stride;
        const uint16_t* n = s + stride;
        uint16_t* o = out + size_t(y) * outStride;
        const uint16_t* above = o - outStride;
        if ((y & 1) == 0) {
            // Red-green row: blue from the row below, shared by the pair; red shared with the
            // row above (the first row looks it up).
            for (int32_t k = 0; k < pairs; ++k) {
                const int32_t x = 2 * k;
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
        } else {
            // Green-blue row: red from the row below, shared across pairs; blue as above.
            uint16_t red = lut(tr, n[0]);
            for (int32_t k = 0; k < pairs; ++k) {
                const int32_t x = 2 * k;
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
    lastRowAndCorner(c, out, raw, w, h, stride);
}

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

void tablePass(const CameraContext& c, uint16_t* out, const uint16_t* raw, int32_t width,
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

void AssembleSingle(const CameraContext& c, uint16_t* output, const uint16_t* raw, int32_t mode) {
    const int32_t width = c.imageRect.right - c.imageRect.left;
    const int32_t height = c.imageRect.bottom - c.imageRect.top;
    const int32_t w = width & ~1, h = height & ~1;
    if (w < 2 || h < 2) {
        return;
    }
    if (mode == kRatioMethod || mode == kRegressionMethod) {
        if (w != width || h != height) {
            // The ratio and regression methods run on whole cells only.
            return AssembleSingle(c, output, raw, kBlockMethod);
        }
        tablePass(c, output, raw, width, height);
        if (mode == kRatioMethod) {
            InterpolateRatio(mode, width, height, output);
        } else {
            InterpolateRegression(width, height, output);
        }
        return;
    }
    blockInterpolateFast(c, output, raw, w, h, width);
    repeatOddEdges(output, width, height);
}

void AssembleSingleBlockReference(const CameraContext& c, uint16_t* output, const uint16_t* raw) {
    const int32_t width = c.imageRect.right - c.imageRect.left;
    const int32_t height = c.imageRect.bottom - c.imageRect.top;
    const int32_t w = width & ~1, h = height & ~1;
    if (w < 2 || h < 2) {
        return;
    }
    blockInterpolatePlain(c, output, raw, w, h, width);
    repeatOddEdges(output, width, height);
}

}  // namespace kqfw
