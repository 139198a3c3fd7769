// Raw frames processed offline with the context a camera prepared, as an application's own
// threads do it, and the readout time the camera reports for its settings.
#include <algorithm>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/ip_context.h"
#include "api_fixture.h"
#include "platform/memory.h"
#include "sim/sim_sensor.h"

namespace kqfw::test {
namespace {

constexpr int32_t kColour = 0;
constexpr int32_t kMono = 1;
constexpr uint32_t kWidth = 1388, kHeight = 1040;
constexpr uint32_t kAdvancedBase = 0xF2F00000;

int32_t noFrames(uint16_t*, uint32_t, int32_t, uint64_t, uint64_t) {
    return 0;
}

struct Prepared {
    IpContext* context = nullptr;
    uint32_t contextBytes = 0, frameBytes = 0;
};

class Offline : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        exactBench(0.001);
        ASSERT_EQ(IxenmInit(kColour), 0u);
        ASSERT_EQ(IxenmInit(kMono), 0u);
    }

    static Prepared prepare(int32_t camera) {
        Prepared p;
        EXPECT_EQ(IxenmGetIPInfo(camera, &p.context, &p.contextBytes, noFrames, &p.frameBytes), 0u);
        return p;
    }

    // The last frame as it lay in the receive buffer: the camera's samples in the transfer
    // coding, padded to the stream's frame size.
    static std::vector<uint8_t> receivedFrame(int32_t camera, uint32_t coding,
                                              uint32_t frameBytes) {
        uint32_t w = 0, h = 0;
        std::vector<uint16_t> samples(size_t(kqsimLastFrame(camera, nullptr, 0, &w, &h)));
        kqsimLastFrame(camera, samples.data(), uint32_t(samples.size()), &w, &h);
        std::vector<uint8_t> frame(
            std::max<size_t>(frameBytes, sim::bytesForPixels(coding, samples.size())), 0);
        sim::encodeSamples(coding, samples.data(), samples.size(), frame.data());
        return frame;
    }

    static std::vector<uint16_t> offline(const Prepared& p, int32_t camera, void* frame) {
        std::vector<uint16_t> image = imageBuffer(camera);
        EXPECT_EQ(IxenmExecuteIPFunction(p.context, image.data(), frame), 0u);
        return image;
    }

    // A reference pattern of the sensor's size, so the offline path has references to apply.
    static void restoreReferences(int32_t camera) {
        std::vector<int16_t> black(size_t{kHeight + 2} * kWidth), white(size_t{kHeight} * kWidth);
        for (size_t i = 0; i < white.size(); ++i) {
            black[i] = int16_t(i * 7919 % 41) - 20;
            white[i] = int16_t(3900 + i * 104729 % 400);
        }
        black[size_t{500} * kWidth + 700] = 30000;  // a hot pixel
        ASSERT_EQ(IxenmRestoreBlackRef(camera, reinterpret_cast<uint8_t*>(black.data()),
                                       uint32_t(black.size() * 2)),
                  0u);
        ASSERT_EQ(IxenmSetWhiteTable(camera, reinterpret_cast<uint8_t*>(white.data())), 0u);
        ASSERT_EQ(IxenmSetBlackRef(camera, 1), 0u);
        ASSERT_EQ(IxenmSetWhiteRef(camera, 1), 0u);
    }
};

struct Path {
    const char* name;
    int32_t camera;
    uint32_t resolution, bits, binning;
    uint32_t coding;  // 5 sixteen-bit, 0x85 packed, 0x80 eight-bit
    int32_t interpolation = KQFW_INTERPOLATION_CAMERA;
};

void PrintTo(const Path& p, std::ostream* os) {
    *os << p.name;
}

class OfflinePath : public Offline, public ::testing::WithParamInterface<Path> {};

