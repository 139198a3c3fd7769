#include "sim/sim_scene.h"

#include <algorithm>
#include <cmath>

namespace kqfw::sim {

namespace {

constexpr int kSubsamples = 8;  // points a pixel is integrated over, per axis
constexpr double kPi = 3.14159265358979323846;

double blurredStep(double u, double sigma) {
    // The fraction of a unit step at 0 that a Gaussian of sigma lets through at u.
    return sigma <= 0 ? (u >= 0 ? 1.0 : 0.0) : 0.5 * std::erfc(-u / (sigma * std::sqrt(2.0)));
}

double blurredProfile(const Profile& p, double u, double sigma) {
    switch (p.kind) {
        case Profile::Kind::kBox:
            return blurredStep(u - p.a, sigma) - blurredStep(u - p.b, sigma);
        case Profile::Kind::kGrating: {
            // The optics pass a cosine of frequency f with the Gaussian's transfer function.
            const double m = std::exp(-2 * kPi * kPi * sigma * sigma * p.frequency * p.frequency);
            const double box = blurredStep(u - p.a, sigma) - blurredStep(u - p.b, sigma);
            return box * (0.5 + 0.5 * m * std::cos(2 * kPi * p.frequency * (u - p.a)));
        }
        case Profile::Kind::kGauss: {
            const double s = std::sqrt(p.b * p.b + sigma * sigma);
            const double d = (u - p.a) / s;
            return (p.b / s) * std::exp(-0.5 * d * d);
        }
    }
    return 0;
}

// How far a profile reaches, with its blur, as a pixel range.
void extent(const Profile& p, double sigma, double* lo, double* hi) {
    const double margin = 4 * sigma + 1;
    if (p.kind == Profile::Kind::kGauss) {
        const double s = std::sqrt(p.b * p.b + sigma * sigma);
        *lo = p.a - 5 * s - 1;
        *hi = p.a + 5 * s + 1;
    } else {
        *lo = p.a - margin;
        *hi = p.b + margin;
    }
}

// The pixel-integrated profile over `count` pixels starting at pixel `first`, displaced by d.
// Returns the index range [begin, end) where it is not zero.
void integrate(const Profile& p, int32_t first, int32_t count, double d, double sigma,
               std::vector<float>& out, int32_t* begin, int32_t* end) {
    double lo = 0, hi = 0;
    extent(p, sigma, &lo, &hi);
    *begin = std::clamp(static_cast<int32_t>(std::floor(lo - d)) - first, 0, count);
    *end = std::clamp(static_cast<int32_t>(std::ceil(hi - d)) - first + 1, 0, count);
    for (int32_t i = *begin; i < *end; ++i) {
        double sum = 0;
        for (int k = 0; k < kSubsamples; ++k) {
            sum += blurredProfile(p, first + i + d + (k + 0.5) / kSubsamples, sigma);
        }
        out[i] = static_cast<float>(sum / kSubsamples);
    }
}

double profileAt(const Profile& p, double u) {
    switch (p.kind) {
        case Profile::Kind::kBox:
            return u >= p.a && u < p.b ? 1.0 : 0.0;
        case Profile::Kind::kGrating:
            return u >= p.a && u < p.b ? 0.5 + 0.5 * std::cos(2 * kPi * p.frequency * (u - p.a))
                                       : 0.0;
        case Profile::Kind::kGauss: {
            const double d = (u - p.a) / p.b;
            return std::exp(-0.5 * d * d);
        }
    }
    return 0;
}

Feature box(double x0, double y0, double x1, double y1, float r, float g, float b) {
    return {{r, g, b}, {Profile::Kind::kBox, x0, x1, 0}, {Profile::Kind::kBox, y0, y1, 0}};
}

}  // namespace

std::shared_ptr<const Scene> Scene::testSlide(uint32_t w, uint32_t h) {
    auto scene = std::make_shared<Scene>();
    const float bg = 0.6f;
    std::fill(scene->background_, scene->background_ + 3, bg);
    auto& f = scene->features_;
    const double W = w, H = h;
    // Colour patches across the top: red, green, blue, cyan, magenta, yellow, then a grey
    // step wedge.
    const float colours[6][3] = {{0.75f, 0.12f, 0.10f}, {0.15f, 0.65f, 0.15f},
                                 {0.10f, 0.15f, 0.70f}, {0.15f, 0.60f, 0.65f},
                                 {0.65f, 0.15f, 0.60f}, {0.75f, 0.70f, 0.12f}};
    for (int i = 0; i < 6; ++i) {
        const double x0 = W * (0.03 + 0.08 * i);
        f.push_back(box(x0, H * 0.04, x0 + W * 0.07, H * 0.16, colours[i][0] - bg,
                        colours[i][1] - bg, colours[i][2] - bg));
    }
    for (int i = 0; i < 6; ++i) {
        const double x0 = W * (0.52 + 0.075 * i);
        const float level = 0.95f - 0.17f * i;
        f.push_back(
            box(x0, H * 0.04, x0 + W * 0.065, H * 0.16, level - bg, level - bg, level - bg));
    }
    // Resolution bars from coarse to beyond the sensor's Nyquist frequency (0.5 cycle/pixel),
    // one band with vertical bars and one with horizontal bars.
    const double frequencies[8] = {0.05, 0.1, 0.2, 0.3, 0.4, 0.45, 0.55, 0.7};
    for (int i = 0; i < 8; ++i) {
        const double x0 = W * (0.03 + 0.06 * i);
        Feature bars{{-0.5f, -0.5f, -0.5f},
                     {Profile::Kind::kGrating, x0, x0 + W * 0.05, frequencies[i]},
                     {Profile::Kind::kBox, H * 0.22, H * 0.40, 0}};
        f.push_back(bars);
        const double y0 = H * (0.22 + 0.022 * i);
        Feature rows{{-0.5f, -0.5f, -0.5f},
                     {Profile::Kind::kBox, W * 0.53, W * 0.97, 0},
                     {Profile::Kind::kGrating, y0, y0 + H * 0.018, frequencies[i]}};
        f.push_back(rows);
    }
    // Stained cells scattered over the lower half.
    uint32_t state = 0x9E3779B9u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (state & 0xFFFFFF) / double(0x1000000);
    };
    for (int i = 0; i < 40; ++i) {
        const double cx = W * (0.05 + 0.9 * next());
        const double cy = H * (0.48 + 0.48 * next());
        const double size = std::max(1.5, (3 + 9 * next()) * W / 1388);
        const float depth = static_cast<float>(0.2 + 0.3 * next());
        f.push_back({{-0.3f * depth, -0.9f * depth, -0.4f * depth},
                     {Profile::Kind::kGauss, cx, size, 0},
                     {Profile::Kind::kGauss, cy, size, 0}});
    }
    // A calibration specimen's texture at the centre, where the sensor-shift calibration takes
    // its patches (256 x 256 pixels on the colour model): small dark and bright specks.
    for (int i = 0; i < 220; ++i) {
        const double cx = W / 2 + (next() - 0.5) * 260 * W / 1388;
        const double cy = H / 2 + (next() - 0.5) * 260 * H / 1040;
        const double size = std::max(1.0, (1.5 + 3 * next()) * W / 1388);
        const float amount = static_cast<float>((next() < 0.5 ? -0.35 : 0.3) * (0.5 + next()));
        f.push_back({{amount, amount, amount},
                     {Profile::Kind::kGauss, cx, size, 0},
                     {Profile::Kind::kGauss, cy, size, 0}});
    }
    return scene;
}

