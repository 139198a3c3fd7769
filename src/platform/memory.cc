#include "platform/memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "platform/memory_pages.h"

namespace kqfw {

namespace {

std::atomic<int> allocationCountdown{0};

// Large blocks come straight from the system as fresh pages, which are zero until written: the
// camera record, references and frame buffers are megabytes that are mostly never touched, and
// an allocator that clears them itself (as the sanitizers' do) would write every byte. A header
// in front of every block says how it was made and how large it is.
constexpr size_t kPageBlockBytes = size_t{1} << 20;
constexpr size_t kHeaderBytes = 64;                   // keeps the block 64-byte aligned
constexpr uint64_t kPagesMagic = 0x6B71667750414745;  // "kqfwPAGE"
constexpr uint64_t kHeapMagic = 0x6B71667748454150;   // "kqfwHEAP"

struct Header {
    uint64_t magic;
    uint64_t bytes;
};

}  // namespace

void failAllocationAfter(int countdown) {
    allocationCountdown = countdown;
}

void* allocZeroed(size_t bytes) {
    int pending = allocationCountdown.load();
    while (pending > 0 && !allocationCountdown.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending == 1 || bytes > SIZE_MAX - kHeaderBytes) {
        return nullptr;
    }
    const size_t total = bytes + kHeaderBytes;
    void* base = nullptr;
    uint64_t magic = kHeapMagic;
    if (bytes >= kPageBlockBytes) {
        base = allocatePages(total);
        if (base == nullptr) {
            return nullptr;
        }
        magic = kPagesMagic;
    } else {
        base = std::calloc(1, total);
        if (base == nullptr) {
            return nullptr;
        }
    }
    auto* header = static_cast<Header*>(base);
    header->magic = magic;
    header->bytes = total;
    return static_cast<uint8_t*>(base) + kHeaderBytes;
}

void freeZeroed(void* block) {
    if (block == nullptr) {
        return;
    }
    void* base = static_cast<uint8_t*>(block) - kHeaderBytes;
    const auto* header = static_cast<const Header*>(base);
    if (header->magic == kPagesMagic) {
        freePages(base, header->bytes);
    } else {
        std::free(base);
    }
}

}  // namespace kqfw
