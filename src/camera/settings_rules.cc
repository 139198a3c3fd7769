#include "camera/settings_rules.h"

#include <cstdlib>

namespace kqfw {

namespace {

constexpr uint32_t kDelayMask = 0xFFF;
constexpr int kOpenShift = 12;
constexpr uint32_t kCloseNegativeBit = 1u << 24;
constexpr uint32_t kOpenPositiveBit = 1u << 25;
constexpr uint32_t kBit24 = 1u << 24;
constexpr uint32_t kBit25 = 1u << 25;
constexpr uint32_t kBit26 = 1u << 26;
constexpr uint32_t kEnableBit = 1u << 28;
constexpr uint32_t kActiveLowBit = 1u << 29;

}  // namespace

bool exposureInRange(const CameraContext& c, uint32_t t) {
    return t >= 2 * c.exposureStep && t <= kLongestExposure;
}

uint32_t shutterOutput1Word(const CameraContext& c) {
    const int32_t step = static_cast<int32_t>(c.exposureStep);
    const int32_t open = c.shutterDelayOpen / step;
    const int32_t close = c.shutterDelayClose / step;
    uint32_t word = (static_cast<uint32_t>(std::abs(close)) & kDelayMask) |
                    ((static_cast<uint32_t>(std::abs(open)) & kDelayMask) << kOpenShift);
    word |= close < 0 ? kCloseNegativeBit : 0;
    word |= open > 0 ? kOpenPositiveBit : 0;
    word |= c.shutter1Enable != 0 ? kEnableBit : 0;
    word |= c.shutter1Polarity == 0 ? kActiveLowBit : 0;
    return word;
}

uint32_t shutterOutput2Word(const CameraContext& c) {
    return (c.ttl2Bit24 != 0 ? kBit24 : 0) | (c.ttl2Bit25 != 0 ? kBit25 : 0) |
           (c.ttl2Bit26 != 0 ? kBit26 : 0) | (c.ttl2Enable != 0 ? kEnableBit : 0) |
           (c.ttl2Polarity == 0 ? kActiveLowBit : 0);
}

bool packedCodingActive(const CameraContext& c) {
    const Format7ModeInfo& m = c.format7Modes[0];
    return m.packingCapable && c.packingEnabled && !(m.compressionCapable && c.compression8Enabled);
}

bool compressedCodingActive(const CameraContext& c) {
    return c.format7Modes[0].compressionCapable && c.compression8Enabled;
}

uint64_t deliveredArea(const Rect& r) {
    if (r.right <= r.left || r.bottom <= r.top) {
        return 0;
    }
    return uint64_t(int64_t{r.right} - r.left) * uint64_t(int64_t{r.bottom} - r.top);
}

}  // namespace kqfw
