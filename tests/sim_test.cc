#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/thread.h"
#include "sim_fixture.h"
#include "transport/discovery.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {
namespace {

using test::SimBenchTest;
using SimDriver = SimBenchTest;
using SimFirmware = SimBenchTest;
using SimFlash = SimBenchTest;
using SimFaults = SimBenchTest;

constexpr uint32_t kCmd = 0xF0F00000;
constexpr uint32_t kAdv = 0xF2F00000;

TEST_F(SimDriver, ListsCamerasAndForeignDevicesButNotUnpluggedOnesOrOtherClasses) {
    auto paths = driver().listInterfaces(kCameraInterfaceClass);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_TRUE(isColourPath(paths[0]));
    EXPECT_TRUE(isMonoPath(paths[1]));
    EXPECT_NE(paths[0].find("#{5d3a7c41-92e6-4f0b-8b1d-3e6a0c94f257}"), std::string::npos);
    EXPECT_TRUE(driver().listInterfaces("{00000000-0000-0000-0000-000000000000}").empty());

    KqsimCameraConfig foreign;
    kqsimDefaultConfig(KQSIM_MODEL_FOREIGN, &foreign);
    foreign.uniqueIdLow = 0x99;
    ASSERT_EQ(kqsimAddCamera(&foreign), 2);
    ASSERT_EQ(kqsimUnplug(0), 0);
    paths = driver().listInterfaces(kCameraInterfaceClass);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_TRUE(isMonoPath(paths[0]));
    EXPECT_FALSE(isColourPath(paths[1]) || isMonoPath(paths[1]));
}

TEST_F(SimDriver, UnpluggedCameraCannotBeOpenedAndItsHandlesFail) {
    DeviceLink link = linkTo(0);
    const std::string path = pathOf(0);
    ASSERT_EQ(kqsimUnplug(0), 0);
    uint32_t error = 0;
    EXPECT_EQ(driver().open(path, false, &error), kInvalidDeviceHandle);
    EXPECT_EQ(error, kErrorFileNotFound);
    uint32_t value = 0;
    EXPECT_EQ(readQuadlet(link, kUniqueIdLow, &value), kErrorDeviceNotConnected);
}

TEST_F(SimDriver, MalformedRequestsFailLikeAKernelDriver) {
    DeviceLink link = linkTo(0);
    uint8_t buffer[200] = {};
    AsyncRequestFields f;
    f.nodeId = link.nodeId();
    f.offsetLow = kUniqueIdLow;
    f.byteCount = 4;
    encodeAsyncRequest(f, buffer);
    uint32_t returned = 0;
    auto send = [&](uint32_t code, uint32_t in, uint32_t out) {
        return driver().ioControl(link.deviceHandle, code, buffer, in, buffer, out, &returned);
    };
    EXPECT_EQ(send(kIoctlAsyncRead, 44, 44), 0u);
    EXPECT_EQ(loadBe32(buffer + 36), 0x0010014Au);
    EXPECT_EQ(send(kIoctlAsyncRead, 43, 44), kErrorInsufficientBuffer);
    EXPECT_EQ(send(kIoctlAsyncRead, 44, 20), kErrorInsufficientBuffer);
    EXPECT_EQ(send(0x222FF0, 44, 44), kErrorInvalidFunction);
    f.byteCount = 8;
    encodeAsyncRequest(f, buffer);
    EXPECT_EQ(send(kIoctlAsyncRead, 48, 48), kErrorInvalidParameter);
    f.byteCount = 4;
    f.offsetLow = 0xF1000000;  // nothing lives there
    encodeAsyncRequest(f, buffer);
    EXPECT_NE(send(kIoctlAsyncRead, 44, 44), 0u);
    f.offsetLow = kUniqueIdLow;
    f.nodeId = static_cast<uint16_t>(link.nodeId() + 5);  // no such node
    encodeAsyncRequest(f, buffer);
    EXPECT_NE(send(kIoctlAsyncRead, 44, 44), 0u);
    EXPECT_EQ(driver().ioControl(0x7777, kIoctlAsyncRead, buffer, 44, buffer, 44, &returned),
              kErrorInvalidHandle);
}

TEST_F(SimFirmware, ResetRestoresPowerUpRegisters) {
    DeviceLink link = linkTo(0);
    uint32_t gain = 0;
    ASSERT_EQ(readQuadlet(link, kCmd + kCmdGain, &gain), 0u);
    ASSERT_EQ(writeQuadlet(link, kCmd + kCmdGain, 0x02000123), 0u);
    ASSERT_EQ(writeQuadlet(link, kCmd + kCmdInitialize, kResetToDefaults), 0u);
    uint32_t after = 0;
    ASSERT_EQ(readQuadlet(link, kCmd + kCmdGain, &after), 0u);
    EXPECT_EQ(after, gain);
}

TEST_F(SimFirmware, VendorBlockIsLockedUntilCodeAndModelMaskArrive) {
    DeviceLink link = linkTo(1);
    uint32_t access = 0;
    ASSERT_EQ(readQuadlet(link, kAdv + kAdvAccessCode, &access), 0u);
    EXPECT_EQ(access >> 16, 0xFFFFu);
    // Locked: protected writes fail, even after the retries and their own unlock attempts.
    DeviceLink noRetry = link;
    noRetry.isMono = 0;  // the colour mask does not open a mono camera
    EXPECT_NE(writeQuadlet(noRetry, kAdv + kAdvShutterOutput1, 1), 0u);
    unlockAdvancedRegisters(noRetry);
    ASSERT_EQ(readQuadlet(link, kAdv + kAdvAccessCode, &access), 0u);
    EXPECT_EQ(access >> 16, 0xFFFFu);

    ASSERT_EQ(unlockAdvancedRegisters(link), 0u);
    ASSERT_EQ(readQuadlet(link, kAdv + kAdvAccessCode, &access), 0u);
    EXPECT_NE(access >> 16, 0xFFFFu);
    EXPECT_EQ(writeQuadlet(link, kAdv + kAdvShutterOutput1, 0x30000000), 0u);
    uint32_t stored = 0;
    ASSERT_EQ(kqsimPeekRegister(1, kAdv + kAdvShutterOutput1, &stored), 0);
    EXPECT_EQ(stored, 0x30000000u);

    lockAdvancedRegisters(link);
    ASSERT_EQ(readQuadlet(link, kAdv + kAdvAccessCode, &access), 0u);
    EXPECT_EQ(access >> 16, 0xFFFFu);
}

TEST_F(SimFirmware, WriteLogRecordsAcceptedWritesAndKeepsTheNewest) {
    DeviceLink link = linkTo(0);
    kqsimClearWriteLog(0);
    ASSERT_EQ(writeQuadlet(link, kCmd + kCmdGain, 0x02000055), 0u);
    kqsimFailRegister(0, kCmd + kCmdTriggerMode, KQSIM_WRITE, 31);
    EXPECT_EQ(writeQuadlet(link, kCmd + kCmdTriggerMode, 1), 31u);
    // The refused write's retries re-open the locked vendor block; the write itself never lands.
    KqsimRegisterWrite log[4];
    ASSERT_EQ(kqsimWriteLog(0, log, 4), 3);
    EXPECT_EQ(log[0].address, kCmd + kCmdGain);
    EXPECT_EQ(log[0].value, 0x02000055u);
    EXPECT_EQ(log[1].address, kAdv + kAdvAccessCode);
    EXPECT_EQ(log[2].address, kAdv + kAdvAccessMask);
    EXPECT_EQ(kqsimWriteLogDropped(0), 0);
    EXPECT_EQ(kqsimWriteLogDropped(7), -1);

    // A full log keeps the newest writes and counts the others.
    kqsimClearWriteLog(0);
    const uint32_t total = KQSIM_WRITE_LOG_CAPACITY + 5;
    for (uint32_t i = 0; i < total; ++i) {
        ASSERT_EQ(writeQuadlet(link, kCmd + kCmdGain, i), 0u);
    }
    std::vector<KqsimRegisterWrite> full(KQSIM_WRITE_LOG_CAPACITY);
    ASSERT_EQ(kqsimWriteLog(0, full.data(), uint32_t(full.size())), KQSIM_WRITE_LOG_CAPACITY);
    EXPECT_EQ(kqsimWriteLogDropped(0), 5);
    EXPECT_EQ(full.front().value, 5u);
    EXPECT_EQ(full.back().value, total - 1);
}

TEST_F(SimFlash, WriteThenReadRoundTripsThroughTheWindow) {
    DeviceLink link = linkTo(0);
    std::vector<uint8_t> data(256);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    ASSERT_EQ(writeFlash(link, 0x1D500, 256, data.data()), 0u);
    std::vector<uint8_t> stored(256);
    ASSERT_EQ(kqsimReadFlash(0, 0x1D500, stored.data(), 256), 0);
    EXPECT_EQ(stored, data);
    uint8_t block[128];
    ASSERT_EQ(readFlashBlock(link, 384, block, kFlashReadCommand), 0u);
    EXPECT_TRUE(std::equal(block, block + 128, data.begin() + 128));
    // The alternate read command reads the factory copy, untouched by the write.
    ASSERT_EQ(readFlashBlock(link, 256, block, kFlashAltReadCommand), 0u);
    EXPECT_FALSE(std::equal(block, block + 128, data.begin()));
}

TEST_F(SimFlash, ControllerIsBusyForAMomentAndItsErrorBitFailsTheOperation) {
    DeviceLink link = linkTo(0);
    ASSERT_EQ(unlockAdvancedRegisters(link), 0u);
    ASSERT_EQ(writeQuadlet(link, kAdv + kAdvFlashControl, kFlashReadCommand + 0x1D400), 0u);
    uint32_t control = 0;
    ASSERT_EQ(readQuadlet(link, kAdv + kAdvFlashControl, &control), 0u);
    EXPECT_TRUE(control & kFlashReadBusy);
    do {
        ASSERT_EQ(readQuadlet(link, kAdv + kAdvFlashControl, &control), 0u);
    } while (control & kFlashReadBusy);
    EXPECT_FALSE(control & kFlashError);

    ASSERT_EQ(kqsimSetFlashError(0, 1), 0);
    uint8_t block[128];
    EXPECT_EQ(readFlashBlock(link, 0, block, kFlashReadCommand), 8u);
    std::vector<uint8_t> data(128, 1);
    EXPECT_EQ(writeFlash(link, 0x1D500, 128, data.data()), 8u);
}

TEST_F(SimFaults, NthRequestOfACodeFailsOnceEveryRequestFailsAlways) {
    DeviceLink link = linkTo(0);
    uint32_t value = 0;
    uint8_t raw[44] = {};
    AsyncRequestFields f;
    f.nodeId = link.nodeId();
    f.offsetLow = kUniqueIdLow;
    f.byteCount = 4;
    uint32_t returned = 0;
    auto readOnce = [&] {
        encodeAsyncRequest(f, raw);
        return driver().ioControl(link.deviceHandle, kIoctlAsyncRead, raw, 44, raw, 44, &returned);
    };
    kqsimFailRequest(kIoctlAsyncRead, 2, 1234);
    EXPECT_EQ(readOnce(), 0u);
    EXPECT_EQ(readOnce(), 1234u);
    EXPECT_EQ(readOnce(), 0u);
    kqsimFailRequest(kIoctlAsyncRead, 0, 55);
    EXPECT_EQ(readQuadlet(link, kUniqueIdLow, &value), 55u);
    kqsimClearFaults();
    EXPECT_EQ(readQuadlet(link, kUniqueIdLow, &value), 0u);
}

TEST_F(SimFaults, RegisterFaultHitsOnlyItsAccessKind) {
    DeviceLink link = linkTo(0);
    ASSERT_EQ(kqsimFailRegister(0, kCmd + kCmdGain, KQSIM_READ, 77), 0);
    uint32_t value = 0;
    EXPECT_EQ(readQuadlet(link, kCmd + kCmdGain, &value), 77u);
    EXPECT_EQ(writeQuadlet(link, kCmd + kCmdGain, 0x02000001), 0u);
    EXPECT_EQ(kqsimFailRegister(9, kCmd, KQSIM_READ, 1), -1);
}

TEST_F(SimDriver, MapsTwoBuffersOfTheAskedSizesAndReleasesThem) {
    DeviceLink link = linkTo(0);
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(mapSharedBuffers(link, 1000, 300, &a, &b), 0u);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(a, 1, 1000);  // the sanitizers hold us to the sizes
    std::memset(b, 2, 300);
    void* none[2];
    EXPECT_EQ(mapSharedBuffers(link, 0, 0, &none[0], &none[1]), 0u);
    EXPECT_EQ(none[0], nullptr);
    kqsimFailRequest(kIoctlMapBuffers, 1, kErrorNotEnoughMemory);
    EXPECT_EQ(mapSharedBuffers(link, 1000, 300, &a, &b), 7u);
}

TEST_F(SimDriver, HandlesServeSeveralThreadsAtOnce) {
    DeviceLink colour = linkTo(0);
    DeviceLink mono = linkTo(1);
    std::atomic<int> failures{0};
    auto hammer = [&](const DeviceLink& link, uint32_t expected) {
        for (int i = 0; i < 200; ++i) {
            uint32_t value = 0;
            if (readQuadlet(link, kUniqueIdLow, &value) != 0 || value != expected) {
                ++failures;
            }
        }
    };
    Thread a, b;
    ASSERT_TRUE(a.start([&] { hammer(colour, 0x0010014A); }));
    ASSERT_TRUE(b.start([&] { hammer(mono, 0x0010027B); }));
    a.join();
    b.join();
    EXPECT_EQ(failures, 0);
}

TEST_F(SimDriver, BenchRejectsRecordsThatDoNotFitTheFlash) {
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &config);
    config.blemishCount = 40000;
    EXPECT_EQ(kqsimAddCamera(&config), -1);
    config.blemishCount = 5;
    config.blemishPositions = nullptr;
    EXPECT_EQ(kqsimAddCamera(&config), -1);
    EXPECT_EQ(kqsimAddCamera(nullptr), -1);
}

}  // namespace
}  // namespace kqfw
