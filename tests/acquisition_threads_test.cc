// Acquisitions while other threads set, read, open and close: what applications do.
#include <atomic>
#include <thread>
#include <vector>

#include "api_fixture.h"
#include "platform/event.h"

namespace kqfw::test {
namespace {

class AcquisitionThreads : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        kqsimSetTimeScale(0.01);
        kqsimSetNoise(0, 0);
        ASSERT_EQ(IxenmInit(0), 0u);
        uint32_t frame[4] = {0, 0, 128, 64};
        ASSERT_EQ(IxenmSetFrameSize(0, frame), 0u);
        image_.assign(128 * 64 * 3, 0);
    }
    int32_t acquire(ProgressCallbackEx cb, void* data) {
        return IxenmAcquisitionEx(0, image_.data(), uint32_t(image_.size() * 2), cb,
                                  reinterpret_cast<uintptr_t>(data));
    }
    std::vector<uint16_t> image_;
};

struct Probe {
    Event exposing{true};
    std::atomic<uint32_t> setterStatus{0};
};

int32_t signalExposing(uint32_t, uint32_t, int32_t, uint64_t data) {
    auto* probe = reinterpret_cast<Probe*>(data);
    if (!probe->exposing.isSet()) {
        probe->setterStatus = IxenmSetExposure(0, 50000);
        probe->exposing.set();
    }
    return 0;
}

TEST_F(AcquisitionThreads, CloseDuringALongExposureAbortsItAndFreesNothingInUse) {
    ASSERT_EQ(IxenmSetExposure(0, 60000000), 0u);  // 60 s: only the close can end it
    kqsimSetTimeScale(1.0);
    Probe probe;
    int32_t result = -1;
    std::thread acquisition([&] { result = acquire(signalExposing, &probe); });
    probe.exposing.wait();
    IxenmClose(0);
    acquisition.join();
    EXPECT_EQ(result, 4);
    EXPECT_EQ(probe.setterStatus.load(), 10u) << "setters are refused while the camera exposes";
    uint32_t info[4];
    EXPECT_EQ(IxenmInfo(0, info), 3u);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

TEST_F(AcquisitionThreads, SettersGettersAndOtherSlotsRunBesideAcquisitions) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            uint32_t v = 0, rect[4];
            IxenmGetCurrentExposure(0, &v);
            IxenmGetCurrentImageSize(0, rect);
            IxenmSetWhiteBalance(0, 1.5, 2.0, 1.0);
        }
    });
    std::thread opener([&] {
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(IxenmInit(1), 0u);
            IxenmClose(1);
        }
    });
    for (int i = 0; i < 5; ++i) {
        const int32_t s = acquire(nullptr, nullptr);
        EXPECT_TRUE(s == 0) << s;
        IxenmSetExposure(0, 20000 + 400 * uint32_t(i));
    }
    opener.join();
    done = true;
    reader.join();
}

TEST_F(AcquisitionThreads, SettersRacingCloseEitherWorkOrFindNoCamera) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(IxenmInit(0), 0u);
        std::thread setter([] {
            for (int i = 0; i < 50; ++i) {
                const uint32_t s = IxenmSetWhiteBalance(0, 1.2, 1.9, 1.0);
                EXPECT_TRUE(s == 0 || s == 3) << s;
            }
        });
        IxenmClose(0);
        setter.join();
    }
}

}  // namespace
}  // namespace kqfw::test
