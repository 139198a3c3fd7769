#include "platform/thread.h"

#include <system_error>

#include "platform/thread_hints.h"

namespace kqfw {

namespace {
std::mutex hookMutex;
int threadStartsToSkip = 0;  // guarded by hookMutex
int threadStartsToFail = 0;  // guarded by hookMutex

bool refusedByTestHook() {
    std::lock_guard lock(hookMutex);
    if (threadStartsToFail == 0) {
        return false;
    }
    if (threadStartsToSkip > 0) {
        --threadStartsToSkip;
        return false;
    }
    --threadStartsToFail;
    return true;
}
}  // namespace

void failThreadStarts(int skip, int count) {
    std::lock_guard lock(hookMutex);
    threadStartsToSkip = skip;
    threadStartsToFail = count;
}

Thread::~Thread() {
    join();
}

bool Thread::start(std::function<void()> body, size_t /*stackSizeHint*/, ThreadPriority priority) {
    return launch(std::move(body), priority, true);
}

bool Thread::startForDriver(std::function<void()> body) {
    return launch(std::move(body), ThreadPriority::kNormal, false);
}

bool Thread::launch(std::function<void()> body, ThreadPriority priority, bool hooked) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || joining_) {
        return false;
    }
    if (hooked && refusedByTestHook()) {
        return false;
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    try {
        thread_ = std::thread([body = std::move(body), ended] {
            body();
            ended->store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    applyThreadPriority(thread_, priority);
    ended_ = std::move(ended);
    id_ = thread_.get_id();
    return true;
}

bool Thread::started() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable();
}

bool Thread::ended() const {
    std::lock_guard lock(mutex_);
    return ended_ == nullptr || ended_->load();
}

void Thread::join() {
    if (isCurrent()) {
        detach();
        return;
    }
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) {
        // Another caller may be joining it: return only once the thread has ended.
        joined_.wait(lock, [this] { return !joining_; });
        return;
    }
    std::thread running = std::move(thread_);
    joining_ = true;
    lock.unlock();
    running.join();
    lock.lock();
    joining_ = false;
    id_ = std::thread::id();
    ended_.reset();
    joined_.notify_all();
}

void Thread::detach() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
        thread_.detach();
        id_ = std::thread::id();
    }
}

}  // namespace kqfw
