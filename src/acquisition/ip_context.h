#pragma once

#include <cstddef>
#include <cstdint>

#include "api/camera_context.h"

namespace kqfw {

// The offline processing context: one self-contained block holding every setting, table and
// reference the processing of a standard-resolution raw frame needs, at fixed byte offsets
// (little-endian), so an application can process frames on its own threads, without the camera.
namespace ip {
inline constexpr size_t kBytes = 6797564;
inline constexpr uint32_t kVersion = 1001;
inline constexpr size_t kVersionAt = 0;
inline constexpr size_t kName32At = 4;
inline constexpr size_t kName64At = 36;
inline constexpr size_t kNameBytes = 32;
inline constexpr size_t kBytesPerPacketAt = 68;
inline constexpr size_t kPacketsPerFrameAt = 72;
inline constexpr size_t kDeliveredRectAt = 76;
inline constexpr size_t kBlemishCountAt = 92;
inline constexpr size_t kMarkedPixelCountAt = 96;
inline constexpr size_t kBlemishPositionsAt = 100;
inline constexpr size_t kMarkedPixelPositionsAt = 40100;
inline constexpr size_t kMarkedPixelCodesAt = 80100;
inline constexpr size_t kFlashValidAt = 120100;
inline constexpr size_t kSensorWidthAt = 132392;
inline constexpr size_t kSensorHeightAt = 132396;
inline constexpr size_t kWhiteLutsAt = 132408;
inline constexpr size_t kMatrixTablesAt = 525624;
inline constexpr size_t kClampTableAt = 820536;
inline constexpr size_t kExpand8TableAt = 1017144;
inline constexpr size_t kPackingCapableAt = 1017660;
inline constexpr size_t kPackingEnabledAt = 1017664;
inline constexpr size_t kCompression8EnabledAt = 1017668;
inline constexpr size_t kIsMonoAt = 1017672;
inline constexpr size_t kCompressionCapableAt = 1017676;
inline constexpr size_t kBlackRefAt = 1017680;
inline constexpr size_t kBlackRefBytes = 2892592;
inline constexpr size_t kWhiteRefAt = 3910272;
inline constexpr size_t kWhiteRefBytes = 2887040;
inline constexpr size_t kResolutionIndexAt = 6797336;
inline constexpr size_t kBitsPerPixelAt = 6797340;
inline constexpr size_t kBinningAt = 6797344;
inline constexpr size_t kExposureTimeAt = 6797348;
inline constexpr size_t kImageRectAt = 6797380;
inline constexpr size_t kBlackRefEnabledAt = 6797428;
inline constexpr size_t kWhiteRefEnabledAt = 6797432;
inline constexpr size_t kColorProcessingEnabledAt = 6797436;
inline constexpr size_t kBlackRefPresentAt = 6797548;
inline constexpr size_t kExposureStepAt = 6797560;
}  // namespace ip

// Whether the context's reference areas can hold this camera's references.
bool fitsIpContext(const CameraContext& c);

// Writes the camera's processing state into `block` (ip::kBytes); the tables and references
// only under the conditions the processing copies them back.
void fillIpContext(const CameraContext& c, uint8_t* block);

// Rebuilds a working record from `block` for processStandardFrame: 0, 7 when memory is short,
// or 19 when the block does not describe a frame it could process within its own sizes (a
// sensor larger than its reference areas, list counts beyond the lists, a delivered frame
// larger than the sensor or than the image, no exposure step). The version is checked by the
// caller. Only reads `block`.
uint32_t restoreFromIpContext(const uint8_t* block, CameraContext& c);

}  // namespace kqfw

namespace kqfw {

// The lifetime of the context blocks a camera hands out: allocated by the camera's first
// IxenmGetIPInfo, refilled by later ones, released when the camera closes. Reading a block (the
// start of offline processing, which copies what it needs) and refilling or releasing it
// exclude each other, so processing that began before a refill or a close reads one whole
// context. Blocks the application copied elsewhere are its own and are read as they are.
//
// Thread context: any thread.
uint8_t* allocateIpContext();
// Waits for the reads under way, then frees the block.
void releaseIpContext(uint8_t* block);
// Runs `read` while no refill or release of `block` can run.
uint32_t readIpContext(const uint8_t* block, uint32_t (*read)(const uint8_t*, void*), void* arg);
// Runs `write` with the block's readers kept out.
void writeIpContext(uint8_t* block, void (*write)(uint8_t*, const void*), const void* arg);

}  // namespace kqfw
