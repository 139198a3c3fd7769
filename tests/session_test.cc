#include <chrono>
#include <cstring>
#include <thread>

#include "api_fixture.h"
#include "transport/ioctl_codes.h"

namespace kqfw {
namespace {

using Session = test::ApiTest;

constexpr uint32_t kColourSerial = 0x014A;
constexpr uint32_t kMonoSerial = 0x027B;

// Waits for something the camera's watch thread does. The bench has no event for it, so this
// polls; the minute only turns a watch that never asks into a failure instead of a hang.
template <typename Condition>
bool eventually(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

TEST_F(Session, SlotsTakeTheFirstFreeCameraInListOrder) {
    ASSERT_EQ(IxenmInit(5), 0u);
    EXPECT_EQ(info(5), (std::vector<uint32_t>{0x115, kColourSerial, 1, 0x4B514301}));
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(info(0), (std::vector<uint32_t>{0x115, kMonoSerial, 0, 0x4B514D01}));
    EXPECT_EQ(IxenmInit(3), 3u);
    EXPECT_EQ(cameraAt(3), nullptr);

    IxenmClose(5);
    ASSERT_EQ(IxenmInit(3), 0u);
    EXPECT_EQ(info(3)[2], 1u);
}

TEST_F(Session, ListedCamerasOpenByPositionIntoAnySlotAndKeepTheirPlace) {
    int32_t count = -1;
    EXPECT_EQ(kqfwListCameras(nullptr, 0, &count), 0u);
    EXPECT_EQ(count, 2);
    KqfwListedCamera listed[2];
    EXPECT_EQ(kqfwListCameras(listed, 2, nullptr), 8u);
    EXPECT_EQ(kqfwListCameras(listed, -1, &count), 8u);
    EXPECT_EQ(kqfwListCameras(nullptr, 1, &count), 8u);

    ASSERT_EQ(kqfwInitListed(7, 1), 0u);
    EXPECT_EQ(info(7)[1], kMonoSerial);
    ASSERT_EQ(kqfwListCameras(listed, 2, &count), 0u);
    EXPECT_EQ(listed[0].isMono, 0u);
    EXPECT_EQ(listed[0].slot, -1);
    EXPECT_EQ(listed[1].isMono, 1u);
    EXPECT_EQ(listed[1].slot, 7);
    KqfwCameraDescription described;
    ASSERT_EQ(kqfwDescribeCamera(7, &described), 0u);
    EXPECT_STREQ(listed[1].devicePath, described.devicePath);

    EXPECT_EQ(kqfwInitListed(7, 1), 0u);   // the camera it holds
    EXPECT_EQ(kqfwInitListed(7, 0), 10u);  // another camera
    EXPECT_EQ(kqfwInitListed(2, 1), 10u);  // held by slot 7
    EXPECT_EQ(kqfwInitListed(2, 2), 3u);
    EXPECT_EQ(kqfwInitListed(2, -1), 3u);
    EXPECT_EQ(kqfwInitListed(10, 0), 3u);
    EXPECT_EQ(cameraAt(2), nullptr);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(info(0)[1], kColourSerial);
}

TEST_F(Session, InitOnAnOpenSlotSucceedsWithoutTouchingTheCamera) {
    ASSERT_EQ(IxenmInit(0), 0u);
    const uint32_t reads = kqsimRequestCount(kIoctlAsyncRead);
    const uint32_t writes = kqsimRequestCount(kIoctlAsyncWrite);
    EXPECT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(kqsimRequestCount(kIoctlAsyncRead), reads);
    EXPECT_EQ(kqsimRequestCount(kIoctlAsyncWrite), writes);
}

// Camera 0's getters that give no status answer 0 for a missing camera, but any camera may be
// sized.
TEST_F(Session, BadIndexesAndEmptySlotsAreNoCameraAndCameraZerosValueTwinsAnswerZero) {
    uint32_t out[4], v = 0, rect[4] = {0, 0, 8, 8};
    EXPECT_EQ(IxenmInit(-1), 3u);
    EXPECT_EQ(IxenmInit(10), 3u);
    EXPECT_EQ(IxenmInfo(10, out), 3u);
    EXPECT_EQ(IxenmInfo(2, out), 3u);
    IxenmClose(12);
    IxenmClose(4);
    ASSERT_EQ(IxenInit(), 0u);
    IxenClose();
    EXPECT_EQ(IxenInfo(out), 3u);
    EXPECT_EQ(IxenmSetImageSize(0, rect), 3u);
    EXPECT_EQ(IxenmGetCurrentBinning(0, &v), 3u);
    EXPECT_EQ(IxenmHasBinning(0, 1, &v), 3u);
    EXPECT_EQ(IxenmSetExposure(0, 1000), 3u);
    EXPECT_EQ(IxenmReadAnalogGain(0, &v), 3u);
    EXPECT_EQ(IxenSetFadingCorrectionGainLimit(1.0), 3u);
    EXPECT_EQ(IxenmSetImagedoneCallback(0, nullptr, 0), 3u);
    EXPECT_EQ(IxenGetCurrentBinning(), 0u);
    EXPECT_EQ(IxenGetCurrentBitsPerPixel(), 0u);
    EXPECT_EQ(IxenHasBinning(1), 0u);
    EXPECT_EQ(IxenGetCurrentExposure(), 0u);
    EXPECT_EQ(IxenIsSharpenerEnabled(), 0u);
    EXPECT_EQ(IxenHasFrame(), 0u);
    EXPECT_EQ(IxenHasImageSize(), 1u);
    EXPECT_EQ(IxenmHasImageSize(9, &v), 0u);
    EXPECT_EQ(v, 1u);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(IxenmInfo(0, nullptr), 8u);
}

TEST_F(Session, PresenceQueriesCountBothModelsAndNothingElse) {
    EXPECT_EQ(IXenIsAvailable(), 0u);
    EXPECT_EQ(IxenGetNumberofCameras(), 2u);

    kqsimReset();
    KqsimCameraConfig foreign;
    kqsimDefaultConfig(KQSIM_MODEL_FOREIGN, &foreign);
    ASSERT_GE(kqsimAddCamera(&foreign), 0);
    EXPECT_EQ(IXenIsAvailable(), 16u);
    EXPECT_EQ(IxenGetNumberofCameras(), 0u);
    EXPECT_EQ(IxenmInit(0), 3u);
    EXPECT_EQ(IxenInit(), 3u);
}

TEST_F(Session, IxenInitOpensEveryCameraPresent) {
    ASSERT_EQ(IxenInit(), 0u);
    EXPECT_EQ(info(0)[1], kColourSerial);
    EXPECT_EQ(info(1)[1], kMonoSerial);
    uint32_t out[4];
    ASSERT_EQ(IxenInfo(out), 0u);
    EXPECT_EQ(out[1], kColourSerial);
}

TEST_F(Session, OrderFollowsTheInstanceKeyNotTheBus) {
    if (test::overKernelNodes()) {
        GTEST_SKIP() << "a node's path there is made from its ROM, which has no instance key";
    }
    kqsimReset();
    KqsimCameraConfig later, earlier;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &later);
    later.instance = "200000000";
    later.uniqueIdLow = 0x2222;
    kqsimDefaultConfig(KQSIM_MODEL_KQM, &earlier);
    earlier.instance = "100000000";
    earlier.uniqueIdLow = 0x1111;
    ASSERT_GE(kqsimAddCamera(&later), 0);
    ASSERT_GE(kqsimAddCamera(&earlier), 0);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(info(0)[1], 0x1111u);
}

TEST_F(Session, InitSetsTheDocumentedDefaults) {
    ASSERT_EQ(IxenInit(), 0u);
    for (int32_t index : {0, 1}) {
        const CameraContext& c = *cameraAt(index);
        EXPECT_EQ(c.exposureTime, 100000u);
        EXPECT_EQ(c.exposureStep, 200u);
        EXPECT_EQ(c.binning, 1u);
        EXPECT_EQ(c.bitsPerPixel, index == 0 ? 42u : 14u);
        EXPECT_EQ(c.packingEnabled, 1u);
        EXPECT_EQ(c.compression8Enabled, 0u);
        EXPECT_EQ(c.shutter1Enable + c.shutter1Polarity + c.ttl2Enable + c.ttl2Polarity, 4u);
        EXPECT_EQ(c.ttl2Bit26 + c.ttl2Bit25 + c.ttl2Bit24, 0u);
        EXPECT_EQ(c.resolutionIndex, 0u);
        EXPECT_EQ(c.fadingGainLimit, 5.0);
        EXPECT_EQ(c.whiteBalance[0], 1.49);
        EXPECT_EQ(c.saturation[2], 1.0);
        EXPECT_EQ(c.imageRect.right, 1388);
        EXPECT_EQ(c.frameRect.bottom, 1040);
        EXPECT_EQ(c.sensorPitchPlusOne, 1389u);
        EXPECT_EQ(c.gainBase, 0x0C8u);
        EXPECT_EQ(c.flashValid, 1u);
        EXPECT_EQ(c.blemishCount, 12);
        EXPECT_EQ(c.markedPixelCount, 3);
        EXPECT_EQ(c.blemishPositions[0], 1388u * 17 + 203);
        EXPECT_EQ(c.markedPixelPositions[2], 1388u * 1000 + 30);
        EXPECT_EQ(c.markedPixelCodes[1], 2u);
        EXPECT_NE(c.streamBuffer, nullptr);
        EXPECT_NE(c.auxBuffer, nullptr);
        EXPECT_EQ(c.format7Modes[0].maxWidth, 1388);
        EXPECT_EQ(c.format7Modes[0].packingCapable, 1u);
        EXPECT_EQ(c.format7Modes[1].csrAddress, 0u);
        // The tables Init fills.
        EXPECT_EQ(c.clampTable[49151], 0);
        EXPECT_EQ(c.clampTable[49152 + 1234], 1234);
        EXPECT_EQ(c.clampTable[70000], 16383);
        EXPECT_EQ(c.expand8Table[0], 0xFFFC);
        EXPECT_EQ(c.expand8Table[12], 8);
        EXPECT_EQ(c.expand8Table[255], 4064);
        EXPECT_EQ(c.whiteLuts[1][5000], 5000);
    }
}

TEST_F(Session, SensorSizeIsRoundedDownToWholeUnitsOfFour) {
    kqsimReset();
    KqsimCameraConfig odd;
    kqsimDefaultConfig(KQSIM_MODEL_KQM, &odd);
    odd.maxWidth = 643;
    odd.maxHeight = 482;
    ASSERT_GE(kqsimAddCamera(&odd), 0);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(cameraAt(0)->sensorWidth, 640u);
    EXPECT_EQ(cameraAt(0)->sensorHeight, 480u);
}

TEST_F(Session, ModesTheCameraLacksStayZero) {
    kqsimReset();
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &config);
    config.modeMask = 0xA0000000;  // modes 0 and 2
    ASSERT_GE(kqsimAddCamera(&config), 0);
    ASSERT_EQ(IxenmInit(0), 0u);
    const CameraContext& c = *cameraAt(0);
    EXPECT_NE(c.format7Modes[0].csrAddress, 0u);
    EXPECT_EQ(c.format7Modes[1].csrAddress, 0u);
    EXPECT_EQ(c.format7Modes[1].maxWidth, 0);
    EXPECT_NE(c.format7Modes[2].csrAddress, 0u);
    EXPECT_EQ(c.format7Modes[2].packingCapable, 0u);
}

TEST_F(Session, LongBlemishListsAreReadPastTheFirstEightBlocks) {
    kqsimReset();
    std::vector<uint32_t> blemishes(1500);
    for (size_t i = 0; i < blemishes.size(); ++i) {
        blemishes[i] = static_cast<uint32_t>(i * 911 + 5);
    }
    std::vector<uint32_t> marked = {77, 1443519};
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &config);
    config.blemishCount = static_cast<uint32_t>(blemishes.size());
    config.blemishPositions = blemishes.data();
    config.markedPixelCount = 2;
    config.markedPixelPositions = marked.data();
    config.markedPixelCodes = nullptr;
    ASSERT_GE(kqsimAddCamera(&config), 0);
    ASSERT_EQ(IxenmInit(0), 0u);
    const CameraContext& c = *cameraAt(0);
    ASSERT_EQ(c.blemishCount, 1500);
    EXPECT_EQ(c.blemishPositions[1499], 1499u * 911 + 5);
    EXPECT_EQ(c.markedPixelPositions[1], 1443519u);
}

