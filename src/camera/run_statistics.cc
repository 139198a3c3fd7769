#include "camera/run_statistics.h"

#include <chrono>

namespace kqfw {

void RunStatistics::begin(RunKind run) {
    delivered = 0;
    skipped = 0;
    lost = 0;
    latestFrame = -1;
    firstTimedFrame = -1;
    firstTimedUs = 0;
    latestTimedUs = 0;
    kind = static_cast<uint32_t>(run);
}

void RunStatistics::driverReported(int32_t newest, uint32_t lostOnBus, int64_t nowUs) {
    lost = lostOnBus;
    if (newest < 0 || newest <= latestFrame.load()) {
        return;
    }
    latestFrame = newest;
    if (firstTimedFrame.load() < 0) {
        firstTimedFrame = newest;
        firstTimedUs = nowUs;
    }
    latestTimedUs = nowUs;
}

double RunStatistics::framesPerSecond() const {
    const int32_t first = firstTimedFrame.load();
    const int32_t latest = latestFrame.load();
    const int64_t us = latestTimedUs.load() - firstTimedUs.load();
    if (first < 0 || latest <= first || us <= 0) {
        return 0.0;
    }
    return (latest - first) * 1e6 / static_cast<double>(us);
}

int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace kqfw
