#include <algorithm>
#include <cmath>
#include <numeric>

#include "camera/colour_tables.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "sim/sim_piezo.h"
#include "sim/sim_sensor.h"
#include "sim_stream_rig.h"

namespace kqfw {
namespace {

using test::Stream;
using test::StreamSetup;

constexpr uint32_t kOneShot = 0x61C;
constexpr uint32_t kTriggerMode = 0x830;

// Streams of the default bench's cameras: 0 colour, 1 mono. Noise off unless a test wants it.
class SimStream : public test::SimBenchTest {
  protected:
    void SetUp() override {
        SimBenchTest::SetUp();
        kqsimSetTimeScale(0.01);
        kqsimSetNoise(0, 0);
        kqsimSetNoise(1, 0);
    }
    Stream open(int32_t camera, const StreamSetup& setup) {
        Stream stream;
        EXPECT_EQ(test::openStream(linkTo(camera), camera == 1, setup, &stream), 0u);
        return stream;
    }
    static double mean(const std::vector<uint16_t>& v) {
        return std::accumulate(v.begin(), v.end(), 0.0) / v.size();
    }
};

// Receives on a thread of its own, as the library's receive thread does.
class Receiver {
  public:
    Receiver(const Stream& stream, uint32_t count) {
        EXPECT_TRUE(
            thread_.start([this, &stream, count] { result_ = test::attachFrames(stream, count); }));
    }
    uint32_t join() {
        thread_.join();
        return result_;
    }

