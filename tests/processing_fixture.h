#pragma once

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "camera/camera_context.h"

namespace kqfw::test {

struct ContextDeleter {
    void operator()(CameraContext* c) const { freeCameraContext(c); }
};

// A camera context for the image kernels: an image rectangle and white-balance tables that
// tell the three colours apart (red + 1, green as is, blue + 2, clamped), so a swapped
// channel shows.
class KernelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        context.reset(allocateCameraContext());
        ASSERT_NE(context, nullptr);
        for (uint32_t i = 0; i < kLutEntries; ++i) {
            context->whiteLuts[0][i] = static_cast<uint16_t>(std::min<uint32_t>(i + 1, 16383));
            context->whiteLuts[1][i] = static_cast<uint16_t>(i);
            context->whiteLuts[2][i] = static_cast<uint16_t>(std::min<uint32_t>(i + 2, 16383));
        }
        context->binning = 1;
    }
    void identityTables() {
        for (auto& table : context->whiteLuts) {
            for (uint32_t i = 0; i < kLutEntries; ++i) {
                table[i] = static_cast<uint16_t>(i);
            }
        }
    }
    void frame(int32_t width, int32_t height) { context->imageRect = {0, 0, width, height}; }
    std::unique_ptr<CameraContext, ContextDeleter> context;
};

// An RGB16 pixel as (blue, green, red).
inline std::vector<uint16_t> pixelAt(const std::vector<uint16_t>& image, int32_t width, int32_t y,
                                     int32_t x) {
    const uint16_t* p = image.data() + 3 * (size_t(y) * width + x);
    return {p[0], p[1], p[2]};
}

}  // namespace kqfw::test
