// Runs one of the library's colour interpolations on a raw mosaic file for the quality bench
// (colour_quality.py): red at the top left, white balance the identity, no colour matrix, one
// thread. Prints the median time of the repeats in milliseconds.
//
//   kqfw_demosaic_probe block|ratio|regression|lmmse WIDTH HEIGHT IN.raw OUT.raw [REPEATS]
//
// IN holds WIDTH x HEIGHT 16-bit samples, OUT gets blue, green, red 16-bit samples a pixel
// (both in the machine's byte order).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_context.h"
#include "processing/assemble_single.h"

namespace {

struct ContextDeleter {
    void operator()(kqfw::CameraContext* c) const { kqfw::freeCameraContext(c); }
};

int methodOf(const std::string& name) {
    if (name == "block") {
        return kqfw::kBlockMethod;
    }
    if (name == "ratio") {
        return kqfw::kRatioMethod;
    }
    if (name == "regression") {
        return kqfw::kRegressionMethod;
    }
    if (name == "lmmse") {
        return kqfw::kLmmseMethod;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || methodOf(argv[1]) == 0) {
        std::fprintf(stderr, "usage: %s block|ratio|regression|lmmse W H IN OUT [REPEATS]\n",
                     argv[0]);
        return 1;
    }
    const int32_t width = std::atoi(argv[2]), height = std::atoi(argv[3]);
    const int repeats = argc > 6 ? std::max(1, std::atoi(argv[6])) : 1;
    if (width < 2 || height < 2) {
        std::fprintf(stderr, "bad size\n");
        return 1;
    }
    const size_t pixels = size_t(width) * height;
    std::vector<uint16_t> raw(pixels), out(3 * pixels);
    FILE* in = std::fopen(argv[4], "rb");
    if (in == nullptr || std::fread(raw.data(), 2, pixels, in) != pixels) {
        std::fprintf(stderr, "cannot read %s\n", argv[4]);
        return 1;
    }
    std::fclose(in);
    std::unique_ptr<kqfw::CameraContext, ContextDeleter> c(kqfw::allocateCameraContext());
    for (auto& table : c->whiteLuts) {
        for (uint32_t i = 0; i < kqfw::kLutEntries; ++i) {
            table[i] = static_cast<uint16_t>(i);
        }
    }
    c->imageRect = {0, 0, width, height};
    c->binning = 1;
    c->processingPool.setThreads(1);
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        kqfw::AssembleSingle(kqfw::recipeOf(*c), out.data(), raw.data(), methodOf(argv[1]));
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    FILE* o = std::fopen(argv[5], "wb");
    if (o == nullptr || std::fwrite(out.data(), 2, out.size(), o) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[5]);
        return 1;
    }
    std::fclose(o);
    std::printf("%.3f\n", ms[ms.size() / 2]);
    return 0;
}
