#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
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
// starts with the platform defaults. Any thread may call any member: several joins at once all
// return once the thread ended (a run's stop, the next start and the camera's close may each
// reap the threads of a run).
class Thread {
  public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when the thread could not be created.
    bool start(std::function<void()> body, size_t stackSizeHint = 0,
               ThreadPriority priority = ThreadPriority::kNormal);
    // A thread of a driver backend working in user space: outside failThreadStarts(), which
    // stands for the threads the library's activities ask for (a kernel driver's threads are
    // not the library's on other platforms either).
    bool startForDriver(std::function<void()> body);
    // A thread cannot wait for itself: join() called on it lets it run on unowned, as detach()
    // does for a thread that must give up its own Thread object.
    void join();
    void detach();
    bool started() const;
    bool isCurrent() const { return id_.load() == std::this_thread::get_id(); }
    // True once the body returned, and for a thread never started.
    bool ended() const;

  private:
    bool launch(std::function<void()> body, ThreadPriority priority, bool hooked);
    // Guards the members; a join waits outside it, so ended() answers while a join is under way.
    mutable std::mutex mutex_;
    std::condition_variable joined_;
    bool joining_ = false;
    std::thread thread_;
    std::atomic<std::thread::id> id_{};
    std::shared_ptr<std::atomic<bool>> ended_;
};

// Test hook: after `skip` starts that succeed, the next `count` thread starts fail as if the
// system refused them.
void failThreadStarts(int skip, int count);
inline void failNextThreadStarts(int count) {
    failThreadStarts(0, count);
}

}  // namespace kqfw
