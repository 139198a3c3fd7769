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
    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The threads a run uses, the caller's included: 1 keeps every run on the caller. Waits
    // for a run under way.
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
    int32_t tasks_ = 0, next_ = 0, unfinished_ = 0, busyWorkers_ = 0;
};

// The thread count a new camera session starts with: the processor's cores, at most 8.
int32_t defaultProcessingThreads();

// Calls rows(first, end) for stripes of [0, rowCount) that start on multiples of `align`, one
// stripe a thread; with no pool, or one thread, the whole range at once.
void forRowStripes(WorkerPool* pool, int32_t rowCount, int32_t align,
                   const std::function<void(int32_t, int32_t)>& rows);

}  // namespace kqfw