  private:
    Thread thread_;
    uint32_t result_ = 0xFFFFFFFF;
};

TEST_F(SimStream, PacketGeometryFollowsRegionBinningAndCoding) {
    struct Case {
        int32_t camera;
        uint32_t binning, coding, width, height, deliveredW, deliveredH, payload;
    };
    const Case cases[] = {
        {1, 1, 0x05, 64, 48, 64, 48, 64 * 48 * 2},
        {1, 1, 0x85, 64, 48, 64, 48, 64 * 48 * 3 / 2},
        {1, 1, 0x80, 64, 48, 64, 48, 64 * 48},
        {1, 2, 0x05, 64, 48, 32, 24, 32 * 24 * 2},  // mono bins both ways
        {0, 3, 0x05, 96, 48, 96, 16, 96 * 16 * 2},  // colour bins rows only
        {1, 1, 0x85, 1388, 1040, 1388, 1040, 1388 * 1040 * 3 / 2},
    };
    for (const Case& c : cases) {
        StreamSetup setup;
        setup.width = c.width;
        setup.height = c.height;
        setup.binning = c.binning;
        setup.coding = c.coding;
        Stream s = open(c.camera, setup);
        EXPECT_EQ(s.deliveredWidth, c.deliveredW);
        EXPECT_EQ(s.deliveredHeight, c.deliveredH);
        EXPECT_LE(s.bytesPerPacket, 4096u);
        EXPECT_GE(s.frameBytes(), c.payload);
        EXPECT_LT(s.frameBytes() - c.payload, s.bytesPerPacket);
        test::closeStream(s);
    }
}

TEST_F(SimStream, CameraRefusesRegionsItDoesNotHave) {
    StreamSetup setup;
    setup.left = 1360;
    setup.width = 64;
    Stream s;
    EXPECT_EQ(test::openStream(linkTo(1), true, setup, &s), 8u);
    setup.left = 0;
    setup.binning = 2;  // the colour model cannot bin columns in the camera... it bins rows
    setup.height = 47;
    EXPECT_EQ(test::openStream(linkTo(0), false, setup, &s), 8u);
}

TEST_F(SimStream, OneShotDeliversAFrameThatMatchesTheSceneWithoutNoise) {
    kqsimSetScene(KQSIM_SCENE_FLAT, 0.5, nullptr, 0, 0, 0);
    StreamSetup setup;
    setup.left = 662;
    setup.top = 496;
    setup.width = 64;
    setup.height = 48;
    setup.exposureUnits = 500;  // 100 ms at 200 µs a unit (packed)
    setup.coding = 0x85;
    Stream s = open(1, setup);
    ASSERT_EQ(test::armStart(s, kOneShot, 0x00000080), 0u);
    ASSERT_EQ(test::attachFrames(s, 1), 0u);
    const auto samples = test::frameSamples(s, 0x85);
    // Half of white for 100 ms at the sensor's centre: 128 + 0.5 * 80 * 100, within the
    // pixels' gain spread and the packed format's 4-step resolution.
    EXPECT_NEAR(mean(samples), 128 + 4000, 40);
    test::closeStream(s);
}

TEST_F(SimStream, CodingsCarryTheSameSamplesAtTheirResolution) {
    StreamSetup setup;
    setup.left = 400;
    setup.top = 300;
    setup.coding = 0x05;
    setup.exposureUnits = 250;
    Stream s16 = open(1, setup);
    ASSERT_EQ(test::armStart(s16, kOneShot, 0x00000080), 0u);
    ASSERT_EQ(test::attachFrames(s16, 1), 0u);
    const auto reference = test::frameSamples(s16, 0x05);
    test::closeStream(s16);
    uint16_t expand[256];
    fillExpand8Table(expand);
    // The unit is 200 µs with packing and 400 µs without: the same 100 ms either way.
    for (uint32_t coding : {0x85u, 0x80u}) {
        setup.coding = coding;
        setup.exposureUnits = coding == 0x85 ? 500 : 250;
        Stream s = open(1, setup);
        ASSERT_EQ(test::armStart(s, kOneShot, 0x00000080), 0u);
        ASSERT_EQ(test::attachFrames(s, 1), 0u);
        const auto samples = test::frameSamples(s, coding);
        for (size_t i = 0; i < samples.size(); ++i) {
            if (coding == 0x85) {
                ASSERT_EQ(samples[i], (reference[i] >> 2) * 4 + 3) << i;
            } else {
                // The largest 8-bit code that the library's expansion keeps below the sample.
                const uint8_t code = sim::compress8(reference[i]);
                ASSERT_EQ(samples[i], expand[code]) << i;
                ASSERT_LE(samples[i], reference[i]) << i;
                ASSERT_TRUE(code == 255 || expand[code + 1] > reference[i]) << i;
            }
        }
        test::closeStream(s);
    }
}

TEST_F(SimStream, FactoryShiftTablePlacesEveryShotOnItsGrid) {
    // The colour model's index-4 series: 16 shots on a 4 x 4 grid at half-pixel steps, grid row
    // j landing (3 - j) / 2 pixels down.
    std::vector<uint8_t> table(32);
    ASSERT_EQ(kqsimReadFlash(0, 0x1D500 + 50, table.data(), 32), 0);
    for (int k = 0; k < 16; ++k) {
        const double dx = sim::piezoOffset(table[2 * k], false);
        const double dy = sim::piezoOffset(255 - table[2 * k + 1], false);
        EXPECT_NEAR(dx, (k % 4) / 2.0, 0.01) << k;
        EXPECT_NEAR(dy, (3 - k / 4) / 2.0, 0.01) << k;
    }
}

TEST_F(SimStream, TriggerModeWaitsForAPulse) {
    Stream s = open(1, StreamSetup{});
    ASSERT_EQ(test::armStart(s, kTriggerMode, 0x00000002), 0u);  // lands as 0x02000000: on
    Receiver receiver(s, 1);
    const DeviceHandle second = openHandle(1);
    sleepMs(30);
    EXPECT_EQ(test::receiveStatus(second).newest, -1);
    ASSERT_EQ(kqsimTrigger(1), 0);
    EXPECT_EQ(receiver.join(), 0u);
    EXPECT_EQ(test::receiveStatus(second).newest, 0);
    test::closeStream(s);
}

TEST_F(SimStream, BusResourcesRunOutAndComeBack) {
    Stream colour = open(0, StreamSetup{.width = 1388, .height = 1040});
    EXPECT_EQ(colour.bytesPerPacket, 4096u);
    EXPECT_EQ(kqsimBandwidthInUse(), 4096u);
    Stream mono;
    EXPECT_EQ(test::openStream(linkTo(1), true, StreamSetup{.width = 1388, .height = 1040}, &mono),
              kErrorNotEnoughMemory);
    test::closeStream(colour);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    EXPECT_EQ(test::openStream(linkTo(1), true, StreamSetup{.width = 1388, .height = 1040}, &mono),
              0u);
    // A handle closed with its stream still set up gives everything back.
    driver().close(mono.link.deviceHandle);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

TEST_F(SimStream, MalformedAttachesFail) {
    Stream s = open(1, StreamSetup{});
    uint8_t attach[64] = {};
    storeLe64(attach, s.resources + 77);
    storeLe32(attach + 8, 1);
    storeLe32(attach + 12, s.frameBytes());
    storeLe32(attach + 28, s.frameBytes());
    uint32_t returned = 0;
    const DeviceHandle h = s.link.deviceHandle;
    EXPECT_EQ(driver().ioControl(h, kIoctlIsochAttachBuffers, attach, 64, nullptr, 0, &returned),
              kErrorInvalidParameter);
    storeLe64(attach, s.resources);
    storeLe32(attach + 12, s.frameBytes() + 1);
    EXPECT_EQ(driver().ioControl(h, kIoctlIsochAttachBuffers, attach, 64, nullptr, 0, &returned),
              kErrorInsufficientBuffer);
    EXPECT_EQ(driver().ioControl(h, kIoctlIsochAttachBuffers, attach, 63, nullptr, 0, &returned),
              kErrorInsufficientBuffer);
    uint8_t start[20] = {};
    storeLe32(start + 16, 0xF1000000);
    EXPECT_EQ(driver().ioControl(h, kIoctlSetStartCommand, start, 20, nullptr, 0, &returned),
              kErrorInvalidParameter);
    test::closeStream(s);
}

TEST_F(SimStream, GroundTruthScalesWithTheOutputGrid) {
    kqsimSetScene(KQSIM_SCENE_FLAT, 0.25, nullptr, 0, 0, 0);
    std::vector<uint16_t> grey(8 * 8), colour(8 * 8 * 3);
    ASSERT_EQ(kqsimGroundTruth(1, 3, 100, 100, 8, 8, grey.data()), 0);
    EXPECT_EQ(grey[0], 128 + 2000);
    ASSERT_EQ(kqsimGroundTruth(0, 2, 0, 0, 8, 8, colour.data()), 0);
    EXPECT_EQ(colour[2], 128 + 2000);
    EXPECT_EQ(kqsimGroundTruth(1, 1, 1380, 0, 16, 8, grey.data()), -1);
}

}  // namespace
}  // namespace kqfw
