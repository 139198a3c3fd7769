#pragma once

#include <cstdint>

#include "camera/camera_table.h"

namespace kqfw {

// Which of the caller's progress callbacks an acquisition reports to.
enum class ProgressKind { kNone, kPlain, kEx };

// The progress callback of `kind` as the entry point stored it in the record, copied, so that
// another thread storing a callback for its own call does not change this one's.
struct Progress {
    ProgressKind kind = ProgressKind::kNone;
    ProgressCallback plain = nullptr;
    ProgressCallbackEx ex = nullptr;
    uint64_t userData = 0;

    static Progress of(const CameraContext& c, ProgressKind kind);
    // The callback's answer (non-zero asks to abort); 0 for none.
    int32_t report(uint32_t elapsedMs, uint32_t totalMs, int32_t state) const;
};

// Bytes of the finished image the current settings produce; 0 when they produce none.
uint32_t RequiredImageBytes(const CameraContext& c);

// Whether the acquisition claims the camera itself (an image the application asked for) or
// runs inside an activity its caller holds (references, calibration, a prepared stream's frame).
enum class AcquireAs { kEntryPoint, kInsideActivity };

// One finished image into `image`. With ownStream the stream is set up and torn down inside;
// without, and whenever the application holds a prepared stream, that stream is used.
//
// Thread context: the caller's thread, holding `lease` (and with it settingsLock, which it
// leaves while the camera exposes). It starts the receive thread and joins it before it
// returns; a close of the camera asked meanwhile aborts the exposure.
uint32_t AcquireImage(CameraLease& lease, uint16_t* image, uint32_t imageBytes,
                      ProgressKind progress, bool ownStream, AcquireAs as);

}  // namespace kqfw
