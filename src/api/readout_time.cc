// How long the camera needs beyond the exposure for one frame of the current settings.
#include "acquisition/stream_setup.h"
#include "camera/camera_activity.h"
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

using namespace kqfw;

namespace {

constexpr uint32_t kPeriodValid = 0x10000000;
constexpr uint32_t kPeriodMask = 0x0FFFFFFF;
constexpr uint32_t kShutterHighInvalid = 0x80000000;

}  // namespace

extern "C" {

KQFW_API StatusCode IxenmGetCurrentReadouttime(int32_t camera, uint32_t* readoutTime) {
    auto [c, status] = idleCameraFor(camera);
    if (c == nullptr) {
        return status;
    }
    if (readoutTime == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    // The camera computes its frame period only for a stream it was set up for.
    // The probe sets a stream up and tears it down: not over a stream the application holds.
    ActivityClaim claim(*c, Activity::kProbe);
    if (!claim.held() || c->applicationStream != 0) {
        return KQFW_STATUS_BUSY;
    }
    if (uint32_t result = ProbeStream(*c, "IxenmGetCurrentReadouttime")) {
        return result;
    }
    uint32_t period = 0, shutter = 0, shutterHigh = 0;
    if (readQuadlet(c->link, c->link.advancedBase + kAdvReadoutSingle, &period) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    if ((period & kPeriodValid) == 0) {
        return KQFW_STATUS_BUSY;
    }
    if (readQuadlet(c->link, c->link.commandBase + kCmdShutter, &shutter) != 0 ||
        readQuadlet(c->link, c->link.advancedBase + kAdvShutterHigh, &shutterHigh) != 0) {
        return KQFW_STATUS_READ_FAILED;
    }
    if ((shutterHigh & kShutterHighInvalid) != 0) {
        return KQFW_STATUS_BUSY;
    }
    const uint32_t exposureUnits = (shutterHigh & 0x7FFF) * 4096 + (shutter & 0xFFF);
    *readoutTime = ((period & kPeriodMask) - exposureUnits) * c->exposureStep;
    return KQFW_STATUS_OK;
}

}  // extern "C"
