#include <sys/mman.h>

#include "platform/memory_pages.h"

namespace kqfw {

void* allocatePages(size_t bytes) {
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}

void freePages(void* base, size_t bytes) {
    munmap(base, bytes);
}

}  // namespace kqfw
