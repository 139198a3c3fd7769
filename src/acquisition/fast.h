#pragma once

#include <cstdint>

#include "camera/camera_table.h"

namespace kqfw {

// Fast acquisition: a series of single frames on one prepared stream. The start triggers the
// first frame and returns; each readiness call that finds a frame may trigger the next one into
// the other receive buffer before it processes the one that arrived.
//
// Thread context: the caller's thread, holding `lease`; the receive thread of each frame runs
// the image-done callback.

// 0 once the first frame was triggered; 10, a set-up status, or 1.
uint32_t StartFast(CameraLease& lease);
// 1 image written, 0 not yet; -6, -8, -11 (the run ended or a thread could not be created).
int32_t FastReady(CameraLease& lease, uint16_t* image, uint32_t imageBytes, uint32_t restart);
// 0 stopped; 11 no run; 4 an abort is under way already.
uint32_t AbortFast(CameraLease& lease);
// The close's abort of a fast run (no lease: the slot is closing and no call is in flight).
void AbortFastForClose(CameraContext& c);

}  // namespace kqfw
