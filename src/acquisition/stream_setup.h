#pragma once

#include <cstdint>

#include "camera/camera_context.h"
#include "transport/driver_requests.h"

namespace kqfw {

// The isochronous stream of Format_7 mode 0 frames: programming the camera, reserving the bus
// and the receive, and giving it all back.
//
// Thread context: SetupStream, CleanupStream, ChangeExposure and the register sequences run
// under the camera's registerLock, taken by the caller. GetBuffer runs on the receive thread,
// which holds registerLock for the whole receive. The second-handle requests run on any thread
// while the device handle is blocked in a receive.

// The driver says a receive is under way (the trigger event) well within this after its thread
// started; a start or a stop waits no longer for it.
inline constexpr uint32_t kReceiveUnderWayMs = 5000;
// How often a stop is sent again while the receive it should have ended goes on: one that
// reached the driver before the receive was attached is lost, the attach starting the camera.
inline constexpr uint32_t kRestopMs = 1000;

// (left, top, right, bottom) in sensor pixels; exposureUnits = exposureTime / exposureStep.
uint32_t SetupStream(CameraContext& c, const Rect& rect, uint32_t binning, uint32_t exposureUnits,
                     uint32_t singleShot);
// The stream of the current settings for an acquisition or a run, unless one is prepared
// already: that one is used, with the report "Setup error". Takes registerLock itself.
uint32_t SetupStreamUnlessReady(CameraContext& c, uint32_t singleShot);
// Sets a streaming stream of the current settings up and tears it down again, so the camera
// computes its frame period and the record learns the stream's packets and delivered region.
// Takes registerLock itself. A set-up failure is reported as "(%d)<operation> error %d".
uint32_t ProbeStream(CameraContext& c, const char* operation);

// Blocks until the driver ends the receive into `buffer` (streamBuffer or auxBuffer).
uint32_t GetBuffer(CameraContext& c, void* buffer);
uint32_t CleanupStream(CameraContext& c);
// Gives back what a failed tear-down left held (kept in `unreleased`); what the driver still
// refuses stays there. Caller holds registerLock.
void releaseUnreleased(CameraContext& c);
uint32_t ArmStartCommand(CameraContext& c, uint32_t exposureUnits);
uint32_t ChangeExposure(CameraContext& c, uint32_t exposureUnits);
uint32_t ApplyAdvancedSettings(CameraContext& c);
// Writes 0 to a command register through `handle`: 0 or the last error number.
uint32_t WriteQuadletOnHandle(const CameraContext& c, DeviceHandle handle, uint32_t address);

// The frame one receive delivers: packets x bytes, and a ring slot rounded up to 4096 bytes.
uint32_t frameBytesOf(const CameraContext& c);
uint32_t ringSlotBytes(const CameraContext& c);

// Requests on a second handle of the camera, opened and closed around each.
uint32_t cancelReceiveOn(DeviceHandle handle);
// Stops the stream's isochronous resources, which ends a receive attached to them: the way out
// when the driver refuses every cancel. The tear-down stops them again.
uint32_t stopIsochOn(const CameraContext& c, DeviceHandle handle);
// Cancels the receive while it is still pending, asking again (up to a second) when the driver
// refuses: a receive nothing else ends would otherwise hold the call that waits for it for good.
void cancelPendingReceive(const CameraContext& c, DeviceHandle handle);
// False when the query failed; *status is then unchanged.
bool queryReceiveStatus(DeviceHandle handle, ReceiveStatus* status);
// The newest completed frame of a streaming receive, or `previous` when the query fails.
int32_t newestFrameOn(DeviceHandle handle, int32_t previous);
DeviceHandle openSecondHandle(const CameraContext& c);
void closeSecondHandle(DeviceHandle handle);

}  // namespace kqfw
