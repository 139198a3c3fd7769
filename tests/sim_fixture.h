#pragma once

#include <string>

#include <gtest/gtest.h>

#include "kqfw/kqsim.h"
#include "transport/async_request.h"
#include "transport/device_link.h"
#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {

// A fresh default bench for each test, talked to through the driver seam.
class SimBenchTest : public ::testing::Test {
  protected:
    void SetUp() override { kqsimResetDefault(); }
    void TearDown() override {
        for (DeviceHandle h : opened_) {
            driver().close(h);
        }
        kqsimResetDefault();
    }

    std::string pathOf(int32_t camera) {
        char path[512];
        EXPECT_EQ(kqsimDevicePath(camera, path, sizeof path), 0);
        return path;
    }

    DeviceHandle openHandle(int32_t camera, bool overlapped = false) {
        uint32_t error = 0;
        DeviceHandle h = driver().open(pathOf(camera), overlapped, &error);
        EXPECT_NE(h, kInvalidDeviceHandle) << "error " << error;
        opened_.push_back(h);
        return h;
    }

    // A link to a camera as opening one builds it: the node from the driver, the sim's bases.
    DeviceLink linkTo(int32_t camera) {
        DeviceLink link;
        link.deviceHandle = openHandle(camera);
        uint8_t node[8] = {};
        uint32_t returned = 0;
        EXPECT_EQ(driver().ioControl(link.deviceHandle, kIoctlGetNodeAddress, node, 8, node, 8,
                                     &returned),
                  0u);
        const uint16_t address = loadLe16(node + 4);
        link.busNumber = address >> 6;
        link.nodeNumber = address & 0x3F;
        link.commandBase = 0xF0F00000;
        link.advancedBase = 0xF2F00000;
        link.isMono = camera == 1;
        return link;
    }

  private:
    std::vector<DeviceHandle> opened_;
};

}  // namespace kqfw::test
