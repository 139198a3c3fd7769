// Continuous acquisition as a live view uses it: frames through the callback in order, the skip
// rule when the callback is slow, the ways a run ends, and runs beside other calls and closes.
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "acquisition/stream_setup.h"
#include "api_fixture.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kqfw::test {
namespace {

constexpr uint32_t kCommandBase = 0xF0F00000;
constexpr uint32_t kIsoEnable = kCommandBase + 0x614;
constexpr uint32_t kW = 128, kH = 64;
constexpr uint32_t kExposureUs = 20000;

// What a run's callbacks saw, shared with the test thread.
struct LiveRun {
    std::mutex mutex;
    std::vector<int32_t> indexes;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint64_t> slotValues;
    std::atomic<int> endNotifications{0};
    std::atomic<uint64_t> endUserValue{0};
    Event framesSeen{true};
    Event ended{true};
    size_t enough = 1;
    // What the callback does with the frame it gets; its result goes to the library.
    int32_t (*action)(LiveRun&, int32_t) = nullptr;
};

// The user value of every run is the address of its LiveRun.
int32_t onFrame(uint16_t* frame, uint32_t bytes, int32_t index, uint64_t slot, uint64_t user) {
    LiveRun& run = *reinterpret_cast<LiveRun*>(user);
    if (frame == nullptr) {
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(index, 0);
        EXPECT_EQ(slot, 0u);
        run.endUserValue = user;
        ++run.endNotifications;
        run.ended.set();
        return 0;
    }
    size_t seen;
    {
        std::lock_guard lock(run.mutex);
        run.indexes.push_back(index);
        run.slotValues.push_back(slot);
        const auto* b = reinterpret_cast<const uint8_t*>(frame);
        run.frames.emplace_back(b, b + bytes);
        seen = run.indexes.size();
    }
    const int32_t go = run.action != nullptr ? run.action(run, index) : 1;
    if (seen >= run.enough) {
        run.framesSeen.set();
    }
    return go;
}

class Continuous : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        // Real time: a frame stays in its ring slot for two frame periods after the next one
        // began, which every callback here (also under the sanitizers) stays well within.
        exactBench(1.0);
        open();
    }
    void open() {
        openFramed(0, kW, kH, kExposureUs);
        prepare(0);
    }
    void prepare(int32_t camera) {
        IpContext* context = nullptr;
        uint32_t contextBytes = 0;
        ASSERT_EQ(IxenmGetIPInfo(camera, &context, &contextBytes, onFrame, &frameBytes_), 0u);
        context_ = context;
    }
    int32_t start(LiveRun& run, int32_t camera = 0) {
        return IxenmStartContinuousAcquisition(camera, 0, reinterpret_cast<uintptr_t>(&run));
    }
    static KqfwRunStatistics statistics(int32_t camera = 0) {
        KqfwRunStatistics s{};
        EXPECT_EQ(kqfwGetRunStatistics(camera, &s), 0u);
        return s;
    }
    // The camera and the bus are back to rest: nothing streams, nothing is reserved, and a
    // single acquisition works.
    void expectIdleAndUsable(int32_t camera = 0) {
        uint32_t iso = 1;
        ASSERT_EQ(kqsimPeekRegister(camera, kIsoEnable, &iso), 0);
        EXPECT_EQ(iso, 0u) << "the camera still streams";
        EXPECT_EQ(kqsimBandwidthInUse(), 0u);
        EXPECT_EQ(statistics(camera).running, 0u);
        snap(camera);
    }
    IpContext* context_ = nullptr;
    uint32_t frameBytes_ = 0;
};

TEST_F(Continuous, FramesArriveInOrderAsReceivedAndProcessLikeASingleImage) {
    LiveRun run;
    run.enough = 12;
    ASSERT_EQ(start(run), 0);
    run.framesSeen.wait();
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    EXPECT_EQ(run.endNotifications.load(), 0) << "a stopped run has no end notification";

    std::lock_guard lock(run.mutex);
    ASSERT_GE(run.indexes.size(), 12u);
    EXPECT_EQ(run.indexes[0], 0);
    for (size_t i = 0; i < run.indexes.size(); ++i) {
        ASSERT_EQ(run.frames[i].size(), frameBytes_);
        if (i > 0) {
            EXPECT_GT(run.indexes[i], run.indexes[i - 1]) << "frames in order";
            EXPECT_GT(run.slotValues[i], run.slotValues[i - 1]) << "the driver's slot times";
        }
    }
    const KqfwRunStatistics s = statistics();
    EXPECT_EQ(s.framesDelivered, run.indexes.size());
    EXPECT_EQ(s.framesDelivered + s.framesSkipped, uint64_t(run.indexes.back()) + 1)
        << "every frame is delivered or counted as skipped";
    // The frame is the raw transfer: processed offline it is the image a single acquisition
    // of the same scene gives.
    std::vector<uint16_t> live(kW * kH * 3), single(kW * kH * 3);
    std::vector<uint8_t> raw = run.frames[5];
    raw.resize(kW * kH * 2);
    ASSERT_EQ(IxenmExecuteIPFunction(context_, live.data(), raw.data()), 0u);
    ASSERT_EQ(IxenmAcquisition(0, single.data(), uint32_t(single.size() * 2), nullptr), 0);
    EXPECT_EQ(live, single);
}

