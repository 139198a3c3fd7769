#pragma once

#include <cstdint>

#include "camera/camera_table.h"

namespace kqfw {

// Continuous acquisition: the camera streams into the driver's five-slot ring, and a dispatch
// thread of the run hands each raw frame, as it lies in its slot, to the frame callback that
// IxenmGetIPInfo registered, in frame order, skipping to the newest frames but three when it
// falls behind.
//
// Thread context: the caller's thread, holding `lease`. The frame callback and the end
// notification run on the dispatch thread and may call the library, this camera included: a
// stop asked from there ends the run once the callback returned; a close asked from there
// completes when the run has ended.

// 0 once the camera streams; 18, 10, a set-up status, or 1.
uint32_t StartContinuous(CameraLease& lease, int32_t threadPriority, uint64_t userValue);
// Always 0. Waits for the run's threads, except when asked from the run's own callback.
// Until it has, no activity of the camera can start (they give 10).
uint32_t StopContinuous(CameraLease& lease);
// Test hook: called by a stop between joining the receive and the dispatch thread (null:
// nothing), so a test can start something in that window.
extern void (*betweenStopJoins)();

}  // namespace kqfw
