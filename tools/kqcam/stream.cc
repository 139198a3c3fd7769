// kqcam stream and series: continuous and fast acquisition, shown live and written as a
// multi-page TIFF.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "commands.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "peak_memory.h"
#include "progress.h"
#include "recording.h"

namespace kqcam {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kQueuedFrames = 8;
constexpr auto kShowEvery = std::chrono::milliseconds(500);

std::atomic<int> interrupted{0};

void onInterrupt(int) {
    interrupted = 1;
}

// Routes Ctrl-C to a flag the run's loop reads.
struct EndsOnInterrupt {
    EndsOnInterrupt() {
        interrupted = 0;
        std::signal(SIGINT, onInterrupt);
    }
    ~EndsOnInterrupt() { std::signal(SIGINT, SIG_DFL); }
};

void show(int32_t camera, uint64_t written) {
    KqfwRunStatistics s{};
    kqfwGetRunStatistics(camera, &s);
    std::fprintf(stderr,
                 "\rframes %llu  %.1f frames/s  lost %llu  skipped %llu  written %llu  "
                 "peak RSS %ld kB   ",
                 static_cast<unsigned long long>(s.framesDelivered), s.framesPerSecond,
                 static_cast<unsigned long long>(s.framesLost),
                 static_cast<unsigned long long>(s.framesSkipped),
                 static_cast<unsigned long long>(written), peakResidentKb());
}

// Raw frames handed from the dispatch thread to the writer. The callback only copies: when
// the writer falls behind the callback waits for room, and the library's dispatch skips frames
// (the run statistics count them).
struct FrameQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> frames;
    uint32_t wanted = 0;  // frames to take (0: no limit)
    uint32_t taken = 0;
    bool ended = false;
    bool closed = false;  // the writer stopped taking frames
};
FrameQueue* queue = nullptr;

int32_t onFrame(uint16_t* frame, uint32_t bytes, int32_t, uint64_t, uint64_t) {
    std::unique_lock lock(queue->mutex);
    if (frame == nullptr) {
        queue->ended = true;
        queue->changed.notify_all();
        return 0;
    }
    queue->changed.wait(lock, [] { return queue->frames.size() < kQueuedFrames || queue->closed; });
    if (queue->closed) {
        return 0;
    }
    const auto* b = reinterpret_cast<const uint8_t*>(frame);
    queue->frames.emplace_back(b, b + bytes);
    queue->changed.notify_all();
    ++queue->taken;
    return queue->wanted == 0 || queue->taken < queue->wanted ? 1 : 0;
}

// The statistics as the run ended, then the files.
int end(Recording& out, int code) {
    show(out.camera, out.written);
    std::fprintf(stderr, "\n");
    return out.finish(code);
}

// The files, the scene, the cameras up to this one, and the settings: 0 or the exit code.
int prepareRun(int32_t camera, const RunOptions& o, Recording& out) {
    if (int code = out.checkFiles()) {
        return code;
    }
    if (!o.settings.scene.empty()) {
        setBenchScene(o.settings.scene);
    }
    if (int code = openListed(camera)) {
        return code;
    }
    if (int code = applySettings(camera, o.settings)) {
        return code;
    }
    out.prepare();
    if (o.frames == 0 && o.seconds <= 0) {
        std::fprintf(stderr, "kqcam: %s until Ctrl-C\n",
                     o.settings.output.empty() ? "counting frames (no --output: nothing written)"
                                               : "recording");
    }
    return kExitOk;
}

bool timeIsUp(const RunOptions& o, Clock::time_point start) {
    return o.seconds > 0 && Clock::now() - start >= std::chrono::duration<double>(o.seconds);
}

}  // namespace

int stream(int32_t camera, const RunOptions& o) {
    Recording out(camera, o);
    ClosesCameras closer;
    if (int code = prepareRun(camera, o, out)) {
        return code;
    }
    IpContext* context = nullptr;
    uint32_t contextBytes = 0, frameBytes = 0;
    if (StatusCode s = IxenmGetIPInfo(camera, &context, &contextBytes, onFrame, &frameBytes)) {
        return fail("cannot prepare the processing", s);
    }
    // The offline context has no room for the interpolation: each frame is given the camera's.
    int32_t interpolation = KQFW_INTERPOLATION_CAMERA;
    kqfwGetColourInterpolation(camera, &interpolation);
    FrameQueue frames;
    frames.wanted = o.frames;
    queue = &frames;
    EndsOnInterrupt ctrlC;
    if (int32_t s = IxenmStartContinuousAcquisition(camera, 0, 0)) {
        return fail("cannot start the stream", static_cast<StatusCode>(s));
    }
    const auto start = Clock::now();
    auto shown = start;
    int code = kExitOk;
    std::vector<uint8_t> raw;
    for (;;) {
        {
            std::unique_lock lock(frames.mutex);
            frames.changed.wait_for(lock, kShowEvery,
                                    [&] { return !frames.frames.empty() || frames.ended; });
            if (frames.frames.empty() && frames.ended) {
                break;
            }
            if (!frames.frames.empty()) {
                raw = std::move(frames.frames.front());
                frames.frames.pop_front();
                frames.changed.notify_all();
            } else {
                raw.clear();
            }
        }
        if (!raw.empty()) {
            if (StatusCode s =
                    kqfwExecuteIPFunctionEx(context, out.image.data(), raw.data(), interpolation)) {
                code = fail("processing failed", s);
                break;
            }
            if (!out.take()) {
                code = kExitCameraError;
                break;
            }
        }
        if (Clock::now() - shown >= kShowEvery) {
            show(camera, out.written);
            shown = Clock::now();
        }
        if (interrupted != 0) {
            code = kExitInterrupted;
            break;
        }
        if (timeIsUp(o, start)) {
            break;
        }
    }
    {
        std::lock_guard lock(frames.mutex);
        frames.closed = true;
        frames.changed.notify_all();
    }
    IxenmStopContinuousAcquisition(camera);
    queue = nullptr;
    return end(out, code);
}

int series(int32_t camera, const RunOptions& o) {
    Recording out(camera, o);
    ClosesCameras closer;
    if (int code = prepareRun(camera, o, out)) {
        return code;
    }
    EndsOnInterrupt ctrlC;
    if (int32_t s = IxenmStartFastAcquisition(camera)) {
        return fail("cannot start the series", static_cast<StatusCode>(s));
    }
    const auto start = Clock::now();
    auto shown = start;
    const auto bytes = static_cast<uint32_t>(out.image.size() * 2);
    for (uint64_t taken = 0;;) {
        if (interrupted != 0) {
            IxenmAbortFastAcquisition(camera);
            return end(out, kExitInterrupted);
        }
        const bool last = (o.frames != 0 && taken + 1 >= o.frames) || timeIsUp(o, start);
        const int32_t r =
            IxenmIsFastAcquisitionReady(camera, out.image.data(), bytes, last ? 0 : 1);
        if (r < 0) {
            std::fprintf(stderr, "\nkqcam: the series ended (%d)\n", r);
            return end(out, kExitCameraError);
        }
        if (r == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            ++taken;
            if (!out.take()) {
                IxenmAbortFastAcquisition(camera);
                return end(out, kExitCameraError);
            }
            if (last) {
                return end(out, kExitOk);
            }
        }
        if (Clock::now() - shown >= kShowEvery) {
            show(camera, out.written);
            shown = Clock::now();
        }
    }
}

}  // namespace kqcam
