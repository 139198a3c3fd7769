#pragma once

#include <cstdint>

namespace kqcam {

// Bars on stderr for what takes long enough to wait for; Ctrl-C while one runs asks the
// library to abort (each returns non-zero once interrupted).
int32_t exposureProgress(uint32_t elapsedMs, uint32_t totalMs, int32_t state);
int32_t frameProgress(uint32_t frame, uint32_t frames, int32_t state);
// The shots of a multi-shot image placed so far; the user value is the camera index.
int32_t shotProgress(uint32_t elapsedMs, uint32_t totalMs, int32_t state, uint64_t camera);

// Routes Ctrl-C to the bars while alive.
class InterruptsAbort {
  public:
    InterruptsAbort();
    ~InterruptsAbort();
    InterruptsAbort(const InterruptsAbort&) = delete;
    InterruptsAbort& operator=(const InterruptsAbort&) = delete;
};

}  // namespace kqcam
