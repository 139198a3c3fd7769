#include "processing/raw_corrections.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "camera/geometry.h"
#include "platform/worker_pool.h"

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

    // Both steps in signed 32-bit arithmetic. The black product wraps as 32-bit arithmetic
    // does: only a negative reference can take it out of range, and there C++ would have no
    // defined result at all.
    static int32_t blackStep(int32_t v, int32_t scale, int32_t blackCap2, int32_t b) {
        const uint32_t product =
            static_cast<uint32_t>(scale) * static_cast<uint32_t>(std::min(blackCap2, b));
        return clampSample(v - (static_cast<int32_t>(product) >> 11));
    }
    static int32_t whiteStep(int32_t v, int32_t g) {
        return clampSample((((v - kPedestal) * g) >> 12) + kPedestal);
    }

    int32_t apply(int32_t v, int32_t b, int32_t g) const {
        if (black) {
            v = blackStep(v, scale, blackCap2, b);
        }
        if (white) {
            v = whiteStep(v, g);
        }
        return v;
    }
};

// Binning 1 is every frame of a live view: the steps are chosen once per frame so each row is
// one straight loop the compiler can put in vector registers, of the width the clone below
// allows.
template <bool Black, bool White>
__attribute__((always_inline)) inline void correctUnbinned(const FrameRecipe& c,
                                                           const ReferenceStep& step, uint16_t* raw,
                                                           const Rect& rect) {
    const uint32_t pitch = c.sensorWidth;
    const int64_t w = int64_t{rect.right} - rect.left, h = int64_t{rect.bottom} - rect.top;
    const int32_t scale = step.scale, cap2 = step.blackCap2;
    for (int64_t y = 0; y < h; ++y) {
        const int64_t base = (rect.top + y) * pitch + rect.left;
        const int16_t* black = Black ? c.blackRefImage + base : nullptr;
        const int16_t* white = White ? c.whiteRefImage + base : nullptr;
        uint16_t* line = raw + y * w;
        for (int64_t x = 0; x < w; ++x) {
            int32_t v = line[x];
            if constexpr (Black) {
                v = ReferenceStep::blackStep(v, scale, cap2, black[x]);
            }
            if constexpr (White) {
                v = ReferenceStep::whiteStep(v, white[x]);
            }
            line[x] = static_cast<uint16_t>(v);
        }
    }
}

using UnbinnedCorrection = void (*)(const FrameRecipe&, const ReferenceStep&, uint16_t*,
                                    const Rect&);

template <bool Black, bool White>
void correctUnbinnedScalar(const FrameRecipe& c, const ReferenceStep& step, uint16_t* raw,
                           const Rect& rect) {
    correctUnbinned<Black, White>(c, step, raw, rect);
}

#if defined(__x86_64__) && defined(__GNUC__)
template <bool Black, bool White>
__attribute__((target("avx2"))) void correctUnbinnedAvx2(const FrameRecipe& c,
                                                         const ReferenceStep& step, uint16_t* raw,
                                                         const Rect& rect) {
    correctUnbinned<Black, White>(c, step, raw, rect);
}
#endif

template <bool Black, bool White>
UnbinnedCorrection unbinnedCorrection(SimdLevel level) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (level >= SimdLevel::kAvx2) {
        return correctUnbinnedAvx2<Black, White>;
    }
#endif
    (void)level;
    return correctUnbinnedScalar<Black, White>;
}

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

void ApplyReferences(const FrameRecipe& c, uint16_t* raw, uint32_t e, const Rect& rect,
                     int16_t binning, uint32_t blackOn, uint32_t whiteOn) {
    ApplyReferences(simdLevel(), c, raw, e, rect, binning, blackOn, whiteOn);
}

