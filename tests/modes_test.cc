// Every call in every mode: a camera is brought into each of its activities and held there,
// and the calls of the camera API are made from a second thread and from inside the callback
// that activity runs. Each must give the status the activity table promises, return, and leave
// the camera taking the same image as before.
#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/continuous.h"
#include "acquisition/multishot.h"
#include "acquisition/stream_setup.h"
#include "api_fixture.h"
#include "camera/camera_activity.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {
namespace {

constexpr uint32_t kW = 128, kH = 64;
constexpr uint32_t kExposureUs = 10000;
constexpr uint32_t kImageBytes = kW * kH * 6;
// Room for any image the camera may be set up for meanwhile: references and calibration take
// full colour frames of the whole sensor.
constexpr uint32_t kLargestImageBytes = 1400 * 1040 * 6;
constexpr int32_t kBusy = 10;
constexpr int32_t kNoFastRun = 11;
// A call that has not returned after this is a hang; every call here returns in milliseconds.
constexpr uint32_t kHangMs = 60000;

enum class Held {
    kPrepared,
    kSingle,
    kSingleDone,
    kMultiShot,
    kContinuous,
    kFast,
    kReference,
    kCalibration
};

const char* nameOf(Held held) {
    switch (held) {
        case Held::kPrepared:
            return "prepared stream";
        case Held::kSingle:
            return "single image";
        case Held::kSingleDone:
            return "single image's end";
        case Held::kMultiShot:
            return "multi-shot";
        case Held::kContinuous:
            return "continuous run";
        case Held::kFast:
            return "fast series";
        case Held::kReference:
            return "reference";
        case Held::kCalibration:
            return "calibration";
    }
    return "?";
}

// What a call does in a held activity, by the table of the design notes.
enum class Rule {
    kAnswers,      // getters and calls with no busy test: 0
    kSetting,      // setters with the busy test: 10, but 0 between a prepared stream's frames
    kShaping,      // setters of what a stream delivers: 10, also with a prepared stream
    kActivity,     // calls that start an activity of their own: 10
    kStopRefused,  // a stop names a continuous run: 0 at once, nothing ended
    kAbortRefused  // an abort names a fast series: 11, nothing ended
};

struct Call {
    const char* name;
    Rule rule;
    std::function<int32_t()> call;
};

int32_t expected(Rule rule, Held held) {
    switch (rule) {
        case Rule::kAnswers:
            return 0;
        case Rule::kSetting:
            return held == Held::kPrepared ? 0 : kBusy;
        case Rule::kShaping:
            return kBusy;
        case Rule::kActivity:
            return kBusy;
        case Rule::kStopRefused:
            return 0;
        case Rule::kAbortRefused:
            return kNoFastRun;
    }
    return -1;
}

// Whether the call belongs in the row: a stop or abort of the activity held would end it, and a
// prepared stream is ended or used (as it should be) by the trio's own calls.
bool applies(const Call& call, Held held) {
    const std::string name = call.name;
    if (held == Held::kContinuous && (call.rule == Rule::kStopRefused || name == "abort fast")) {
        return false;
    }
    if (held == Held::kFast && call.rule == Rule::kAbortRefused) {
        return false;
    }
    if (held == Held::kPrepared &&
        (name == "acquisition" || name == "initialize" || name == "next" || name == "finalize" ||
         name == "reset calibration")) {
        return false;
    }
    return true;
}

int32_t onFrameKeepGoing(uint16_t*, uint32_t, int32_t, uint64_t, uint64_t) {
    return 1;
}

class Modes : public ApiTest {
  public:
    // The calls from inside the activity's own callback (on that callback's thread, which
    // counts as a call on the camera) and then from the test's thread while the callback waits.
    void fromInside(Held held) {
        if (insideDone_.exchange(true)) {
            return;
        }
        callAllHere(held, "its callback");
        entered_.set();
        released_.wait();
    }

