#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

// What an open camera is doing: one value per camera, so every call decides from one place
// whether it proceeds, refuses with busy (10) or ends the activity. The flags the acquisition
// steps poll (`busy`, `runActive`, `streaming`) say how far an activity has come; this says
// which activity owns the camera, from the call that starts it to the moment its stream is down
// and its threads have let go of the settings.
//
// A stream the application prepared (`applicationStream`) is not an activity: between its
// frames the camera is idle, but what the stream delivers is fixed (see shapesStream below).
enum class Activity : uint32_t {
    kIdle = 0,
    kSingle,       // one image, own or prepared stream
    kMultiShot,    // a sensor-shift series
    kContinuous,   // a continuous run, until its dispatch thread tore the stream down
    kFast,         // a fast series, until its last frame was taken or it was aborted
    kReference,    // a black or white reference measurement
    kCalibration,  // a calibration run
    kProbe,        // a stream set up and torn down to learn its timing (readout, context)
};

// Claims the camera for `activity` when it is idle. Thread context: any; the claim is atomic.
// While a stop is still joining the last run's threads the camera is not idle: a new activity
// would start its threads into the handles the stop waits on, and the stop would wait for them.
inline bool claimActivity(CameraContext& c, Activity activity) {
    uint32_t idle = static_cast<uint32_t>(Activity::kIdle);
    if (!c.activity.compare_exchange_strong(idle, static_cast<uint32_t>(activity))) {
        return false;
    }
    if (c.stopsJoining.load() != 0) {
        c.activity.store(static_cast<uint32_t>(Activity::kIdle));
        return false;
    }
    return true;
}

// Gives the camera back; only the activity that holds it can.
inline void endActivity(CameraContext& c, Activity activity) {
    uint32_t held = static_cast<uint32_t>(activity);
    c.activity.compare_exchange_strong(held, static_cast<uint32_t>(Activity::kIdle));
}

inline Activity activityOf(const CameraContext& c) {
    return static_cast<Activity>(c.activity.load());
}

// One call's activity, given back on every way out unless handed on (a run's thread ends it).
class ActivityClaim {
  public:
    ActivityClaim(CameraContext& c, Activity activity)
        : c_(&c), activity_(activity), held_(claimActivity(c, activity)) {}
    ~ActivityClaim() {
        if (held_) {
            endActivity(*c_, activity_);
        }
    }
    ActivityClaim(const ActivityClaim&) = delete;
    ActivityClaim& operator=(const ActivityClaim&) = delete;

    bool held() const { return held_; }
    // The activity goes on past this call; whoever it was handed to ends it.
    void handOn() { held_ = false; }

  private:
    CameraContext* c_;
    Activity activity_;
    bool held_;
};

}  // namespace kqfw
