// Runs the simulated cameras as a long-running application would, without ever resetting the
// bench, and shows that the process does not grow: open/close cycles, single acquisitions,
// continuous runs and multi-shot images, each phase sampling resident memory, open file
// descriptors, threads and the driver's open handles after warming up and at its end.
//
// Usage: kqfw_soak [cycles singles runs multishots] (default 1000 10000 100 100). Exits 0 when
// every phase stayed flat, 1 when one grew, 2 when a call failed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "kqfw/kqfw.h"
#include "kqfw/kqsim.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace {

// Memory may move between two samples by what the allocator keeps: a few pages, and in the
// multi-shot phase at times one more block of about 1.3 MB for the shot threads' arenas (in
// one run of several, with every build). A leak of one buffer a cycle over hundreds of cycles,
// or of one 98 KB shot an image over the short soak's 30 images, does not hide in this.
constexpr long kAllowedGrowthKb = 2048;

constexpr uint32_t kW = 256, kH = 192;

struct Sample {
    long residentKb = -1;
    long files = -1;
    long threads = -1;
    long driverHandles = -1;
};

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
    return -1;
}

// Entries of a directory of /proc, or -1 where the system has none.
long entries(const char* path) {
    std::error_code error;
    std::filesystem::directory_iterator it(path, error);
    if (error) {
        return -1;
    }
    long n = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            return -1;
        }
        ++n;
    }
    return n;
}

Sample sample() {
    return {residentKb(), entries("/proc/self/fd"), entries("/proc/self/task"),
            long(kqsimOpenHandles())};
}

void print(const char* phase, const char* when, long i, const Sample& s) {
    std::printf(
        "%-13s %-6s %6ld: %7ld kB resident, %3ld files, %3ld threads, %2ld driver "
        "handles\n",
        phase, when, i, s.residentKb, s.files, s.threads, s.driverHandles);
}

bool fail(const char* what, long i, int32_t status) {
    std::fprintf(stderr, "kqfw_soak: %s %ld failed with status %d\n", what, i, int(status));
    return false;
}

bool openCamera(int32_t camera) {
    if (IxenmInit(camera) != 0) {
        return false;
    }
    uint32_t frame[4] = {0, 0, kW, kH};
    return IxenmSetFrameSize(camera, frame) == 0 && IxenmSetExposure(camera, 5000) == 0;
}

struct Run {
    kqfw::Event frames{true};
    int seen = 0;
};

int32_t onFrame(uint16_t* frame, uint32_t, int32_t, uint64_t, uint64_t user) {
    auto* run = reinterpret_cast<Run*>(user);
    if (frame != nullptr && ++run->seen == 3) {
        run->frames.set();
    }
    return 1;
}

// One phase: `step(i)` for i = 1..count, sampled after the first tenth and at the end; the
// phase passes when the step never failed and the last sample is no larger than the first
// (memory within the margin).
int phase(const char* name, long count, const std::function<bool(long)>& step) {
    if (count <= 0) {
        return 0;
    }
    const long warmUp = count / 10 > 0 ? count / 10 : 1;
    Sample first;
    for (long i = 1; i <= count; ++i) {
        if (!step(i)) {
            return 2;
        }
        if (i == warmUp) {
            first = sample();
            print(name, "first", i, first);
        }
    }
    const Sample last = sample();
    print(name, "last", count, last);
    const bool flat = last.residentKb - first.residentKb <= kAllowedGrowthKb &&
                      last.files <= first.files && last.threads <= first.threads &&
                      last.driverHandles <= first.driverHandles;
    if (!flat) {
        std::printf("%-13s grew\n", name);
    }
    return flat ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    long counts[4] = {1000, 10000, 100, 100};
    for (int i = 1; i < argc && i <= 4; ++i) {
        counts[i - 1] = std::strtol(argv[i], nullptr, 10);
    }
    // The simulated camera needs none of the hardware's settle pauses.
    kqfw::setSettleScale(0);
    kqsimSetTimeScale(0.01);
    IxenSetErrorMessages(0);
    std::vector<uint16_t> image(size_t{kW} * kH * 3 * 9);
    const auto imageBytes = uint32_t(image.size() * 2);
    int result = 0;
    auto worst = [&result](int r) { result = r > result ? r : result; };

    worst(phase("open/close", counts[0], [](long i) {
        if (!openCamera(0) || !openCamera(1)) {
            return fail("opening", i, -1);
        }
        IxenmSetExposure(0, 20000 + uint32_t(i % 100) * 100);
        IxenmSetWhiteBalance(0, 1.5, 2.0, 1.0);
        IxenmClose(1);
        IxenClose();
        return true;
    }));
    if (result == 2 || !openCamera(0)) {
        return 2;
    }
    worst(phase("single", counts[1], [&](long i) {
        const int32_t r = IxenmAcquisition(0, image.data(), imageBytes, nullptr);
        return r == 0 || fail("acquisition", i, r);
    }));
    worst(phase("continuous", counts[2], [&](long i) {
        Run run;
        IpContext* context = nullptr;
        uint32_t bytes = 0, frameBytes = 0;
        uint32_t r = IxenmGetIPInfo(0, &context, &bytes, onFrame, &frameBytes);
        if (r != 0) {
            return fail("run set-up", i, int32_t(r));
        }
        const int32_t started =
            IxenmStartContinuousAcquisition(0, 0, reinterpret_cast<uintptr_t>(&run));
        if (started != 0) {
            return fail("run", i, started);
        }
        // Bounds a hang only; the frames come within milliseconds.
        const bool frames = run.frames.wait(60000);
        const int32_t stopped = IxenmStopContinuousAcquisition(0);
        return (frames && stopped == 0) || fail("run", i, stopped);
    }));
    if (IxenmSetResolution(0, 3) != 0) {
        return 2;
    }
    worst(phase("multi-shot", counts[3], [&](long i) {
        const int32_t r = IxenmAcquisition(0, image.data(), imageBytes, nullptr);
        return r == 0 || fail("multi-shot image", i, r);
    }));
    IxenClose();
    return result;
}
