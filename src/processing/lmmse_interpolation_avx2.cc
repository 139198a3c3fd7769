// The directional LMMSE interpolation's row passes compiled for AVX2: the same source as the
// plain ones (lmmse_rows.h), which the compiler vectorises eight floats at a time.
#include <cstdint>

#include "processing/lmmse_passes.h"

#if defined(__x86_64__) && defined(__GNUC__) && defined(__AVX2__)

namespace kqfw {

namespace avx2_rows {
#include "processing/lmmse_rows.h"
}  // namespace avx2_rows

const LmmsePasses* lmmseAvx2Passes() {
    static const LmmsePasses passes = {
        avx2_rows::differenceRow, avx2_rows::smoothRow, avx2_rows::squaresRow,
        avx2_rows::estimateRow,   avx2_rows::fuseRow,   avx2_rows::diagonalRow,
        avx2_rows::finishRow,
    };
    return &passes;
}

}  // namespace kqfw

#else

namespace kqfw {

const LmmsePasses* lmmseAvx2Passes() {
    return nullptr;
}

}  // namespace kqfw

#endif
