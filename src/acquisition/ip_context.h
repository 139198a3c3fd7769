#pragma once

#include <cstddef>
#include <cstdint>

#include "camera/camera_context.h"
#include "processing/frame_recipe.h"

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
// Bytes the layout leaves free carry the white-balance gains and the colour matrix the tables
// were built from, as hints: the kernels that compute instead of looking up check them against
// the tables entry by entry before they use them, so a block that lacks them (or holds
// anything else there) is processed through the tables, to the same bits.
inline constexpr size_t kWhiteGainsHintAt = 6797440;
inline constexpr size_t kColorMatrixHintAt = 6797464;
}  // namespace ip

// Whether the context's reference areas can hold this camera's references.
bool fitsIpContext(const CameraContext& c);

// Writes the camera's processing state into `block` (ip::kBytes); the tables and references
// only under the conditions the processing copies them back.
void fillIpContext(const CameraContext& c, uint8_t* block);

// Points `r` straight into `block` (8-byte aligned, as the library hands blocks out) for
// processStandardFrame, and gives the bytes of a frame: 0, or 19 when the block does not
// describe a frame it could process within its own sizes (a sensor larger than its reference
// areas, list counts beyond the lists, a delivered frame larger than the sensor or than the
// image, no exposure step). The version is checked by the caller. Only reads `block`, which
// must stay as it is while `r` is in use.
uint32_t mapIpContext(const uint8_t* block, FrameRecipe& r, uint64_t* frameBytes);

// The work frames offline processing expands and corrects a frame in: kept for the next frame
// (a few of them, for applications that process on several threads) instead of being mapped
// afresh, which would cost more than the processing of a grey frame. Null when memory is short.
//
// Thread context: any thread.
uint16_t* borrowWorkFrame(size_t bytes);
void returnWorkFrame(uint16_t* frame, size_t bytes);

}  // namespace kqfw
