#include "platform/memory.h"

#include <atomic>
#include <cstdlib>

namespace kqfw {

namespace {
std::atomic<int> allocationCountdown{0};
}

void failAllocationAfter(int countdown) {
    allocationCountdown = countdown;
}

void* allocZeroed(size_t bytes) {
    int pending = allocationCountdown.load();
    while (pending > 0 && !allocationCountdown.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending == 1) {
        return nullptr;
    }
    return std::calloc(1, bytes == 0 ? 1 : bytes);
}

void freeZeroed(void* block) {
    std::free(block);
}

}  // namespace kqfw
