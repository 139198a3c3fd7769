#include <windows.h>

#include "platform/memory_pages.h"

namespace kqfw {

void* allocatePages(size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void freePages(void* base, size_t /*bytes*/) {
    VirtualFree(base, 0, MEM_RELEASE);
}

}  // namespace kqfw
