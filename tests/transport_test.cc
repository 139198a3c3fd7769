#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backends/driver_backends.h"
#include "backends/interface_class.h"
#include "fake_driver.h"
#include "platform/environment.h"
#include "sim/sim_driver.h"
#include "transport/async_request.h"
#include "transport/discovery.h"
#include "transport/driver_requests.h"
#include "transport/ioctl_codes.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {
namespace {

using test::FakeDriver;
using test::ScopedDriver;

constexpr uint32_t kAdvanced = 0xF2F00000;

const std::string kClassTail = "#{5d3a7c41-92e6-4f0b-8b1d-3e6a0c94f257}";

DeviceLink linkTo(bool mono = false) {
    DeviceLink link;
    link.deviceHandle = 1;
    link.busNumber = 0x3FF;
    link.nodeNumber = 2;
    link.advancedBase = kAdvanced;
    link.isMono = mono;
    return link;
}

// The library's requests go to a scripted driver for the life of each test.
class Faked : public ::testing::Test {
  protected:
    // The (address, value) of every quadlet write, in order.
    std::vector<std::pair<uint32_t, uint32_t>> writes() const {
        std::vector<std::pair<uint32_t, uint32_t>> w;
        for (const auto& r : fake.ofCode(kIoctlAsyncWrite)) {
            w.emplace_back(loadLe32(r.input.data() + 16), loadBe32(r.input.data() + 36));
        }
        return w;
    }
    FakeDriver fake;
    ScopedDriver scoped{fake};
};
using AsyncRequest = Faked;
using RegisterAccess = Faked;
using Flash = Faked;
using Selection = Faked;

TEST(DriverBackends, TheCameraClassParsesAndMalformedClassesDoNot) {
    InterfaceClass parsed;
    ASSERT_TRUE(parseInterfaceClass(kCameraInterfaceClass, &parsed));
    EXPECT_EQ(parsed.data1, 0x5d3a7c41u);
    EXPECT_EQ(parsed.data2, 0x92e6u);
    EXPECT_EQ(parsed.data3, 0x4f0bu);
    const uint8_t data4[8] = {0x8b, 0x1d, 0x3e, 0x6a, 0x0c, 0x94, 0xf2, 0x57};
    EXPECT_EQ(std::memcmp(parsed.data4, data4, 8), 0);
    ASSERT_TRUE(parseInterfaceClass("{5D3A7C41-92E6-4F0B-8B1D-3E6A0C94F257}", &parsed));
    for (const char* bad :
         {"", "5d3a7c41-92e6-4f0b-8b1d-3e6a0c94f257", "{5d3a7c41-92e6-4f0b-8b1d-3e6a0c94f25}",
          "{5d3a7c41+92e6-4f0b-8b1d-3e6a0c94f257}", "{5d3a7c4g-92e6-4f0b-8b1d-3e6a0c94f257}"}) {
        EXPECT_FALSE(parseInterfaceClass(bad, &parsed)) << bad;
    }
}

TEST(DriverBackends, TheOperatingSystemsDriverComesFirstUnlessTheBenchIsAskedFor) {
    DriverPort* chosen = composeDriver();
    ASSERT_NE(chosen, nullptr);
    // Builds other than Windows have no operating-system driver.
    if (win32DriverInstance() == nullptr || environmentValue("KQFW_DRIVER") == "sim") {
        EXPECT_EQ(chosen, simDriverInstance());
    } else {
        EXPECT_EQ(chosen, win32DriverInstance());
    }
}

TEST_F(AsyncRequest, QuadletWriteCarriesItsHeaderAndBigEndianData) {
    ASSERT_EQ(writeQuadlet(linkTo(), 0xF0F00820, 0x12345678), 0u);
    ASSERT_EQ(fake.requests.size(), 1u);
    const auto& r = fake.requests[0];
    EXPECT_EQ(r.code, kIoctlAsyncWrite);
    ASSERT_EQ(r.input.size(), 44u);
    const uint8_t* b = r.input.data();
    EXPECT_EQ(loadLe32(b + 0), 0u);
    EXPECT_EQ(loadLe32(b + 4), 1u);
    EXPECT_EQ(loadLe16(b + 8), (0x3FF << 6) | 2);
    EXPECT_EQ(loadLe16(b + 12), 0xFFFF);
    EXPECT_EQ(loadLe32(b + 16), 0xF0F00820u);
    EXPECT_EQ(loadLe32(b + 20), 4u);
    EXPECT_EQ(loadLe32(b + 24), 0u);
    EXPECT_EQ(std::vector<uint8_t>(b + 36, b + 40), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
}

TEST_F(AsyncRequest, BlockReadAsksFor128BytesAndCopiesThemUnchanged) {
    fake.registers[0x1000] = 0xA1B2C3D4;
    uint8_t block[128];
    ASSERT_EQ(readBlock(linkTo(), 0x1000, block), 0u);
    ASSERT_EQ(fake.requests[0].input.size(), 168u);
    EXPECT_EQ(loadLe32(fake.requests[0].input.data() + 20), 128u);
    EXPECT_EQ(loadLe32(fake.requests[0].input.data() + 24), 128u);
    EXPECT_EQ(block[0], 0xA1);
    EXPECT_EQ(block[3], 0xD4);
}

TEST(DriverRequests, AReceiveRingIsTakenOnlyWhenItsSizeAgreesWithItsSlotsAndFits) {
    uint8_t in[kAttachBytes] = {};
    auto ring = [&](uint32_t count, uint32_t total, uint32_t frameBytes, uint64_t bufferBytes) {
        storeLe32(in + 8, count);
        storeLe32(in + 12, total);
        storeLe32(in + 28, frameBytes);
        AttachRequest ask;
        EXPECT_EQ(readAttach({in, kAttachBytes}, &ask), 0u);
        return ask.fits(bufferBytes);
    };
    EXPECT_TRUE(ring(1, 100, 100, 100));
    EXPECT_TRUE(ring(5, 4 * 8192 + 5000, 5000, 1 << 20));
    EXPECT_FALSE(ring(5, 4 * 8192 + 5000, 5000, 4 * 8192 + 4999));  // does not fit
    EXPECT_FALSE(ring(5, 4 * 5000 + 5000, 5000, 1 << 20));          // slots not on pages
    // Sizes whose 32-bit sums wrap to a small ring: the drivers would write 2 GB into it.
    EXPECT_FALSE(ring(2, 0, 0x80000000u, 1 << 20));
    EXPECT_FALSE(ring(1, 0xFFFFF001u, 0xFFFFF001u, ~uint64_t{0}));
    EXPECT_FALSE(ring(0, 100, 100, 100));
    AttachRequest ask;
    EXPECT_EQ(readAttach({in, kAttachBytes - 1}, &ask), kErrorInsufficientBuffer);
}

TEST_F(RegisterAccess, ReadsTryThreeTimesAndReturnTheLastError) {
    fake.registers[0x2000] = 7;
    uint32_t value = 0;
    fake.failNext = 2;
    EXPECT_EQ(readQuadlet(linkTo(), 0x2000, &value), 0u);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(fake.requests.size(), 3u);

    fake.requests.clear();
    fake.failNext = 3;
    fake.failError = 121;
    EXPECT_EQ(readQuadlet(linkTo(), 0x2000, &value), 121u);
    EXPECT_EQ(fake.requests.size(), 3u);
}

TEST_F(RegisterAccess, InvalidHandleFailsWithoutReachingTheDriver) {
    DeviceLink link = linkTo();
    link.deviceHandle = kInvalidDeviceHandle;
    uint32_t value = 0;
    EXPECT_EQ(readQuadlet(link, 0x2000, &value), kErrorInvalidHandle);
    EXPECT_TRUE(fake.requests.empty());
}

TEST_F(RegisterAccess, FailedWriteToALockedBlockUnlocksBeforeTryingAgain) {
    fake.registers[kAdvanced] = 0xFFFFFFFF;
    fake.failNext = 1;
    ASSERT_EQ(writeQuadlet(linkTo(true), kAdvanced + 0x1C, 0x30000000), 0u);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {kAdvanced + 0x1C, 0x30000000},
        {kAdvanced + 0x00, kAccessCode},
        {kAdvanced + 0x04, kAccessMaskMono},
        {kAdvanced + 0x1C, 0x30000000}};
    EXPECT_EQ(writes(), expected);
}

TEST_F(RegisterAccess, FailedWriteToAnOpenBlockRetriesWithoutUnlocking) {
    fake.registers[kAdvanced] = kAccessCode;
    fake.failWritesTo = 0x3000;
    EXPECT_EQ(writeQuadlet(linkTo(), 0x3000, 1), 31u);
    EXPECT_EQ(fake.ofCode(kIoctlAsyncWrite).size(), 3u);
}

TEST_F(RegisterAccess, AccessRegisterThatRefusesWritesDoesNotRecurse) {
    fake.registers[kAdvanced] = 0xFFFFFFFF;
    fake.failNext = 1000;
    EXPECT_NE(writeQuadlet(linkTo(), kAdvanced + 0x18, 1), 0u);
    EXPECT_LT(fake.requests.size(), 30u);
}

TEST_F(Flash, WritesOnlyWholeBlocks) {
    std::vector<uint8_t> data(300, 0x5A);
    ASSERT_EQ(writeFlash(linkTo(), 0x1000, 300, data.data()), 0u);
    std::vector<uint32_t> commands;
    for (auto [address, value] : writes()) {
        if (address == kAdvanced + kAdvFlashControl) {
            commands.push_back(value);
        }
    }
    EXPECT_EQ(commands, (std::vector<uint32_t>{0x88001000, 0x88001080}));
    // Unlock, two windows with their commands, and the lock at the end.
    EXPECT_EQ(writes().back().second, kAccessLock);
}

TEST_F(Flash, ErrorBitEndsTheOperationWithBadArgumentAndLocks) {
    fake.flashError = true;
    uint8_t block[128];
    EXPECT_EQ(readFlashBlock(linkTo(), 0, block, kFlashReadCommand), 8u);
    EXPECT_EQ(writes().back().second, kAccessLock);
}

TEST_F(Flash, FailedUnlockIsAReadFailureAndFailedCommandAWriteFailure) {
    uint8_t block[128];
    fake.failWritesTo = kAdvanced + kAdvAccessMask;
    EXPECT_EQ(readFlashBlock(linkTo(), 0, block, kFlashReadCommand), 20u);
    fake.failWritesTo = kAdvanced + kAdvFlashControl;
    EXPECT_EQ(readFlashBlock(linkTo(), 0, block, kFlashReadCommand), 27u);
}

// The instance segment is padded to fifteen and its pairs reordered; one of sixteen characters
// or more, or a path of fewer than three '#', has no key and the full path decides.
TEST(SortKey, ReordersThePaddedInstanceSegmentAndFallsBackToTheFullPath) {
    // P = "000abcdefghijkl", K = "000abcd0ef", its pairs reversed.
    EXPECT_EQ(sortKey("x#y#abcdefghijkl#z"), "efd0bc0a00");
    // P = "000000123456789", K = "0000001023".
    EXPECT_EQ(sortKey("x#y#123456789#z"), "2310000000");
    EXPECT_EQ(sortKey("x#y#42#z"), "0000000000");
    EXPECT_EQ(sortKey("x#y#0123456789abcdef#z"), "");
    EXPECT_EQ(sortKey("x#y#abc"), "");
    // The last six characters are not in the key.
    EXPECT_EQ(comparePaths("a#b#000000000111111#c", "z#b#000000000222222#c"), 0);
    EXPECT_NE(comparePaths("a#b#000000001111111#c", "a#b#000000002111111#c"), 0);
    EXPECT_LT(comparePaths("a#x#0123456789abcdefg#c", "b#x#123456789#c"), 0);
    EXPECT_GT(comparePaths("b#x#123456789#c", "a#x#0123456789abcdefg#c"), 0);
}

TEST_F(Selection, CountsBothModelsInSortedOrderAndSkipsOtherDevices) {
    // Nine-character segments are keyed by their first three characters.
    const std::string mono = std::string(kMonoPrefix) + "200000000" + kClassTail;
    const std::string colour = std::string(kColourPrefix) + "100000000" + kClassTail;
    const std::string other = "\\\\?\\1394#somebody&scanner#000000000" + kClassTail;
    fake.paths = {mono, other, colour};
    std::string path;
    EXPECT_EQ(selectCamera(0, &path), 2u);
    EXPECT_EQ(path, colour);
    EXPECT_EQ(selectCamera(1, &path), 2u);
    EXPECT_EQ(path, mono);
    path.clear();
    EXPECT_EQ(selectCamera(2, &path), 2u);
    EXPECT_TRUE(path.empty());
}

TEST_F(Selection, SkipsInterfacesBeyondTenAndOverlongPaths) {
    fake.paths.push_back(std::string(kColourPrefix) + std::string(250, '1') + kClassTail);
    for (int i = 0; i < 12; ++i) {
        fake.paths.push_back(std::string(kColourPrefix) + "00000000" + std::to_string(i % 10) +
                             std::to_string(i) + kClassTail);
    }
    EXPECT_EQ(listCameras().size(), 10u);
    EXPECT_EQ(selectCamera(0, nullptr), 10u);
}

}  // namespace
}  // namespace kqfw
