#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace kqfw {

void sleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {
std::atomic<double> settleScale{1.0};
}

void settleMs(uint32_t milliseconds) {
    const double scale = settleScale.load();
    if (scale == 1.0) {
        sleepMs(milliseconds);
    } else if (scale > 0) {
        std::this_thread::sleep_for(
            std::chrono::duration<double, std::milli>(milliseconds * scale));
    } else {
        std::this_thread::yield();
    }
}

void setSettleScale(double scale) {
    settleScale = scale >= 0 && scale <= 1 ? scale : 1.0;
}

uint32_t tickMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace kqfw