TEST_F(Session, ReadEpromReadsCameraZerosFlashRecordBigEndian) {
    EXPECT_EQ(ReadEprom(144, 4), 0u);  // camera 0 not open
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(ReadEprom(144, 4), info(0)[3]);
    EXPECT_EQ(ReadEprom(144, 2), 0x4B51u);
    EXPECT_EQ(ReadEprom(512, 4), 12u);
    EXPECT_EQ(ReadEprom(144, 0), 0u);
    // A read that would reach past the record gives 0 as a whole, not its bytes inside it.
    cameraAt(0)->flashImage[12287] = 0x5A;
    EXPECT_EQ(ReadEprom(12287, 1), 0x5Au);
    EXPECT_EQ(ReadEprom(12287, 2), 0u);
}

TEST_F(Session, ContextVersionAndModuleNameComeFromTheRecord) {
    uint32_t version = 0;
    EXPECT_EQ(IxenGetCurrentContextVersion(nullptr), 8u);
    ASSERT_EQ(IxenGetCurrentContextVersion(&version), 0u);
    EXPECT_EQ(version, 1001u);

    std::vector<uint8_t> block(128, 0);
    block[0] = 0xE9;
    block[1] = 0x03;
    std::memcpy(&block[4], "kqfw.dll", 9);
    std::memcpy(&block[36], "kqfw64.dll", 11);
    auto* context = reinterpret_cast<const IpContext*>(block.data());
    version = 0;
    ASSERT_EQ(IxenGetContextVersionfromContext(context, &version), 0u);
    EXPECT_EQ(version, 1001u);
    EXPECT_EQ(IxenGetContextVersionfromContext(nullptr, &version), 8u);
    EXPECT_EQ(IxenGetContextVersionfromContext(context, nullptr), 8u);

    char name[16];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(IxenGetDLLNamefromContext(context, name, 10), 8u);
    EXPECT_EQ(name[0], 'x');
    ASSERT_EQ(IxenGetDLLNamefromContext(context, name, 11), 0u);
    EXPECT_STREQ(name, "kqfw64.dll");
    EXPECT_EQ(IxenGetDLLNamefromContext(context, nullptr, 11), 8u);
    EXPECT_EQ(IxenGetDLLNamefromContext(context, name, -1), 8u);
}

