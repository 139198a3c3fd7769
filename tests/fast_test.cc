// Fast acquisition as a time-lapse uses it: a series polled for readiness, each image equal to
// the single acquisition's, the run's errors and its aborts.
#include <atomic>
#include <thread>
#include <vector>

#include "api_fixture.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {
namespace {

constexpr uint32_t kCommandBase = 0xF0F00000;
constexpr uint32_t kOneShot = kCommandBase + 0x61C;
constexpr uint32_t kW = 128, kH = 64;

class Fast : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        exactBench(0.01);
        openFramed(0, kW, kH, 10000);
        image_.assign(kW * kH * 3, 0);
    }
    int32_t next(uint32_t restart, uint32_t bytes = 0) {
        return nextFastImage(0, image_, restart, bytes);
    }
    static int32_t imageDone(uint64_t counter) {
        ++*reinterpret_cast<std::atomic<int>*>(counter);
        return 0;
    }
    std::vector<uint16_t> image_;
};

TEST_F(Fast, ASeriesWithRestartAlternatesBuffersAndEqualsSingleImages) {
    for (uint32_t bits : {42u, 14u}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(IxenmSetBitsPerPixel(0, bits), 0u);
        const std::vector<uint16_t> reference = snap(0);
        std::atomic<int> done{0};
        ASSERT_EQ(IxenmSetImagedoneCallback(0, imageDone, reinterpret_cast<uintptr_t>(&done)), 0u);
        ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
        constexpr int kFrames = 12;
        for (int i = 0; i < kFrames; ++i) {
            const uint32_t filling = cameraAt(0)->useAuxBuffer;
            std::fill(image_.begin(), image_.end(), 0xBEEF);
            ASSERT_EQ(next(i + 1 < kFrames), 1) << "frame " << i;
            EXPECT_EQ(filling, uint32_t(i % 2)) << "the receive buffers alternate";
            const size_t samples = kW * kH * (bits == 42 ? 3 : 1);
            EXPECT_TRUE(std::equal(image_.begin(), image_.begin() + samples, reference.begin()));
        }
        EXPECT_EQ(done.load(), kFrames) << "one image-done call per frame";
        EXPECT_EQ(IxenmIsFastAcquisitionReady(0, image_.data(), kW * kH * 6, 1), -11);
        KqfwRunStatistics s{};
        ASSERT_EQ(kqfwGetRunStatistics(0, &s), 0u);
        EXPECT_EQ(s.kind, 2u);
        EXPECT_EQ(s.framesDelivered, uint64_t(kFrames));
        EXPECT_EQ(s.running, 0u);
        EXPECT_EQ(kqsimBandwidthInUse(), 0u);
        ASSERT_EQ(IxenmSetImagedoneCallback(0, nullptr, 0), 0u);
    }
}

TEST_F(Fast, ReadinessErrorsEndTheRunCleanly) {
    EXPECT_EQ(IxenmIsFastAcquisitionReady(0, image_.data(), kW * kH * 6, 1), -11)
        << "no run started";
    EXPECT_EQ(IxenmIsFastAcquisitionReady(5, image_.data(), kW * kH * 6, 1), 3);

    // Too small a buffer tears the stream down.
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    EXPECT_EQ(next(1, kW * kH * 6 - 1), -6);
    EXPECT_EQ(IxenmIsFastAcquisitionReady(0, image_.data(), kW * kH * 6, 1), -11);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);

    // A multi-shot resolution has no fast path; the run goes on and can be aborted at once.
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    std::vector<uint16_t> large(kW * kH * 3 * 4);
    EXPECT_EQ(nextFastImage(0, large, 1), -8);
    EXPECT_EQ(cameraAt(0)->fastBusy.load(), 0u);
    EXPECT_EQ(IxenmAbortFastAcquisition(0), 0);
    EXPECT_EQ(IxenmAbortFastAcquisition(0), 11) << "nothing left to abort";
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

// What a series refuses meanwhile is the activity matrix's (modes_test.cc).
TEST_F(Fast, ASeriesEndsAtItsLastFrameOrAbortAndFreesTheSettings) {
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    ASSERT_EQ(next(0), 1);  // the first frame; no restart, so the run is over
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    EXPECT_EQ(IxenmSetExposure(0, 20000), 10u) << "between the frames of the series";
    EXPECT_EQ(IxenmAbortFastAcquisition(0), 0);
    EXPECT_EQ(IxenmSetExposure(0, 20000), 0u);
    EXPECT_EQ(IxenmAbortFastAcquisition(9), 3);
    uint32_t has = 0;
    EXPECT_EQ(IxenmHasFastAcquisition(0, &has), 0u);
    EXPECT_EQ(has, 1u);
    EXPECT_EQ(IxenHasFastAcquisition(), 1u);
    IxenmClose(0);
    EXPECT_EQ(IxenHasFastAcquisition(), 0u) << "no camera 0";
    EXPECT_EQ(IxenmHasFastAcquisition(0, &has), 3u);
}

