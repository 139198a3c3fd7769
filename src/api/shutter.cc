// The camera's two shutter outputs and the shutter delay.
#include "camera/settings_rules.h"

#include <cstdlib>

#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr int32_t kMaxDelaySteps = 4095;

// Both words go out whole, inside an opened vendor block.
StatusCode writeOutput(const CameraContext& c, uint32_t offset, uint32_t word) {
    if (unlockAdvancedRegisters(c.link) != 0) {
        return KQFW_STATUS_WRITE_FAILED;
    }
    if (writeQuadlet(c.link, c.link.advancedBase + offset, word) != 0) {
        return KQFW_STATUS_WRITE_FAILED;
    }
    lockAdvancedRegisters(c.link);
    return KQFW_STATUS_OK;
}

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode IxenmShutterControl(int32_t index, uint32_t enable, uint32_t polarity) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    c->shutter1Enable = enable;
    c->shutter1Polarity = polarity;
    return writeOutput(*c, kAdvShutterOutput1, shutterOutput1Word(*c));
}

KQFW_API StatusCode IxenShutterControl(uint32_t enable, uint32_t polarity) {
    return IxenmShutterControl(0, enable, polarity);
}

KQFW_API StatusCode IxenmShutterControlTTLOut2(int32_t index, uint32_t enable, uint32_t polarity,
                                               uint32_t bit26, uint32_t bit25, uint32_t bit24) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    c->ttl2Enable = enable;
    c->ttl2Polarity = polarity;
    c->ttl2Bit26 = bit26;
    c->ttl2Bit25 = bit25;
    c->ttl2Bit24 = bit24;
    return writeOutput(*c, kAdvShutterOutput2, shutterOutput2Word(*c));
}

KQFW_API StatusCode IxenmSetShutterDelay(int32_t index, int32_t openDelay, int32_t closeDelay) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    const int32_t step = static_cast<int32_t>(c->exposureStep);
    if (std::abs(openDelay / step) > kMaxDelaySteps ||
        std::abs(closeDelay / step) > kMaxDelaySteps) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    c->shutterDelayOpen = openDelay;
    c->shutterDelayClose = closeDelay;
    return writeOutput(*c, kAdvShutterOutput1, shutterOutput1Word(*c));
}

KQFW_API StatusCode IxenSetShutterDelay(int32_t openDelay, int32_t closeDelay) {
    return IxenmSetShutterDelay(0, openDelay, closeDelay);
}

KQFW_API StatusCode IxenmGetCurrentShutterDelay(int32_t index, uint32_t* openDelay,
                                                uint32_t* closeDelay) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (openDelay == nullptr || closeDelay == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *openDelay = static_cast<uint32_t>(c->shutterDelayOpen);
    *closeDelay = static_cast<uint32_t>(c->shutterDelayClose);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetCurrentShutterDelay(uint32_t* openDelay, uint32_t* closeDelay) {
    return IxenmGetCurrentShutterDelay(0, openDelay, closeDelay);
}

}  // extern "C"
