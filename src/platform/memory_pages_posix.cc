#include <sys/mman.h>

#include "platform/memory_pages.h"

// Under AddressSanitizer the leak checker scans the heap and the stacks, not mapped pages: the
// camera record lives in such pages and holds the only pointers to its events and threads, so
// its pages are made roots for as long as they are mapped.
#if defined(__SANITIZE_ADDRESS__)
#define KQFW_LEAK_ROOTS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KQFW_LEAK_ROOTS 1
#endif
#endif
#ifdef KQFW_LEAK_ROOTS
#include <sanitizer/lsan_interface.h>
#endif

namespace kqfw {

void* allocatePages(size_t bytes) {
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
#ifdef KQFW_LEAK_ROOTS
    __lsan_register_root_region(base, bytes);
#endif
    return base;
}

void freePages(void* base, size_t bytes) {
#ifdef KQFW_LEAK_ROOTS
    __lsan_unregister_root_region(base, bytes);
#endif
    munmap(base, bytes);
}

}  // namespace kqfw
