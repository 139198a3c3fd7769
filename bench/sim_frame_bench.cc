// How fast the simulated camera makes a frame. A camera delivers a full 1388 x 1040 frame in
// 12-bit packed form every ~66 ms at S400 (529 packets of 4096 bytes, one per 125 µs cycle);
// the simulation must stay well below that to never be the slower side.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "sim/sim_scene.h"
#include "sim/sim_sensor.h"

namespace {

using kqfw::sim::FrameRequest;
using kqfw::sim::Scene;
using kqfw::sim::SensorModel;

constexpr uint32_t kWidth = 1388;
constexpr uint32_t kHeight = 1040;

SensorModel sensor(bool mono, bool noise) {
    SensorModel s;
    s.mono = mono;
    s.width = kWidth;
    s.height = kHeight;
    s.noise = noise;
    return s;
}

FrameRequest fullFrame() {
    FrameRequest r;
    r.width = kWidth;
    r.height = kHeight;
    r.exposureMs = 100;
    r.dx = 0.5;
    r.dy = 0.25;
    return r;
}

// A photograph at 3 scene pixels per sensor pixel, as the quality bench lays one: smooth
// gradients with fine texture, so no shortcut for flat areas can flatter the figure.
std::shared_ptr<const Scene> photograph() {
    constexpr uint32_t w = 3 * kWidth, h = 3 * kHeight;
    std::vector<uint16_t> samples(size_t{w} * h * 3);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t t = (x * 2654435761u) ^ (y * 40503u);
            for (uint32_t c = 0; c < 3; ++c) {
                samples[(size_t{y} * w + x) * 3 + c] =
                    static_cast<uint16_t>(8000 + 9 * x + 7 * y * (c + 1) + ((t >> (4 + c)) & 4095));
            }
        }
    }
    return Scene::image(samples.data(), w, h, 3, kWidth, kHeight);
}

void BM_RenderFullFrame(benchmark::State& state) {
    const bool mono = state.range(0) != 0;
    const bool noise = state.range(1) != 0;
    const auto scene = state.range(2) != 0 ? photograph() : Scene::testSlide(kWidth, kHeight);
    const SensorModel model = sensor(mono, noise);
    std::vector<uint16_t> samples(size_t{kWidth} * kHeight);
    FrameRequest request = fullFrame();
    for (auto _ : state) {
        renderSamples(model, *scene, request, samples.data());
        ++request.frameNumber;
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
    state.counters["ms/frame"] = benchmark::Counter(
        state.iterations() * 1e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RenderFullFrame)
    ->ArgNames({"mono", "noise", "image"})
    ->Args({0, 1, 0})
    ->Args({1, 1, 0})
    ->Args({0, 0, 0})
    ->Args({0, 1, 1})
    ->Args({1, 1, 1})
    ->Unit(benchmark::kMillisecond);

void BM_EncodeFullFrame(benchmark::State& state) {
    const uint32_t coding = static_cast<uint32_t>(state.range(0));
    std::vector<uint16_t> samples(size_t{kWidth} * kHeight);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint16_t>((i * 2654435761u) >> 18);
    }
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (auto _ : state) {
        kqfw::sim::encodeSamples(coding, samples.data(), samples.size(), bytes.data());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(samples.size()));
}
BENCHMARK(BM_EncodeFullFrame)
    ->ArgName("coding")
    ->Arg(0x05)
    ->Arg(0x85)
    ->Arg(0x80)
    ->Unit(benchmark::kMillisecond);

}  // namespace
