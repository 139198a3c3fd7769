#pragma once

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"
#include "platform/clock.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

// The record of an open camera, for tests that look inside it from one thread.
inline CameraContext* cameraAt(int32_t index) {
    return CameraLease(index).get();
}

}  // namespace kqfw

namespace kqfw::test {

// Whether a driver request reaches the bench, where tests count and fail it. The end-to-end
// suite runs a second time on the Linux backend over the simulated nodes (KQFW_DRIVER=
// linux-sim): there only transactions and the isochronous allocations cross the kernel's
// interface; the backend keeps the other requests itself, and nothing can fail them.
inline bool overKernelNodes() {
    const char* driver = std::getenv("KQFW_DRIVER");
    return driver != nullptr && std::string(driver) == "linux-sim";
}
inline bool benchSeesRequest(uint32_t code) {
    return !overKernelNodes() || code == kIoctlAsyncRead || code == kIoctlAsyncWrite ||
           code == kIoctlIsochAllocateBandwidth || code == kIoctlIsochAllocateChannel;
}

// Every test starts on the default bench with no camera open and error reports captured, and
// ends with every camera closed and every driver handle given back.
class ApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kqsimResetDefault();
        IxenSetErrorMessages(1);
        kqfwSetMessageSink(
            [](const char* text, void* self) {
                auto* test = static_cast<ApiTest*>(self);
                std::lock_guard lock(test->messagesMutex_);
                test->messages_.push_back(text);
            },
            this);
    }
    void TearDown() override {
        IxenClose();
        EXPECT_EQ(kqsimOpenHandles(), 0u) << "a driver handle outlived its camera";
        kqfwSetMessageSink(nullptr, nullptr);
        kqsimResetDefault();
        setSettleScale(1);
    }

    // The exact and quick bench most acquisition tests want: no settle pauses (back at the
    // test's end), the bench at `timeScale` of real time, noise off on both cameras.
    static void exactBench(double timeScale) {
        setSettleScale(0);
        kqsimSetTimeScale(timeScale);
        kqsimSetNoise(0, 0);
        kqsimSetNoise(1, 0);
    }
    // Camera `camera` open, framed to w x h at the sensor's corner, exposing `exposureUs`.
    static void openFramed(int32_t camera, uint32_t w, uint32_t h, uint32_t exposureUs) {
        ASSERT_EQ(IxenmInit(camera), 0u);
        uint32_t frame[4] = {0, 0, w, h};
        ASSERT_EQ(IxenmSetFrameSize(camera, frame), 0u);
        ASSERT_EQ(IxenmSetExposure(camera, exposureUs), 0u);
    }

    std::vector<std::string> messages() {
        std::lock_guard lock(messagesMutex_);
        return messages_;
    }

    // A buffer the size of the camera's current image (three samples a pixel at depth 42),
    // filled with a value no image leaves everywhere.
    static std::vector<uint16_t> imageBuffer(int32_t camera) {
        uint32_t w = 0, h = 0;
        EXPECT_EQ(IxenmGetCurrentDataSize(camera, &w, &h), 0u);
        const size_t channels = IxenmGetCurrentBitsPerPixel(camera) == 42 ? 3 : 1;
        return std::vector<uint16_t>(size_t{w} * h * channels, 0xBEEF);
    }
    // The camera's image at its current settings; an acquisition that fails fails the test.
    static std::vector<uint16_t> snap(int32_t camera) {
        std::vector<uint16_t> image = imageBuffer(camera);
        EXPECT_EQ(IxenmAcquisition(camera, image.data(), uint32_t(image.size() * 2), nullptr), 0);
        return image;
    }

    // A continuous run started as an application starts one: the probe that registers
    // `onFrame`, then the start; the first failing status of the two.
    static int32_t startRun(int32_t camera, ContinuousFrameCallback onFrame, uint64_t user = 0) {
        IpContext* context = nullptr;
        uint32_t contextBytes = 0, frameBytes = 0;
        if (const uint32_t probed =
                IxenmGetIPInfo(camera, &context, &contextBytes, onFrame, &frameBytes)) {
            return int32_t(probed);
        }
        return IxenmStartContinuousAcquisition(camera, 0, user);
    }

    // Polls a fast series until it gives something other than "not yet".
    static int32_t nextFastImage(int32_t camera, std::vector<uint16_t>& image, uint32_t restart,
                                 uint32_t bytes = 0) {
        int32_t r = 0;
        while ((r = IxenmIsFastAcquisitionReady(
                    camera, image.data(), bytes ? bytes : uint32_t(image.size() * 2), restart)) ==
               0) {
            std::this_thread::yield();
        }
        return r;
    }

    static std::vector<uint32_t> info(int32_t camera) {
        std::vector<uint32_t> out(4, 0xDEADBEEF);
        EXPECT_EQ(IxenmInfo(camera, out.data()), 0u);
        return out;
    }

  private:
    std::mutex messagesMutex_;
    std::vector<std::string> messages_;
};

}  // namespace kqfw::test
