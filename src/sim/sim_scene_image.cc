// An image scene seen through the optics and the pixels: the same field the ground truth
// samples (bilinear between the image's pixel centres, edges held), blurred by the Gaussian and
// averaged over the pixel's kSubsamples x kSubsamples points, like the slide's features. Both
// the bilinear field and the blur are separable, so each axis reduces to one band of weights a
// sensor pixel and a frame costs two passes of multiply-adds over the image.
#include <algorithm>
#include <cmath>

#include "sim/sim_scene.h"

namespace kqfw::sim {

namespace {

constexpr int kSubsamples = 8;  // as the slide's features: points a pixel is integrated over
constexpr double kReachSigmas = 4;

// A unit ramp max(t, 0) blurred by a Gaussian of sigma: t·Φ(t/σ) + σ·φ(t/σ).
double blurredRamp(double t, double sigma) {
    if (sigma <= 0) {
        return std::max(t, 0.0);
    }
    const double z = t / sigma;
    return t * 0.5 * std::erfc(-z / std::sqrt(2.0)) +
           sigma * std::exp(-0.5 * z * z) * 0.3989422804014327;
}

// The weights of the image's pixels (its columns, or its rows) in each of `count` sensor pixels
// from `first`, displaced by d: taps weights a pixel, for nodes start[i] … start[i] + taps - 1
// (indices beyond the image stand for its edge pixel); taps is even.
struct AxisWeights {
    int32_t taps = 0;
    std::vector<int32_t> start;
    std::vector<float> w;
};

AxisWeights axisWeights(int32_t first, int32_t count, double d, double sigma, double scale) {
    // In image pixels: the field at x is Σ img[m]·tent(x − m); blurred, each tent becomes the
    // second difference of the blurred ramp, exact up to the Gaussian's reach.
    const double s = sigma * scale;
    const double reach = 1 + kReachSigmas * s;
    AxisWeights a;
    a.taps = (static_cast<int32_t>(std::ceil(scale + 2 * reach)) + 3) & ~1;
    a.start.resize(count);
    a.w.assign(size_t(count) * a.taps, 0.0f);
    std::vector<double> ramp(a.taps + 2), sum(a.taps);
    for (int32_t i = 0; i < count; ++i) {
        const double x0 = (first + i + d + 0.5 / kSubsamples) * scale - 0.5;
        const int32_t start = static_cast<int32_t>(std::floor(x0 - reach));
        a.start[i] = start;
        std::fill(sum.begin(), sum.end(), 0.0);
        for (int k = 0; k < kSubsamples; ++k) {
            const double x = (first + i + d + (k + 0.5) / kSubsamples) * scale - 0.5;
            // ramp[j] is R(x − (start + j − 1)); node m = start + t takes R(x−m+1) − 2R(x−m) +
            // R(x−m−1).
            for (int32_t j = 0; j < a.taps + 2; ++j) {
                ramp[j] = blurredRamp(x - (start + j - 1), s);
            }
            for (int32_t t = 0; t < a.taps; ++t) {
                sum[t] += ramp[t] - 2 * ramp[t + 1] + ramp[t + 2];
            }
        }
        // The weights of a pixel sum to 1 but for the Gaussian's cut tails: make them exactly
        // 1 so that a flat image stays flat.
        double total = 0;
        for (double v : sum) {
            total += v;
        }
        for (int32_t t = 0; t < a.taps; ++t) {
            a.w[size_t(i) * a.taps + t] = static_cast<float>(sum[t] / total);
        }
    }
    return a;
}

}  // namespace

std::shared_ptr<const Scene> Scene::image(const uint16_t* samples, uint32_t width, uint32_t height,
                                          uint32_t channels, uint32_t sensorWidth,
                                          uint32_t sensorHeight) {
    auto scene = std::make_shared<Scene>();
    scene->imageWidth_ = width;
    scene->imageHeight_ = height;
    scene->image_.resize(size_t{width} * height * 3);
    for (size_t i = 0; i < size_t{width} * height; ++i) {
        for (int c = 0; c < 3; ++c) {
            // Images come as blue, green, red like the library's colour images.
            const uint16_t s = channels == 3 ? samples[3 * i + (2 - c)] : samples[i];
            scene->image_[3 * i + c] = s / 65535.0f;
        }
    }
    scene->scaleU_ = double(width) / sensorWidth;
    scene->scaleV_ = double(height) / sensorHeight;
    return scene;
}

void Scene::renderImage(int32_t left, int32_t top, int32_t width, int32_t height, double dx,
                        double dy, double sigma, float* rgb) const {
    const AxisWeights wx = axisWeights(left, width, dx, sigma, scaleU_);
    const AxisWeights wy = axisWeights(top, height, dy, sigma, scaleV_);
    const int32_t n = static_cast<int32_t>(imageWidth_);
    const int32_t rows = static_cast<int32_t>(imageHeight_);
    // The image columns the region reaches, those beyond the image held at its edge; one
    // float past the end, as the row pass reads four lanes a tap for three channels.
    const int32_t lo = wx.start.front();
    const int32_t hi = wx.start.back() + wx.taps;
    const int32_t inLo = std::clamp(lo, 0, n), inHi = std::clamp(hi, 0, n);
    const size_t lineFloats = size_t(hi - lo) * 3 + 1;
    const size_t span = size_t(inHi - inLo) * 3;
    // Down the columns first, kGroup sensor rows at a time: their image rows overlap, so each
    // is read once for the group, a block at a time that stays in L1 while the group's rows
    // take it.
    constexpr int32_t kGroup = 4;
    constexpr size_t kBlock = 1024;
    std::vector<float> lines(kGroup * lineFloats);
    for (int32_t y0 = 0; y0 < height; y0 += kGroup) {
        const int32_t group = std::min(kGroup, height - y0);
        const int32_t first = wy.start[y0];
        const int32_t last = wy.start[y0 + group - 1] + wy.taps;
        std::fill(lines.begin(), lines.end(), 0.0f);
        for (size_t b = 0; b < span; b += kBlock) {
            const size_t e = std::min(span, b + kBlock);
            for (int32_t r = first; r < last; ++r) {
                const float* src =
                    image_.data() + (size_t(std::clamp(r, 0, rows - 1)) * n + inLo) * 3;
                for (int32_t g = 0; g < group; ++g) {
                    const int32_t t = r - wy.start[y0 + g];
                    if (t < 0 || t >= wy.taps) {
                        continue;
                    }
                    const float w = wy.w[size_t(y0 + g) * wy.taps + t];
                    float* in = lines.data() + g * lineFloats + size_t(inLo - lo) * 3;
                    for (size_t i = b; i < e; ++i) {
                        in[i] += w * src[i];
                    }
                }
            }
        }
        for (int32_t g = 0; g < group; ++g) {
            float* line = lines.data() + g * lineFloats;
            for (int32_t x = lo; x < inLo; ++x) {
                std::copy_n(line + size_t(inLo - lo) * 3, 3, line + size_t(x - lo) * 3);
            }
            for (int32_t x = inHi; x < hi; ++x) {
                std::copy_n(line + size_t(inHi - 1 - lo) * 3, 3, line + size_t(x - lo) * 3);
            }
            // Then along the row: four lanes hold a tap's red, green, blue (and the next red,
            // unused), two sums in turn so that the adds overlap.
            float* out = rgb + 3 * size_t(y0 + g) * width;
            for (int32_t x = 0; x < width; ++x) {
                const float* w = wx.w.data() + size_t(x) * wx.taps;
                const float* src = line + size_t(wx.start[x] - lo) * 3;
                float even[4] = {0, 0, 0, 0}, odd[4] = {0, 0, 0, 0};
                for (int32_t t = 0; t < wx.taps; t += 2) {
                    for (int c = 0; c < 4; ++c) {
                        even[c] += w[t] * src[3 * t + c];
                    }
                    for (int c = 0; c < 4; ++c) {
                        odd[c] += w[t + 1] * src[3 * t + 3 + c];
                    }
                }
                for (int c = 0; c < 3; ++c) {
                    out[3 * x + c] = even[c] + odd[c];
                }
            }
        }
    }
}

}  // namespace kqfw::sim
