#pragma once

#include <string>

namespace kqfw {

// The instruction levels the image kernels come in. Every level gives the same output bit for
// bit; the plain kernels are the references the others are held to.
enum class SimdLevel {
    kPlain,   // pixel by pixel, as the method is written
    kScalar,  // the optimised scalar kernels
    kAvx2,
    kAvx512,  // AVX-512 F and BW
};

// Whether this processor runs `level`.
bool simdLevelSupported(SimdLevel level);

// The level the kernels run at, decided once: the highest this processor supports, or the one
// KQFW_SIMD names (plain, scalar, avx2 or avx512) when it supports that, so tests and
// benchmarks can measure every level on one machine.
SimdLevel simdLevel();

// The level `name` names, or `fallback` for any other text.
SimdLevel parseSimdLevel(const std::string& name, SimdLevel fallback);

const char* simdLevelName(SimdLevel level);

}  // namespace kqfw
