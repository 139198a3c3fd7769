#pragma once

#include <cstddef>

namespace kqfw {

// Fresh zero pages straight from the operating system, for blocks too large to clear by hand;
// null when there are none.
void* allocatePages(size_t bytes);
void freePages(void* base, size_t bytes);

}  // namespace kqfw
