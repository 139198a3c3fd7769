// The choice of colour interpolation through kqfw_ext.h: its statuses, its images, and changes
// from other threads and during runs.
#include <atomic>
#include <thread>
#include <vector>

#include "api_fixture.h"
#include "platform/event.h"

namespace kqfw::test {
namespace {

constexpr int32_t kColour = 0, kMono = 1;
constexpr uint32_t kW = 128, kH = 64;

class ColourInterpolation : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        exactBench(0.01);
        openFramed(kColour, kW, kH, 10000);
        ASSERT_EQ(IxenmInit(kMono), 0u);
    }
    static int32_t choice(int32_t camera) {
        int32_t method = -1;
        EXPECT_EQ(kqfwGetColourInterpolation(camera, &method), 0u);
        return method;
    }
    // The images of both methods, on the slide with noise off.
    void takeReferences() {
        ASSERT_EQ(kqfwSetColourInterpolation(kColour, KQFW_INTERPOLATION_LMMSE), 0u);
        lmmse_ = snap(kColour);
        ASSERT_EQ(kqfwSetColourInterpolation(kColour, KQFW_INTERPOLATION_CAMERA), 0u);
        blocks_ = snap(kColour);
        ASSERT_NE(lmmse_, blocks_);
    }
    std::vector<uint16_t> lmmse_, blocks_;
};

TEST_F(ColourInterpolation, TheChoiceIsPerCameraWithTheStatusesTheHeaderStates) {
    EXPECT_EQ(choice(kColour), KQFW_INTERPOLATION_CAMERA);
    EXPECT_EQ(choice(kMono), KQFW_INTERPOLATION_CAMERA);
    EXPECT_EQ(kqfwSetColourInterpolation(kColour, KQFW_INTERPOLATION_LMMSE), 0u);
    EXPECT_EQ(choice(kColour), KQFW_INTERPOLATION_LMMSE);
    EXPECT_EQ(choice(kMono), KQFW_INTERPOLATION_CAMERA);
    // Methods not listed leave the choice as it was.
    for (int32_t method : {-1, 2, 1000}) {
        EXPECT_EQ(kqfwSetColourInterpolation(kColour, method), uint32_t(KQFW_STATUS_BAD_ARGUMENT));
    }
    EXPECT_EQ(choice(kColour), KQFW_INTERPOLATION_LMMSE);
    // The monochrome model has no colour to interpolate, but may be told the default.
    EXPECT_EQ(kqfwSetColourInterpolation(kMono, KQFW_INTERPOLATION_LMMSE),
              uint32_t(KQFW_STATUS_BAD_ARGUMENT));
    EXPECT_EQ(kqfwSetColourInterpolation(kMono, KQFW_INTERPOLATION_CAMERA), 0u);
    EXPECT_EQ(kqfwGetColourInterpolation(kColour, nullptr), uint32_t(KQFW_STATUS_BAD_ARGUMENT));
    int32_t method = 5;
    for (int32_t camera : {-1, 2, 10}) {
        EXPECT_EQ(kqfwSetColourInterpolation(camera, KQFW_INTERPOLATION_CAMERA),
                  uint32_t(KQFW_STATUS_NO_CAMERA));
        EXPECT_EQ(kqfwGetColourInterpolation(camera, &method), uint32_t(KQFW_STATUS_NO_CAMERA));
    }
    EXPECT_EQ(method, 5);
    // A camera opened again starts from the default.
    IxenmClose(kColour);
    ASSERT_EQ(IxenmInit(kColour), 0u);
    EXPECT_EQ(choice(kColour), KQFW_INTERPOLATION_CAMERA);
}

TEST_F(ColourInterpolation, BackToTheDefaultTheCameraApisImageIsAsBefore) {
    const std::vector<uint16_t> before = snap(kColour);
    takeReferences();
    EXPECT_EQ(blocks_, before);
    for (uint16_t v : lmmse_) {
        ASSERT_LE(v, 16383);
    }
}

// A frame reads the choice once, under the settings it is processed with: whatever another
// thread does meanwhile, each image is one method's whole.
TEST_F(ColourInterpolation, ChangesFromAnotherThreadNeverMixTwoMethodsInAnImage) {
    takeReferences();
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    Event changing{true};
    std::thread toggler([&] {
        for (int32_t i = 0; !done; ++i) {
            EXPECT_EQ(kqfwSetColourInterpolation(kColour, i % 2), 0u);
            if (++changes == 50) {
                changing.set();
            }
        }
    });
    ASSERT_TRUE(changing.wait(kInfinite));
    for (int i = 0; i < 8; ++i) {
        const std::vector<uint16_t> image = snap(kColour);
        EXPECT_TRUE(image == lmmse_ || image == blocks_) << "image " << i << " mixes methods";
    }
    done = true;
    toggler.join();
}

TEST_F(ColourInterpolation, AFastSeriesFollowsAChangeMadeDuringItFromTheNextFrame) {
    takeReferences();
    ASSERT_EQ(kqfwSetColourInterpolation(kColour, KQFW_INTERPOLATION_LMMSE), 0u);
    ASSERT_EQ(IxenmStartFastAcquisition(kColour), 0);
    std::vector<uint16_t> image(kW * kH * 3);
    auto next = [&](uint32_t restart) { return nextFastImage(kColour, image, restart); };
    ASSERT_EQ(next(1), 1);
    EXPECT_EQ(image, lmmse_);
    ASSERT_EQ(kqfwSetColourInterpolation(kColour, KQFW_INTERPOLATION_CAMERA), 0u);
    ASSERT_EQ(next(0), 1);
    EXPECT_EQ(image, blocks_);
}

int32_t changeInCallback(uint16_t* frame, uint32_t, int32_t, uint64_t, uint64_t user) {
    auto* seen = reinterpret_cast<Event*>(user);
    if (frame != nullptr) {
        EXPECT_EQ(kqfwSetColourInterpolation(kColour, KQFW_INTERPOLATION_LMMSE), 0u);
        seen->set();
        return 0;  // one frame is enough
    }
    return 0;
}

TEST_F(ColourInterpolation, AContinuousRunsCallbackMayChangeIt) {
    Event seen{true};
    ASSERT_EQ(startRun(kColour, changeInCallback, reinterpret_cast<uintptr_t>(&seen)), 0);
    ASSERT_TRUE(seen.wait(kInfinite));
    EXPECT_EQ(choice(kColour), KQFW_INTERPOLATION_LMMSE);
    EXPECT_EQ(IxenmStopContinuousAcquisition(kColour), 0u);
}

}  // namespace
}  // namespace kqfw::test
