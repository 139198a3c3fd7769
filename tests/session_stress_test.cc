// Opening, closing, bus resets and error reports as applications drive them from several
// threads at once, each many times over: none may hang, abort or race.
#include <atomic>
#include <latch>
#include <thread>

#include "api_fixture.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace kqfw::test {
namespace {

constexpr int kRounds = 1000;

// The camera's settle pauses (100 ms at each opening) would make a thousand rounds last minutes.
class SessionStress : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        kqsimSetTimeScale(0.01);
        setSettleScale(0);
    }
    void TearDown() override {
        setSettleScale(1);
        ApiTest::TearDown();
    }
};

// Fails the acquisition before any register is touched, with an error report.
void causeAReport() {
    uint16_t pixel;
    IxenmAcquisition(0, &pixel, sizeof pixel, nullptr);
}

TEST_F(SessionStress, CloseRightAfterABusResetReturns) {
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(IxenmInit(0), 0u);
        kqsimBusReset();
        IxenmClose(0);
    }
    EXPECT_EQ(kqsimOpenHandles(), 0u);
}

struct CloseInCallback {
    Event done{true};
    uint32_t infoAfterClose = 0;
    uint32_t handlesAfterClose = 0;
};

int32_t closeFromResetCallback(uint64_t argument) {
    auto* state = reinterpret_cast<CloseInCallback*>(argument);
    IxenmClose(0);
    uint32_t info[4];
    state->infoAfterClose = IxenmInfo(0, info);
    state->handlesAfterClose = kqsimOpenHandles();
    state->done.set();
    return 0;
}

TEST_F(SessionStress, CloseFromTheCamerasOwnBusResetCallbackCompletesInTheCallback) {
    // The callback may still be returning from set() when the wait ends, and the watch thread
    // is let go rather than joined: the state outlives every round and is never destroyed.
    static CloseInCallback& state = *new CloseInCallback;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(IxenmInit(0), 0u);
        state.done.reset();
        ASSERT_EQ(
            IxenmSetBusresetCallback(0, closeFromResetCallback, reinterpret_cast<uint64_t>(&state)),
            0u);
        // A reset before the watch has its notification pending reaches nobody: reset again
        // until the callback has run.
        do {
            kqsimBusReset();
        } while (!state.done.wait(1));
        ASSERT_EQ(state.infoAfterClose, 3u);
        ASSERT_EQ(state.handlesAfterClose, 0u);
    }
}

TEST_F(SessionStress, ConcurrentOpensOfTwoSlotsTakeTheTwoCameras) {
    for (int i = 0; i < kRounds; ++i) {
        std::latch start(2);
        uint32_t status[2] = {99, 99};
        auto open = [&](int32_t slot) {
            start.arrive_and_wait();
            status[slot] = IxenmInit(slot);
        };
        std::thread first(open, 0), second(open, 1);
        first.join();
        second.join();
        ASSERT_EQ(status[0], 0u);
        ASSERT_EQ(status[1], 0u);
        // One colour and one mono camera, whichever slot won the race.
        ASSERT_EQ(info(0)[2] + info(1)[2], 1u);
        IxenClose();
    }
}

struct SinkCounter {
    std::atomic<int> calls{0};
};

void countingSink(const char*, void* data) {
    ++static_cast<SinkCounter*>(data)->calls;
}

SinkCounter replacement;

void replacingSink(const char*, void* data) {
    ++static_cast<SinkCounter*>(data)->calls;
    kqfwSetMessageSink(countingSink, &replacement);
    uint32_t exposure = 0;
    IxenmGetCurrentExposure(0, &exposure);
    causeAReport();  // reaches the replacement, on this thread, while this sink runs
}

TEST_F(SessionStress, ASinkMayCallTheLibraryAndReplaceItself) {
    ASSERT_EQ(IxenmInit(0), 0u);
    SinkCounter first;
    for (int i = 0; i < kRounds; ++i) {
        kqfwSetMessageSink(replacingSink, &first);
        causeAReport();
        causeAReport();
    }
    EXPECT_EQ(first.calls, kRounds);
    EXPECT_EQ(replacement.calls, 2 * kRounds);
}

TEST_F(SessionStress, AReplacedSinkIsNotCalledOnceItsReplacementReturned) {
    ASSERT_EQ(IxenmInit(0), 0u);
    std::atomic<bool> done{false};
    auto report = [&] {
        while (!done) {
            causeAReport();
        }
    };
    std::thread a(report), b(report);
    auto* current = new SinkCounter;
    kqfwSetMessageSink(countingSink, current);
    for (int i = 0; i < kRounds; ++i) {
        auto* next = new SinkCounter;
        kqfwSetMessageSink(countingSink, next);
        delete current;  // a late call of the old sink would touch freed memory
        current = next;
    }
    done = true;
    a.join();
    b.join();
    kqfwSetMessageSink(nullptr, nullptr);
    delete current;
}

}  // namespace
}  // namespace kqfw::test