TEST_F(Session, OtherFamiliesFeaturesAreNotSupportedAndOldEntriesDoNothing) {
    uint32_t v = 0;
    EXPECT_EQ(IxenButtonWasPressed(), 15u);
    EXPECT_EQ(IxenGetPeltierVoltage(&v), 15u);
    EXPECT_EQ(IxenSetPeltierVoltage(3), 15u);
    EXPECT_EQ(IxenStripeAdjust(), 0u);
    EXPECT_EQ(WriteEprom(1, 2), 0u);
    EXPECT_EQ(outcomm(9), 0u);
    EXPECT_EQ(kqsimRequestCount(kIoctlAsyncWrite), 0u);
}

std::atomic<int> resetCalls{0};
std::atomic<uint64_t> resetArgument{0};

int32_t countReset(uint64_t argument) {
    resetArgument = argument;
    ++resetCalls;
    return 0;
}

// The watch has asked for its nth notification since the bench was set up. On the kernel's
// nodes the request stays with the backend, where a reset between two requests waits for the
// next one: there the callbacks counted are the sign.
bool watchArmed(uint32_t n, int calls) {
    return eventually([=] {
        return test::overKernelNodes() ? resetCalls >= calls
                                       : kqsimRequestCount(kIoctlBusResetNotify) >= n;
    });
}

