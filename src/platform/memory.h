#pragma once

#include <cstddef>

namespace kqfw {

// Zero-filled memory that reports failure with a null pointer instead of throwing.
void* allocZeroed(size_t bytes);
void freeZeroed(void* block);

// Test hook: allocation number `countdown` from now (1 = the next) fails; 0 switches it off.
void failAllocationAfter(int countdown);

}  // namespace kqfw
