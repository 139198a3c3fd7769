#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/critical_section.h"
#include "platform/error_report.h"
#include "platform/event.h"
#include "platform/memory.h"
#include "platform/string_compare.h"
#include "platform/thread.h"
#include "platform/worker_pool.h"

namespace kqfw {
namespace {

TEST(Event, AutoResetReleasesOneWaitManualResetStaysSignalledUntilReset) {
    Event automatic(false), manual(true);
    automatic.set();
    manual.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0));
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.wait(0));
}

TEST(Event, TimedWaitTimesOutOrIsWokenByAnotherThread) {
    Event event(false);
    const uint32_t before = tickMs();
    EXPECT_FALSE(event.wait(30));
    EXPECT_GE(tickMs() - before, 25u);

    Thread setter;
    ASSERT_TRUE(setter.start([&] {
        sleepMs(10);
        event.set();
    }));
    EXPECT_TRUE(event.wait(5000));
    setter.join();
}

TEST(Event, ManualResetWakesEveryWaiter) {
    Event event(true);
    std::atomic<int> woken{0};
    Thread a, b;
    ASSERT_TRUE(a.start([&] { woken += event.wait(5000); }));
    ASSERT_TRUE(b.start([&] { woken += event.wait(5000); }));
    sleepMs(10);
    event.set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 2);
}

TEST(CriticalSection, OwnerMayEnterAgainWhileOthersWait) {
    CriticalSection lock;
    lock.enter();
    lock.enter();
    std::atomic<bool> entered{false};
    Thread other;
    ASSERT_TRUE(other.start([&] {
        lock.enter();
        entered = true;
        lock.leave();
    }));
    lock.leave();
    sleepMs(20);
    EXPECT_FALSE(entered);
    lock.leave();
    other.join();
    EXPECT_TRUE(entered);
}

TEST(Thread, RunsJoinsFromSeveralThreadsAndTellsWhenEnded) {
    Thread thread;
    Event go(false);
    std::atomic<bool> finished{false};
    ASSERT_TRUE(thread.start(
        [&] {
            go.wait();
            finished = true;
        },
        10000, ThreadPriority::kTimeCritical));
    EXPECT_FALSE(thread.ended());
    std::atomic<bool> secondSawItFinished{false};
    std::thread second([&] {
        thread.join();
        secondSawItFinished = finished.load();
    });
    go.set();
    thread.join();
    second.join();
    EXPECT_TRUE(thread.ended());
    EXPECT_TRUE(finished);
    EXPECT_TRUE(secondSawItFinished) << "a join returned before the thread ended";
}

TEST(Thread, RefusedStartLeavesNothingToJoin) {
    failNextThreadStarts(1);
    Thread thread;
    EXPECT_FALSE(thread.start([] {}));
    EXPECT_FALSE(thread.started());
    EXPECT_TRUE(thread.start([] {}));
    thread.join();
}

TEST(WorkerPool, EveryTaskRunsOnceAndCallersFromSeveralThreadsAllFinish) {
    WorkerPool pool;
    pool.setThreads(3);
    EXPECT_EQ(pool.threads(), 3);
    // Four callers at once: one run shares its tasks out, the others run theirs alone, and
    // every caller returns with all of its own tasks done.
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int c = 0; c < 4; ++c) {
        callers.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                std::vector<std::atomic<int>> hits(17);
                pool.run(17, [&](int32_t i) {
                    hits[i]++;
                    // A task that runs the pool again does so alone, without waiting for itself.
                    pool.run(2, [&](int32_t) {});
                });
                for (auto& h : hits) {
                    wrong += h.load() != 1;
                }
            }
        });
    }
    for (auto& t : callers) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

TEST(WorkerPool, StripesCoverTheRowsOnAlignedStartsAndRefusedThreadsShrinkThePool) {
    WorkerPool pool;
    failThreadStarts(1, 1);
    pool.setThreads(4);
    EXPECT_EQ(pool.threads(), 2);
    failThreadStarts(0, 0);
    for (int32_t threads : {1, 2, 5}) {
        pool.setThreads(threads);
        for (int32_t rows : {0, 1, 7, 8, 1040}) {
            std::vector<int> covered(size_t(rows), 0);
            std::atomic<int> misaligned{0};
            forRowStripes(&pool, rows, 4, [&](int32_t first, int32_t end) {
                misaligned += first % 4 != 0;
                for (int32_t y = first; y < end; ++y) {
                    covered[size_t(y)]++;
                }
            });
            EXPECT_EQ(misaligned.load(), 0);
            EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), rows)
                << threads << " " << rows;
        }
    }
}

TEST(Memory, AllocationIsZeroedAndCanBeMadeToFail) {
    auto* block = static_cast<unsigned char*>(allocZeroed(4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(block[i], 0);
    }
    freeZeroed(block);
    failAllocationAfter(2);
    void* first = allocZeroed(16);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(allocZeroed(16), nullptr);
    void* third = allocZeroed(16);
    EXPECT_NE(third, nullptr);
    freeZeroed(first);
    freeZeroed(third);
}

class ErrorReport : public ::testing::Test {
  protected:
    void SetUp() override {
        setMessageSink(
            [](const char* text, void* self) {
                static_cast<ErrorReport*>(self)->messages.push_back(text);
            },
            this);
    }
    void TearDown() override {
        setMessageSink(nullptr, nullptr);
        setErrorMessagesEnabled(1);
    }
    std::vector<std::string> messages;
};

TEST_F(ErrorReport, FormatsIntoTheSinkAndCutsAt255Characters) {
    reportError("(%d)Init error %d", 3, 20);
    reportError("%s", std::string(400, 'x').c_str());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "(3)Init error 20");
    EXPECT_EQ(messages[1], std::string(255, 'x'));
}

TEST(Windows1252, HighBytesBecomeTheirUtf8Characters) {
    EXPECT_EQ(windows1252ToUtf8("Couldn\xB4t"), "Couldn\u00B4t");
    EXPECT_EQ(windows1252ToUtf8("\x80 \x99 \xFF"), "\u20AC \u2122 \u00FF");
    EXPECT_EQ(windows1252ToUtf8("\x81"), "\uFFFD");
    EXPECT_EQ(windows1252ToUtf8("plain"), "plain");
}

TEST(CompareLikeLstrcmp, LettersFirstThenLowerCaseBeforeUpper) {
    EXPECT_LT(compareLikeLstrcmp("apple", "Banana"), 0);
    EXPECT_LT(compareLikeLstrcmp("abc", "ABC"), 0);
    EXPECT_GT(compareLikeLstrcmp("ABC", "abc"), 0);
    EXPECT_EQ(compareLikeLstrcmp("same", "same"), 0);
    EXPECT_LT(compareLikeLstrcmp("09", "10"), 0);
    EXPECT_LT(compareLikeLstrcmp("ab", "abc"), 0);
}

}  // namespace
}  // namespace kqfw
