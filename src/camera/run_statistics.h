#pragma once

#include <atomic>
#include <cstdint>

namespace kqfw {

enum class RunKind : uint32_t { kNone = 0, kContinuous = 1, kFast = 2 };

// What a continuous or fast run saw, kept from its start until the next run starts, so an
// application can tell whether frames were lost during it and after it.
//
// Thread context: written by the run's own thread (the dispatch thread, or the readiness call
// of a fast series), read by any thread; every field is an atomic on its own, so a reader may
// see counts of neighbouring moments, never torn ones.
struct RunStatistics {
    std::atomic<uint32_t> kind;
    std::atomic<uint64_t> delivered;
    std::atomic<uint64_t> skipped;
    std::atomic<uint64_t> lost;
    std::atomic<int32_t> latestFrame;
    std::atomic<int32_t> firstTimedFrame;
    std::atomic<int64_t> firstTimedUs;
    std::atomic<int64_t> latestTimedUs;

    void begin(RunKind run);
    // The driver reported `newest` as its newest completed frame and `lostOnBus` frames it never
    // completed; `nowUs` is the library's clock.
    void driverReported(int32_t newest, uint32_t lostOnBus, int64_t nowUs);
    // Completed frames per second between the first and the newest frame seen; 0 before two.
    double framesPerSecond() const;
};

// Microseconds of a monotonic clock, for frame rates.
int64_t monotonicUs();

}  // namespace kqfw