TEST_F(Continuous, ASlowCallbackSkipsToTheNewestFramesButThree) {
    // Frames 0 to 9 arrive, then the camera holds frame 10 back for a minute.
    ASSERT_EQ(kqsimDelayFrame(0, 11, 60000), 0);
    LiveRun run;
    run.enough = 5;
    run.action = [](LiveRun& r, int32_t) -> int32_t {
        if (r.indexes.size() == 1) {
            // Hold the first frame until the driver has completed ten.
            const DeviceHandle second = openSecondHandle(*cameraAt(0));
            while (newestFrameOn(second, -1) < 9) {
                std::this_thread::yield();
            }
            closeSecondHandle(second);
        }
        return 1;
    };
    ASSERT_EQ(start(run), 0);
    run.framesSeen.wait();
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    std::lock_guard lock(run.mutex);
    // The first wake-up may come a few frames late: from the first frame delivered, the next is
    // the newest but three.
    const int32_t first = run.indexes[0];
    ASSERT_LT(first, 6);
    EXPECT_EQ(run.indexes, (std::vector<int32_t>{first, 6, 7, 8, 9}));
    const KqfwRunStatistics s = statistics();
    EXPECT_EQ(s.framesDelivered, 5u);
    EXPECT_EQ(s.framesSkipped, uint64_t(5 - first));
    EXPECT_EQ(s.latestFrameIndex, 9);
    EXPECT_EQ(s.framesLost, 0u);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

TEST_F(Continuous, ACallbackThatEndsTheRunGetsTheEndNotificationAndTheCameraStops) {
    LiveRun run;
    run.action = [](LiveRun&, int32_t) -> int32_t { return 0; };
    ASSERT_EQ(start(run), 0);
    run.ended.wait();
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0) << "reaps the ended run's threads";
    EXPECT_EQ(run.endNotifications.load(), 1);
    EXPECT_EQ(run.endUserValue.load(), reinterpret_cast<uintptr_t>(&run));
    std::lock_guard lock(run.mutex);
    EXPECT_EQ(run.indexes.size(), 1u);
    expectIdleAndUsable();
}

TEST_F(Continuous, AStopFromAnotherThreadWaitsForTheCallbackAndNoFrameFollows) {
    static Event inside{true}, release{true};
    inside.reset();
    release.reset();
    LiveRun run;
    run.action = [](LiveRun&, int32_t index) -> int32_t {
        if (index == 2) {
            inside.set();
            release.wait();
        }
        return 1;
    };
    ASSERT_EQ(start(run), 0);
    inside.wait();
    std::atomic<int32_t> stopped{-1};
    std::thread stopper([&] { stopped = IxenmStopContinuousAcquisition(0); });
    while (cameraAt(0)->stopRequested == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(stopped.load(), -1) << "the stop returned while the callback still ran";
    release.set();
    stopper.join();
    EXPECT_EQ(stopped.load(), 0);
    std::lock_guard lock(run.mutex);
    EXPECT_EQ(run.indexes.back(), 2) << "a frame was delivered after the stop";
    EXPECT_EQ(run.endNotifications.load(), 0);
}

TEST_F(Continuous, StopAndCloseFromInsideTheCallbackEndTheRunWhenItReturns) {
    LiveRun stop;
    stop.action = [](LiveRun&, int32_t) -> int32_t {
        EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
        return 1;
    };
    ASSERT_EQ(start(stop), 0);
    stop.framesSeen.wait();
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    {
        std::lock_guard lock(stop.mutex);
        EXPECT_EQ(stop.indexes.size(), 1u);
    }
    EXPECT_EQ(stop.endNotifications.load(), 0);
    expectIdleAndUsable();

    LiveRun close;
    close.action = [](LiveRun&, int32_t) -> int32_t {
        IxenmClose(0);
        uint32_t exposure = 0;
        EXPECT_EQ(IxenmGetCurrentExposure(0, &exposure), 3u) << "the slot is closing";
        return 1;
    };
    ASSERT_EQ(start(close), 0);
    close.framesSeen.wait();
    while (kqsimOpenHandles() != 0) {
        std::this_thread::yield();  // the run completes the close as it ends
    }
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    ASSERT_EQ(IxenmInit(0), 0u);
}

// What a run refuses meanwhile is the activity matrix's (modes_test.cc).
TEST_F(Continuous, ARunIsReportedAndStopsOfNothingOrNoCameraAreAnswered) {
    LiveRun run;
    ASSERT_EQ(start(run), 0);
    EXPECT_EQ(statistics().running, 1u);
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0) << "a stop with nothing running";
    EXPECT_EQ(IxenmStopContinuousAcquisition(7), 3);
    EXPECT_EQ(IxenmStartContinuousAcquisition(7, 0, 0), 3);
    EXPECT_EQ(kqfwGetRunStatistics(0, nullptr), 8u);
    expectIdleAndUsable();
}

