#include "progress.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "kqfw/kqfw_ext.h"

namespace kqcam {

namespace {

std::atomic<int> interrupted{0};

void onInterrupt(int) {
    interrupted = 1;
}

void bar(const char* what, uint64_t done, uint64_t total, const char* unit) {
    const int width = 40;
    const int filled = total == 0 ? width : static_cast<int>(done * width / total);
    std::fprintf(stderr, "\r%s [%-*s] %llu/%llu%s", what, width, std::string(filled, '#').c_str(),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                 unit);
}

}  // namespace

int32_t exposureProgress(uint32_t elapsedMs, uint32_t totalMs, int32_t) {
    if (totalMs >= 1000) {
        bar("exposing", elapsedMs, totalMs, " ms");
    }
    return interrupted.load();
}

int32_t shotProgress(uint32_t, uint32_t, int32_t, uint64_t camera) {
    uint32_t placed = 0, total = 0;
    if (kqfwGetShotProgress(static_cast<int32_t>(camera), &placed, &total) == 0 && total > 0) {
        bar("shots", placed, total, "");
    }
    return interrupted.load();
}

int32_t frameProgress(uint32_t frame, uint32_t frames, int32_t state) {
    // The measurement reports its start (state 1) and each frame taken (state 2).
    bar("frames", state == 1 ? 0 : frame + 1, frames, "");
    return interrupted.load();
}

InterruptsAbort::InterruptsAbort() {
    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
}

InterruptsAbort::~InterruptsAbort() {
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace kqcam
