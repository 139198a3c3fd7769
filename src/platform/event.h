#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kqfw {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A Win32-style event. An auto-reset event releases one waiter per Set() and clears itself; a
// manual-reset event stays signalled until Reset(). Any thread may call any member.
class Event {
  public:
    explicit Event(bool manualReset, bool initiallySet = false)
        : manualReset_(manualReset), signalled_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // True when the event was signalled, false when timeoutMs passed first (kInfinite: never).
    bool wait(uint32_t timeoutMs = kInfinite);
    bool isSet() const;

  private:
    const bool manualReset_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_;  // guarded by mutex_
};

}  // namespace kqfw
