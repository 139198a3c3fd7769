#include "processing/ratio_interpolation.h"

#include <algorithm>

#include "camera/lut.h"
#include "platform/worker_pool.h"
#include "processing/rgb_image.h"
#include "processing/site_rows.h"

namespace kqfw {

namespace {

constexpr int32_t kUnity = 1024;  // ratio 1.0
constexpr int32_t kMaxRatio = 65535;
constexpr int32_t kStrengthPerMode = 512;
constexpr int kB = kChannelBlue, kG = kChannelGreen, kR = kChannelRed;

// The image with the places where this method keeps its intermediate values.
struct Image : RgbImage {
    Image(uint16_t* data, int32_t w, int32_t h) : RgbImage{data, w, h} {}
    uint16_t green(int32_t y, int32_t x) const { return static_cast<uint16_t>(mirrored(y, x, kG)); }

    // The four green neighbours of a colour site, sorted.
    void neighbours(int32_t y, int32_t x, int32_t v[4]) const {
        v[0] = green(y - 1, x);
        v[1] = green(y + 1, x);
        v[2] = green(y, x - 1);
        v[3] = green(y, x + 1);
        std::sort(v, v + 4);
    }

    // Where a site's ratio, its saved sample and its parked median live.
    uint16_t& ratio(int32_t y, int32_t x) const { return at(y, x)[(y & 1) == 0 ? kR : kB]; }
    uint16_t& saved(int32_t y, int32_t x) const {
        return (y & 1) == 0 ? at(y + 1, x)[kR] : at(y - 1, x)[kB];
    }
    uint16_t& parked(int32_t y, int32_t x) const {
        return (y & 1) == 0 ? at(y, x + 1)[kR] : at(y, x - 1)[kB];
    }
};

uint16_t median3(uint16_t a, uint16_t b, uint16_t c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

}  // namespace

void EstimateGreenAndRatios(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                            WorkerPool* pool) {
    const Image im{image, width, height};
    auto estimate = [&](int32_t y, int32_t x) {
        int32_t v[4];
        im.neighbours(y, x, v);
        const int32_t lo = v[1], hi = v[2];
        const int32_t own = im.at(y, x)[kG];
        int32_t green, ratio;
        if (lo == 0) {
            green = 0;
            ratio = kUnity;
        } else if (own > hi) {
            green = hi;
            ratio = std::min(own * kUnity / hi, kMaxRatio);
        } else if (own <= lo) {
            green = lo;
            ratio = own * kUnity / lo;
        } else {
            green = own;
            ratio = kUnity;
        }
        im.at(y, x)[kG] = static_cast<uint16_t>(green);
        im.ratio(y, x) = static_cast<uint16_t>(ratio);
    };
    forEachSite(pool, width, height, level, 1, estimate, [&](int32_t y, int32_t x, int32_t count) {
        return estimateSitesAvx2(image, width, y, x, count);
    });
}

void MedianFilterRatios(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                        WorkerPool* pool) {
    const Image im{image, width, height};
    // Horizontal medians of same-colour sites, two pixels apart, parked beside each site.
    auto across = [&](int32_t y, int32_t x) {
        const uint16_t centre = im.ratio(y, x);
        const uint16_t left = x - 2 >= 0 ? im.ratio(y, x - 2) : centre;
        const uint16_t right = x + 2 < width ? im.ratio(y, x + 2) : centre;
        im.parked(y, x) = median3(left, centre, right);
    };
    forEachSite(pool, width, height, level, 2, across, [&](int32_t y, int32_t x, int32_t count) {
        return medianAcrossSitesAvx2(image, width, y, x, count);
    });
    auto down = [&](int32_t y, int32_t x) {
        const uint16_t centre = im.parked(y, x);
        const uint16_t up = y - 2 >= 0 ? im.parked(y - 2, x) : centre;
        const uint16_t below = y + 2 < height ? im.parked(y + 2, x) : centre;
        im.ratio(y, x) = median3(up, centre, below);
    };
    forEachSite(pool, width, height, level, 2, down, [&](int32_t y, int32_t x, int32_t count) {
        return medianDownSitesAvx2(image, width, y, x, count);
    });
}

void RefineGreenAndRatios(SimdLevel level, int32_t strength, int32_t width, int32_t height,
                          uint16_t* image, WorkerPool* pool) {
    const Image im{image, width, height};
    auto refine = [&](int32_t y, int32_t x) {
        int32_t v[4];
        im.neighbours(y, x, v);
        const int32_t min = v[0], lo = v[1], hi = v[2], max = v[3];
        if (lo == 0) {
            im.ratio(y, x) = kUnity;
            im.at(y, x)[kG] = 0;
            return;
        }
        const int32_t a = kUnity - ((max - min) * strength) / max;
        const int32_t green = std::clamp<int32_t>(im.at(y, x)[kG], lo, hi);
        const int32_t sample = im.saved(y, x);
        const int32_t ratio =
            a <= 0 ? kUnity : std::min(((sample - green) * a) / green + kUnity, kMaxRatio);
        im.at(y, x)[kG] = static_cast<uint16_t>(green);
        im.ratio(y, x) = static_cast<uint16_t>(ratio);
    };
    forEachSite(pool, width, height, level, 1, refine, [&](int32_t y, int32_t x, int32_t count) {
        return refineSitesAvx2(strength, image, width, y, x, count);
    });
}

void ResampleGreenHalfPixel(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                            WorkerPool* pool) {
    const Image im{image, width, height};
    // Every pixel has a channel that holds nothing needed any more by now: a red site's blue,
    // a blue site's red, and a green site's saved sample (blue in even rows, red in odd ones).
    // The new greens wait there, so nothing is allocated.
    auto spare = [&](int32_t y, int32_t x) -> uint16_t& {
        return im.at(y, x)[(y & 1) == 0 ? kB : kR];
    };
    auto g = [&](int32_t y, int32_t x) { return int32_t{im.at(y, x)[kG]}; };
    // Rows 1 to height - 3, in stripes; the second pass starts when the first has ended.
    const int32_t rows = height - 3;
    forRowStripes(pool, rows, 1, [&](int32_t first, int32_t end) {
        for (int32_t y = 1 + first; y < 1 + end; ++y) {
            const int32_t done =
                level >= SimdLevel::kAvx2 ? resampleGreenRowAvx2(image, width, y, 1, width - 3) : 0;
            for (int32_t x = 1 + done; x <= width - 3; ++x) {
                const int32_t in = g(y, x) + g(y, x + 1) + g(y + 1, x) + g(y + 1, x + 1);
                const int32_t out = g(y - 1, x) + g(y - 1, x + 1) + g(y, x - 1) + g(y + 1, x - 1) +
                                    g(y, x + 2) + g(y + 1, x + 2) + g(y + 2, x) + g(y + 2, x + 1);
                spare(y, x) = static_cast<uint16_t>(clampSample((6 * in - out) >> 4));
            }
        }
    });
    forRowStripes(pool, rows, 1, [&](int32_t first, int32_t end) {
        for (int32_t y = 1 + first; y < 1 + end; ++y) {
            for (int32_t x = 1; x <= width - 3; ++x) {
                im.at(y, x)[kG] = spare(y, x);
            }
        }
    });
}

void ApplyRatios(SimdLevel level, int32_t mode, int32_t width, int32_t height, uint16_t* image,
                 WorkerPool* pool) {
    if (mode == 1) {
        MedianFilterRatios(level, width, height, image, pool);
    }
    const Image im{image, width, height};
    forRowStripes(pool, height, 2, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; y += 2) {
            const int32_t done =
                level >= SimdLevel::kAvx2 ? applyRatioCellsAvx2(image, width, y, width / 2) : 0;
            for (int32_t x = 2 * done; x < width; x += 2) {
                const uint32_t rR = im.ratio(y, x);
                const uint32_t rB = im.ratio(y + 1, x + 1);
                for (int32_t dy = 0; dy < 2; ++dy) {
                    for (int32_t dx = 0; dx < 2; ++dx) {
                        uint16_t* p = im.at(y + dy, x + dx);
                        p[kR] = static_cast<uint16_t>(
                            std::min<uint32_t>((p[kG] * rR + 512) >> 10, kMaxSample));
                        p[kB] = static_cast<uint16_t>(
                            std::min<uint32_t>((p[kG] * rB + 512) >> 10, kMaxSample));
                    }
                }
            }
        }
    });
}

