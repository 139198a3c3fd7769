#include "frame_render.h"

#include <turbojpeg.h>

#include <algorithm>
#include <vector>

namespace kqview {

namespace {

constexpr int kQuality = 85;

// The level below which `fraction` of the samples lie, from a histogram of every level.
uint32_t level(const std::vector<uint64_t>& counts, uint64_t total, double fraction) {
    const auto wanted = static_cast<uint64_t>(fraction * static_cast<double>(total));
    uint64_t seen = 0;
    for (uint32_t v = 0; v < counts.size(); ++v) {
        seen += counts[v];
        if (seen > wanted) {
            return v;
        }
    }
    return kFullScale;
}

}  // namespace

void* newEncoder() {
    return tjInitCompress();
}

void releaseEncoder(void* encoder) {
    if (encoder != nullptr) {
        tjDestroy(encoder);
    }
}

bool render(ShownFrame* f, const DisplayRange& range, void* encoder) {
    const std::vector<uint16_t>& image = *f->image;
    const size_t samples = f->shape.samples();
    std::vector<uint64_t> counts(kFullScale + 1, 0);
    double sum = 0;
    for (size_t i = 0; i < samples; ++i) {
        const uint16_t v = std::min<uint16_t>(image[i], kFullScale);
        ++counts[v];
        sum += v;
    }
    f->histogram.fill(0);
    for (uint32_t v = 0; v <= kFullScale; ++v) {
        f->histogram[v * kHistogramBins / (kFullScale + 1)] += static_cast<uint32_t>(counts[v]);
    }
    f->saturated = counts[kFullScale];
    f->mean = samples == 0 ? 0 : sum / static_cast<double>(samples);
    if (range.automatic) {
        f->low = level(counts, samples, 0.001);
        f->high = std::max(level(counts, samples, 0.999), f->low + 1);
    } else {
        f->low = range.low;
        f->high = std::max(range.high, range.low + 1);
    }
    // One table for every level keeps the per-sample work to a lookup.
    std::vector<uint8_t> table(kFullScale + 1);
    for (uint32_t v = 0; v <= kFullScale; ++v) {
        const double t = (static_cast<double>(v) - f->low) / (f->high - f->low);
        table[v] = static_cast<uint8_t>(std::clamp(t, 0.0, 1.0) * 255.0 + 0.5);
    }
    std::vector<uint8_t> pixels(samples);
    for (size_t i = 0; i < samples; ++i) {
        pixels[i] = table[std::min<uint16_t>(image[i], kFullScale)];
    }
    const bool colour = f->shape.channels == 3;
    unsigned char* jpeg = nullptr;
    unsigned long bytes = 0;
    const int failed =
        tjCompress2(encoder, pixels.data(), static_cast<int>(f->shape.width), 0,
                    static_cast<int>(f->shape.height), colour ? TJPF_BGR : TJPF_GRAY, &jpeg, &bytes,
                    colour ? TJSAMP_420 : TJSAMP_GRAY, kQuality, TJFLAG_FASTDCT);
    if (failed == 0) {
        f->jpeg.assign(reinterpret_cast<const char*>(jpeg), bytes);
    }
    tjFree(jpeg);
    return failed == 0;
}

}  // namespace kqview