TEST_P(OfflinePath, AFrameProcessedOfflineIsTheImageTheCameraGave) {
    const Path p = GetParam();
    ASSERT_EQ(IxenmEnablePacking(p.camera, p.coding == 0x85 ? 1 : 0), 0u);
    ASSERT_EQ(IxenmEnable8bitCompression(p.camera, p.coding == 0x80 ? 1 : 0), 0u);
    ASSERT_EQ(IxenmSetResolution(p.camera, p.resolution), 0u);
    ASSERT_EQ(IxenmSetBitsPerPixel(p.camera, int32_t(p.bits)), 0u);
    ASSERT_EQ(IxenmSetBinning(p.camera, int32_t(p.binning)), 0u);
    uint32_t frame[4] = {120, 60, 960, 660};
    ASSERT_EQ(IxenmSetFrameSize(p.camera, frame), 0u);
    restoreReferences(p.camera);
    if (p.camera == kColour) {
        ASSERT_EQ(IxenmSetWhiteBalance(p.camera, 1.1, 1.3, 1.7), 0u);
    }
    ASSERT_EQ(kqfwSetColourInterpolation(p.camera, p.interpolation), 0u);
    const std::vector<uint16_t> online = snap(p.camera);

    const Prepared prepared = prepare(p.camera);
    std::vector<uint8_t> raw = receivedFrame(p.camera, p.coding, prepared.frameBytes);
    std::vector<uint16_t> image = imageBuffer(p.camera);
    EXPECT_EQ(kqfwExecuteIPFunctionEx(prepared.context, image.data(), raw.data(), p.interpolation),
              0u);
    EXPECT_EQ(image, online);

    // An application's copy, at an odd address, whose bytes outside the layout hold other
    // gains and another colour matrix than its tables were made of: the same image.
    std::vector<uint8_t> copy(prepared.contextBytes + 1);
    std::memcpy(copy.data() + 1, prepared.context, prepared.contextBytes);
    for (size_t at = 6797440; at + 8 <= 6797548; at += 8) {
        const double other = 1.25 + double(at % 7) / 8;
        std::memcpy(copy.data() + 1 + at, &other, 8);
    }
    ASSERT_EQ(kqfwExecuteIPFunctionEx(reinterpret_cast<IpContext*>(copy.data() + 1), image.data(),
                                      raw.data(), p.interpolation),
              0u);
    EXPECT_EQ(image, online);
    // The context's own function keeps to the camera API's method whatever the camera chose.
    const std::vector<uint16_t> own = offline(prepared, p.camera, raw.data());
    if (p.interpolation != KQFW_INTERPOLATION_CAMERA) {
        ASSERT_EQ(kqfwSetColourInterpolation(p.camera, KQFW_INTERPOLATION_CAMERA), 0u);
        EXPECT_EQ(own, snap(p.camera));
    } else {
        EXPECT_EQ(own, online);
    }
}

const Path kPaths[] = {
    {"ColourBlocksPacked", kColour, 0, 42, 1, 0x85},
    {"ColourRegressionSixteenBit", kColour, 1, 42, 1, 5},
    {"ColourBlocksEightBit", kColour, 0, 42, 1, 0x80},
    {"ColourLmmsePacked", kColour, 0, 42, 1, 0x85, KQFW_INTERPOLATION_LMMSE},
    {"ColourLmmseEightBit", kColour, 0, 42, 1, 0x80, KQFW_INTERPOLATION_LMMSE},
    {"ColourBinned3WhateverTheChoice", kColour, 0, 42, 3, 0x85, KQFW_INTERPOLATION_LMMSE},
    {"ColourRawMosaic", kColour, 2, 14, 1, 5},
    {"ColourGreyBinning2", kColour, 0, 14, 2, 0x85},
    {"ColourBinned3", kColour, 0, 42, 3, 0x85},
    {"ColourBinned5", kColour, 1, 42, 5, 5},
    {"MonoBinning1", kMono, 0, 14, 1, 0x85},
    {"MonoBinning4EightBit", kMono, 0, 14, 4, 0x80},
};
INSTANTIATE_TEST_SUITE_P(Paths, OfflinePath, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

uint32_t word(const IpContext* context, size_t at) {
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(context) + at, 4);
    return v;
}

