// Read-back of the settings the camera API sets without a getter of its own.
#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

using namespace kqfw;

extern "C" {

KQFW_API StatusCode kqfwGetSettings(int32_t index, KqfwSettings* s) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (s == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *s = KqfwSettings{};
    s->packingEnabled = c->packingEnabled;
    s->compression8Enabled = c->compression8Enabled;
    s->triggerPolarity = c->triggerPolarity;
    s->overlappedTrigger = c->overlappedTrigger;
    s->shutter1Enable = c->shutter1Enable;
    s->shutter1Polarity = c->shutter1Polarity;
    s->ttl2Enable = c->ttl2Enable;
    s->ttl2Polarity = c->ttl2Polarity;
    s->ttl2Bits = (c->ttl2Bit26 != 0 ? 4u : 0u) | (c->ttl2Bit25 != 0 ? 2u : 0u) |
                  (c->ttl2Bit24 != 0 ? 1u : 0u);
    s->frameTimeMode = c->frameTimeMode;
    // Held in steps, which is what the camera is sent; the step in force gives their time.
    s->frameDelay = c->frameDelay * c->exposureStep;
    s->frameTime = c->frameTime * c->exposureStep;
    for (int k = 0; k < 4; ++k) {
        s->exposureSequence[k] = c->exposureSequence[k];
    }
    for (int k = 0; k < 3; ++k) {
        s->saturation[k] = c->saturation[k];
    }
    return KQFW_STATUS_OK;
}

}  // extern "C"
