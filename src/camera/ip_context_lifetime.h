#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/worker_pool.h"

namespace kqfw {

// The lifetime of the context blocks a camera hands out: allocated by the camera's first
// IxenmGetIPInfo, refilled by later ones, released when the camera closes. Processing a frame
// with a block reads the block in place for the whole frame, so a refill or a release waits
// for the frames under way, and each frame sees one whole context. Blocks the application
// copied elsewhere are its own and are read as they are.
//
// A block remembers the processing threads of the camera that made it: the camera is freed
// only after its block is released, so a frame that holds the block may share its rows out to
// those threads.
//
// Thread context: any thread.
uint8_t* allocateIpContext(size_t bytes, WorkerPool* pool);
// Waits for the reads under way, then frees the block.
void releaseIpContext(uint8_t* block);
// Runs `read` while no refill or release of `block` can run, with the pool of the camera that
// made the block (null for a block the library did not hand out).
uint32_t readIpContext(const uint8_t* block, uint32_t (*read)(const uint8_t*, WorkerPool*, void*),
                       void* arg);
// Runs `write` with the block's readers kept out.
void writeIpContext(uint8_t* block, void (*write)(uint8_t*, const void*), const void* arg);

}  // namespace kqfw
