#include "processing/regression_interpolation.h"

#include <algorithm>
#include <cmath>

#include "camera/lut.h"
#include "platform/error_report.h"
#include "platform/memory.h"
#include "platform/worker_pool.h"
#include "processing/rgb_image.h"
#include "processing/site_rows.h"

namespace kqfw {

namespace {

constexpr int kB = kChannelBlue, kG = kChannelGreen, kR = kChannelRed;
constexpr int kFitPoints = 11;

using Image = RgbImage;

// A colour site's pair (green, colour) scaled by min(H, V) / max(H, V): red pairs sit in
// channel 2 below their site, blue pairs in channel 0 above theirs.
uint16_t& pairX(const Image& im, int32_t y, int32_t x) {
    return (y & 1) == 0 ? im.at(y + 1, x + 1)[kR] : im.at(y - 1, x - 1)[kB];
}
uint16_t& pairY(const Image& im, int32_t y, int32_t x) {
    return (y & 1) == 0 ? im.at(y + 1, x)[kR] : im.at(y - 1, x)[kB];
}

// Fits the 3 x 3 lattice of same-colour sites around a cell and writes the colour of its four
// pixels, predicted from their greens, to channel c of the cell at (ty, tx).
void predictCell(const Image& im, int32_t siteY, int32_t siteX, int32_t cellY, int32_t cellX,
                 int32_t ty, int32_t tx, int c) {
    uint32_t xs[kFitPoints], ys[kFitPoints];
    for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) {
            xs[3 * a + b] = pairX(im, siteY + 2 * a, siteX + 2 * b);
            ys[3 * a + b] = pairY(im, siteY + 2 * a, siteX + 2 * b);
        }
    }
    const ColourLine fit = FitColourLine(xs, ys);
    for (int32_t dy = 0; dy < 2; ++dy) {
        for (int32_t dx = 0; dx < 2; ++dx) {
            const double v = im.at(cellY + dy, cellX + dx)[kG] * fit.slope + fit.intercept;
            im.at(ty + dy, tx + dx)[c] =
                static_cast<uint16_t>(std::clamp(v, 0.0, double(kMaxSample)));
        }
    }
}

void colourLines(const Image& im) {
    // Each cell's results go two rows up and two columns left, where no later cell still needs
    // the pairs, and move into place once every cell is done.
    for (int32_t y0 = 2; y0 <= im.h - 4; y0 += 2) {
        for (int32_t x0 = 2; x0 <= im.w - 4; x0 += 2) {
            predictCell(im, y0 - 2, x0 - 2, y0, x0, y0 - 2, x0 - 2, kR);
            predictCell(im, y0 - 1, x0 - 1, y0, x0, y0 - 2, x0 - 2, kB);
        }
    }
    const int32_t lastRow = 2 + (im.h - 6) / 2 * 2 + 1, lastColumn = 2 + (im.w - 6) / 2 * 2 + 1;
    for (int32_t y = lastRow; y >= 2; --y) {
        for (int32_t x = lastColumn; x >= 2; --x) {
            const uint16_t* from = im.at(y - 2, x - 2);
            uint16_t* to = im.at(y, x);
            to[kR] = from[kR];
            to[kB] = from[kB];
        }
    }
}

// The two-pixel frame: colour differences to green carried out from the nearest inner pixel.
void colourDifferenceFrame(const Image& im, int c) {
    auto carry = [&](int32_t y, int32_t x, int32_t sy, int32_t sx) {
        const uint16_t* s = im.at(sy, sx);
        uint16_t* p = im.at(y, x);
        p[c] = static_cast<uint16_t>(clampSample(p[kG] + (s[c] - s[kG])));
    };
    for (int32_t x = 2; x <= im.w - 3; ++x) {
        carry(0, x, 2, x);
        carry(1, x, 2, x);
        carry(im.h - 2, x, im.h - 3, x);
        carry(im.h - 1, x, im.h - 3, x);
    }
    for (int32_t y = 0; y < im.h; ++y) {
        carry(y, 0, y, 2);
        carry(y, 1, y, 2);
        carry(y, im.w - 2, y, im.w - 3);
        carry(y, im.w - 1, y, im.w - 3);
    }
}

}  // namespace

