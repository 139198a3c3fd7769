#include "sim/sim_sensor.h"

#include <algorithm>
#include <cmath>

namespace kqfw::sim {

namespace {

// The sensor's colour crosstalk is the inverse of the matrix the library corrects with.
constexpr double kCorrection[3][3] = {
    {1.465, -0.283, -0.182}, {-0.165, 1.334, -0.169}, {0.083, -0.524, 1.441}};
// Channel sensitivities that the default white balance (1.49, 1.98, 1.0) renders neutral.
constexpr double kSensitivity[3] = {1.49 / 1.98, 1.0, 1.0 / 1.98};

struct Response {
    double m[3][3];
};

Response colourResponse() {
    const auto& a = kCorrection;
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    double inv[3][3];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inv[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
        }
    }
    Response response;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            response.m[r][c] = kSensitivity[r] * inv[r][c];
        }
    }
    return response;
}

uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// A standard normal value from a hash: four uniforms, centred and scaled (Irwin-Hall).
double gaussian(uint32_t h) {
    const uint32_t g = mix(h ^ 0xA5A5A5A5u);
    const double sum = (h & 0xFFFF) + (h >> 16) + (g & 0xFFFF) + (g >> 16);
    return (sum / 65536.0 - 2.0) * 1.7320508075688772;
}

}  // namespace

void renderSamples(const SensorModel& sensor, const Scene& scene, const FrameRequest& request,
                   uint16_t* samples) {
    static const Response colour = colourResponse();
    const int32_t w = request.width, h = request.height;
    std::vector<float> rgb(size_t(w) * h * 3);
    scene.renderRegion(request.left, request.top, w, h, request.dx, request.dy, sensor.blurSigma,
                       rgb.data());

    std::vector<double> vx(w), vy(h);
    const double cx = sensor.width / 2.0, cy = sensor.height / 2.0;
    for (int32_t x = 0; x < w; ++x) {
        const double n = (request.left + x + 0.5 - cx) / cx;
        vx[x] = 1.0 - sensor.vignetting * n * n;
    }
    for (int32_t y = 0; y < h; ++y) {
        const double n = (request.top + y + 0.5 - cy) / cy;
        vy[y] = 1.0 - sensor.vignetting * n * n;
    }
    std::vector<double> gx(w), gy(h);
    for (int32_t x = 0; x < w; ++x) {
        gx[x] = std::exp(-(sensor.width - 0.5 - (request.left + x)) / sensor.glowReachPx);
    }
    for (int32_t y = 0; y < h; ++y) {
        gy[y] = sensor.glowDnPerMs * std::exp(-(request.top + y + 0.5) / sensor.glowReachPx);
    }
    const double signalScale = sensor.whiteDnPerMs * request.exposureMs * request.illumination;
    const uint32_t frameSeed =
        mix(sensor.seed ^ static_cast<uint32_t>(request.frameNumber * 0x9E3779B1u));

    const uint32_t outW = w / request.binX, outH = h / request.binY;
    const double binCount = double(request.binX) * request.binY;
    std::vector<double> binned(outW);
    for (uint32_t oy = 0; oy < outH; ++oy) {
        std::fill(binned.begin(), binned.end(), 0.0);
        for (uint32_t by = 0; by < request.binY; ++by) {
            const int32_t y = static_cast<int32_t>(oy * request.binY + by);
            const uint32_t sy = static_cast<uint32_t>(request.top + y);
            const float* row = rgb.data() + 3 * size_t(y) * w;
            for (uint32_t ox = 0; ox < outW; ++ox) {
                for (uint32_t bx = 0; bx < request.binX; ++bx) {
                    const int32_t x = static_cast<int32_t>(ox * request.binX + bx);
                    const uint32_t sx = static_cast<uint32_t>(request.left + x);
                    const uint32_t pixel = sy * sensor.width + sx;
                    const float* p = row + 3 * x;
                    double radiance;
                    if (sensor.mono) {
                        radiance = (p[0] + p[1] + p[2]) / 3.0;
                    } else {
                        const int c =
                            (sy & 1) == 0 ? ((sx & 1) == 0 ? 0 : 1) : ((sx & 1) == 0 ? 1 : 2);
                        const double* m = colour.m[c];
                        radiance = m[0] * p[0] + m[1] * p[1] + m[2] * p[2];
                    }
                    const uint32_t fixed = mix(pixel ^ sensor.seed);
                    const double gain = 1.0 + sensor.prnu * gaussian(fixed);
                    double signal = std::max(0.0, radiance) * signalScale * vx[x] * vy[y] * gain;
                    const bool hot = (fixed >> 8) % 20011 == 0;
                    const double darkRate =
                        hot ? sensor.hotDnPerMs
                            : sensor.darkDnPerMs * (0.5 + (fixed & 0xFF) / 255.0) + gx[x] * gy[y];
                    signal += darkRate * request.exposureMs;
                    if (sensor.noise) {
                        const uint32_t n = mix(pixel * 0x9E3779B1u ^ frameSeed);
                        const double sigma = std::sqrt(signal * sensor.dnPerElectron +
                                                       sensor.readNoiseDn * sensor.readNoiseDn);
                        signal += sigma * gaussian(n);
                    }
                    binned[ox] += signal;
                }
            }
        }
        uint16_t* out = samples + size_t(oy) * outW;
        for (uint32_t ox = 0; ox < outW; ++ox) {
            const double v = kPedestal + binned[ox] / binCount;
            out[ox] = static_cast<uint16_t>(std::clamp(std::lround(v), 0L, long(kFullScale)));
        }
    }
    // Defective pixels listed in the flash: alternately dead (dark) and stuck bright.
    for (size_t i = 0; i < sensor.blemishes.size(); ++i) {
        const uint32_t sx = sensor.blemishes[i] % sensor.width;
        const uint32_t sy = sensor.blemishes[i] / sensor.width;
        if (sx < uint32_t(request.left) || sy < uint32_t(request.top)) {
            continue;
        }
        const uint32_t ox = (sx - request.left) / request.binX;
        const uint32_t oy = (sy - request.top) / request.binY;
        if (ox < outW && oy < outH) {
            samples[size_t(oy) * outW + ox] = i % 2 == 0 ? kPedestal : 15000;
        }
    }
}

