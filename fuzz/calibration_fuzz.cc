// The calibration computation on patches of any content: whatever the patches hold, every
// setting it writes is a whole number of steps from 0 to 255, and nothing it computes is
// undefined (UBSan checks the conversions).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "processing/calibration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kqfw;
    if (size < 3) {
        return 0;
    }
    const bool mono = (data[0] & 1) != 0;
    const uint32_t f = 1 + data[1] % 3;
    uint8_t grid[kCalGrid * kCalGrid * 2];
    for (size_t i = 0; i < sizeof grid; ++i) {
        grid[i] = data[(2 + i) % size];
    }
    // The patches repeat the input, so short inputs make periodic textures and long ones make
    // patches that differ from each other.
    static std::vector<uint8_t> patches(size_t{kCalPatches} * kPatchBytes);
    for (size_t i = 0; i < patches.size(); ++i) {
        patches[i] = data[i % size];
    }
    float statistics[kCalStatistics];
    const uint32_t status = computecalibration(mono, f, patches.data(), grid, statistics);
    if (status != 0 && status != 9) {
        std::abort();
    }
    return 0;
}