TEST_F(Fast, AbortStopsALongExposureAndLetsAShortOneArrive) {
    kqsimSetTimeScale(1.0);
    for (uint32_t exposure : {400000u, 60000000u}) {
        SCOPED_TRACE(exposure);
        ASSERT_EQ(IxenmSetExposure(0, exposure), 0u);
        ASSERT_EQ(kqsimClearWriteLog(0), 0);
        ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
        const uint32_t cancels = kqsimRequestCount(kIoctlCancelReceive);
        EXPECT_EQ(IxenmAbortFastAcquisition(0), 0);
        std::vector<KqsimRegisterWrite> log(64);
        log.resize(size_t(kqsimWriteLog(0, log.data(), uint32_t(log.size()))));
        const bool stopped = std::any_of(log.begin(), log.end(), [](const KqsimRegisterWrite& w) {
            return w.address == kOneShot && w.value == 0;
        });
        EXPECT_EQ(stopped, exposure > 500000) << "only a long exposure is stopped";
        if (test::benchSeesRequest(kIoctlCancelReceive)) {
            EXPECT_EQ(kqsimRequestCount(kIoctlCancelReceive) > cancels, exposure > 500000);
        }
        EXPECT_EQ(IxenmIsFastAcquisitionReady(0, image_.data(), kW * kH * 6, 1), -11);
        EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    }
}

TEST_F(Fast, DroppedAndDelayedFramesAreToldApart) {
    // The second frame is late and the third never arrives: the series waits for the late one,
    // and the lost one fails its receive: no stale image, the run ends, the loss is counted.
    ASSERT_EQ(kqsimDelayFrame(0, 2, 10), 0);  // well inside the receive's wait
    ASSERT_EQ(kqsimDropFrame(0, 3), 0);
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    EXPECT_EQ(next(1), 1);
    EXPECT_EQ(next(1), 1);
    EXPECT_EQ(next(1), -11);
    KqfwRunStatistics s{};
    ASSERT_EQ(kqfwGetRunStatistics(0, &s), 0u);
    EXPECT_EQ(s.framesLost, 1u);
    EXPECT_EQ(s.framesDelivered, 2u);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    const std::vector<std::string> reports = messages();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), "(0)IxenIsFastAcquisitionReady error 24");
}

TEST_F(Fast, ThreadFailuresAndCloseUnwindTheRun) {
    failNextThreadStarts(1);
    EXPECT_EQ(IxenmStartFastAcquisition(0), 1);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    while (cameraAt(0)->busy != 0 || !cameraAt(0)->receiveThread.ended()) {
        std::this_thread::yield();
    }
    failNextThreadStarts(1);
    EXPECT_EQ(IxenmIsFastAcquisitionReady(0, image_.data(), kW * kH * 6, 1), -11);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);

    // A close during a long exposure of a series stops it and frees the bus.
    kqsimSetTimeScale(1.0);
    ASSERT_EQ(IxenmSetExposure(0, 60000000), 0u);
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    IxenmClose(0);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    EXPECT_EQ(kqsimOpenHandles(), 0u);
}

// Series started, polled and aborted from two threads at once, many times over.
TEST_F(Fast, SeriesPolledAndAbortedFromTwoThreadsLeaveNothingBehind) {
    constexpr int kSeries = 200;
    for (int i = 0; i < kSeries; ++i) {
        ASSERT_EQ(IxenmStartFastAcquisition(0), 0) << "series " << i;
        std::atomic<bool> ended{false};
        std::thread poller([&] {
            std::vector<uint16_t> image(kW * kH * 3);
            while (!ended) {
                const int32_t r =
                    IxenmIsFastAcquisitionReady(0, image.data(), uint32_t(image.size() * 2), 1);
                if (r < 0) {
                    ended = true;
                }
            }
        });
        if (i % 2 == 0) {
            while (cameraAt(0)->runStatistics.delivered < 2) {
                std::this_thread::yield();
            }
        }
        const uint32_t aborted = IxenmAbortFastAcquisition(0);
        EXPECT_TRUE(aborted == 0 || aborted == 11) << aborted;
        ended = true;
        poller.join();
    }
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

}  // namespace
}  // namespace kqfw::test
