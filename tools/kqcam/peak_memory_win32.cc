// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on

#include "peak_memory.h"

namespace kqcam {

long peakResidentKb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        return 0;
    }
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

}  // namespace kqcam