  protected:
    void SetUp() override {
        ApiTest::SetUp();
        exactBench(0.01);
        openFramed(0, kW, kH, kExposureUs);
        // The values the calls below set again, so that a call that proceeds changes nothing.
        ASSERT_EQ(IxenmSetWhiteBalance(0, 1, 1, 1), 0u);
        ASSERT_EQ(IxenmSetColorSaturation(0, 1, 1, 1), 0u);
        ASSERT_EQ(IxenmSetBloomingVoltage(0, 0), 0u);
        ASSERT_EQ(IxenmEnablePacking(0, 1), 0u);
        image_.assign(kLargestImageBytes / 2, 0);
        calls_ = makeCalls();
    }

    std::vector<Call> makeCalls() {
        uint32_t rect[4] = {0, 0, kW, kH};
        IxenmGetCurrentImageSize(0, rect);
        uint32_t gain = 0;
        IxenmReadAnalogGain(0, &gain);
        auto u = std::make_shared<uint32_t[]>(4);
        auto buffer = &image_;
        return {
            {"get exposure", Rule::kAnswers,
             [=] { return int32_t(IxenmGetCurrentExposure(0, &u[0])); }},
            {"get image size", Rule::kAnswers,
             [=] { return int32_t(IxenmGetCurrentImageSize(0, u.get())); }},
            {"get data size", Rule::kAnswers,
             [=] { return int32_t(IxenmGetCurrentDataSize(0, &u[0], &u[1])); }},
            {"info", Rule::kAnswers, [=] { return int32_t(IxenmInfo(0, u.get())); }},
            {"run statistics", Rule::kAnswers,
             [] {
                 KqfwRunStatistics s;
                 return int32_t(kqfwGetRunStatistics(0, &s));
             }},
            {"shot progress", Rule::kAnswers,
             [=] { return int32_t(kqfwGetShotProgress(0, &u[0], &u[1])); }},
            {"read gain", Rule::kAnswers, [=] { return int32_t(IxenmReadAnalogGain(0, &u[0])); }},
            {"write gain", Rule::kAnswers, [=] { return int32_t(IxenmWriteAnalogGain(0, gain)); }},
            {"saturation", Rule::kAnswers,
             [] { return int32_t(IxenmSetColorSaturation(0, 1, 1, 1)); }},
            {"exposure", Rule::kSetting, [] { return int32_t(IxenmSetExposure(0, kExposureUs)); }},
            {"hardware trigger", Rule::kAnswers,
             [] { return int32_t(IxenmEnableHardwareTrigger(0, 0)); }},
            {"blooming voltage", Rule::kSetting,
             [] { return int32_t(IxenmSetBloomingVoltage(0, 0)); }},
            {"white balance", Rule::kSetting,
             [] { return int32_t(IxenmSetWhiteBalance(0, 1, 1, 1)); }},
            {"black reference switch", Rule::kSetting,
             [] { return int32_t(IxenmSetBlackRef(0, 0)); }},
            {"resolution", Rule::kShaping, [] { return int32_t(IxenmSetResolution(0, 0)); }},
            {"bits per pixel", Rule::kShaping, [] { return int32_t(IxenmSetBitsPerPixel(0, 42)); }},
            {"binning", Rule::kShaping, [] { return int32_t(IxenmSetBinning(0, 1)); }},
            {"image size", Rule::kShaping,
             [=] {
                 uint32_t r[4] = {rect[0], rect[1], rect[2], rect[3]};
                 return int32_t(IxenmSetImageSize(0, r));
             }},
            {"frame size", Rule::kShaping,
             [=] {
                 uint32_t r[4] = {0, 0, kW, kH};
                 return int32_t(IxenmSetFrameSize(0, r));
             }},
            {"packing", Rule::kShaping, [] { return int32_t(IxenmEnablePacking(0, 1)); }},
            {"8-bit", Rule::kShaping, [] { return int32_t(IxenmEnable8bitCompression(0, 0)); }},
            {"acquisition", Rule::kActivity,
             [=] { return IxenmAcquisition(0, buffer->data(), kLargestImageBytes, nullptr); }},
            {"initialize", Rule::kActivity, [] { return IxenmInitializeAcquisition(0); }},
            {"next", Rule::kActivity,
             [=] {
                 return IxenmNextAcquisition(0, buffer->data(), kLargestImageBytes, kExposureUs);
             }},
            {"finalize", Rule::kActivity, [] { return IxenmFinalizeAcquisition(0); }},
            {"start continuous", Rule::kActivity,
             [] { return IxenmStartContinuousAcquisition(0, 0, 0); }},
            {"start fast", Rule::kActivity, [] { return IxenmStartFastAcquisition(0); }},
            {"black reference", Rule::kActivity,
             [] { return int32_t(IxenmCalculateBlackRef(0, nullptr)); }},
            {"white reference", Rule::kActivity,
             [] { return int32_t(IxenmCalculateWhiteRef(0, nullptr)); }},
            {"calibrate", Rule::kActivity,
             [] { return int32_t(IxenmCalibrateEx(0, 1, nullptr, 0)); }},
            {"readout time", Rule::kActivity,
             [=] { return int32_t(IxenmGetCurrentReadouttime(0, &u[0])); }},
            {"processing context", Rule::kActivity,
             [=] {
                 IpContext* ctx = nullptr;
                 return int32_t(IxenmGetIPInfo(0, &ctx, &u[0], onFrameKeepGoing, &u[1]));
             }},
            {"reset calibration", Rule::kSetting, [] { return int32_t(IxenmResetCalibration(0)); }},
            {"stop continuous", Rule::kStopRefused,
             [] { return IxenmStopContinuousAcquisition(0); }},
            {"abort fast", Rule::kAbortRefused, [] { return IxenmAbortFastAcquisition(0); }},
        };
    }

