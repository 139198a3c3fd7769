#include "processing/simd_level.h"

#include "platform/environment.h"

namespace kqfw {

namespace {

struct Supported {
    bool avx2 = false;
    bool avx512 = false;
};

Supported probe() {
    Supported s;
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    s.avx2 = __builtin_cpu_supports("avx2") != 0;
    s.avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0;
#endif
    return s;
}

constexpr const char* kNames[] = {"plain", "scalar", "avx2", "avx512"};

}  // namespace

bool simdLevelSupported(SimdLevel level) {
    static const Supported supported = probe();
    switch (level) {
        case SimdLevel::kAvx2:
            return supported.avx2;
        case SimdLevel::kAvx512:
            return supported.avx512;
        default:
            return true;
    }
}

SimdLevel parseSimdLevel(const std::string& name, SimdLevel fallback) {
    for (int i = 0; i < 4; ++i) {
        if (name == kNames[i]) {
            return static_cast<SimdLevel>(i);
        }
    }
    return fallback;
}

const char* simdLevelName(SimdLevel level) {
    return kNames[static_cast<int>(level)];
}

SimdLevel simdLevel() {
    static const SimdLevel level = [] {
        SimdLevel highest = SimdLevel::kScalar;
        for (SimdLevel l : {SimdLevel::kAvx2, SimdLevel::kAvx512}) {
            if (simdLevelSupported(l)) {
                highest = l;
            }
        }
        // A level the processor lacks is not forced on it: that would stop the process.
        const SimdLevel wanted = parseSimdLevel(environmentValue("KQFW_SIMD"), highest);
        return simdLevelSupported(wanted) ? wanted : highest;
    }();
    return level;
}

}  // namespace kqfw
