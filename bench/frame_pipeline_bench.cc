// The single-frame pipeline after the frame arrived, per full frame, on cameras opened through
// the C API on the simulated bus: unpack or expand, black and white references, blemishes,
// interpolation or grey output, colour matrix. Each is reported beside the time the frame of
// its coding takes to cross an S400 bus, which is the budget a live view has.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/acquire_image.h"
#include "acquisition/frame_processing.h"
#include "acquisition/references.h"
#include "acquisition/sample_expansion.h"
#include "bench_report.h"
#include "camera/camera_table.h"
#include "camera/colour_tables.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqsim.h"
#include "platform/memory.h"
#include "processing/colour_matrix.h"
#include "processing/raw_corrections.h"
#include "processing/simd_level.h"
#include "sim/sim_sensor.h"

namespace kqfw::bench {

namespace {

// S400 isochronous transfer: one packet of up to 4096 bytes every 125 us.
constexpr double kPacketBytes = 4096;
constexpr double kCycleMs = 0.125;

enum Path { kBlockColour, kRegressionColour, kColourAsGrey, kMono, kPathCount };
enum Coding { k16Bit, kPacked12, k8Bit, kCodingCount };

const char* const kPathNames[kPathCount] = {"KQC index 0 (2x2)", "KQC index 1 (regression)",
                                            "KQC index 2 (grey)", "KQM index 0"};
const char* const kCodingNames[kCodingCount] = {"16-bit", "12-bit packed", "8-bit"};
const uint32_t kSimCodings[kCodingCount] = {sim::kCoding16, sim::kCodingPacked12, sim::kCoding8};

struct Prepared {
    std::vector<uint8_t> transferred;  // the frame as it crossed the bus
    uint32_t outputSamples = 0;
};

// Fills the references with what a measured dark frame and flat field look like: a few DN of
// dark pattern, a gain within a few per cent of one.
void installReferences(CameraContext& c) {
    const size_t pixels = size_t{c.sensorWidth} * c.sensorHeight;
    if (!ensureBlackRefStorage(c) || !ensureWhiteRefStorage(c)) {
        return;
    }
    for (size_t i = 0; i < pixels; ++i) {
        c.blackRefImage[i] = static_cast<int16_t>(i * 7919 % 23);
        c.whiteRefImage[i] = static_cast<int16_t>(4000 + i * 104729 % 200);
    }
    c.blackRefPresent = c.whiteRefPresent = 1;
    c.blackRefEnabled = c.whiteRefEnabled = 1;
}

// Sets the camera up through the C API, takes one real frame to fill in what the acquisition
// derives (delivered rectangle, coding), and keeps that frame in its transfer coding.
bool prepare(Path path, Coding coding, Prepared& out) {
    // Slots fill in list order: the colour camera first, so the mono one is slot 1.
    const int32_t camera = path == kMono ? 1 : 0;
    if (IxenmInit(0) != 0 || IxenmInit(1) != 0) {
        return false;
    }
    const uint32_t resolution = path == kRegressionColour ? 1 : path == kColourAsGrey ? 2 : 0;
    const int32_t bits = path == kBlockColour || path == kRegressionColour ? 42 : 14;
    if (IxenmSetResolution(camera, resolution) != 0 || IxenmSetBitsPerPixel(camera, bits) != 0 ||
        IxenmSetBinning(camera, 1) != 0 || IxenmSetImageSize(camera, nullptr) != 0 ||
        IxenmEnablePacking(camera, coding == kPacked12) != 0 ||
        IxenmEnable8bitCompression(camera, coding == k8Bit) != 0 ||
        IxenmEnableColorProcessing(camera, bits == 42) != 0) {
        return false;
    }
    {
        CameraLease lease(camera);
        if (lease.get() == nullptr) {
            return false;
        }
        out.outputSamples = RequiredImageBytes(*lease.get()) / 2;
    }
    std::vector<uint16_t> image(out.outputSamples);
    if (IxenmAcquisition(camera, image.data(), out.outputSamples * 2, nullptr) != 0) {
        return false;
    }
    uint32_t w = 0, h = 0;
    std::vector<uint16_t> samples(size_t{1388} * 1040);
    const int32_t n = kqsimLastFrame(camera, samples.data(), uint32_t(samples.size()), &w, &h);
    if (n <= 0) {
        return false;
    }
    const uint32_t code = kSimCodings[coding];
    out.transferred.assign(std::max<size_t>(sim::bytesForPixels(code, uint64_t(n)), 2u * n), 0);
    sim::encodeSamples(code, samples.data(), uint64_t(n), out.transferred.data());
    out.transferred.resize(sim::bytesForPixels(code, uint64_t(n)));
    CameraLease lease(camera);
    if (lease.get() == nullptr) {
        return false;
    }
    installReferences(*lease.get());
    return lease.get()->blackRefImage != nullptr;
}

void BM_FramePipeline(benchmark::State& state) {
    const auto path = static_cast<Path>(state.range(0));
    const auto coding = static_cast<Coding>(state.range(1));
    kqsimResetDefault();
    kqsimSetTimeScale(0.01);
    Prepared prepared;
    if (!prepare(path, coding, prepared)) {
        IxenClose();
        state.SkipWithError("the camera did not take the settings");
        return;
    }
    CameraLease lease(path == kMono ? 1 : 0);
    CameraContext& c = *lease.get();
    // The receive buffer holds the frame's samples once unpacked: two bytes each.
    const uint32_t pixels = uint32_t(prepared.transferred.size() * 8 /
                                     (coding == k16Bit      ? 16
                                      : coding == kPacked12 ? 12
                                                            : 8));
    std::vector<uint16_t> raw(pixels);
    std::vector<uint16_t> image(prepared.outputSamples);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(raw.data(), prepared.transferred.data(), prepared.transferred.size());
        state.ResumeTiming();
        expandRawFrame(recipeOf(c), raw.data());
        if (processStandardFrame(recipeOf(c), image.data(), raw.data()) != 0) {
            state.SkipWithError("the frame was not processed");
            break;
        }
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["period_ms"] =
        kCycleMs *
        double(uint64_t((prepared.transferred.size() + kPacketBytes - 1) / kPacketBytes));
    state.SetLabel(std::string(kPathNames[path]) + ", " + kCodingNames[coding]);
    IxenClose();
}
BENCHMARK(BM_FramePipeline)
    ->ArgNames({"path", "coding"})
    ->ArgsProduct({{kBlockColour, kRegressionColour, kColourAsGrey, kMono},
                   {k16Bit, kPacked12, k8Bit}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The per-sample kernels of the pipeline on a full frame at each instruction level (0 plain,
// 1 scalar, 2 avx2): 12-bit unpacking and 8-bit expansion (each iteration first copies the
// coded bytes back, the same work at every level), both references, the colour matrix.
enum SampleKernel { kUnpack12, kExpand8, kReferences, kColourMatrix };

void BM_SampleKernel(benchmark::State& state) {
    const auto kernel = static_cast<SampleKernel>(state.range(0));
    const auto level = static_cast<SimdLevel>(state.range(1));
    if (!simdLevelSupported(level)) {
        state.SkipWithError("this processor lacks the instructions");
        return;
    }
    constexpr int32_t kWidth = 1388, kHeight = 1040;
    const size_t samples = size_t(kWidth) * kHeight;
    CameraContext* c = allocateCameraContext();
    c->deliveredRect = c->imageRect = {0, 0, kWidth, kHeight};
    c->sensorWidth = kWidth;
    c->sensorHeight = kHeight;
    c->colorProcessingEnabled = 1;
    const double balance[3] = {1.49, 1.98, 1.0};
    fillClampTable(c->clampTable);
    std::fill_n(c->saturation, 3, 1.0);
    saturationStep(*c);
    buildColourTables(*c, balance);
    std::vector<uint16_t> coded(samples), frame(3 * samples);
    std::vector<int16_t> black(samples, 40), white(samples, 4200);
    c->blackRefImage = black.data();
    c->whiteRefImage = white.data();
    for (size_t i = 0; i < samples; ++i) {
        coded[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
    }
    // An image of gradients with some noise, as a slide gives: the table lookups stay near
    // each other, as they do on real frames.
    for (size_t i = 0; i < frame.size(); ++i) {
        const size_t x = i / 3 % kWidth, y = i / 3 / kWidth;
        frame[i] = static_cast<uint16_t>(x * 7 + y * 3 + (i % 3) * 900 + (i * 2654435761u >> 26));
    }
    for (auto _ : state) {
        switch (kernel) {
            case kUnpack12:
                std::memcpy(frame.data(), coded.data(), samples * 3 / 2);
                UnpackPacked12(level, recipeOf(*c), frame.data());
                break;
            case kExpand8:
                std::memcpy(frame.data(), coded.data(), samples);
                Expand8Bit(level, recipeOf(*c), frame.data());
                break;
            case kReferences:
                ApplyReferences(level, recipeOf(*c), frame.data(), 16384, c->imageRect, 1, 1, 1);
                break;
            case kColourMatrix:
                ApplyColorMatrix(level, recipeOf(*c), frame.data(), int64_t(samples));
        }
        benchmark::DoNotOptimize(frame.data());
    }
    c->blackRefImage = c->whiteRefImage = nullptr;
    freeCameraContext(c);
    state.SetItemsProcessed(state.iterations() * int64_t(samples));
}
BENCHMARK(BM_SampleKernel)
    ->ArgNames({"kernel", "level"})
    ->ArgsProduct({{kUnpack12, kExpand8, kReferences, kColourMatrix}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

int32_t noFrames(uint16_t*, uint32_t, int32_t, uint64_t, uint64_t) {
    return 0;
}

// The same frames processed through the offline context, as an application's own thread does
// it: the working record is rebuilt from the context for every frame.
constexpr char kOffline[] = ", offline";

void BM_OfflineFrame(benchmark::State& state) {
    const auto path = static_cast<Path>(state.range(0));
    const Coding coding = kPacked12;
    kqsimResetDefault();
    kqsimSetTimeScale(0.01);
    Prepared prepared;
    const int32_t camera = path == kMono ? 1 : 0;
    IpContext* context = nullptr;
    uint32_t contextBytes = 0, frameBytes = 0;
    if (!prepare(path, coding, prepared) ||
        IxenmGetIPInfo(camera, &context, &contextBytes, noFrames, &frameBytes) != 0) {
        IxenClose();
        state.SkipWithError("the camera did not prepare a context");
        return;
    }
    std::vector<uint8_t> frame(std::max<size_t>(frameBytes, prepared.transferred.size()), 0);
    std::memcpy(frame.data(), prepared.transferred.data(), prepared.transferred.size());
    std::vector<uint16_t> image(prepared.outputSamples);
    for (auto _ : state) {
        if (IxenmExecuteIPFunction(context, image.data(), frame.data()) != 0) {
            state.SkipWithError("the frame was not processed");
            break;
        }
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["period_ms"] =
        kCycleMs *
        double(uint64_t((prepared.transferred.size() + kPacketBytes - 1) / kPacketBytes));
    state.SetLabel(std::string(kPathNames[path]) + ", " + kCodingNames[coding] + kOffline);
    IxenClose();
}
BENCHMARK(BM_OfflineFrame)
    ->ArgNames({"path"})
    ->DenseRange(kBlockColour, kMono)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

void printPipelineTable(const std::vector<PipelineRun>& runs) {
    if (runs.empty()) {
        return;
    }
    const std::string offline = kOffline;
    const auto isOffline = [&](const std::string& label) {
        return label.size() > offline.size() &&
               label.compare(label.size() - offline.size(), offline.size(), offline) == 0;
    };
    std::printf("\n%-40s %10s %12s %10s\n", "pipeline after the frame arrived", "ms/frame",
                "S400 period", "share");
    for (const PipelineRun& run : runs) {
        if (!isOffline(run.label)) {
            std::printf("%-40s %10.2f %10.1f ms %9.1f%%\n", run.label.c_str(), run.milliseconds,
                        run.periodMs,
                        run.periodMs > 0 ? 100 * run.milliseconds / run.periodMs : 0.0);
        }
    }
    std::printf("(goal: the 2x2 path within 5 %% of its frame period)\n");

    // The offline context beside the camera's own pipeline for the same frame; the offline
    // figure includes copying the frame into the work frame, which the camera's does not.
    std::printf("\n%-40s %10s %10s %8s\n", "offline against the camera", "camera ms", "offline ms",
                "ratio");
    for (const PipelineRun& run : runs) {
        if (!isOffline(run.label)) {
            continue;
        }
        const std::string online = run.label.substr(0, run.label.size() - offline.size());
        for (const PipelineRun& camera : runs) {
            if (camera.label == online && camera.milliseconds > 0) {
                std::printf("%-40s %10.2f %10.2f %7.2fx\n", online.c_str(), camera.milliseconds,
                            run.milliseconds, run.milliseconds / camera.milliseconds);
            }
        }
    }
    std::printf("(goal: offline within 1.1x of the camera's pipeline)\n");
}

}  // namespace kqfw::bench
