#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "camera/ip_context_lifetime.h"
#include "platform/memory.h"

namespace kqfw {

namespace {

// A reader takes its shared lock while it holds blocksMutex, and a release erases the block
// from the map before it waits for the exclusive lock: a reader either finds the block and
// keeps it alive, or does not find it at all.
std::mutex blocksMutex;
struct Block {
    std::shared_ptr<std::shared_mutex> rw;
    WorkerPool* pool;
};
std::map<const void*, Block> blocks;  // guarded by blocksMutex

std::shared_ptr<std::shared_mutex> lockOf(const void* block) {
    std::lock_guard lock(blocksMutex);
    auto it = blocks.find(block);
    return it == blocks.end() ? nullptr : it->second.rw;
}

}  // namespace

uint8_t* allocateIpContext(size_t bytes, WorkerPool* pool) {
    auto* block = static_cast<uint8_t*>(allocZeroed(bytes));
    if (block != nullptr) {
        std::lock_guard lock(blocksMutex);
        blocks[block] = {std::make_shared<std::shared_mutex>(), pool};
    }
    return block;
}

void releaseIpContext(uint8_t* block) {
    if (block == nullptr) {
        return;
    }
    std::shared_ptr<std::shared_mutex> rw;
    {
        std::lock_guard lock(blocksMutex);
        auto it = blocks.find(block);
        if (it != blocks.end()) {
            rw = it->second.rw;
            blocks.erase(it);
        }
    }
    if (rw) {
        std::lock_guard readersGone(*rw);
    }
    freeZeroed(block);
}

uint32_t readIpContext(const uint8_t* block, uint32_t (*read)(const uint8_t*, WorkerPool*, void*),
                       void* arg) {
    std::shared_ptr<std::shared_mutex> rw;
    WorkerPool* pool = nullptr;
    {
        std::lock_guard lock(blocksMutex);
        auto it = blocks.find(block);
        if (it != blocks.end()) {
            rw = it->second.rw;
            pool = it->second.pool;
            rw->lock_shared();
        }
    }
    const uint32_t result = read(block, pool, arg);
    if (rw) {
        rw->unlock_shared();
    }
    return result;
}

void writeIpContext(uint8_t* block, void (*write)(uint8_t*, const void*), const void* arg) {
    // Refills come from the camera's own calls, which a release never overlaps.
    std::shared_ptr<std::shared_mutex> rw = lockOf(block);
    if (rw) {
        std::lock_guard writing(*rw);
        write(block, arg);
    } else {
        write(block, arg);
    }
}

}  // namespace kqfw