std::shared_ptr<const Scene> Scene::flat(double level) {
    auto scene = std::make_shared<Scene>();
    std::fill(scene->background_, scene->background_ + 3, static_cast<float>(level));
    return scene;
}

void Scene::radianceAt(double u, double v, float rgb[3]) const {
    if (!image_.empty()) {
        const double x = std::clamp(u * scaleU_ - 0.5, 0.0, imageWidth_ - 1.0);
        const double y = std::clamp(v * scaleV_ - 0.5, 0.0, imageHeight_ - 1.0);
        const uint32_t x0 = static_cast<uint32_t>(x), y0 = static_cast<uint32_t>(y);
        const uint32_t x1 = std::min(x0 + 1, imageWidth_ - 1);
        const uint32_t y1 = std::min(y0 + 1, imageHeight_ - 1);
        const double fx = x - x0, fy = y - y0;
        for (int c = 0; c < 3; ++c) {
            auto at = [&](uint32_t px, uint32_t py) {
                return image_[(size_t{py} * imageWidth_ + px) * 3 + c];
            };
            rgb[c] = static_cast<float>((at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
                                        (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy);
        }
        return;
    }
    for (int c = 0; c < 3; ++c) {
        rgb[c] = background_[c];
    }
    for (const Feature& f : features_) {
        const double k = profileAt(f.x, u) * profileAt(f.y, v);
        for (int c = 0; c < 3; ++c) {
            rgb[c] += static_cast<float>(f.colour[c] * k);
        }
    }
}

void Scene::renderRegion(int32_t left, int32_t top, int32_t width, int32_t height, double dx,
                         double dy, double sigma, float* rgb) const {
    if (!image_.empty()) {
        renderImage(left, top, width, height, dx, dy, sigma, rgb);
        return;
    }
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        rgb[3 * i] = background_[0];
        rgb[3 * i + 1] = background_[1];
        rgb[3 * i + 2] = background_[2];
    }
    std::vector<float> xs(width), ys(height);
    for (const Feature& f : features_) {
        int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        integrate(f.y, top, height, dy, sigma, ys, &y0, &y1);
        if (y0 >= y1) {
            continue;
        }
        integrate(f.x, left, width, dx, sigma, xs, &x0, &x1);
        for (int32_t y = y0; y < y1; ++y) {
            const float wy = ys[y];
            float* row = rgb + 3 * size_t(y) * width;
            const float r = f.colour[0] * wy, g = f.colour[1] * wy, b = f.colour[2] * wy;
            for (int32_t x = x0; x < x1; ++x) {
                row[3 * x] += r * xs[x];
                row[3 * x + 1] += g * xs[x];
                row[3 * x + 2] += b * xs[x];
            }
        }
    }
}

}  // namespace kqfw::sim