TEST_F(Continuous, OverlappedTriggerOnOldFirmwareIsRefused) {
    KqsimCameraConfig config;
    kqsimDefaultConfig(0, &config);
    config.firmwareVersion = 265;
    config.uniqueIdLow = 0x00100999;
    ASSERT_GE(kqsimAddCamera(&config), 0);
    ASSERT_EQ(IxenmInit(1), 0u);
    ASSERT_EQ(IxenmInit(2), 0u);
    const int32_t old = info(1)[0] == 265 ? 1 : 2;
    ASSERT_EQ(info(old)[0], 265u);
    ASSERT_EQ(IxenmEnableHardwareTrigger(old, 1), 0u);
    ASSERT_EQ(IxenmEnableOverlappedTriggeredAcquisition(old, 1), 0u);
    LiveRun run;
    EXPECT_EQ(start(run, old), 18);
    EXPECT_EQ(statistics(old).running, 0u);
}

TEST_F(Continuous, LostFramesAreCountedExactlyWhenTheBusLosesThem) {
    ASSERT_EQ(kqsimDropFrame(0, 3), 0);
    ASSERT_EQ(kqsimDropFrame(0, 8), 0);
    LiveRun run;
    run.enough = 12;
    ASSERT_EQ(start(run), 0);
    run.framesSeen.wait();
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    const KqfwRunStatistics s = statistics();
    EXPECT_EQ(s.framesLost, 2u);
    std::lock_guard lock(run.mutex);
    EXPECT_EQ(s.framesDelivered + s.framesSkipped, uint64_t(run.indexes.back()) + 1)
        << "frames lost on the bus take no index";
}

TEST_F(Continuous, UnplugOrBusResetEndsTheRunWithItsNotification) {
    LiveRun reset;
    reset.enough = 3;
    ASSERT_EQ(start(reset), 0);
    reset.framesSeen.wait();
    kqsimBusReset();
    reset.ended.wait();
    EXPECT_EQ(reset.endNotifications.load(), 1);
    expectIdleAndUsable();

    LiveRun unplug;
    unplug.enough = 3;
    ASSERT_EQ(start(unplug), 0);
    unplug.framesSeen.wait();
    ASSERT_EQ(kqsimUnplug(0), 0);
    unplug.ended.wait();
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    EXPECT_EQ(unplug.endNotifications.load(), 1);
    IxenmClose(0);
    EXPECT_EQ(kqsimOpenHandles(), 0u);
    // The mono camera is still on the bus and opens in the slot.
    ASSERT_EQ(IxenmInit(0), 0u);
}

TEST_F(Continuous, AThreadThatCannotBeCreatedUnwindsTheWholeRun) {
    for (int skip : {0, 1}) {  // the dispatch thread, then the receive thread
        failThreadStarts(skip, 1);
        LiveRun run;
        EXPECT_EQ(start(run), 1);
        failThreadStarts(0, 0);
        EXPECT_EQ(statistics().running, 0u);
        EXPECT_EQ(run.endNotifications.load(), 0);
        expectIdleAndUsable();
    }
    const std::vector<std::string> reports = messages();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0], "(0)Couldn\xB4t create callback thread");
    EXPECT_EQ(reports[1], "(0)Couldn\xB4t create thread");
}

// Runs begun and ended every way an application ends them, many times over, beside a thread
// that reads and sets: what the sanitizers need to see.
TEST_F(Continuous, ManyShortRunsEndedEveryWayLeaveNothingBehind) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            uint32_t exposure = 0;
            KqfwRunStatistics s;
            IxenmGetCurrentExposure(0, &exposure);
            kqfwGetRunStatistics(0, &s);
            IxenmSetExposure(0, kExposureUs);
        }
    });
    constexpr int kRuns = 200;
    for (int i = 0; i < kRuns; ++i) {
        LiveRun run;
        if (i % 4 == 1) {
            run.action = [](LiveRun&, int32_t) -> int32_t { return 0; };
        }
        ASSERT_EQ(start(run), 0) << "run " << i;
        if (i % 4 == 1) {
            run.ended.wait();
        } else if (i % 4 != 3) {
            run.framesSeen.wait();
        }
        if (i % 8 == 7) {
            IxenmClose(0);
            open();
        } else {
            ASSERT_EQ(IxenmStopContinuousAcquisition(0), 0);
        }
        ASSERT_LE(run.endNotifications.load(), 1);
    }
    done = true;
    reader.join();
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

}  // namespace
}  // namespace kqfw::test