    // Every call of the row, each on a thread of its own that must return within the bound.
    void callAll(Held held, const char* from) {
        for (const Call& call : calls_) {
            if (!applies(call, held)) {
                continue;
            }
            Event returned{true};
            std::atomic<int32_t> status{-1};
            std::thread caller([&] {
                status = call.call();
                returned.set();
            });
            const bool inTime = returned.wait(kHangMs);
            if (!inTime) {
                ADD_FAILURE() << call.name << " from " << from << " in " << nameOf(held)
                              << " did not return";
                caller.detach();
                return;
            }
            caller.join();
            EXPECT_EQ(status.load(), expected(call.rule, held))
                << call.name << " from " << from << " in " << nameOf(held);
            ++made_;
        }
    }

    // On the callback's own thread: a call that hangs there hangs the test, which ctest's time
    // limit reports.
    void callAllHere(Held held, const char* from) {
        for (const Call& call : calls_) {
            if (applies(call, held)) {
                EXPECT_EQ(call.call(), expected(call.rule, held))
                    << call.name << " from " << from << " in " << nameOf(held);
                ++made_;
            }
        }
    }
    void fromAnotherThread(Held held) {
        entered_.wait();
        callAll(held, "another thread");
        released_.set();
    }

    std::vector<uint16_t> image_;
    std::vector<Call> calls_;
    Event entered_{true}, released_{true};
    std::atomic<bool> insideDone_{false};
    std::atomic<int> made_{0};
};

Modes* current = nullptr;

int32_t progressInside(uint32_t, uint32_t, int32_t, uint64_t held) {
    current->fromInside(static_cast<Held>(held));
    return 0;
}
int32_t imageDoneInside(uint64_t held) {
    current->fromInside(static_cast<Held>(held));
    return 0;
}
int32_t frameInside(uint16_t* frame, uint32_t, int32_t, uint64_t, uint64_t held) {
    if (frame != nullptr) {
        current->fromInside(static_cast<Held>(held));
    }
    return 1;
}
int32_t calibrationInside(uint32_t, uint32_t, float*, uintptr_t held) {
    current->fromInside(static_cast<Held>(held));
    return 0;
}

TEST_F(Modes, EveryCallInEveryActivityGivesTheTablesStatusReturnsAndLeavesTheImageExact) {
    current = this;
    const std::vector<uint16_t> before = snap(0);
    const auto h = [](Held held) { return static_cast<uint64_t>(held); };
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    std::vector<uint16_t> series(kImageBytes / 2);
    ASSERT_EQ(IxenmAcquisition(0, series.data(), kImageBytes, nullptr), 0);
    ASSERT_EQ(IxenmSetResolution(0, 0), 0u);
    for (Held held : {Held::kSingle, Held::kSingleDone, Held::kMultiShot, Held::kContinuous,
                      Held::kFast, Held::kReference, Held::kCalibration}) {
        SCOPED_TRACE(nameOf(held));
        entered_.reset();
        released_.reset();
        insideDone_ = false;
        std::atomic<int32_t> result{-1};
        std::thread activity([&] {
            switch (held) {
                case Held::kSingle:
                    result = IxenmAcquisitionEx(0, image_.data(), kLargestImageBytes,
                                                progressInside, h(held));
                    break;
                case Held::kSingleDone:
                    IxenmSetImagedoneCallback(0, imageDoneInside, h(held));
                    result = IxenmAcquisition(0, image_.data(), kLargestImageBytes, nullptr);
                    break;
                case Held::kMultiShot:
                    IxenmSetResolution(0, 3);
                    result = IxenmAcquisitionEx(0, image_.data(), kLargestImageBytes,
                                                progressInside, h(held));
                    break;
                case Held::kContinuous:
                    result = startRun(0, frameInside, h(held));
                    break;
                case Held::kFast:
                    IxenmSetImagedoneCallback(0, imageDoneInside, h(held));
                    result = IxenmStartFastAcquisition(0);
                    nextFastImage(0, image_, 0);
                    break;
                case Held::kReference:
                    kqsimSetScene(KQSIM_SCENE_DARK, 0, nullptr, 0, 0, 0);
                    result = IxenmCalculateBlackRefEx(0, progressInside, h(held));
                    break;
                case Held::kCalibration:
                    // The slide's bars at the sensor's centre show at this exposure.
                    IxenmSetExposure(0, 100000);
                    IxenmSetResolution(0, 3);
                    result = IxenmCalibrateEx(0, 1, calibrationInside, h(held));
                    break;
                case Held::kPrepared:
                    break;
            }
            // An activity that ended without calling back would leave the test waiting.
            entered_.set();
        });
        fromAnotherThread(held);
        EXPECT_TRUE(insideDone_) << "the activity never called back";
        if (held == Held::kContinuous) {
            EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
        }
        activity.join();
        EXPECT_EQ(result.load(), 0) << "the activity itself completes";
        if (held == Held::kSingle || held == Held::kSingleDone) {
            EXPECT_TRUE(std::equal(before.begin(), before.end(), image_.begin()));
        } else if (held == Held::kMultiShot) {
            EXPECT_TRUE(std::equal(series.begin(), series.end(), image_.begin()))
                << "a stop aimed at a run leaves the series whole";
        }
        // Put back what the activity's set-up changed, and show the camera exact again.
        IxenmSetImagedoneCallback(0, nullptr, 0);
        kqsimSetScene(KQSIM_SCENE_SLIDE, 0, nullptr, 0, 0, 0);
        ASSERT_EQ(IxenmSetResolution(0, 0), 0u);
        ASSERT_EQ(IxenmSetExposure(0, kExposureUs), 0u);
        ASSERT_EQ(IxenmResetCalibration(0), 0u);
        EXPECT_EQ(snap(0), before) << "after " << nameOf(held);
    }

    // A prepared stream: the calls of another activity are refused and the stream stays.
    ASSERT_EQ(IxenmInitializeAcquisition(0), 0);
    callAll(Held::kPrepared, "another thread");
    callAllHere(Held::kPrepared, "the application's thread");
    std::vector<uint16_t> next(kImageBytes / 2);
    EXPECT_EQ(IxenmNextAcquisition(0, next.data(), kImageBytes, kExposureUs), 0);
    EXPECT_EQ(next, before) << "the prepared stream still delivers";
    EXPECT_EQ(IxenmFinalizeAcquisition(0), 0);
    EXPECT_EQ(snap(0), before);
    RecordProperty("calls", made_.load());
    std::printf("calls made in held activities: %d\n", made_.load());
    current = nullptr;
}

}  // namespace
}  // namespace kqfw::test