uint32_t bytesForPixels(uint32_t coding, uint64_t pixels) {
    switch (coding) {
        case kCodingPacked12:
            return static_cast<uint32_t>((pixels * 3 + 1) / 2);
        case kCoding8:
            return static_cast<uint32_t>(pixels);
        default:
            return static_cast<uint32_t>(pixels * 2);
    }
}

uint8_t compress8(uint16_t sample) {
    // The library expands code i to: i - 4, (i - 8) * 2, (i - 16) * 4, ... (i - 128) * 32.
    auto expand = [](int32_t i) {
        return i < 12    ? i - 4
               : i < 24  ? (i - 8) * 2
               : i < 48  ? (i - 16) * 4
               : i < 96  ? (i - 32) * 8
               : i < 192 ? (i - 64) * 16
                         : (i - 128) * 32;
    };
    int32_t lo = 0, hi = 255;
    while (lo < hi) {
        const int32_t mid = (lo + hi + 1) / 2;
        if (expand(mid) <= sample) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return static_cast<uint8_t>(lo);
}

void encodeSamples(uint32_t coding, const uint16_t* s, uint64_t count, uint8_t* out) {
    switch (coding) {
        case kCodingPacked12:
            for (uint64_t k = 0; k + 1 < count; k += 2) {
                const uint32_t a = s[k] >> 2, b = s[k + 1] >> 2;
                out[0] = static_cast<uint8_t>(a >> 4);
                out[1] = static_cast<uint8_t>(b >> 4);
                out[2] = static_cast<uint8_t>(((a & 15) << 4) | (b & 15));
                out += 3;
            }
            if (count % 2 == 1) {
                const uint32_t a = s[count - 1] >> 2;
                out[0] = static_cast<uint8_t>(a >> 4);
                out[1] = static_cast<uint8_t>((a & 15) << 4);
            }
            return;
        case kCoding8: {
            static const std::vector<uint8_t> table = [] {
                std::vector<uint8_t> t(kFullScale + 1);
                for (uint32_t v = 0; v <= kFullScale; ++v) {
                    t[v] = compress8(static_cast<uint16_t>(v));
                }
                return t;
            }();
            for (uint64_t k = 0; k < count; ++k) {
                out[k] = table[std::min<uint16_t>(s[k], kFullScale)];
            }
            return;
        }
        default:
            for (uint64_t k = 0; k < count; ++k) {
                out[2 * k] = static_cast<uint8_t>(s[k]);
                out[2 * k + 1] = static_cast<uint8_t>(s[k] >> 8);
            }
    }
}

}  // namespace kqfw::sim