void InterpolateRatio(SimdLevel level, int32_t mode, int32_t width, int32_t height, uint16_t* image,
                      WorkerPool* pool) {
    if (width < 4 || height < 4 || width % 2 != 0 || height % 2 != 0) {
        for (size_t i = 0; i < size_t(std::max(width, 0)) * std::max(height, 0); ++i) {
            image[3 * i] = image[3 * i + 2] = image[3 * i + 1];
        }
        return;
    }
    const Image im{image, width, height};
    forEachSite(pool, width, height,
                [&](int32_t y, int32_t x) { im.saved(y, x) = im.at(y, x)[kG]; });
    EstimateGreenAndRatios(level, width, height, image, pool);
    MedianFilterRatios(level, width, height, image, pool);
    auto greenFromRatio = [&](int32_t y, int32_t x) {
        const uint32_t green = (uint32_t{im.saved(y, x)} * kUnity) / (im.ratio(y, x) + 1u);
        im.at(y, x)[kG] = static_cast<uint16_t>(std::min<uint32_t>(green, kMaxSample));
    };
    forEachSite(pool, width, height, level, 1, greenFromRatio,
                [&](int32_t y, int32_t x, int32_t count) {
                    return greenFromRatioSitesAvx2(image, width, y, x, count);
                });
    RefineGreenAndRatios(level, mode * kStrengthPerMode, width, height, image, pool);
    ResampleGreenHalfPixel(level, width, height, image, pool);
    ApplyRatios(level, mode, width, height, image, pool);
}

}  // namespace kqfw
