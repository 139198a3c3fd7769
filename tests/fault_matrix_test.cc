// Every driver request and register access an entry point issues, failed in turn at each of its
// occurrences (the first few and the last), and the camera unplugged or the bus reset at each
// stage of an acquisition and a run: after each fault the call has answered, nothing of it is
// left running or reserved, the message log holds no storm, and the same camera (re-opened
// where the fault closed it) takes a good image. The matrix prints its size.
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "slide_measures.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {
namespace {

constexpr uint32_t kW = 128, kH = 64;
constexpr uint32_t kExposureUs = 10000;
constexpr uint32_t kGenFailure = 31;
constexpr size_t kMessageStorm = 4;  // more reports than this for one fault is a storm
// The occurrences of a request tried: the first few, and the last.
constexpr uint32_t kFirstOccurrences = 4;

constexpr uint32_t kCodes[] = {kIoctlAsyncRead,
                               kIoctlAsyncWrite,
                               kIoctlIsochAllocateBandwidth,
                               kIoctlIsochAllocateChannel,
                               kIoctlIsochAllocateResources,
                               kIoctlIsochAttachBuffers,
                               kIoctlIsochFreeBandwidth,
                               kIoctlIsochFreeChannel,
                               kIoctlIsochFreeResources,
                               kIoctlIsochStop,
                               kIoctlGetNodeAddress,
                               kIoctlBusResetNotify,
                               kIoctlSetStartCommand,
                               kIoctlCancelReceive,
                               kIoctlSetFrameEvent,
                               kIoctlGetReceiveStatus,
                               kIoctlSetTriggerEvent,
                               kIoctlMapBuffers,
                               kIoctlSelectBuffer};

// Threads of this process, or -1 where the system does not list them.
int threadCount();

// Whether the process comes down to `most` threads. A thread the library joined has returned
// from its body and its exit has begun, but the kernel lists it among the process's tasks until
// it is reaped, which on a loaded machine comes a little later: the count is read again until
// it settles (a thread that truly outlived its call never does).
bool threadsSettleTo(int most) {
    for (int attempt = 0; attempt < 10000; ++attempt) {
        if (threadCount() <= most) {
            return true;
        }
        sleepMs(1);
    }
    return false;
}

int threadCount() {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return -1;
    }
    int n = 0;
    while (dirent* entry = readdir(tasks)) {
        n += entry->d_name[0] != '.';
    }
    closedir(tasks);
    return n;
}

struct LiveRun {
    Event framesSeen{true};
};

int32_t onFrame(uint16_t* frame, uint32_t, int32_t, uint64_t, uint64_t user) {
    if (frame != nullptr) {
        reinterpret_cast<LiveRun*>(user)->framesSeen.set();
    }
    return 1;
}

// An event the bench makes happen, and where.
std::function<void()> duringExposure;

int32_t progress(uint32_t, uint32_t, int32_t) {
    if (duringExposure) {
        duringExposure();
        duringExposure = nullptr;
    }
    return 0;
}

int32_t calibrationRound(uint32_t, uint32_t, float*, uintptr_t) {
    return progress(0, 0, 0);
}

// Three bytes of firmware, the form a firmware file has.
constexpr char kFirmwareText[] = "00010010 first\r\n00110100\r\n01010110 last\r\n";

struct Scenario {
    const char* name;
    bool fromClosed;  // starts with the camera closed (opening is what it does)
    std::function<int32_t()> run;
    // What the application does afterwards to take images as before (may be empty).
    std::function<void()> restore = {};
    bool reachesMidway = true;  // calls back while under way, where a fault can be made to happen
};

