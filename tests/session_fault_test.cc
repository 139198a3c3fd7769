#include <cstring>
#include <ostream>

#include "api_fixture.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "transport/async_request.h"
#include "transport/ioctl_codes.h"
#ifdef __linux__
#include "sim/sim_fw_node.h"
#endif

namespace kqfw {
namespace {

constexpr uint32_t kCmd = 0xF0F00000;
constexpr uint32_t kCsr0 = 0xF0F08000;
constexpr uint32_t kAdv = 0xF2F00000;

struct OpeningFault {
    const char* name;
    uint32_t address;
    uint32_t access;
    StatusCode status;
    bool reported;  // the failures of locating and describing the camera are reported
};

void PrintTo(const OpeningFault& f, std::ostream* os) {
    *os << f.name << " (address 0x" << std::hex << f.address << std::dec << ", status " << f.status
        << ")";
}

class SessionFault : public test::ApiTest, public ::testing::WithParamInterface<OpeningFault> {};

TEST_P(SessionFault, FailingAccessGivesItsStatusLeavesTheSlotEmptyAndTheCameraOpenable) {
    const OpeningFault& fault = GetParam();
    ASSERT_EQ(kqsimFailRegister(0, fault.address, fault.access, 31), 0);
    EXPECT_EQ(IxenmInit(4), fault.status);
    EXPECT_EQ(cameraAt(4), nullptr);
    EXPECT_EQ(kqsimOpenHandles(), 0u);
    const auto reports = messages();
    if (fault.reported) {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0], "(4)Init error " + std::to_string(fault.status));
    } else {
        EXPECT_TRUE(reports.empty());
    }
    kqsimClearFaults();
    ASSERT_EQ(IxenmInit(4), 0u);
    EXPECT_EQ(info(4)[2], 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStepOfOpening, SessionFault,
    ::testing::Values(OpeningFault{"RomRoot", 0xF0000424, KQSIM_READ, 20, true},
                      OpeningFault{"RomUnitDirectory", 0xF000044C, KQSIM_READ, 20, true},
                      OpeningFault{"VendorOffset", kCmd + 0x480, KQSIM_READ, 20, true},
                      OpeningFault{"ResetWrite", kCmd + 0x000, KQSIM_WRITE, 27, true},
                      OpeningFault{"ModeMask", kCmd + 0x19C, KQSIM_READ, 20, true},
                      OpeningFault{"ModeOffset", kCmd + 0x2E0, KQSIM_READ, 20, true},
                      OpeningFault{"ModeMaxSize", kCsr0 + 0x00, KQSIM_READ, 20, true},
                      OpeningFault{"ModeUnitSize", kCsr0 + 0x04, KQSIM_READ, 20, true},
                      OpeningFault{"ModeTotalBytes", kCsr0 + 0x3C, KQSIM_READ, 20, true},
                      OpeningFault{"ModeBytesPerPacket", kCsr0 + 0x44, KQSIM_READ, 20, true},
                      OpeningFault{"ModePacketsPerFrame", kCsr0 + 0x48, KQSIM_READ, 20, true},
                      OpeningFault{"ModeUnitPosition", kCsr0 + 0x4C, KQSIM_READ, 20, true},
                      OpeningFault{"ModeVendorSize", kAdv + 0x10C, KQSIM_READ, 20, true},
                      OpeningFault{"ModeCapabilities", kCsr0 + 0x24, KQSIM_READ, 20, true},
                      OpeningFault{"FirmwareVersion", kAdv + 0x0C, KQSIM_READ, 20, false},
                      OpeningFault{"FlashUnlock", kAdv + 0x04, KQSIM_WRITE, 20, false},
                      OpeningFault{"FlashCommand", kAdv + 0x70, KQSIM_WRITE, 27, false},
                      OpeningFault{"FlashPoll", kAdv + 0x70, KQSIM_READ, 20, false},
                      OpeningFault{"FlashWindow", kAdv + 0x80, KQSIM_READ, 20, false},
                      OpeningFault{"UniqueId", 0xF0000410, KQSIM_READ, 20, false},
                      OpeningFault{"Gain", kCmd + 0x820, KQSIM_READ, 20, false}),
    [](const ::testing::TestParamInfo<OpeningFault>& info) { return info.param.name; });

using SessionRequestFault = test::ApiTest;

TEST_F(SessionRequestFault, RefusedBufferMappingIsOutOfMemory) {
    if (!test::benchSeesRequest(kIoctlMapBuffers)) {
        GTEST_SKIP() << "the Linux backend keeps this request itself";
    }
    kqsimFailRequest(kIoctlMapBuffers, 1, 8);
    EXPECT_EQ(IxenmInit(0), 7u);
    EXPECT_EQ(cameraAt(0), nullptr);
    EXPECT_EQ(IxenmInit(0), 0u);
}

TEST_F(SessionRequestFault, UnansweredNodeAddressLeavesTheCameraUnreachable) {
    if (!test::benchSeesRequest(kIoctlGetNodeAddress)) {
        GTEST_SKIP() << "the Linux backend keeps this request itself";
    }
    kqsimFailRequest(kIoctlGetNodeAddress, 1, 31);
    EXPECT_EQ(IxenmInit(0), 20u);
    EXPECT_EQ(IxenmInit(0), 0u);
}

#ifdef __linux__
// A Linux user without the rights to a camera's node is told which rule gives them; the other
// cameras still open.
TEST_F(SessionRequestFault, ANodeWithoutAccessRightsNamesTheUdevRule) {
    if (!test::overKernelNodes()) {
        GTEST_SKIP() << "only the kernel's nodes have access rights";
    }
    simFwNodeDenyAccess(0, true);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(info(0)[1], 0x027Bu) << "the colour camera cannot be listed";
    ASSERT_FALSE(messages().empty());
    EXPECT_NE(messages()[0].find("cannot open /dev/fw"), std::string::npos) << messages()[0];
    EXPECT_NE(messages()[0].find("permission denied"), std::string::npos);
    EXPECT_NE(messages()[0].find("60-kqfw-cameras.rules"), std::string::npos);
    IxenmClose(0);
    simFwNodeDenyAccess(0, false);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(info(0)[1], 0x014Au);
}
#endif

TEST_F(SessionRequestFault, FlashErrorBitGivesBadArgument) {
    ASSERT_EQ(kqsimSetFlashError(0, 1), 0);
    EXPECT_EQ(IxenmInit(0), 8u);
    EXPECT_EQ(cameraAt(0), nullptr);
}

TEST_F(SessionRequestFault, NoMemoryForTheRecordIsOutOfMemory) {
    failAllocationAfter(1);
    EXPECT_EQ(IxenmInit(0), 7u);
    EXPECT_EQ(kqsimRequestCount(kIoctlAsyncRead), 0u);
    EXPECT_EQ(IxenmInit(0), 0u);
}

TEST_F(SessionRequestFault, CameraWorksWithoutBusResetWatchWhenItsThreadIsRefused) {
    failNextThreadStarts(1);
    ASSERT_EQ(IxenmInit(0), 0u);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Couldn\xB4t create bus reset thread");
    EXPECT_EQ(info(0)[2], 1u);
    IxenmClose(0);
}

TEST_F(SessionRequestFault, SwitchedOffMessagesStaySilentButStatusesStay) {
    EXPECT_EQ(IxenSetErrorMessages(0), 0u);
    EXPECT_EQ(IxenGetCurrentErrorMessages(), 0u);
    kqsimFailRegister(0, 0xF0000424, KQSIM_READ, 31);
    EXPECT_EQ(IxenmInit(0), 20u);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(IxenSetErrorMessages(1), 0u);
    EXPECT_EQ(IxenGetCurrentErrorMessages(), 1u);
}

// Builds a raw flash record with the given counts and one entry of each list.
std::vector<uint8_t> record(uint32_t a, uint32_t b, uint32_t blemish, uint32_t marked) {
    std::vector<uint8_t> r(12288 + 1024, 0);
    storeBe32(&r[512], a);
    storeBe32(&r[516], b);
    if (a > 0) {
        storeBe32(&r[524], blemish);
    }
    if (b > 0) {
        uint8_t* e = &r[524 + 6 * a];
        e[0] = 1;
        e[1] = static_cast<uint8_t>(marked >> 16);
        e[2] = static_cast<uint8_t>(marked >> 8);
        e[3] = static_cast<uint8_t>(marked);
    }
    return r;
}

struct CorruptRecord {
    const char* name;
    uint32_t a, b, blemish, marked;
    StatusCode status;
};

void PrintTo(const CorruptRecord& r, std::ostream* os) {
    *os << r.name << " (counts " << r.a << "/" << r.b << ", status " << r.status << ")";
}

class SessionFlashRecord : public test::ApiTest,
                           public ::testing::WithParamInterface<CorruptRecord> {};

TEST_P(SessionFlashRecord, IsValidatedBeforeTheCameraOpens) {
    const CorruptRecord& p = GetParam();
    kqsimReset();
    std::vector<uint8_t> raw = record(p.a, p.b, p.blemish, p.marked);
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &config);
    config.flashRecord = raw.data();
    config.flashRecordBytes = static_cast<uint32_t>(raw.size());
    ASSERT_EQ(kqsimAddCamera(&config), 0);
    EXPECT_EQ(IxenmInit(0), p.status);
    EXPECT_EQ(cameraAt(0) != nullptr, p.status == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SessionFlashRecord,
    ::testing::Values(CorruptRecord{"Empty", 0, 0, 0, 0, 0},
                      CorruptRecord{"LastValidPositions", 1, 1, 1443519, 1443519, 0},
                      CorruptRecord{"LargestRecordThatFits", 1960, 0, 5, 0, 0},
                      CorruptRecord{"BlemishCount10000", 10000, 0, 0, 0, 28},
                      CorruptRecord{"MarkedCount10000", 0, 10000, 0, 0, 28},
                      CorruptRecord{"BlemishPositionOutside", 1, 0, 1443520, 0, 28},
                      CorruptRecord{"MarkedPositionOutside", 0, 1, 0, 1443520, 28},
                      CorruptRecord{"FourBytesTooLong", 1960, 1, 5, 5, 28}),
    [](const ::testing::TestParamInfo<CorruptRecord>& info) { return info.param.name; });

}  // namespace
}  // namespace kqfw