TEST_F(Session, BusResetsReachTheCallbackOncePerReset) {
    resetCalls = 0;
    EXPECT_EQ(IxenmSetBusresetCallback(0, countReset, 1), 3u);
    ASSERT_EQ(IxenmInit(0), 0u);
    ASSERT_EQ(IxenmSetBusresetCallback(0, countReset, 42), 0u);
    ASSERT_TRUE(watchArmed(1, 0));
    kqsimBusReset();
    ASSERT_TRUE(watchArmed(2, 1));
    kqsimBusReset();
    ASSERT_TRUE(watchArmed(3, 2));
    EXPECT_EQ(resetCalls, 2);
    EXPECT_EQ(resetArgument, 42u);

    ASSERT_EQ(IxenSetBusresetCallback(nullptr, 0), 0u);
    kqsimBusReset();
    ASSERT_TRUE(watchArmed(4, 2));
    EXPECT_EQ(resetCalls, 2);
}

// Closing at once, before the bus-reset watch has asked for its first notification, too.
TEST_F(Session, RepeatedOpenAndCloseGivesEverythingBack) {
    for (int cycle = 0; cycle < 4; ++cycle) {
        ASSERT_EQ(IxenmInit(2), 0u);
        ASSERT_EQ(IxenmInit(7), 0u);
        IxenmClose(2);
        IxenmClose(7);
        EXPECT_EQ(kqsimOpenHandles(), 0u);
        EXPECT_EQ(cameraAt(2), nullptr);
    }
    EXPECT_TRUE(messages().empty());
}

TEST_F(Session, UnpluggedCameraEndsItsWatchQuietlyAndStillCloses) {
    ASSERT_EQ(IxenmInit(0), 0u);
    ASSERT_TRUE(watchArmed(1, 0));
    ASSERT_EQ(kqsimUnplug(0), 0);
    uint32_t out[4];
    EXPECT_EQ(IxenmInfo(0, out), 0u);  // what was read at opening stays
    IxenmClose(0);
    EXPECT_EQ(IxenmInit(0), 0u);  // the mono camera is left
    EXPECT_EQ(info(0)[2], 0u);
}

}  // namespace
}  // namespace kqfw
