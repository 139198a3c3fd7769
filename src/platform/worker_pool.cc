#include "platform/worker_pool.h"

#include <algorithm>
#include <thread>

namespace kqfw {

WorkerPool::~WorkerPool() {
    std::lock_guard run(runMutex_);
    stopWorkers();
}

void WorkerPool::stopWorkers() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& worker : workers_) {
        worker->join();
    }
    workers_.clear();
    std::lock_guard lock(mutex_);
    stopping_ = false;
}

void WorkerPool::setThreads(int32_t threads) {
    threads = std::clamp(threads, 1, kMaxThreads);
    std::lock_guard run(runMutex_);
    if (int32_t(workers_.size()) == threads - 1) {
        return;
    }
    stopWorkers();
    for (int32_t i = 0; i + 1 < threads; ++i) {
        auto worker = std::make_unique<Thread>();
        if (!worker->start([this] { work(); })) {
            break;
        }
        workers_.push_back(std::move(worker));
    }
}

int32_t WorkerPool::threads() const {
    std::lock_guard lock(mutex_);
    return int32_t(workers_.size()) + 1;
}

void WorkerPool::work() {
    std::unique_lock lock(mutex_);
    uint64_t seen = generation_;
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) {
            return;
        }
        seen = generation_;
        while (next_ < tasks_) {
            const int32_t i = next_++;
            const auto* task = task_;
            lock.unlock();
            (*task)(i);
            lock.lock();
            if (--unfinished_ == 0) {
                done_.notify_all();
            }
        }
    }
}

void WorkerPool::run(int32_t tasks, const std::function<void(int32_t)>& task) {
    std::unique_lock run(runMutex_, std::try_to_lock);
    if (!run.owns_lock() || workers_.empty() || tasks <= 1) {
        for (int32_t i = 0; i < tasks; ++i) {
            task(i);
        }
        return;
    }
    std::unique_lock lock(mutex_);
    task_ = &task;
    tasks_ = tasks;
    next_ = 0;
    unfinished_ = tasks;
    ++generation_;
    wake_.notify_all();
    while (next_ < tasks_) {
        const int32_t i = next_++;
        lock.unlock();
        task(i);
        lock.lock();
        --unfinished_;
    }
    done_.wait(lock, [&] { return unfinished_ == 0; });
    task_ = nullptr;
    tasks_ = next_ = 0;
}

int32_t defaultProcessingThreads() {
    return std::clamp(int32_t(std::thread::hardware_concurrency()), 1, 8);
}

RowStripes rowStripes(WorkerPool* pool, int32_t rowCount, int32_t align) {
    rowCount = std::max(rowCount, 0);
    const int32_t units = (rowCount + align - 1) / align;
    const int32_t threads = pool == nullptr ? 1 : std::max(std::min(pool->threads(), units), 1);
    const int32_t perStripe = std::max((units + threads - 1) / threads * align, 1);
    return {(rowCount + perStripe - 1) / perStripe, perStripe, rowCount};
}

void forRowStripes(WorkerPool* pool, const RowStripes& stripes,
                   const std::function<void(int32_t, int32_t, int32_t)>& rows) {
    auto one = [&](int32_t i) { rows(i, stripes.first(i), stripes.end(i)); };
    if (pool == nullptr || stripes.count <= 1) {
        for (int32_t i = 0; i < stripes.count; ++i) {
            one(i);
        }
        return;
    }
    pool->run(stripes.count, one);
}

void forRowStripes(WorkerPool* pool, int32_t rowCount, int32_t align,
                   const std::function<void(int32_t, int32_t)>& rows) {
    forRowStripes(pool, rowStripes(pool, rowCount, align),
                  [&](int32_t, int32_t first, int32_t end) { rows(first, end); });
}

}  // namespace kqfw