namespace kqfw::test {
namespace {

constexpr uint32_t kIsoEnable = 0xF0F00000 + 0x614;

// The seams between modes that once gave overflows, hangs or wrong images, each as an
// application meets it.
using Seams = Modes;

TEST_F(Seams, APreparedStreamKeepsWhatItDeliversAndFollowsTheExposure) {
    const std::vector<uint16_t> before = snap(0);
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    EXPECT_EQ(IxenmInitializeAcquisition(0), 8) << "a series cannot run on a single-shot stream";
    ASSERT_EQ(IxenmSetResolution(0, 0), 0u);

    ASSERT_EQ(IxenmInitializeAcquisition(0), 0);
    // What the stream delivers stays until it is finalised: a smaller region or binning would
    // have been processed from the prepared frame into a buffer sized for the new settings.
    uint32_t small[4] = {0, 0, 32, 32};
    EXPECT_EQ(IxenmSetImageSize(0, small), 10u);
    EXPECT_EQ(IxenmSetBinning(0, 3), 10u);
    EXPECT_EQ(IxenmEnable8bitCompression(0, 1), 10u);
    EXPECT_EQ(IxenmEnablePacking(0, 0), 10u);
    std::vector<uint16_t> image(kImageBytes / 2);
    EXPECT_EQ(IxenmNextAcquisition(0, image.data(), kImageBytes, kExposureUs), 0);
    EXPECT_EQ(image, before);
    // An image asked in between uses the prepared stream and leaves it prepared.
    std::fill(image.begin(), image.end(), 0);
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, nullptr), 0);
    EXPECT_EQ(image, before);
    // An exposure set between two frames reaches the camera before the next frame.
    ASSERT_EQ(IxenmSetExposure(0, 2 * kExposureUs), 0u);
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, nullptr), 0);
    const std::vector<uint16_t> longer = image;
    EXPECT_NE(longer, before);
    EXPECT_EQ(IxenmNextAcquisition(0, image.data(), kImageBytes, 2 * kExposureUs), 0);
    EXPECT_EQ(image, longer);
    EXPECT_EQ(IxenmFinalizeAcquisition(0), 0);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    EXPECT_EQ(snap(0), longer) << "the same image from a stream of its own";
}

