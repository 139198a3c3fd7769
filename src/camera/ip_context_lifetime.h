#pragma once

#include <cstddef>
#include <cstdint>

namespace kqfw {

// The lifetime of the context blocks a camera hands out: allocated by the camera's first
// IxenmGetIPInfo, refilled by later ones, released when the camera closes. Reading a block (the
// start of offline processing, which copies what it needs) and refilling or releasing it
// exclude each other, so processing that began before a refill or a close reads one whole
// context. Blocks the application copied elsewhere are its own and are read as they are.
//
// Thread context: any thread.
uint8_t* allocateIpContext(size_t bytes);
// Waits for the reads under way, then frees the block.
void releaseIpContext(uint8_t* block);
// Runs `read` while no refill or release of `block` can run.
uint32_t readIpContext(const uint8_t* block, uint32_t (*read)(const uint8_t*, void*), void* arg);
// Runs `write` with the block's readers kept out.
void writeIpContext(uint8_t* block, void (*write)(uint8_t*, const void*), const void* arg);

}  // namespace kqfw
