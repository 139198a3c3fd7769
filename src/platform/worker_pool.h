#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/thread.h"

namespace kqfw {

// The threads a camera's image processing shares its frames out to, kept for the camera's
// session so a frame costs a wake-up, not a thread start.
//
// Thread context: any thread may call any member. run() is not reentrant across callers: a
// second caller while one run is under way (another thread processing a frame of the same
// camera) does its tasks alone on its own thread, which gives the same output. A thread that
// cannot be started leaves the pool smaller; with none, every run is the caller's alone.
class WorkerPool {
  public:
    static constexpr int32_t kMaxThreads = 16;

    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The threads a run uses, the caller's included, held to [1, kMaxThreads]: 1 keeps every
    // run on the caller. Waits for a run under way.
    void setThreads(int32_t threads);
    int32_t threads() const;

    // Calls task(i) for every i in [0, tasks), spread over the threads, and returns when all
    // have returned. Tasks of one run must not depend on each other's order.
    void run(int32_t tasks, const std::function<void(int32_t)>& task);

  private:
    void work();
    void stopWorkers();

    std::mutex runMutex_;  // one run at a time; setThreads() takes it too
    mutable std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::unique_ptr<Thread>> workers_;
    uint64_t generation_ = 0;
    bool stopping_ = false;
    const std::function<void(int32_t)>* task_ = nullptr;
    int32_t tasks_ = 0, next_ = 0, unfinished_ = 0;
};

// The thread count a new camera session starts with: the processor's cores, at most 8.
int32_t defaultProcessingThreads();

// Stripes of [0, rowCount) that start on multiples of `align`, one a thread of `pool`; with no
// pool, or one thread, one stripe of the whole range.
struct RowStripes {
    int32_t count, perStripe, rowCount;
    int32_t first(int32_t stripe) const { return stripe * perStripe; }
    int32_t end(int32_t stripe) const {
        return perStripe * (stripe + 1) < rowCount ? perStripe * (stripe + 1) : rowCount;
    }
};
RowStripes rowStripes(WorkerPool* pool, int32_t rowCount, int32_t align);

// Calls rows(stripe, first, end) for every stripe, the stripes side by side.
void forRowStripes(WorkerPool* pool, const RowStripes& stripes,
                   const std::function<void(int32_t, int32_t, int32_t)>& rows);
void forRowStripes(WorkerPool* pool, int32_t rowCount, int32_t align,
                   const std::function<void(int32_t, int32_t)>& rows);

}  // namespace kqfw