TEST_F(Seams, ASeriesThatAbortsAtOnceOrLosesEveryFrameLeavesTheCameraStoppedAndEnds) {
    const std::vector<uint16_t> before = snap(0);
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    // Asked to abort before the receive was under way, the stop came before the start.
    const auto abortAtOnce = [](uint32_t, uint32_t, int32_t) -> int32_t { return 1; };
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(IxenmAcquisition(0, image_.data(), kLargestImageBytes, abortAtOnce), 4);
        uint32_t iso = 1;
        ASSERT_EQ(kqsimPeekRegister(0, kIsoEnable, &iso), 0);
        EXPECT_EQ(iso, 0u) << "the camera still streams after the abort (round " << round << ")";
    }
    // No frame ever arrives: the series fails within its first shot's wait.
    for (uint32_t nth = 1; nth <= 8; ++nth) {
        ASSERT_EQ(kqsimDropFrame(0, nth), 0);
    }
    EXPECT_EQ(IxenmAcquisition(0, image_.data(), kLargestImageBytes, nullptr), 30);
    ASSERT_EQ(IxenmSetResolution(0, 0), 0u);
    kqsimClearFaults();
    EXPECT_EQ(snap(0), before);
}

TEST_F(Seams, AFrameDelayedPastTheReceivesWaitFailsOneImageOnly) {
    const std::vector<uint16_t> before = snap(0);
    ASSERT_EQ(kqsimDelayFrame(0, 1, 600000), 0);
    std::vector<uint16_t> image(kImageBytes / 2);
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, nullptr), 24);
    EXPECT_EQ(snap(0), before) << "the late frame is not delayed again";
}

