// Opens and closes the simulated cameras over and over, as a long-running application that
// never resets the bench would, and shows that the process does not grow: resident memory is
// printed along the way and must end within a small margin of where it stood after warming up.
//
// Usage: kqfw_soak [cycles] (default 10000). Exits 0 when memory stayed flat, 1 when it grew,
// 2 when a camera failed to open.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "kqfw/kqfw.h"
#include "kqfw/kqsim.h"
#include "platform/clock.h"

namespace {

constexpr long kWarmUpCycles = 1000;
constexpr long kAllowedGrowthKb = 512;

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long cycles = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    if (cycles <= kWarmUpCycles) {
        std::fprintf(stderr, "kqfw_soak: needs more than %ld cycles\n", kWarmUpCycles);
        return 2;
    }
    // The simulated camera needs none of the hardware's settle pauses.
    kqfw::setSettleScale(0);
    kqsimSetTimeScale(0.01);
    IxenSetErrorMessages(0);
    long warm = 0;
    for (long i = 1; i <= cycles; ++i) {
        if (IxenmInit(0) != 0 || IxenmInit(1) != 0) {
            std::fprintf(stderr, "kqfw_soak: cycle %ld: a camera did not open\n", i);
            return 2;
        }
        IxenmSetExposure(0, 20000 + static_cast<uint32_t>(i % 100) * 100);
        IxenmSetWhiteBalance(0, 1.5, 2.0, 1.0);
        IxenmClose(1);
        IxenClose();
        if (i == kWarmUpCycles) {
            warm = residentKb();
        }
        if (i == 10 || i % 1000 == 0 || i == cycles) {
            std::printf("cycle %6ld: %ld kB resident\n", i, residentKb());
        }
    }
    const long growth = residentKb() - warm;
    std::printf("growth after warming up: %ld kB (allowed %ld kB)\n", growth, kAllowedGrowthKb);
    return growth <= kAllowedGrowthKb ? 0 : 1;
}
