#include "processing/colour_matrix.h"

#include <algorithm>

#include "camera/lut.h"
#include "platform/worker_pool.h"

namespace kqfw {

void ApplyColorMatrix(const FrameRecipe& context, uint16_t* pixels, int64_t count) {
    ApplyColorMatrix(simdLevel(), context, pixels, count);
}

void ApplyColorMatrix(SimdLevel level, const FrameRecipe& context, uint16_t* pixels,
                      int64_t count) {
    if (context.colorProcessingEnabled == 0 || count < 1) {
        return;
    }
    bool computed = false;
#if defined(__x86_64__) && defined(__GNUC__)
    computed = level >= SimdLevel::kAvx2 && colorMatrixComputable(context);
#else
    (void)level;
#endif
    // Stripes of whole blocks of pixels, so the vector form's groups never straddle two.
    constexpr int64_t kBlock = 4096;
    const auto blocks = static_cast<int32_t>((count + kBlock - 1) / kBlock);
    const auto& t = context.matrixTables;
    forRowStripes(context.processingPool, blocks, 1, [&](int32_t first, int32_t end) {
        uint16_t* start = pixels + 3 * first * kBlock;
        const int64_t n = std::min(count, end * kBlock) - first * kBlock;
        int64_t i = 0;
#if defined(__x86_64__) && defined(__GNUC__)
        if (computed) {
            i = computeColorMatrixAvx2(context, start, n);
        }
#endif
        for (; i < n; ++i) {
            uint16_t* p = start + 3 * i;
            const uint16_t blue = p[0];
            const uint16_t green = p[1];
            const uint16_t red = p[2];
            // A sample above 14 bits would index past the tables: treat it as full scale.
            const uint16_t r = std::min<uint16_t>(red, kMaxSample);
            const uint16_t g = std::min<uint16_t>(green, kMaxSample);
            const uint16_t b = std::min<uint16_t>(blue, kMaxSample);
            uint16_t out[3];
            for (int row = 0; row < 3; ++row) {
                const int32_t sum = t[3 * row][r] + t[3 * row + 1][g] + t[3 * row + 2][b];
                out[row] = context.clampTable[std::min<int32_t>(sum, kClampEntries - 1)];
            }
            p[2] = out[0];
            p[1] = out[1];
            p[0] = out[2];
        }
    });
}

}  // namespace kqfw