bool areaIsZero(const IpContext* context, size_t at, size_t bytes) {
    const auto* b = reinterpret_cast<const uint8_t*>(context) + at;
    for (size_t i = 0; i < bytes; ++i) {
        if (b[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST_F(Offline, TheContextHoldsTheLayoutAndOnlyTheAreasItsSettingsUse) {
    ASSERT_EQ(IxenmEnableColorProcessing(kColour, 0), 0u);
    ASSERT_EQ(IxenmEnablePacking(kColour, 0), 0u);
    const Prepared p = prepare(kColour);
    EXPECT_EQ(p.contextBytes, 6797564u);
    EXPECT_EQ(p.frameBytes, 705u * 4096) << "1388 x 1040 16-bit samples in 4096-byte packets";
    EXPECT_EQ(word(p.context, 0), 1001u);
    const auto* bytes = reinterpret_cast<const char*>(p.context);
    EXPECT_STREQ(bytes + 4, "kqfw.dll");
    EXPECT_STREQ(bytes + 36, "kqfw64.dll");
    EXPECT_EQ(word(p.context, 68) * word(p.context, 72), p.frameBytes);
    EXPECT_EQ(word(p.context, 88), kHeight) << "the delivered rectangle's bottom";
    EXPECT_EQ(word(p.context, 92), 12u) << "the bench camera's blemishes";
    EXPECT_EQ(word(p.context, 132392), kWidth);
    EXPECT_EQ(word(p.context, 132396), kHeight);
    EXPECT_EQ(word(p.context, 1017672), 0u) << "not the mono model";
    EXPECT_EQ(word(p.context, 6797336), 0u);
    EXPECT_EQ(word(p.context, 6797340), 42u);
    EXPECT_EQ(word(p.context, 6797560), 400u);
    EXPECT_TRUE(areaIsZero(p.context, 525624, 294912 + 196608)) << "matrix tables unused";
    EXPECT_TRUE(areaIsZero(p.context, 1017680, 2892592 + 2887040)) << "no references";

    uint32_t copied = 0, frameBytes = 0;
    kqfw::CameraContext* own = nullptr;
    ASSERT_EQ(IxenmGetIPInfoold(kMono, reinterpret_cast<::CameraContext**>(&own), &copied, noFrames,
                                &frameBytes),
              0u);
    EXPECT_EQ(own, cameraAt(kMono));
    EXPECT_EQ(copied, 6798792u);

    IpContext* context = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(IxenmGetIPInfo(kColour, &context, &size, nullptr, &frameBytes), 8u);
    EXPECT_EQ(IxenmGetIPInfo(kColour, nullptr, &size, noFrames, &frameBytes), 8u);
    EXPECT_EQ(IxenmGetIPInfo(kColour, &context, &size, noFrames, nullptr), 8u);
    EXPECT_EQ(IxenmGetIPInfo(5, &context, &size, noFrames, &frameBytes), 3u);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u) << "the probe gave the stream back";
}

TEST_F(Offline, ContextsThatDoNotDescribeAFrameAreRefused) {
    const Prepared p = prepare(kColour);
    std::vector<uint8_t> raw(p.frameBytes, 0);
    std::vector<uint16_t> image = imageBuffer(kColour);
    EXPECT_EQ(IxenmExecuteIPFunction(nullptr, image.data(), raw.data()), 8u);
    EXPECT_EQ(IxenmExecuteIPFunction(p.context, nullptr, raw.data()), 8u);
    EXPECT_EQ(IxenmExecuteIPFunction(p.context, image.data(), nullptr), 8u);
    for (int32_t method : {-1, 2}) {
        EXPECT_EQ(kqfwExecuteIPFunctionEx(p.context, image.data(), raw.data(), method), 8u);
    }

    struct Corruption {
        size_t at;
        uint32_t value;
        uint32_t status;
    };
    const Corruption corruptions[] = {
        {0, 1000, 19},                  // another version
        {132392, 100000, 19},           // a sensor wider than the reference areas
        {132396, 0, 19},                // no sensor
        {92, 10001, 19},                // more blemishes than the list holds
        {96, 0xFFFFFFFF, 19},           // a negative marked-pixel count
        {6797560, 0, 19},               // no exposure step
        {84, 5000, 19},                 // a delivered frame wider than the sensor
        {80, 0x80000000, 19},           // a delivered frame starting above the sensor
        {80, 2000, 0},                  // an inverted delivered frame: no pixels to colour
        {6797336, 3, 8},                // a multi-shot resolution
        {6797344, 0, 8},                // no binning
        {6797344, 2, 19},               // a binning the delivered frame was not taken at
        {6797388, 2000, 8},             // an image right of the sensor
        {6797380 + 12, 0x7FFFFFFF, 8},  // an image below the sensor
    };
    for (const Corruption& k : corruptions) {
        std::vector<uint8_t> copy(reinterpret_cast<const uint8_t*>(p.context),
                                  reinterpret_cast<const uint8_t*>(p.context) + p.contextBytes);
        std::memcpy(copy.data() + k.at, &k.value, 4);
        // The version is judged before anything is allocated.
        failAllocationAfter(k.at == 0 ? 1 : 0);
        EXPECT_EQ(IxenmExecuteIPFunction(reinterpret_cast<IpContext*>(copy.data()), image.data(),
                                         raw.data()),
                  k.status)
            << "offset " << k.at << " value " << k.value;
        failAllocationAfter(0);
    }
}

TEST_F(Offline, AFrameShorterThanTheSensorLeavesTheRestZero) {
    ASSERT_EQ(IxenmSetResolution(kMono, 2), 0u);
    ASSERT_EQ(IxenmEnablePacking(kMono, 0), 0u);
    const Prepared p = prepare(kMono);
    std::vector<uint8_t> copy(reinterpret_cast<const uint8_t*>(p.context),
                              reinterpret_cast<const uint8_t*>(p.context) + p.contextBytes);
    const uint32_t packets = 100;  // of 4096 bytes: the first 295 rows and a bit
    std::memcpy(copy.data() + 72, &packets, 4);
    std::vector<uint8_t> raw(p.frameBytes, 0x11);
    std::vector<uint16_t> image = imageBuffer(kMono);
    ASSERT_EQ(
        IxenmExecuteIPFunction(reinterpret_cast<IpContext*>(copy.data()), image.data(), raw.data()),
        0u);
    const size_t copied = 100 * 4096 / 2;
    EXPECT_EQ(image[copied - 1], 0x1111);
    for (size_t i = copied + 2; i < image.size(); ++i) {
        ASSERT_EQ(image[i], 0) << i;
    }
}

// A prepared context keeps its settings until it is prepared again, and then follows them. Several
// threads process frames with one context while the camera prepares it again: each image is
// made from one whole context, the old or the new one.
TEST_F(Offline, ThreadsShareAContextThatIsRefilledMeanwhile) {
    ASSERT_EQ(IxenmEnablePacking(kColour, 0), 0u);
    const Prepared p = prepare(kColour);
    const std::vector<uint16_t> before = snap(kColour);
    std::vector<uint8_t> raw = receivedFrame(kColour, 5, p.frameBytes);
    ASSERT_EQ(IxenmSetWhiteBalance(kColour, 1.0, 1.2, 1.4), 0u);
    const std::vector<uint16_t> after = snap(kColour);
    ASSERT_NE(before, after);
    raw = receivedFrame(kColour, 5, p.frameBytes);
    prepare(kColour);
    ASSERT_EQ(IxenmSetWhiteBalance(kColour, 1.49, 1.98, 1.0), 0u);
    ASSERT_EQ(offline(p, kColour, raw.data()), after) << "the context kept its white balance";

    constexpr int kThreads = 3, kFrames = 4;
    std::latch start(kThreads + 1);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<uint16_t> image(before.size());
            start.arrive_and_wait();
            for (int k = 0; k < kFrames; ++k) {
                if (IxenmExecuteIPFunction(p.context, image.data(), raw.data()) != 0 ||
                    (image != before && image != after)) {
                    ++wrong;
                }
            }
        });
    }
    start.arrive_and_wait();
    prepare(kColour);  // back to the first white balance
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(offline(p, kColour, raw.data()), before);
}