void ApplyReferences(SimdLevel level, const FrameRecipe& c, uint16_t* raw, uint32_t e,
                     const Rect& rect, int16_t binning, uint32_t blackOn, uint32_t whiteOn) {
    const int b = binning;
    if (b < 1 || b > kMaxBinning || !rectOnSensor(c.sensorWidth, c.sensorHeight, rect)) {
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
    // The plain level takes the general loop below at binning 1 too: it is the reference.
    if (b == 1 && level != SimdLevel::kPlain) {
        const UnbinnedCorrection correct = step.black && step.white
                                               ? unbinnedCorrection<true, true>(level)
                                           : step.black ? unbinnedCorrection<true, false>(level)
                                                        : unbinnedCorrection<false, true>(level);
        // Rows are independent: shared out to the camera's threads as the kernels after it are.
        const int64_t w = int64_t{rect.right} - rect.left;
        forRowStripes(c.processingPool, rect.bottom - rect.top, 1, [&](int32_t first, int32_t end) {
            const Rect rows{rect.left, rect.top + first, rect.right, rect.top + end};
            correct(c, step, raw + first * w, rows);
        });
        return;
    }
    const uint32_t pitch = c.sensorWidth;
    const int64_t w = rect.right - rect.left, h = rect.bottom - rect.top;
    const bool mono = c.isMono;
    const int64_t rows = b == 1 ? h : h / b / 2 * 2;
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

bool isHotPixel(uint32_t e, int32_t b) {
    // The dark signal (e / 2) x B is a 32-bit product, wrapping as the references' products do:
    // at exposures of tens of seconds a bright value's product wraps negative and is not hot
    // by it, and a negative value's may wrap positive and be.
    const uint32_t product = (e / 2) * static_cast<uint32_t>(b);
    return static_cast<int32_t>(product) > kHotDarkSignal || b / 2 >= kHotLevel;
}

HotBand hotBand(uint32_t e) {
    HotBand band{INT16_MIN - 1, INT16_MAX + 1};
    for (int32_t b = 0; b <= INT16_MAX; ++b) {
        if (isHotPixel(e, b)) {
            band.above = b;
            break;
        }
    }
    for (int32_t b = -1; b >= INT16_MIN; --b) {
        if (isHotPixel(e, b)) {
            band.below = b;
            break;
        }
    }
    return band;
}

int32_t visitHotPixels(const FrameRecipe& c, uint32_t e, int32_t room,
                       const std::function<void(uint32_t)>& visit) {
    if (!c.blackRefPresent || c.blackRefImage == nullptr || room <= 0) {
        return 0;
    }
    // Every frame scans the whole reference, and hot pixels are rare: blocks without one are
    // passed over by a maximum the compiler computes in vector registers.
    constexpr uint64_t kBlock = 1024;
    const HotBand band = hotBand(e);
    const int16_t* ref = c.blackRefImage;
    const uint64_t pixels = uint64_t{c.sensorWidth} * c.sensorHeight;
    int32_t found = 0;
    for (uint64_t start = 0; start < pixels && found < room; start += kBlock) {
        const uint64_t end = std::min(pixels, start + kBlock);
        int16_t highest = INT16_MIN, lowest = INT16_MAX;
        for (uint64_t i = start; i < end; ++i) {
            highest = std::max(highest, ref[i]);
            lowest = std::min(lowest, ref[i]);
        }
        if (highest < band.above && lowest > band.below) {
            continue;
        }
        for (uint64_t i = start; i < end && found < room; ++i) {
            if (isHotPixel(e, ref[i])) {
                visit(static_cast<uint32_t>(i));
                ++found;
            }
        }
    }
    return found;
}

void CorrectBlemishes(const FrameRecipe& c, uint16_t* raw, const Rect& rect, int16_t binning,
                      uint32_t e) {
    if (!c.blemishCorrection || !c.flashValid || c.sensorWidth == 0 || binning < 1) {
        return;
    }
    const int b = binning;
    const bool mono = c.isMono;
    const int64_t w = int64_t{rect.right} - rect.left;
    const int64_t frameRows = (int64_t{rect.bottom} - rect.top) / b;
    const int64_t rowLength = mono ? w / b : w;
    const int64_t step = mono ? 1 : 2;
    const auto correct = [&](uint32_t position) {
        const int64_t row = position / c.sensorWidth;
        const int64_t column = position % c.sensorWidth;
        if (row < rect.top || row >= rect.bottom || column < rect.left || column >= rect.right) {
            return;
        }
        const int64_t frameRow = (row - rect.top) / b;
        const int64_t dx = column - rect.left;
        const int64_t x = mono ? dx / b : dx;
        // A frame too narrow for a same-colour neighbour on either side keeps its sample.
        if (frameRow >= frameRows || x >= rowLength || rowLength <= step) {
            return;
        }
        uint16_t* line = raw + frameRow * rowLength;
        if (x < step) {
            line[x] = line[x + step];
        } else if (x >= rowLength - step) {
            line[x] = line[x - step];
        } else {
            line[x] = static_cast<uint16_t>((line[x - step] + line[x + step] + 1) >> 1);
        }
    };
    // The flash's list first, then the hot pixels in the reference's order, the two together
    // at most kMaxBlemishes: the order matters where two neighbours are both corrected.
    const int32_t listed = std::clamp(c.blemishCount, 0, kMaxBlemishes);
    for (int32_t k = 0; k < listed; ++k) {
        correct(c.blemishPositions[k]);
    }
    visitHotPixels(c, e, kMaxBlemishes - listed, correct);
}

}  // namespace kqfw