TEST_F(Seams, AnAbortOfAFastSeriesEndsAContinuousRunAtAnyExposure) {
    const std::vector<uint16_t> before = snap(0);
    ASSERT_EQ(startRun(0, onFrameKeepGoing), 0);
    EXPECT_EQ(IxenmAbortFastAcquisition(0), 0);
    KqfwRunStatistics s{};
    ASSERT_EQ(kqfwGetRunStatistics(0, &s), 0u);
    EXPECT_EQ(s.running, 0u);
    uint32_t iso = 1;
    ASSERT_EQ(kqsimPeekRegister(0, kIsoEnable, &iso), 0);
    EXPECT_EQ(iso, 0u);
    EXPECT_EQ(IxenmAbortFastAcquisition(0), 11) << "nothing left to abort";
    EXPECT_EQ(snap(0), before);
}

// A run's stop joins its threads without the settings lock; a start that came when the run had
// given the camera back would put its threads into the handles the stop still waits on, and
// the stop would wait for the new run.
std::atomic<StatusCode> startBetweenJoins{99};

TEST_F(Seams, AStartWhileAStopJoinsTheRunsThreadsIsBusyAndTheStopReturns) {
    ASSERT_EQ(startRun(0, onFrameKeepGoing), 0);
    betweenStopJoins = [] {
        // The dispatch thread gives the camera back after its tear-down; this waits for that,
        // not for a time.
        while (activityOf(*cameraAt(0)) != Activity::kIdle) {
            std::this_thread::yield();
        }
        startBetweenJoins = static_cast<StatusCode>(IxenmStartContinuousAcquisition(0, 0, 0));
    };
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
    betweenStopJoins = nullptr;
    EXPECT_EQ(startBetweenJoins.load(), KQFW_STATUS_BUSY);
    KqfwRunStatistics s{};
    ASSERT_EQ(kqfwGetRunStatistics(0, &s), 0u);
    EXPECT_EQ(s.running, 0u);
    EXPECT_EQ(IxenmStartContinuousAcquisition(0, 0, 0), 0) << "the camera is free once stopped";
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
}

TEST_F(Seams, ReferencesAreMeasuredFromFullSamplesWhateverTheTransfer) {
    kqsimSetScene(KQSIM_SCENE_DARK, 0, nullptr, 0, 0, 0);
    const CameraContext& c = *cameraAt(0);
    const size_t bytes = (size_t{c.sensorHeight} + 2) * c.sensorWidth * 2;
    std::vector<uint8_t> full(bytes), compressed(bytes);
    ASSERT_EQ(IxenmCalculateBlackRef(0, nullptr), 0u);
    ASSERT_EQ(IxenmSaveBlackRef(0, full.data(), uint32_t(bytes)), 0u);
    ASSERT_EQ(IxenmEnable8bitCompression(0, 1), 0u);
    ASSERT_EQ(IxenmCalculateBlackRef(0, nullptr), 0u);
    ASSERT_EQ(IxenmSaveBlackRef(0, compressed.data(), uint32_t(bytes)), 0u);
    EXPECT_EQ(full, compressed);
}

// A close asked from inside the library's own callbacks, and the opening that follows it.
int32_t closeFromImageDone(uint64_t) {
    IxenmClose(0);
    return 0;
}

