#include <sys/resource.h>

#include "peak_memory.h"

namespace kqcam {

long peakResidentKb() {
    rusage usage{};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;
}

}  // namespace kqcam