// The sensor shifts every row of the region out (b rows at a time) at 12 us plus 50 ns a
// binned pixel, dumps the others at 2 us, and the frame leaves one 4096-byte packet per 125 us;
// the slower of the two, rounded up to whole exposure units, is the readout time. Asked while
// an activity holds the camera it is refused: the activity matrix's (modes_test.cc).
TEST_F(Offline, ReadoutTimeFollowsRegionBinningAndCoding) {
    auto readout = [](int32_t camera) {
        uint32_t t = 0;
        EXPECT_EQ(IxenmGetCurrentReadouttime(camera, &t), 0u);
        return t;
    };
    ASSERT_EQ(IxenmEnablePacking(kColour, 0), 0u);
    EXPECT_EQ(readout(kColour), 88400u) << "705 packets: the bus is slower than the sensor";
    ASSERT_EQ(IxenmEnablePacking(kColour, 1), 0u);
    EXPECT_EQ(readout(kColour), 84800u) << "529 packets: 1040 rows of 81.4 us are slower";
    uint32_t half[4] = {0, 0, 1388, 520};
    ASSERT_EQ(IxenmSetFrameSize(kColour, half), 0u);
    EXPECT_EQ(readout(kColour), 43400u) << "520 rows read, 520 dumped";
    ASSERT_EQ(IxenmSetBinning(kMono, 2), 0u);
    EXPECT_EQ(readout(kMono), 24400u) << "520 row pairs of 694 binned pixels";
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);

    uint32_t t = 0;
    EXPECT_EQ(IxenmGetCurrentReadouttime(kColour, nullptr), 8u);
    EXPECT_EQ(IxenmGetCurrentReadouttime(9, &t), 3u);
    ASSERT_EQ(kqsimFailRegister(kColour, kAdvancedBase + 0x3C, KQSIM_READ, 121), 0);
    EXPECT_EQ(IxenmGetCurrentReadouttime(kColour, &t), 20u);
}

}  // namespace
}  // namespace kqfw::test