TEST_F(Seams, ACloseFromAFastFramesCallbackCompletesBeforeTheSlotOpensAgain) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(IxenmSetImagedoneCallback(0, closeFromImageDone, 0), 0u);
        ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
        const int32_t ready = nextFastImage(0, image_, 1);
        EXPECT_TRUE(ready == 3 || ready == -11 || ready == 1) << ready;
        ASSERT_EQ(IxenmInit(0), 0u);
        EXPECT_EQ(info(0).size(), 4u);
        uint32_t frame[4] = {0, 0, kW, kH};
        ASSERT_EQ(IxenmSetFrameSize(0, frame), 0u) << "the new session answers";
    }
}

std::atomic<uint32_t> reopenedFromCallback{0};
int32_t closeAndReopen(uint64_t) {
    IxenmClose(0);
    reopenedFromCallback = IxenmInit(0);
    return 0;
}

TEST_F(Seams, AnOpeningFromInsideAClosingCallIsRefusedAndTheCloseCompletesAfterIt) {
    ASSERT_EQ(IxenmSetImagedoneCallback(0, closeAndReopen, 0), 0u);
    std::vector<uint16_t> image(kImageBytes / 2);
    // The frame had arrived: the image is finished before the close completes.
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, nullptr), 0);
    EXPECT_EQ(reopenedFromCallback.load(), 10u);
    EXPECT_FALSE(slotIsOccupied(0));
    EXPECT_EQ(kqsimOpenHandles(), 0u) << "the close completed as the call returned";
    ASSERT_EQ(IxenmInit(0), 0u);
}

TEST_F(Seams, TheGainChangesDuringARunWithoutWaitingForIt) {
    uint32_t gain = 0;
    ASSERT_EQ(IxenmReadAnalogGain(0, &gain), 0u);
    ASSERT_EQ(startRun(0, onFrameKeepGoing), 0);
    EXPECT_EQ(IxenmWriteAnalogGain(0, gain + 5), 0u);
    uint32_t changed = 0;
    EXPECT_EQ(IxenmReadAnalogGain(0, &changed), 0u);
    EXPECT_EQ(changed, gain + 5);
    EXPECT_EQ(IxenmStopContinuousAcquisition(0), 0);
}

std::atomic<uint64_t> firstDone{0}, secondDone{0};
int32_t firstCallback(uint64_t value) {
    firstDone = value;
    return 0;
}
int32_t secondCallback(uint64_t value) {
    secondDone = value;
    return 0;
}
// Registers another image-done callback while the frame is awaited, then sends the pulse the
// camera waits for (again at each report: a pulse before the camera is armed is lost).
int32_t switchThenTrigger(uint32_t, uint32_t, int32_t) {
    IxenmSetImagedoneCallback(0, secondCallback, 7);
    kqsimTrigger(0);
    return 0;
}

TEST_F(Seams, TheImageDoneCallbackIsTheOneRegisteredWhenTheFrameArrived) {
    kqsimSetTimeScale(1.0);
    firstDone = secondDone = 0;
    ASSERT_EQ(IxenmSetImagedoneCallback(0, firstCallback, 5), 0u);
    ASSERT_EQ(IxenmEnableHardwareTrigger(0, 1), 0u);
    std::vector<uint16_t> image(kImageBytes / 2);
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, switchThenTrigger), 0);
    EXPECT_EQ(firstDone.load(), 0u);
    EXPECT_EQ(secondDone.load(), 7u);
}

int32_t closeFromCalibration(uint32_t, uint32_t, float*, uintptr_t) {
    IxenmClose(0);
    return 0;
}

TEST_F(Seams, ACloseFromTheCalibrationCallbackEndsTheRunAfterThatRound) {
    ASSERT_EQ(IxenmSetExposure(0, 100000), 0u);
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    EXPECT_EQ(IxenmCalibrateEx(0, 3, closeFromCalibration, 0), 4u);
    EXPECT_FALSE(slotIsOccupied(0));
}

