#include "platform/event.h"
#include "sim_fixture.h"

namespace kqfw {
namespace {

using SimBusReset = test::SimBenchTest;

TEST_F(SimBusReset, EachResetCompletesThePendingRequestOnce) {
    DeviceHandle h = openHandle(0, true);
    Event done(true);
    ASSERT_EQ(driver().ioControlOverlapped(h, kIoctlBusResetNotify, &done), kErrorIoPending);
    EXPECT_FALSE(done.wait(0));
    kqsimBusReset();
    ASSERT_TRUE(done.wait(1000));
    EXPECT_EQ(driver().overlappedResult(h), 0u);

    // Nothing pending: a reset now is not remembered for the next request.
    kqsimBusReset();
    done.reset();
    ASSERT_EQ(driver().ioControlOverlapped(h, kIoctlBusResetNotify, &done), kErrorIoPending);
    EXPECT_FALSE(done.wait(20));
    kqsimBusReset();
    EXPECT_TRUE(done.wait(1000));
    EXPECT_EQ(kqsimRequestCount(kIoctlBusResetNotify), 2u);
}

TEST_F(SimBusReset, CancelAndCloseEndAPendingRequest) {
    DeviceHandle h = openHandle(1, true);
    Event done(true);
    ASSERT_EQ(driver().ioControlOverlapped(h, kIoctlBusResetNotify, &done), kErrorIoPending);
    EXPECT_EQ(driver().overlappedResult(h), kErrorIoPending);
    EXPECT_EQ(driver().cancelIo(h), 0u);
    ASSERT_TRUE(done.wait(0));
    EXPECT_EQ(driver().overlappedResult(h), kErrorOperationAborted);

    uint32_t error = 0;
    DeviceHandle second = driver().open(pathOf(1), true, &error);
    Event closed(true);
    ASSERT_EQ(driver().ioControlOverlapped(second, kIoctlBusResetNotify, &closed), kErrorIoPending);
    driver().close(second);
    EXPECT_TRUE(closed.wait(0));
}

TEST_F(SimBusReset, OnlyOverlappedHandlesMayWaitForResets) {
    DeviceHandle plain = openHandle(0, false);
    Event done(true);
    EXPECT_EQ(driver().ioControlOverlapped(plain, kIoctlBusResetNotify, &done),
              kErrorInvalidParameter);
    uint32_t returned = 0;
    EXPECT_NE(driver().ioControl(plain, kIoctlBusResetNotify, nullptr, 0, nullptr, 0, &returned),
              0u);
}

TEST_F(SimBusReset, UnplugFailsTheLeaversRequestAndResetsTheOthers) {
    DeviceHandle leaver = openHandle(0, true);
    DeviceHandle stayer = openHandle(1, true);
    Event leaverDone(true), stayerDone(true);
    ASSERT_EQ(driver().ioControlOverlapped(leaver, kIoctlBusResetNotify, &leaverDone),
              kErrorIoPending);
    ASSERT_EQ(driver().ioControlOverlapped(stayer, kIoctlBusResetNotify, &stayerDone),
              kErrorIoPending);
    ASSERT_EQ(kqsimUnplug(0), 0);
    ASSERT_TRUE(leaverDone.wait(0));
    ASSERT_TRUE(stayerDone.wait(0));
    EXPECT_EQ(driver().overlappedResult(leaver), kErrorDeviceNotConnected);
    EXPECT_EQ(driver().overlappedResult(stayer), 0u);
    EXPECT_EQ(driver().ioControlOverlapped(leaver, kIoctlBusResetNotify, &leaverDone),
              kErrorDeviceNotConnected);
}

}  // namespace
}  // namespace kqfw
