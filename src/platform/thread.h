#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

namespace kqfw {

// Win32 thread priorities, as the camera API passes them through.
enum class ThreadPriority : int {
    kIdle = -15,
    kLowest = -2,
    kBelowNormal = -1,
    kNormal = 0,
    kAboveNormal = 1,
    kHighest = 2,
    kTimeCritical = 15,
};

// A joinable thread. The stack size and priority are hints: where the platform cannot grant
// them (Linux without real-time rights, stacks below the platform minimum) the thread still
// starts with the platform defaults. Owned and joined by one thread; ended() may be asked from
// any thread.
class Thread {
  public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when the thread could not be created.
    bool start(std::function<void()> body, size_t stackSizeHint = 0,
               ThreadPriority priority = ThreadPriority::kNormal);
    // A thread cannot wait for itself: join() called on it lets it run on unowned, as detach()
    // does for a thread that must give up its own Thread object.
    void join();
    void detach();
    bool started() const { return thread_.joinable(); }
    bool isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }
    bool ended() const { return ended_ && ended_->load(); }

  private:
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> ended_;
};

// Test hook: the next `count` thread starts fail as if the system refused them.
void failNextThreadStarts(int count);

}  // namespace kqfw
