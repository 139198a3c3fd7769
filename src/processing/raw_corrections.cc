#include "processing/raw_corrections.h"

#include <algorithm>

#include "api/camera_table.h"
#include "api/geometry.h"

namespace kqfw {

namespace {

constexpr int32_t kMaxSample = 16383;
constexpr int32_t kPedestal = 128;
constexpr double kBlackCapNumerator = 268419072.0;  // 16383 x 16384
constexpr int64_t kHotDarkSignal = 0x1FFC000;
constexpr int32_t kHotLevel = 14330;
constexpr int kMaxBinning = 5;

int32_t clampSample(int32_t v) {
    return std::clamp(v, 0, kMaxSample);
}

struct ReferenceStep {
    int32_t blackCap2;  // twice the cap
    int32_t scale;
    bool black, white;

    int32_t apply(int32_t v, int32_t b, int32_t g) const {
        if (black) {
            v = clampSample(v - ((scale * std::min(blackCap2, b)) >> 11));
        }
        if (white) {
            v = clampSample((((v - kPedestal) * g) >> 12) + kPedestal);
        }
        return v;
    }
};

// A reference sum over the sensor block a binned sample collected; 0 where a reference is
// absent, so a missing one subtracts nothing.
int32_t blockSum(const int16_t* ref, uint32_t pitch, int64_t row, int64_t col, int rows, int cols) {
    if (ref == nullptr) {
        return 0;
    }
    int32_t sum = 0;
    for (int dy = 0; dy < rows; ++dy) {
        const int16_t* line = ref + (row + dy) * pitch + col;
        for (int dx = 0; dx < cols; ++dx) {
            sum += line[dx];
        }
    }
    return sum;
}

}  // namespace

void ApplyReferences(const CameraContext& c, uint16_t* raw, uint32_t e, const Rect& rect,
                     int16_t binning, uint32_t blackOn, uint32_t whiteOn) {
    const int b = binning;
    if (b < 1 || b > kMaxBinning || !rectOnSensor(c, rect)) {
        return;
    }
    const int32_t cap =
        e != 0 ? static_cast<int32_t>(std::min(16383.0, kBlackCapNumerator / e)) : kMaxSample;
    const ReferenceStep step{2 * cap, static_cast<int32_t>((e >> 3) / 2),
                             blackOn != 0 && c.blackRefImage != nullptr,
                             whiteOn != 0 && c.whiteRefImage != nullptr};
    if (!step.black && !step.white) {
        return;
    }
    const uint32_t pitch = c.sensorWidth;
    const int64_t w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (b == 1) {
        for (int64_t y = 0; y < h; ++y) {
            const int64_t base = (rect.top + y) * pitch + rect.left;
            uint16_t* line = raw + y * w;
            for (int64_t x = 0; x < w; ++x) {
                const int32_t black = step.black ? c.blackRefImage[base + x] : 0;
                const int32_t white = step.white ? c.whiteRefImage[base + x] : 0;
                line[x] = static_cast<uint16_t>(step.apply(line[x], black, white));
            }
        }
        return;
    }
    const bool mono = c.link.isMono != 0;
    const int64_t rows = h / b / 2 * 2;
    const int64_t columns = mono ? w / b : w;
    const int blockColumns = mono ? b : 1;
    const int32_t whiteDivisor = mono ? b * b : b;
    for (int64_t j = 0; j < rows; ++j) {
        const int64_t sensorRow = rect.top + int64_t{b} * j;
        uint16_t* line = raw + j * columns;
        for (int64_t x = 0; x < columns; ++x) {
            const int64_t sensorCol = rect.left + (mono ? int64_t{b} * x : x);
            const int32_t black =
                step.black ? blockSum(c.blackRefImage, pitch, sensorRow, sensorCol, b, blockColumns)
                           : 0;
            const int32_t white = step.white ? blockSum(c.whiteRefImage, pitch, sensorRow,
                                                        sensorCol, b, blockColumns) /
                                                   whiteDivisor
                                             : 0;
            line[x] = static_cast<uint16_t>(step.apply(line[x], black, white));
        }
    }
}

void AddHotPixels(CameraContext& c, uint32_t e) {
    if (c.blackRefPresent == 0 || c.blackRefImage == nullptr) {
        return;
    }
    // 64 bits: (e / 2) x B passes 31 bits for long exposures.
    const int64_t halfUnits = e / 2;
    const uint64_t pixels = uint64_t{c.sensorWidth} * c.sensorHeight;
    for (uint64_t i = 0; i < pixels && c.blemishCount < kMaxBlemishes; ++i) {
        const int32_t b = c.blackRefImage[i];
        if (halfUnits * b > kHotDarkSignal || b / 2 >= kHotLevel) {
            c.blemishPositions[c.blemishCount++] = static_cast<uint32_t>(i);
        }
    }
    c.blemishCount = std::min(c.blemishCount, kMaxBlemishes);
}

void CorrectBlemishes(CameraContext& c, uint16_t* raw, const Rect& rect, int16_t binning,
                      uint32_t e) {
    if (blemishCorrectionEnabled == 0 || c.flashValid == 0 || c.sensorWidth == 0) {
        return;
    }
    const int32_t listed = c.blemishCount;
    AddHotPixels(c, e);
    const int b = binning;
    if (c.blemishCount <= 0 || b < 1) {
        c.blemishCount = listed;
        return;
    }
    const bool mono = c.link.isMono != 0;
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t frameRows = (int64_t{rect.bottom} - rect.top) / b;
    const int64_t rowLength = mono ? w / b : w;
    for (int32_t k = 0; k < c.blemishCount; ++k) {
        const int64_t row = c.blemishPositions[k] / c.sensorWidth;
        const int64_t column = c.blemishPositions[k] % c.sensorWidth;
        if (row < rect.top || row >= rect.bottom || column < rect.left || column >= rect.right) {
            continue;
        }
        const int64_t frameRow = (row - rect.top) / b;
        const int64_t dx = column - rect.left;
        const int64_t x = mono ? dx / b : dx;
        const int64_t step = mono ? 1 : 2;
        // A frame too narrow for a same-colour neighbour on either side keeps its sample.
        if (frameRow >= frameRows || x >= rowLength || rowLength <= step) {
            continue;
        }
        uint16_t* line = raw + frameRow * rowLength;
        if (x < step) {
            line[x] = line[x + step];
        } else if (x >= rowLength - step) {
            line[x] = line[x - step];
        } else {
            line[x] = static_cast<uint16_t>((line[x - step] + line[x + step] + 1) >> 1);
        }
    }
    c.blemishCount = listed;
}

}  // namespace kqfw
