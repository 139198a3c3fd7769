#pragma once

#include <cstdint>

namespace kqfw {

inline constexpr int32_t kMaxSample = 16383;

// A white-balance table lookup. Samples are 14-bit, but a frame that reaches the library
// damaged must not index past the table: anything larger reads the full-scale entry.
inline uint16_t lut(const uint16_t* table, uint32_t sample) {
    return table[sample <= uint32_t(kMaxSample) ? sample : uint32_t(kMaxSample)];
}

// The dark level that white balance scales about.
inline constexpr int32_t kPedestal = 128;

// A sample's white-balanced value for `gain`: the white-balance table entry.
inline uint16_t whiteBalanced(int32_t sample, double gain) {
    double v = (sample - kPedestal) * gain + 0.5 + kPedestal;
    v = v != v ? 0.0 : v < 0.0 ? 0.0 : v > double(kMaxSample) ? double(kMaxSample) : v;
    return static_cast<uint16_t>(v);
}

inline int32_t clampSample(int32_t v) {
    return v < 0 ? 0 : v > kMaxSample ? kMaxSample : v;
}

}  // namespace kqfw
