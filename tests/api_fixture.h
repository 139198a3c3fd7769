#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"

namespace kqfw {

// The record of an open camera, for tests that look inside it from one thread.
inline CameraContext* cameraAt(int32_t index) {
    return CameraLease(index).get();
}

}  // namespace kqfw

namespace kqfw::test {

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
    }

    std::vector<std::string> messages() {
        std::lock_guard lock(messagesMutex_);
        return messages_;
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