TEST_F(Seams, ATriggeredFrameWithNoPulseIsStoppedWhateverTheSwitchSaysNow) {
    const std::vector<uint16_t> before = snap(0);
    ASSERT_EQ(IxenmEnableHardwareTrigger(0, 1), 0u);
    // The fast series waits for a pulse that never comes; the switch goes off meanwhile.
    ASSERT_EQ(IxenmStartFastAcquisition(0), 0);
    ASSERT_EQ(IxenmEnableHardwareTrigger(0, 0), 0u);
    EXPECT_EQ(IxenmAbortFastAcquisition(0), 0);
    EXPECT_EQ(snap(0), before) << "the camera left trigger mode";
    // A single frame waiting for its pulse is stopped by the progress callback's abort.
    ASSERT_EQ(IxenmEnableHardwareTrigger(0, 1), 0u);
    std::vector<uint16_t> image(kImageBytes / 2);
    const auto abort = [](uint32_t, uint32_t, int32_t) -> int32_t { return 1; };
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, abort), 4);
    ASSERT_EQ(IxenmEnableHardwareTrigger(0, 0), 0u);
    EXPECT_EQ(snap(0), before);
}

TEST_F(Seams, ASeriesWhoseEveryCancelIsRefusedStillEnds) {
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    std::vector<uint16_t> series(kImageBytes / 2);
    ASSERT_EQ(IxenmAcquisition(0, series.data(), kImageBytes, nullptr), 0);
    kqsimFailRequest(kIoctlCancelReceive, 0, 31);
    std::vector<uint16_t> image(kImageBytes / 2);
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes, nullptr), 0);
    EXPECT_EQ(image, series);
    kqsimClearFaults();
}

// Holds the collector at its third shot until the driver has completed frame 2 + 4, after which
// frame 2 + 5 refills the third shot's ring slot: the copy may now overlap the refill.
void lapTheCollector(uint32_t shot) {
    if (shot != 2) {
        return;
    }
    const DeviceHandle second = openSecondHandle(*cameraAt(0));
    while (newestFrameOn(second, -1) < int32_t(shot + kRingSlots - 1)) {
        std::this_thread::yield();
    }
    closeSecondHandle(second);
}

TEST_F(Seams, ASeriesWhoseRingLappedTheCollectorFailsInsteadOfMergingARefilledSlot) {
    ASSERT_EQ(IxenmSetResolution(0, 4), 0u);  // 16 shots, more than the ring holds
    beforeShotCopy = lapTheCollector;
    EXPECT_EQ(IxenmAcquisition(0, image_.data(), kLargestImageBytes, nullptr), 30);
    beforeShotCopy = nullptr;
    // At the camera's own pace, so a loaded machine does not lap the collector for real (at a
    // hundredth of real time five frames take half a millisecond).
    kqsimSetTimeScale(1.0);
    std::vector<uint16_t> image(kImageBytes * 4 / 2);
    EXPECT_EQ(IxenmAcquisition(0, image.data(), kImageBytes * 4, nullptr), 0);
}

TEST_F(Seams, FinalizingWithoutAPreparedStreamAsksTheDriverNothing) {
    const uint32_t stops = kqsimRequestCount(kIoctlIsochStop);
    EXPECT_EQ(IxenmFinalizeAcquisition(0), 0);
    EXPECT_EQ(kqsimRequestCount(kIoctlIsochStop), stops);
}

std::atomic<int> whiteCalls{0};
int32_t closeDuringWhite(uint32_t, uint32_t, int32_t state) {
    if (state == 2 && whiteCalls++ == 0) {
        std::thread([] { IxenmClose(0); }).detach();
        // The slot refuses new calls once its close began.
        while (CameraLease(0).get() != nullptr) {
            std::this_thread::yield();
        }
    }
    return 0;
}

TEST_F(Seams, ACloseDuringAWhiteReferenceAbortsIt) {
    kqsimSetScene(KQSIM_SCENE_FLAT, 0.5, nullptr, 0, 0, 0);
    whiteCalls = 0;
    EXPECT_EQ(IxenmCalculateWhiteRef(0, closeDuringWhite), 4u);
    while (slotIsOccupied(0)) {
        std::this_thread::yield();
    }
}

}  // namespace
}  // namespace kqfw::test
