// The colour kernels on a full 1388 x 1040 frame of the simulated test slide, one core, side
// by side with OpenCV's demosaicing of the same 16-bit mosaic.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "bench_report.h"
#include "camera/camera_context.h"
#include "camera/colour_tables.h"
#include "processing/assemble_single.h"
#include "processing/colour_matrix.h"
#include "processing/grey_binned.h"
#include "sim/sim_scene.h"
#include "sim/sim_sensor.h"

namespace kqfw::bench {

namespace {

constexpr int32_t kWidth = 1388;
constexpr int32_t kHeight = 1040;
constexpr double kWhite = 8000;  // 100 ms of white above the pedestal

struct ContextDeleter {
    void operator()(CameraContext* c) const { freeCameraContext(c); }
};

// Everything the kernels and the quality measure share, made once.
struct Bench {
    std::unique_ptr<CameraContext, ContextDeleter> context{allocateCameraContext()};
    // The same camera white-balanced for a light that leaves green scaled (red unscaled).
    std::unique_ptr<CameraContext, ContextDeleter> greenScaled{allocateCameraContext()};
    std::shared_ptr<const sim::Scene> scene = sim::Scene::testSlide(kWidth, kHeight);
    std::vector<uint16_t> mosaic;    // as the camera delivers it
    std::vector<uint16_t> balanced;  // mapped through the white balance, for OpenCV
    std::vector<uint16_t> binned3, binned5;

    Bench() {
        CameraContext& c = *context;
        c.imageRect = {0, 0, kWidth, kHeight};
        for (double& s : c.saturation) {
            s = 1.0;
        }
        saturationStep(c);
        const double wb[3] = {1.49, 1.98, 1.0};
        buildColourTables(c, wb);
        const double reddish[3] = {1.0, 1.49, 1.98};
        greenScaled->imageRect = c.imageRect;
        buildColourTables(*greenScaled, reddish);
        fillClampTable(c.clampTable);
        c.colorProcessingEnabled = 1;
        mosaic = render(1);
        binned3 = render(3);
        binned5 = render(5);
        balanced.resize(mosaic.size());
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                const int colour = (y & 1) == 0 ? ((x & 1) == 0 ? 0 : 1) : ((x & 1) == 0 ? 1 : 2);
                const size_t i = size_t(y) * kWidth + x;
                balanced[i] = c.whiteLuts[colour][mosaic[i]];
            }
        }
    }

    std::vector<uint16_t> render(uint32_t binRows) const {
        sim::SensorModel sensor;
        sensor.width = kWidth;
        sensor.height = kHeight;
        sensor.noise = false;
        sensor.vignetting = 0;
        sensor.prnu = 0;
        sensor.darkDnPerMs = 0;
        sensor.hotDnPerMs = 0;
        sim::FrameRequest request;
        request.width = kWidth;
        request.height = kHeight;
        request.binY = binRows;
        request.exposureMs = 100;
        std::vector<uint16_t> samples(size_t(kWidth) * (kHeight / binRows));
        sim::renderSamples(sensor, *scene, request, samples.data());
        return samples;
    }
};

Bench& bench() {
    static Bench b;
    return b;
}

void reportRate(benchmark::State& state) {
    state.counters["MPix/s"] = benchmark::Counter(
        double(state.iterations()) * kWidth * kHeight / 1e6, benchmark::Counter::kIsRate);
}

// One thread, or as many as the processor has cores (a camera's default).
void BM_AssembleSingle(benchmark::State& state) {
    Bench& b = bench();
    std::vector<uint16_t> out(size_t(kWidth) * kHeight * 3);
    b.context->processingPool.setThreads(state.range(1) == 0 ? 1 : defaultProcessingThreads());
    state.counters["threads"] = b.context->processingPool.threads();
    for (auto _ : state) {
        AssembleSingle(recipeOf(*b.context), out.data(), b.mosaic.data(), int32_t(state.range(0)));
        benchmark::DoNotOptimize(out.data());
    }
    reportRate(state);
}
BENCHMARK(BM_AssembleSingle)
    ->ArgNames({"mode", "cores"})
    ->ArgsProduct({{-1, 1, 2, 3}, {0}})
    ->ArgsProduct({{-1, 1, 2, 3}, {1}})
    ->Unit(benchmark::kMillisecond);

