// The multi-shot kernels on the full colour index-5 image (4164 x 3120 RGB16, 36 shots of
// 1388 x 1040), one core (the finishing filters also on all of them): the placement of a series
// beside a memcpy of the same output bytes, and the finishing filters beside OpenCV's filter2D with
// a kernel of the same size on the same CV_16UC3 image. Placement must keep up with the camera: a
// full packed shot takes 88 ms on the bus.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "camera/camera_context.h"
#include "camera/colour_tables.h"
#include "platform/worker_pool.h"
#include "processing/multishot_filters.h"
#include "processing/multishot_merge.h"

namespace kqfw::bench {

namespace {

constexpr int32_t kWidth = 1388, kHeight = 1040;
constexpr uint32_t kFactor = 3;
constexpr uint32_t kShots = 36;
constexpr size_t kOutputPixels = size_t(kWidth) * kFactor * kHeight * kFactor;

struct ContextDeleter {
    void operator()(CameraContext* c) const { freeCameraContext(c); }
};

struct Series {
    std::unique_ptr<CameraContext, ContextDeleter> context{allocateCameraContext()};
    std::vector<uint16_t> shot;
    std::vector<uint16_t> image;
    Series() : shot(size_t(kWidth) * kHeight), image(kOutputPixels * 3) {
        CameraContext& c = *context;
        c.imageRect = {0, 0, kWidth, kHeight};
        const double wb[3] = {1.49, 1.98, 1.0};
        buildColourTables(c, wb);
        for (size_t i = 0; i < shot.size(); ++i) {
            shot[i] = uint16_t(128 + (i * 2654435761u >> 20) % 8000);
        }
        for (uint32_t s = 0; s < kShots; ++s) {
            mergeshot(recipeOf(c), image.data(), shot.data(), kFactor, s, c.imageRect);
        }
    }
};

Series& series() {
    static Series s;
    return s;
}

void BM_PlaceSeries(benchmark::State& state) {
    Series& b = series();
    // As the series' assembler places them: the shots of each row of the grid together.
    const FrameRecipe recipe = recipeOf(*b.context);
    constexpr uint32_t kRow = 2 * kFactor;
    const uint16_t* shots[kRow];
    ShotPlacement placements[kRow];
    for (auto _ : state) {
        for (uint32_t first = 0; first < kShots; first += kRow) {
            for (uint32_t k = 0; k < kRow; ++k) {
                shots[k] = b.shot.data();
                placements[k] = colourPlacement(kFactor, first + k);
            }
            placeShots(recipe, b.image.data(), shots, placements, kRow, kFactor,
                       b.context->imageRect);
        }
        benchmark::DoNotOptimize(b.image.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.image.size() * 2));
    state.SetLabel("36 shots into 4164 x 3120 RGB16 (time / 36 per shot)");
}
BENCHMARK(BM_PlaceSeries)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpyOutput(benchmark::State& state) {
    Series& b = series();
    std::vector<uint16_t> copy(b.image.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), b.image.data(), b.image.size() * 2);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.image.size() * 2));
    state.SetLabel("memcpy of the same output bytes");
}
BENCHMARK(BM_MemcpyOutput)->Unit(benchmark::kMillisecond)->UseRealTime();

// One thread, or as many as the processor has cores (a camera's default).
WorkerPool* poolFor(benchmark::State& state, bool allCores) {
    WorkerPool& pool = series().context->processingPool;
    pool.setThreads(allCores ? defaultProcessingThreads() : 1);
    state.counters["threads"] = pool.threads();
    return &pool;
}

void BM_ScanSharpen(benchmark::State& state) {
    Series& b = series();
    std::vector<uint16_t> work = b.image;
    WorkerPool* pool = poolFor(state, state.range(0) != 0);
    for (auto _ : state) {
        scansharpen(work.data(), kFactor, b.context->imageRect, pool);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetLabel("factor 3, 4 x 4 footprint");
}
BENCHMARK(BM_ScanSharpen)
    ->ArgName("cores")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_MultiShotFilter(benchmark::State& state) {
    Series& b = series();
    std::vector<uint16_t> work = b.image;
    WorkerPool* pool = poolFor(state, state.range(1) != 0);
    for (auto _ : state) {
        multishotfilter(work.data(), kFactor, b.context->imageRect, state.range(0) != 0, pool);
        benchmark::DoNotOptimize(work.data());
    }
    state.SetLabel(state.range(0) != 0 ? "weighted, 2 x 2 window" : "plain, 2 x 2 window");
}
BENCHMARK(BM_MultiShotFilter)
    ->ArgNames({"weighted", "cores"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The peer: filter2D on the same CV_16UC3 image with a kernel of the sharpener's footprint
// (4 x 4) and of the filter's (2 x 2).
void BM_OpenCvFilter2D(benchmark::State& state) {
    cv::setNumThreads(1);
    Series& b = series();
    const int size = int(state.range(0));
    const cv::Mat image(kHeight * int(kFactor), kWidth * int(kFactor), CV_16UC3, b.image.data());
    cv::Mat kernel(size, size, CV_32F, cv::Scalar(-1.0 / (size * size)));
    kernel.at<float>(size / 2, size / 2) += 2.0f;
    cv::Mat out;
    for (auto _ : state) {
        cv::filter2D(image, out, -1, kernel);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetLabel(size == 4 ? "4 x 4 kernel, CV_16UC3" : "2 x 2 kernel, CV_16UC3");
}
BENCHMARK(BM_OpenCvFilter2D)->ArgName("size")->Arg(4)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace kqfw::bench
