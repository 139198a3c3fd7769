// The row passes of the directional LMMSE interpolation at one instruction level
// (lmmse_rows.h has what each does).
#pragma once

#include <cstdint>

namespace kqfw {

struct LmmsePasses {
    void (*difference)(const float*, const float*, const float*, const float*, const float*,
                       const float*, int32_t, int32_t, float*);
    void (*smooth)(const float* const[9], int32_t, int32_t, float*);
    void (*squares)(const float*, const float*, int32_t, int32_t, float*, float*);
    void (*estimate)(const float* const[9], const float* const[9], const float* const[9],
                     const float*, int32_t, int32_t, float*, float*);
    void (*fuse)(const float*, const float*, const float*, const float*, const float*, const float*,
                 int32_t, int32_t, int32_t*);
    void (*diagonal)(const float*, const float*, const float*, const int32_t*, const int32_t*,
                     const int32_t*, const int32_t*, int32_t, int32_t, int32_t*, int32_t*);
    void (*finish)(const int32_t*, const int32_t*, const int32_t*, const int32_t*, const int32_t*,
                   const int32_t*, const int32_t*, const int32_t*, const int32_t*, const int32_t*,
                   int32_t, int32_t, uint16_t*);
};

// The passes compiled for AVX2, or null where the build has none.
const LmmsePasses* lmmseAvx2Passes();

}  // namespace kqfw
