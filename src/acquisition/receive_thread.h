#pragma once

#include <cstdint>

#include "camera/camera_table.h"

namespace kqfw {

// Starts the receive thread of one receive into the buffer `useAuxBuffer` names: a single
// frame, one frame of a fast series, or a whole streaming run. The caller sets `busy` first;
// the thread clears it when the driver ended the receive and keeps the receive's status in
// `receiveStatus`. Then it sets triggerEvent, so a start waiting for the receive to be under
// way never outlives a receive that failed before it began; in a streaming run it sets
// frameEvent, so the dispatch thread learns that the receive ended by itself; otherwise it
// calls the image-done callback the record held when the receive ended. Nothing of the
// record is touched after that callback, which may close the camera. False when the thread
// could not be created.
//
// Thread context: the caller holds the camera's settingsLock; the receive thread holds
// registerLock for the whole receive and works for camera `index` (a close it causes is
// deferred to the call that waits for it).
bool StartReceiveThread(CameraContext& c, int32_t index);

// Joins the receive and dispatch threads a previous receive or run left behind. They have
// ended or are finishing a callback, which may be waiting for the settings: the lease leaves
// them while it waits. A thread reaping itself (a callback starting the next run) lets itself
// go instead. Nothing is reaped while a receive is attached.
void ReapRunThreads(CameraLease& lease);

}  // namespace kqfw
