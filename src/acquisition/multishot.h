#pragma once

#include <atomic>
#include <cstdint>

#include "camera/camera_context.h"
#include "platform/thread.h"
#include "processing/multishot_merge.h"

namespace kqfw {

// The two threads of a multi-shot acquisition. The collector copies each shot out of the
// driver's five-slot ring as the camera delivers it (a slot is reused five frames later) and
// hands it over; the assembler corrects each shot as it comes and places the shots of each row
// of the shot grid together into the caller's image while the next ones are exposed. After the last
// shot the collector ends the receive.
//
// Thread context: started, stopped and joined by the acquisition's thread; the threads work
// for camera `index`. The assembler takes the camera's settingsLock around each shot (its
// corrections read the settings and the blemish list), so the acquisition's thread joins them
// before it takes the settings again.
// Test hook: called on the collector's thread just before it copies shot `shot` out of the
// ring (null: nothing), so a test can hold the collector back the way a loaded machine does.
extern void (*beforeShotCopy)(uint32_t shot);

class MultiShotRun {
  public:
    MultiShotRun() = default;
    ~MultiShotRun();
    MultiShotRun(const MultiShotRun&) = delete;
    MultiShotRun& operator=(const MultiShotRun&) = delete;

    // Starts both threads for a series into `output` (`outputBytes` long); false when one could
    // not be created (the other is stopped and joined).
    bool start(CameraContext& c, int32_t index, uint16_t* output, uint32_t outputBytes);
    // Ends a series that will not run (a failed set-up): the threads see the abort and end.
    void stop();
    void join();

    // A shot did not arrive in time (or no longer could), or the ring was refilled before it
    // was copied out.
    bool timedOut() const { return timedOut_; }
    // The collector has stopped collecting (the series is complete, failed or aborted).
    bool collectorDone() const { return collectorDone_; }
    // A shot could not be copied out of the ring for want of memory.
    bool shotLost() const { return shotLost_; }
    // Shots placed so far (a row of the shot grid at a time), for progress.
    uint32_t placed() const { return placed_; }
    uint32_t shots() const { return shots_; }

  private:
    void collect();
    void waitForShot(uint32_t i, DeviceHandle handle, int32_t* newest, uint32_t waitMs);
    void assemble();
    bool prepare(uint16_t* shot, uint32_t s);
    void freeShots();

    CameraContext* c_ = nullptr;
    int32_t index_ = 0;
    uint16_t* output_ = nullptr;
    uint32_t outputBytes_ = 0;
    uint32_t shots_ = 0;
    std::atomic<uint16_t*> buffers_[kMaxShots] = {};
    std::atomic<uint32_t> collected_{0};
    std::atomic<bool> collectorDone_{false};
    std::atomic<bool> timedOut_{false};
    std::atomic<bool> shotLost_{false};
    std::atomic<uint32_t> placed_{0};
    Thread collector_, assembler_;
};

// The finishing chain of indexes 3 to 6 once both threads have ended: 30 for a shot that did
// not arrive, 7 for one that could not be kept, else 0 with the image finished.
uint32_t finishMultiShot(CameraContext& c, uint16_t* image, const MultiShotRun& run);

}  // namespace kqfw