void InterpolateGreenDirectional(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                                 WorkerPool* pool) {
    const Image im{image, width, height};
    auto site = [&](int32_t y, int32_t x) {
        // Diagonal neighbours are sites of the other colour, read from their own copies.
        const int other = (y & 1) == 0 ? kB : kR;
        const int own = (y & 1) == 0 ? kR : kB;
        const int32_t up = im.mirrored(y - 1, x, kG), down = im.mirrored(y + 1, x, kG);
        const int32_t left = im.mirrored(y, x - 1, kG), right = im.mirrored(y, x + 1, kG);
        const int32_t ul = im.mirrored(y - 1, x - 1, other), ur = im.mirrored(y - 1, x + 1, other);
        const int32_t dl = im.mirrored(y + 1, x - 1, other), dr = im.mirrored(y + 1, x + 1, other);
        const int32_t sample = im.at(y, x)[own];
        const int32_t H = left + right, V = up + down, D = ul + ur + dl + dr;
        const double dh = left - right, dv = up - down;
        const double Dh = (ul + dl) - (ur + dr), Dv = (ul + ur) - (dl + dr);
        // The outer column pairs lack a true diagonal on one side: leave those terms out.
        const bool edge = x <= 1 || x >= width - 2;
        const double a = 3.0 * H - D - V, b = 3.0 * V - D - H;
        const double mv = a * a / 16 + dv * dv + (edge ? 0 : Dv * Dv / 4);
        const double mh = b * b / 16 + dh * dh + (edge ? 0 : Dh * Dh / 4);
        const double wh = mv * mv, wv = mh * mh;
        const int32_t green = wh + wv < 1.0
                                  ? (H + V) >> 2
                                  : static_cast<int32_t>((H * wh + V * wv) / ((wh + wv) * 2.0));
        im.at(y, x)[kG] = static_cast<uint16_t>(green);
        // 64-bit products: a sample past 14 bits (a frame fed in without the white balance)
        // makes the 32-bit ones overflow; within 14 bits the quotients are the same.
        int64_t px = green, py = sample;
        if (H > V) {
            px = int64_t{green} * V / H;
            py = int64_t{sample} * V / H;
        } else if (H < V) {
            px = int64_t{green} * H / V;
            py = int64_t{sample} * H / V;
        }
        pairX(im, y, x) = static_cast<uint16_t>(px);
        pairY(im, y, x) = static_cast<uint16_t>(py);
    };
    // No site reads what another writes, so the row pairs may go to the pool in any order.
    forEachSite(pool, width, height, level, 2, site, [&](int32_t y, int32_t x, int32_t count) {
        return directionalGreenSitesAvx2(image, width, y, x, count);
    });
}

ColourLine FitColourLine(uint32_t x[11], uint32_t y[11]) {
    x[9] = y[9] = kMaxSample;
    x[10] = y[10] = 0;
    uint32_t sx = 0, sy = 0, sxx = 1, sxy = 1;
    for (int k = 0; k < kFitPoints; ++k) {
        sx += x[k];
        sy += y[k];
        sxx += x[k] * x[k];
        sxy += x[k] * y[k];
    }
    double intercept = 0;
    double slope = fitLine(kFitPoints, sx, sy, sxx, sxy, &intercept);
    int worst = 0;
    double worstResidual = -1;
    for (int k = 0; k < kFitPoints; ++k) {
        const double r = x[k] * slope + intercept - y[k];
        if (r * r > worstResidual) {
            worstResidual = r * r;
            worst = k;
        }
    }
    sx -= x[worst];
    sy -= y[worst];
    sxx -= x[worst] * x[worst];
    sxy -= x[worst] * y[worst];
    slope = fitLine(kFitPoints - 1, sx, sy, sxx, sxy, &intercept);
    return {slope, intercept};
}

void InterpolateRegression(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                           WorkerPool* pool) {
    if (level == SimdLevel::kPlain) {
        pool = nullptr;
    }
    if (width < 6 || height < 6 || width % 2 != 0 || height % 2 != 0) {
        for (size_t i = 0; i < size_t(std::max(width, 0)) * std::max(height, 0); ++i) {
            image[3 * i] = image[3 * i + 2] = image[3 * i + 1];
        }
        return;
    }
    const Image im{image, width, height};
    forRowStripes(pool, height, 2, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y += 2) {
            for (int32_t x = 0; x < width; x += 2) {
                im.at(y, x)[kR] = im.at(y, x)[kG];
                im.at(y + 1, x + 1)[kB] = im.at(y + 1, x + 1)[kG];
            }
        }
    });
    InterpolateGreenDirectional(level, width, height, image, pool);
    if (level == SimdLevel::kPlain || !ColourLinesByRows(level, width, height, image, pool)) {
        colourLines(im);
    }
    colourDifferenceFrame(im, kR);
    colourDifferenceFrame(im, kB);
    if (level == SimdLevel::kPlain || !ResampleHalfPixel(level, width, height, image, pool)) {
        for (int channel : {kR, kG, kB}) {
            ResampleChannelHalfPixel(channel, width, height, image);
        }
    }
}

}  // namespace kqfw
