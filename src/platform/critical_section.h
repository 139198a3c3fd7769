#pragma once

#include <mutex>

namespace kqfw {

// A recursive lock like a Win32 critical section: the owning thread may enter again and must
// leave as often as it entered.
class CriticalSection {
  public:
    void enter() { mutex_.lock(); }
    void leave() { mutex_.unlock(); }
    // Lets std::lock_guard and std::unique_lock hold it.
    void lock() { enter(); }
    void unlock() { leave(); }

  private:
    std::recursive_mutex mutex_;
};

}  // namespace kqfw