class FaultMatrix : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        exactBench(0.01);
        image_.assign(kW * kH * 3, 0);
        // One cycle first: threads a runtime starts once (a sanitizer's) are in both counts.
        ASSERT_EQ(open(), 0u);
        ASSERT_EQ(acquire(), 0);
        IxenClose();
        closedThreads_ = threadCount();
        ASSERT_EQ(open(), 0u);
        openThreads_ = threadCount();
        openHandles_ = kqsimOpenHandles();
    }
    void TearDown() override {
        duringExposure = nullptr;
        ApiTest::TearDown();
    }
    static uint32_t open() {
        const uint32_t status = IxenmInit(0);
        if (status != 0) {
            return status;
        }
        uint32_t frame[4] = {0, 0, kW, kH};
        EXPECT_EQ(IxenmSetFrameSize(0, frame), 0u);
        EXPECT_EQ(IxenmSetExposure(0, kExposureUs), 0u);
        return 0;
    }
    static bool isOpen() {
        uint32_t out[4];
        return IxenmInfo(0, out) == 0;
    }
    int32_t acquire() { return IxenmAcquisition(0, image_.data(), kW * kH * 6, progress); }
    int32_t continuous() {
        LiveRun run;
        if (const int32_t started = startRun(0, onFrame, reinterpret_cast<uintptr_t>(&run))) {
            return started;
        }
        // A fault may stop the frames; the wait only bounds a hang.
        const bool frames = run.framesSeen.wait(10000);
        if (duringExposure) {
            duringExposure();
            duringExposure = nullptr;
        }
        const int32_t stopped = IxenmStopContinuousAcquisition(0);
        return frames ? stopped : -1;
    }
    int32_t fast() {
        const int32_t started = IxenmStartFastAcquisition(0);
        if (started != 0) {
            return started;
        }
        int32_t images = 0, r = 0;
        const int64_t until = int64_t(tickMs()) + 10000;
        while (images < 2 && int64_t(tickMs()) < until) {
            r = IxenmIsFastAcquisitionReady(0, image_.data(), kW * kH * 6, images == 0);
            if (r < 0 || r == 3) {
                break;
            }
            images += r;
            if (images == 1 && duringExposure) {
                duringExposure();
                duringExposure = nullptr;
            }
        }
        IxenmAbortFastAcquisition(0);
        return images == 2 ? 0 : r < 0 ? r : -1;
    }

    std::vector<Scenario> scenarios() {
        return {
            {"open", true, [] { return int32_t(open()); }},
            {"setters", false,
             [] {
                 uint32_t r = IxenmSetExposure(0, 20000);
                 r |= IxenmWriteAnalogGain(0, 8);
                 r |= IxenmShutterControl(0, 1, 0);
                 r |= IxenmSetBloomingVoltage(0, 20);
                 r |= IxenmSetExposure(0, kExposureUs);
                 return int32_t(r);
             }},
            {"single acquisition", false, [this] { return acquire(); }},
            {"prepared acquisition", false,
             [this] {
                 int32_t r = IxenmInitializeAcquisition(0);
                 if (r == 0) {
                     r = IxenmNextAcquisition(0, image_.data(), kW * kH * 6, kExposureUs);
                     if (r == 0) {
                         r = IxenmNextAcquisition(0, image_.data(), kW * kH * 6, kExposureUs);
                     }
                 }
                 const int32_t finished = IxenmFinalizeAcquisition(0);
                 return r != 0 ? r : finished;
             }},
            {"continuous run", false, [this] { return continuous(); }},
            {"fast series", false, [this] { return fast(); }},
            {"black reference", false,
             [] {
                 kqsimSetScene(KQSIM_SCENE_DARK, 0, nullptr, 0, 0, 0);
                 return int32_t(IxenmCalculateBlackRef(0, progress));
             },
             [] { kqsimSetScene(KQSIM_SCENE_SLIDE, 1.0, nullptr, 0, 0, 0); }},
            {"calibration", false,
             [] {
                 // Over the slide's bars, bright enough for the patches to show their structure.
                 uint32_t region[4] = {kRegion[0], kRegion[1], kRegion[2], kRegion[3]};
                 uint32_t r = IxenmSetFrameSize(0, region);
                 r = r != 0 ? r : IxenmSetExposure(0, 100000);
                 r = r != 0 ? r : IxenmSetResolution(0, 3);
                 return int32_t(r != 0 ? r : IxenmCalibrateEx(0, 2, calibrationRound, 0));
             },
             [] {
                 uint32_t frame[4] = {0, 0, kW, kH};
                 IxenmSetResolution(0, 0);
                 IxenmSetFrameSize(0, frame);
                 IxenmSetExposure(0, kExposureUs);
             }},
            {"firmware update", false,
             [] {
                 return int32_t(IxenmWriteFirmware(0,
                                                   reinterpret_cast<const uint8_t*>(kFirmwareText),
                                                   int32_t(sizeof kFirmwareText - 1)));
             },
             // New firmware starts afresh: the application opens the camera again.
             [] {
                 IxenmClose(0);
                 open();
             },
             false},
            {"readout time", false,
             [] {
                 uint32_t ms = 0;
                 return int32_t(IxenmGetCurrentReadouttime(0, &ms));
             }},
        };
    }

    // Runs the scenario with the fault set, then checks what it left behind and that the camera
    // works again; false with the failures recorded by gtest.
    bool survives(const Scenario& s, const std::string& fault) {
        const size_t reportsBefore = messages().size();
        if (s.fromClosed) {
            IxenmClose(0);
        }
        s.run();
        // The fault passes, and the application ends whatever the call left running.
        kqsimClearFaults();
        duringExposure = nullptr;
        IxenmStopContinuousAcquisition(0);
        IxenmAbortFastAcquisition(0);
        IxenmFinalizeAcquisition(0);
        if (s.restore) {
            s.restore();
        }
        const bool open = isOpen();
        bool ok = true;
        auto check = [&](bool condition, const char* what) {
            if (!condition) {
                ADD_FAILURE() << s.name << ", " << fault << ": " << what;
                ok = false;
            }
        };
        // A watch that gave up on its notification ends by itself, with its handle and thread.
        check(kqsimOpenHandles() <= (open ? openHandles_ : 0u), "driver handles left");
        check(threadsSettleTo(open ? openThreads_ : closedThreads_), "threads left");
        check(messages().size() - reportsBefore <= kMessageStorm, "a storm of messages");
        if (!open) {
            check(FaultMatrix::open() == 0, "the camera does not open again");
        }
        check(acquire() == 0, "no good image afterwards");
        // A release the driver refused is given back by the next set-up at the latest.
        check(kqsimBandwidthInUse() == 0, "bandwidth still reserved");
        return ok;
    }

    std::vector<uint16_t> image_;
    int closedThreads_ = 0, openThreads_ = 0;
    uint32_t openHandles_ = 0;
};

