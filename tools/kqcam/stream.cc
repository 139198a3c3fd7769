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
#include "tiff_writer.h"

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

struct Output {
    int32_t camera;
    const RunOptions& options;
    uint32_t width = 0, height = 0, channels = 1;
    std::vector<uint16_t> image;
    std::unique_ptr<TiffWriter> tiff;
    std::string description;
    uint64_t frames = 0, written = 0;

    Output(int32_t c, const RunOptions& o) : camera(c), options(o) {
        IxenmGetCurrentDataSize(camera, &width, &height);
        channels = IxenmGetCurrentBitsPerPixel(camera) == 42 ? 3 : 1;
        image.resize(size_t{width} * height * channels);
        if (!options.settings.output.empty()) {
            tiff = std::make_unique<TiffWriter>(options.settings.output);
        }
        description = describeSettings(camera);
    }
    // The image in `image` is frame number `frames`: every k-th one is written.
    bool take() {
        const bool due = frames++ % options.every == 0;
        if (tiff == nullptr || !due) {
            return true;
        }
        if (options.settings.scaleTo16) {
            for (uint16_t& v : image) {
                v = static_cast<uint16_t>(v << 2);
            }
        }
        ++written;
        return tiff->addPage(image.data(), width, height, channels, description);
    }
    int finish(int code) {
        show(camera, written);
        std::fprintf(stderr, "\n");
        if (code != kExitOk || tiff == nullptr) {
            return code;
        }
        if (written == 0 || !tiff->commit()) {
            std::fprintf(stderr, "kqcam: cannot write %s\n", options.settings.output.c_str());
            return kExitCameraError;
        }
        std::printf("wrote %s: %llu pages of %u x %u, %s, 16-bit\n",
                    options.settings.output.c_str(), static_cast<unsigned long long>(written),
                    width, height, channels == 3 ? "RGB" : "grey");
        return kExitOk;
    }
};

// The scene, the cameras up to this one, and the settings: 0 or the exit code.
int prepareRun(int32_t camera, const RunOptions& o) {
    if (!o.settings.scene.empty()) {
        setBenchScene(o.settings.scene);
    }
    if (int code = openUpTo(camera)) {
        return code;
    }
    if (StatusCode s = applySettings(camera, o.settings)) {
        return fail("setting refused", s);
    }
    return kExitOk;
}

bool timeIsUp(const RunOptions& o, Clock::time_point start) {
    return o.seconds > 0 && Clock::now() - start >= std::chrono::duration<double>(o.seconds);
}

}  // namespace

int stream(int32_t camera, const RunOptions& o) {
    ClosesCameras closer;
    if (int code = prepareRun(camera, o)) {
        return code;
    }
    IpContext* context = nullptr;
    uint32_t contextBytes = 0, frameBytes = 0;
    if (StatusCode s = IxenmGetIPInfo(camera, &context, &contextBytes, onFrame, &frameBytes)) {
        return fail("cannot prepare the processing", s);
    }
    Output out(camera, o);
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
            if (StatusCode s = IxenmExecuteIPFunction(context, out.image.data(), raw.data())) {
                code = fail("processing failed", s);
                break;
            }
            if (!out.take()) {
                std::fprintf(stderr, "\nkqcam: cannot write %s\n", o.settings.output.c_str());
                code = kExitCameraError;
                break;
            }
        }
        if (Clock::now() - shown >= kShowEvery) {
            show(camera, out.written);
            shown = Clock::now();
        }
        if (interrupted != 0 || timeIsUp(o, start)) {
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
    return out.finish(code);
}

int series(int32_t camera, const RunOptions& o) {
    ClosesCameras closer;
    if (int code = prepareRun(camera, o)) {
        return code;
    }
    Output out(camera, o);
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
            return out.finish(kExitOk);
        }
        const bool last = (o.frames != 0 && taken + 1 >= o.frames) || timeIsUp(o, start);
        const int32_t r =
            IxenmIsFastAcquisitionReady(camera, out.image.data(), bytes, last ? 0 : 1);
        if (r < 0) {
            std::fprintf(stderr, "\nkqcam: the series ended (%d)\n", r);
            return out.finish(kExitCameraError);
        }
        if (r == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            ++taken;
            if (!out.take()) {
                IxenmAbortFastAcquisition(camera);
                return out.finish(kExitCameraError);
            }
            if (last) {
                return out.finish(kExitOk);
            }
        }
        if (Clock::now() - shown >= kShowEvery) {
            show(camera, out.written);
            shown = Clock::now();
        }
    }
}

}  // namespace kqcam