// The 2x2 method by each of its implementations, with the default white balance (green
// table the identity) and with one that scales green.
void BM_BlockKernel(benchmark::State& state) {
    Bench& b = bench();
    const auto kernel = static_cast<BlockKernel>(state.range(0));
    if (!blockKernelSupported(kernel)) {
        state.SkipWithError("this processor lacks the instructions");
        return;
    }
    const CameraContext& c = state.range(1) == 0 ? *b.context : *b.greenScaled;
    std::vector<uint16_t> out(size_t(kWidth) * kHeight * 3);
    for (auto _ : state) {
        AssembleSingleBlock(kernel, recipeOf(c), out.data(), b.mosaic.data());
        benchmark::DoNotOptimize(out.data());
    }
    reportRate(state);
}
BENCHMARK(BM_BlockKernel)
    ->ArgNames({"kernel", "greenScaled"})
    ->ArgsProduct({{int(BlockKernel::kPlain), int(BlockKernel::kShared), int(BlockKernel::kAvx2),
                    int(BlockKernel::kAvx512)},
                   {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_AssembleSingleMono(benchmark::State& state) {
    Bench& b = bench();
    std::vector<uint16_t> out(size_t(kWidth) * kHeight);
    for (auto _ : state) {
        AssembleSingleMono(simdLevel(), recipeOf(*b.context), out.data(), b.mosaic.data());
        benchmark::DoNotOptimize(out.data());
    }
    reportRate(state);
}
BENCHMARK(BM_AssembleSingleMono)->Unit(benchmark::kMillisecond);

void BM_AssembleGrey(benchmark::State& state) {
    Bench& b = bench();
    b.context->binning = static_cast<uint32_t>(state.range(0));
    std::vector<uint16_t> out(size_t(kWidth) * kHeight);
    const auto& raw = state.range(0) == 1 ? b.mosaic : b.binned3;
    for (auto _ : state) {
        AssembleGrey(simdLevel(), recipeOf(*b.context), out.data(), raw.data());
        benchmark::DoNotOptimize(out.data());
    }
    b.context->binning = 1;
    reportRate(state);
}
BENCHMARK(BM_AssembleGrey)->ArgName("binning")->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_AssembleBinned(benchmark::State& state) {
    Bench& b = bench();
    const int32_t factor = int32_t(state.range(0));
    b.context->binning = uint32_t(factor);
    std::vector<uint16_t> out(size_t(kWidth) * kHeight * 3);
    const auto& raw = factor == 3 ? b.binned3 : b.binned5;
    for (auto _ : state) {
        (factor == 3 ? AssembleBinned3 : AssembleBinned5)(recipeOf(*b.context), out.data(),
                                                          raw.data());
        benchmark::DoNotOptimize(out.data());
    }
    b.context->binning = 1;
    reportRate(state);
}
BENCHMARK(BM_AssembleBinned)->ArgName("binning")->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);

// OpenCV's demosaicing of the camera's mosaic followed by the white balance (a multiply by the
// gains), the work the library's kernels do; the Bayer code is the one the quality table uses.
void BM_OpenCvDemosaicing(benchmark::State& state) {
    cv::setNumThreads(1);
    Bench& b = bench();
    const cv::Mat mosaic(kHeight, kWidth, CV_16UC1, b.mosaic.data());
    cv::Mat out;
    const int code = state.range(0) == 0 ? cv::COLOR_BayerBG2BGR : cv::COLOR_BayerBG2BGR_EA;
    const double* g = b.context->whiteGains;
    const cv::Scalar gains(g[2], g[1], g[0]);  // blue, green, red
    for (auto _ : state) {
        cv::demosaicing(mosaic, out, code);
        cv::multiply(out, gains, out);
        benchmark::DoNotOptimize(out.data);
    }
    reportRate(state);
}
BENCHMARK(BM_OpenCvDemosaicing)
    ->ArgName("edgeAware")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// PSNR of an RGB16 image (blue, green, red) against the scene, sampled at the pixel centres
// moved by (dx, dy); the frame of 8 pixels is left out, where methods extrapolate.
double psnr(const std::vector<uint16_t>& image, double dx, double dy) {
    const sim::Scene& scene = *bench().scene;
    double sum = 0;
    size_t n = 0;
    for (int32_t y = 8; y < kHeight - 8; ++y) {
        for (int32_t x = 8; x < kWidth - 8; ++x) {
            float rgb[3];
            scene.radianceAt(x + 0.5 + dx, y + 0.5 + dy, rgb);
            const uint16_t* p = &image[3 * (size_t(y) * kWidth + x)];
            for (int c = 0; c < 3; ++c) {
                const double truth = std::clamp(128 + kWhite * rgb[c], 0.0, 16383.0);
                const double e = p[2 - c] - truth;
                sum += e * e;
                ++n;
            }
        }
    }
    return 10 * std::log10(16383.0 * 16383.0 / (sum / n));
}

// The best PSNR over the half-pixel alignments a method may leave its image at.
std::pair<double, const char*> bestPsnr(const std::vector<uint16_t>& image) {
    const std::pair<double, const char*> offsets[] = {
        {0.0, "centred"}, {0.5, "+1/2 px"}, {-0.5, "-1/2 px"}};
    std::pair<double, const char*> best{-1e9, ""};
    for (const auto& [d, name] : offsets) {
        const double q = psnr(image, d, d);
        if (q > best.first) {
            best = {q, name};
        }
    }
    return best;
}

std::vector<uint16_t> ours(int32_t mode) {
    Bench& b = bench();
    std::vector<uint16_t> out(size_t(kWidth) * kHeight * 3);
    AssembleSingle(recipeOf(*b.context), out.data(), b.mosaic.data(), mode);
    ApplyColorMatrix(recipeOf(*b.context), out.data(), int64_t(kWidth) * kHeight);
    return out;
}

std::vector<uint16_t> openCv(int code) {
    Bench& b = bench();
    const cv::Mat mosaic(kHeight, kWidth, CV_16UC1, b.balanced.data());
    cv::Mat bgr;
    cv::demosaicing(mosaic, bgr, code);
    std::vector<uint16_t> out(bgr.ptr<uint16_t>(),
                              bgr.ptr<uint16_t>() + size_t(kWidth) * kHeight * 3);
    ApplyColorMatrix(recipeOf(*b.context), out.data(), int64_t(kWidth) * kHeight);
    return out;
}

}  // namespace

void printColourTable(const std::map<std::string, double>& rates) {
    auto rate = [&](const std::string& name) {
        auto it = rates.find(name);
        return it == rates.end() ? 0.0 : it->second;
    };
    const double reference = rate("BM_OpenCvDemosaicing/edgeAware:0");
    if (reference <= 0) {
        return;  // the peer was filtered out: nothing to compare against
    }
    struct Row {
        const char* label;
        std::string benchmark;
        std::function<std::vector<uint16_t>()> image;
    };
    // OpenCV names Bayer layouts after the second row's pair: a red top-left is its "BG".
    const Row rows[] = {
        {"2x2 blocks (mode -1)", "BM_AssembleSingle/mode:-1/cores:0", [] { return ours(-1); }},
        // Same method under a white balance that scales green too; its colours are off for
        // this light, so no quality is given.
        {"2x2, green scaled",
         "BM_BlockKernel/kernel:" + std::to_string(int(fastestBlockKernel())) + "/greenScaled:1",
         nullptr},
        {"colour ratios (mode 1)", "BM_AssembleSingle/mode:1/cores:0", [] { return ours(1); }},
        {"ratios, all cores", "BM_AssembleSingle/mode:1/cores:1", nullptr},
        {"regression (mode 2)", "BM_AssembleSingle/mode:2/cores:0", [] { return ours(2); }},
        {"regression, all cores", "BM_AssembleSingle/mode:2/cores:1", nullptr},
        {"directional LMMSE (3)", "BM_AssembleSingle/mode:3/cores:0", [] { return ours(3); }},
        {"LMMSE, all cores", "BM_AssembleSingle/mode:3/cores:1", nullptr},
        {"OpenCV bilinear", "BM_OpenCvDemosaicing/edgeAware:0",
         [] { return openCv(cv::COLOR_BayerBG2BGR); }},
        {"OpenCV edge-aware", "BM_OpenCvDemosaicing/edgeAware:1",
         [] { return openCv(cv::COLOR_BayerBG2BGR_EA); }},
    };
    // One 12-bit S400 frame of this size takes about 66 ms on the bus.
    constexpr double kPeriodMs = 66.0;
    const double frameMpix = kWidth * double(kHeight) / 1e6;
    std::printf("\n%-24s %9s %9s %11s %9s %8s  %s\n", "full 1388 x 1040 frame", "MPix/s",
                "ms/frame", "x OpenCV bl", "% period", "PSNR dB", "aligned");
    for (const Row& row : rows) {
        const double r = rate(row.benchmark);
        if (r <= 0) {
            std::printf("%-24s %9s\n", row.label, "(not run)");
            continue;
        }
        const double ms = 1000 * frameMpix / r;
        std::printf("%-24s %9.1f %9.2f %11.2f %8.1f%%", row.label, r, ms, r / reference,
                    100 * ms / kPeriodMs);
        if (!row.image) {
            std::printf(" %8s\n", "-");
            continue;
        }
        const auto [quality, alignment] = bestPsnr(row.image());
        std::printf(" %8.2f  %s\n", quality, alignment);
    }
    std::printf(
        "(OpenCV: one thread, demosaicing and a multiply by the white-balance gains; "
        "period: one 12-bit S400 frame, ~66 ms)\n");
}

}  // namespace kqfw::bench