TEST_F(FaultMatrix, EveryFailedRequestAndRegisterLeavesTheCameraUsable) {
    int tried = 0, survived = 0;
    for (const Scenario& s : scenarios()) {
        // What the scenario issues when nothing fails.
        std::map<uint32_t, uint32_t> before;
        for (uint32_t code : kCodes) {
            before[code] = kqsimRequestCount(code);
        }
        if (s.fromClosed) {
            IxenmClose(0);
        }
        kqsimClearWriteLog(0);
        ASSERT_EQ(s.run(), 0) << s.name << " fails without a fault";
        std::vector<KqsimRegisterWrite> writes(KQSIM_WRITE_LOG_CAPACITY);
        writes.resize(size_t(kqsimWriteLog(0, writes.data(), uint32_t(writes.size()))));
        std::vector<uint32_t> reads(KQSIM_WRITE_LOG_CAPACITY);
        reads.resize(size_t(kqsimReadAddresses(0, reads.data(), uint32_t(reads.size()))));
        if (s.restore) {
            s.restore();
        }
        std::set<uint32_t> addresses(reads.begin(), reads.end());
        for (const KqsimRegisterWrite& w : writes) {
            addresses.insert(w.address);
        }
        std::map<uint32_t, uint32_t> issued;
        for (uint32_t code : kCodes) {
            issued[code] = kqsimRequestCount(code) - before[code];
        }

        for (auto [code, n] : issued) {
            std::set<uint32_t> occurrences;
            for (uint32_t nth = 1; nth <= std::min(n, kFirstOccurrences); ++nth) {
                occurrences.insert(nth);
            }
            if (n > 0) {
                occurrences.insert(n);
            }
            for (uint32_t nth : occurrences) {
                char fault[64];
                std::snprintf(fault, sizeof fault, "request 0x%X #%u of %u", code, nth, n);
                kqsimFailRequest(code, nth, kGenFailure);
                ++tried;
                survived += survives(s, fault);
            }
        }
        for (uint32_t address : addresses) {
            char fault[64];
            std::snprintf(fault, sizeof fault, "register 0x%08X", address);
            // The scenario's own opening must reach the camera first.
            if (s.fromClosed) {
                IxenmClose(0);
            }
            ASSERT_EQ(kqsimFailRegister(0, address, KQSIM_READ | KQSIM_WRITE, kGenFailure), 0);
            ++tried;
            survived += survives(s, fault);
        }
    }
    std::printf("[ MATRIX   ] %d faults tried, %d survived\n", tried, survived);
    EXPECT_EQ(survived, tried);
}

// The camera leaves the bus, or the bus resets, before a call and in the middle of it.
TEST_F(FaultMatrix, UnplugAndBusResetAtEveryStageLeaveNothingBehind) {
    int tried = 0;
    for (const Scenario& s : scenarios()) {
        if (s.fromClosed) {
            continue;
        }
        for (bool unplug : {false, true}) {
            for (bool midway : {false, true}) {
                if (midway && !s.reachesMidway) {
                    continue;
                }
                auto happen = [unplug] {
                    if (unplug) {
                        kqsimUnplug(0);
                    } else {
                        kqsimBusReset();
                    }
                };
                if (midway) {
                    duringExposure = happen;
                } else {
                    happen();
                }
                s.run();
                IxenmStopContinuousAcquisition(0);
                IxenmAbortFastAcquisition(0);
                IxenmFinalizeAcquisition(0);
                duringExposure = nullptr;
                if (s.restore) {
                    s.restore();
                }
                ++tried;
                EXPECT_EQ(kqsimBandwidthInUse(), 0u) << s.name << (unplug ? " unplug" : " reset")
                                                     << (midway ? " midway" : " before");
                if (unplug) {
                    // The camera is gone for good: close, bring the bench back, open again.
                    IxenClose();
                    EXPECT_EQ(kqsimOpenHandles(), 0u) << s.name;
                    EXPECT_TRUE(threadsSettleTo(closedThreads_)) << s.name;
                    kqsimResetDefault();
                    kqsimSetNoise(0, 0);
                    ASSERT_EQ(open(), 0u) << s.name;
                }
                EXPECT_EQ(acquire(), 0) << s.name << (unplug ? " unplug" : " reset")
                                        << (midway ? " midway" : " before");
            }
        }
    }
    std::printf("[ MATRIX   ] %d unplugs and bus resets tried\n", tried);
}

}  // namespace
}  // namespace kqfw::test
