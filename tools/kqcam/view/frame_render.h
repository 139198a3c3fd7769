#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "delivered_image.h"

namespace kqview {

// How 14-bit samples map to the 8 bits a browser shows: the range's low end becomes black,
// its high end white. Automatic: the darkest and brightest thousandth of the frame's samples.
struct DisplayRange {
    bool automatic = true;
    uint32_t low = 0, high = 16383;
};

inline constexpr uint32_t kHistogramBins = 256;
inline constexpr uint16_t kFullScale = 16383;

// One processed frame as the page sees it: the JPEG, what the histogram and the statistics
// show, and the 16-bit image itself for snaps and white balance.
struct ShownFrame {
    uint64_t sequence = 0;  // counts every frame shown since the viewer started
    int32_t index = -1;     // the driver's frame index within its run
    std::chrono::steady_clock::time_point arrival;  // handed over by the library
    kqtools::ImageShape shape;
    std::shared_ptr<const std::vector<uint16_t>> image;  // as the library delivers it (B, G, R)
    std::string jpeg;
    std::array<uint32_t, kHistogramBins> histogram{};  // all samples, 64 levels a bin
    uint64_t saturated = 0;                            // samples at full scale
    double mean = 0;
    uint32_t low = 0, high = kFullScale;  // the display range used
};

// Histogram, mean and display range of `frame`'s image, and its JPEG. False when the encoder
// failed.
bool render(ShownFrame* frame, const DisplayRange& range, void* encoder);

// A JPEG encoder for one thread (turbojpeg's handle), freed by releaseEncoder.
void* newEncoder();
void releaseEncoder(void* encoder);

}  // namespace kqview
