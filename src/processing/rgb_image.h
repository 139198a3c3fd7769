#pragma once

#include <cstddef>
#include <cstdint>

namespace kqfw {

// Channels of an RGB16 pixel.
inline constexpr int kChannelBlue = 0, kChannelGreen = 1, kChannelRed = 2;

// An RGB16 image being interpolated, with the mirrored border the methods share: row -1 is
// row 1, row h is row h - 2, and the same for columns.
struct RgbImage {
    uint16_t* data;
    int32_t w, h;
    uint16_t* at(int32_t y, int32_t x) const { return data + 3 * (size_t(y) * w + x); }
    int32_t row(int32_t y) const { return y < 0 ? -y : y >= h ? 2 * h - 2 - y : y; }
    int32_t column(int32_t x) const { return x < 0 ? -x : x >= w ? 2 * w - 2 - x : x; }
    // A channel of a neighbour, mirrored into the frame.
    int32_t mirrored(int32_t y, int32_t x, int channel) const {
        return at(row(y), column(x))[channel];
    }
};

}  // namespace kqfw
