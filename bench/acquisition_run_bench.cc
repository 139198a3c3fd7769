// Continuous and fast acquisition through the C API with the simulated camera at time scale 0,
// so frames come as fast as the bench can copy them: what the library itself sustains, beside
// the rate the camera has in real time for the same settings (full frame, 12-bit packed,
// 10 ms exposure).
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"

namespace kqfw::bench {

namespace {

constexpr uint32_t kExposureUs = 10000;

// Frames through the callback, counted; the benchmark's loop waits for each one.
struct Counted {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t frames = 0;
};
Counted counted;

int32_t countFrame(uint16_t* frame, uint32_t, int32_t, uint64_t, uint64_t) {
    if (frame != nullptr) {
        std::lock_guard lock(counted.mutex);
        ++counted.frames;
        counted.changed.notify_all();
    }
    return 1;
}

// The camera's real-time rate for its settings: exposure plus the readout it reports.
double nominalFramesPerSecond(int32_t camera) {
    uint32_t exposure = 0, readout = 0;
    IxenmGetCurrentExposure(camera, &exposure);
    IxenmGetCurrentReadouttime(camera, &readout);
    return 1e6 / double(exposure + readout);
}

bool openCamera(int32_t camera) {
    kqsimResetDefault();
    kqsimSetNoise(camera, 0);
    kqsimSetTimeScale(1.0);
    return IxenmInit(0) == 0 && IxenmInit(1) == 0 && IxenmSetExposure(camera, kExposureUs) == 0;
}

// At time scale 0 the camera is limited by the copy into the ring alone; at 0.01 it runs 100
// times faster than in real time, where no frame may be skipped.
void BM_ContinuousDispatch(benchmark::State& state) {
    const auto camera = static_cast<int32_t>(state.range(0));
    const double scale = state.range(1) == 0 ? 0.0 : 1.0 / double(state.range(1));
    IpContext* context = nullptr;
    uint32_t contextBytes = 0, frameBytes = 0;
    if (!openCamera(camera) ||
        IxenmGetIPInfo(camera, &context, &contextBytes, countFrame, &frameBytes) != 0) {
        IxenClose();
        state.SkipWithError("the camera did not open");
        return;
    }
    const double nominal = nominalFramesPerSecond(camera);
    kqsimSetTimeScale(scale);
    counted.frames = 0;
    if (IxenmStartContinuousAcquisition(camera, 0, 0) != 0) {
        IxenClose();
        state.SkipWithError("the run did not start");
        return;
    }
    uint64_t seen = 0;
    for (auto _ : state) {
        std::unique_lock lock(counted.mutex);
        counted.changed.wait(lock, [&] { return counted.frames > seen; });
        seen = counted.frames;
    }
    KqfwRunStatistics s{};
    kqfwGetRunStatistics(camera, &s);
    IxenmStopContinuousAcquisition(camera);
    state.SetItemsProcessed(int64_t(s.framesDelivered));
    state.counters["camera_fps"] = s.framesPerSecond;
    state.counters["nominal_fps"] = nominal;
    state.counters["skipped"] = double(s.framesSkipped);
    state.counters["lost"] = double(s.framesLost);
    state.SetLabel(std::string(camera == 0 ? "KQC" : "KQM") +
                   (scale == 0 ? ", as fast as the bench copies" : ", 100x real time"));
    IxenClose();
}
BENCHMARK(BM_ContinuousDispatch)
    ->ArgNames({"camera", "speedup"})
    ->ArgsProduct({{0, 1}, {0, 100}})
    ->UseRealTime();

// Each iteration is one frame of a fast series processed at index 0 into the image.
void BM_FastSeries(benchmark::State& state) {
    const auto camera = static_cast<int32_t>(state.range(0));
    if (!openCamera(camera)) {
        IxenClose();
        state.SkipWithError("the camera did not open");
        return;
    }
    const double nominal = nominalFramesPerSecond(camera);
    uint32_t w = 0, h = 0;
    IxenmGetCurrentDataSize(camera, &w, &h);
    std::vector<uint16_t> image(size_t{w} * h * (camera == 0 ? 3 : 1));
    const auto bytes = uint32_t(image.size() * 2);
    kqsimSetTimeScale(0);
    if (IxenmStartFastAcquisition(camera) != 0) {
        IxenClose();
        state.SkipWithError("the series did not start");
        return;
    }
    for (auto _ : state) {
        int32_t r = 0;
        while ((r = IxenmIsFastAcquisitionReady(camera, image.data(), bytes, 1)) == 0) {
        }
        if (r != 1) {
            state.SkipWithError("the series ended");
            break;
        }
        benchmark::DoNotOptimize(image.data());
    }
    IxenmAbortFastAcquisition(camera);
    state.SetItemsProcessed(state.iterations());
    state.counters["nominal_ms"] = 1000 / nominal;
    state.SetLabel(camera == 0 ? "KQC index 0 (2x2), processed" : "KQM index 0, processed");
    IxenClose();
}
BENCHMARK(BM_FastSeries)
    ->ArgName("camera")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

}  // namespace kqfw::bench
