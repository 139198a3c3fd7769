// Identity, presence, message switch, context versions and the entry points kept for old
// applications.
#include <cstring>

#include "camera/camera_table.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "platform/error_report.h"
#include "transport/async_request.h"
#include "transport/discovery.h"

using namespace kqfw;

namespace {

constexpr uint32_t kContextVersion = KQFW_CONTEXT_VERSION;
// An IpContext starts with its version word, then the module names of the 32-bit and the 64-bit
// library; this library is the 64-bit one.
constexpr size_t kContextModuleNameOffset = 36;
constexpr size_t kContextModuleNameBytes = 32;

}  // namespace

extern "C" {

KQFW_API StatusCode IxenmInfo(int32_t index, uint32_t* info) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return KQFW_STATUS_NO_CAMERA;
    }
    if (info == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    info[0] = c->firmwareVersion;
    info[1] = c->uniqueIdLow;
    info[2] = c->link.isMono ? 0 : 1;
    info[3] = c->flashIdWord;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenInfo(uint32_t* info) {
    return IxenmInfo(0, info);
}

KQFW_API StatusCode IXenIsAvailable(void) {
    return selectCamera(0, nullptr) != 0 ? KQFW_STATUS_OK : KQFW_STATUS_NO_CAMERA_PRESENT;
}

KQFW_API uint32_t IxenGetNumberofCameras(void) {
    return selectCamera(0, nullptr);
}

KQFW_API StatusCode IxenSetErrorMessages(uint32_t on) {
    setErrorMessagesEnabled(on);
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenGetCurrentErrorMessages(void) {
    return errorMessagesEnabled();
}

KQFW_API StatusCode IxenGetCurrentContextVersion(uint32_t* version) {
    if (version == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *version = kContextVersion;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetContextVersionfromContext(const IpContext* context, uint32_t* version) {
    if (context == nullptr || version == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *version = loadLe32(reinterpret_cast<const uint8_t*>(context));
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetDLLNamefromContext(const IpContext* context, char* name, int32_t size) {
    if (context == nullptr || name == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    const char* stored = reinterpret_cast<const char*>(context) + kContextModuleNameOffset;
    const size_t length = strnlen(stored, kContextModuleNameBytes - 1);
    if (size <= 0 || length >= static_cast<size_t>(size)) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    std::memcpy(name, stored, length);
    name[length] = '\0';
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenButtonWasPressed(void) {
    return KQFW_STATUS_NOT_SUPPORTED;
}

KQFW_API StatusCode IxenGetPeltierVoltage(uint32_t*) {
    return KQFW_STATUS_NOT_SUPPORTED;
}

KQFW_API StatusCode IxenSetPeltierVoltage(uint32_t) {
    return KQFW_STATUS_NOT_SUPPORTED;
}

KQFW_API uint32_t IxenStripeAdjust(void) {
    return 0;
}

KQFW_API uint32_t WriteEprom(uint16_t, int16_t) {
    return 0;
}

KQFW_API uint32_t outcomm(uint32_t) {
    return 0;
}

KQFW_API uint32_t ReadEprom(uint16_t address, int16_t count) {
    auto [c, status] = cameraFor(0);
    if (c == nullptr || count < 1 || size_t{address} + count > kFlashImageBytes) {
        return 0;
    }
    uint32_t value = 0;
    for (int16_t i = 0; i < count; ++i) {
        value = (value << 8) | c->flashImage[address + i];
    }
    return value;
}

KQFW_API StatusCode IxenmSetBusresetCallback(int32_t index, BusResetCallback callback,
                                             uint64_t argument) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    setBusResetCallback(c->watch, callback, argument);
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetBusresetCallback(BusResetCallback callback, uint64_t argument) {
    return IxenmSetBusresetCallback(0, callback, argument);
}

KQFW_API StatusCode kqfwDescribeCamera(int32_t index, KqfwCameraDescription* d) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return KQFW_STATUS_NO_CAMERA;
    }
    if (d == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *d = KqfwCameraDescription{};
    std::memcpy(d->devicePath, c->link.devicePath, sizeof d->devicePath);
    d->isMono = c->link.isMono;
    d->sensorWidth = c->sensorWidth;
    d->sensorHeight = c->sensorHeight;
    for (int m = 0; m < kFormat7Modes; ++m) {
        if (c->format7Modes[m].csrAddress != 0) {
            d->modeMask |= 1u << m;
            d->modeMaxWidth[m] = c->format7Modes[m].maxWidth;
            d->modeMaxHeight[m] = c->format7Modes[m].maxHeight;
        }
    }
    d->packingCapable = c->format7Modes[0].packingCapable;
    d->compressionCapable = c->format7Modes[0].compressionCapable;
    d->blemishCount = c->blemishCount;
    d->markedPixelCount = c->markedPixelCount;
    d->flashValid = c->flashValid;
    return KQFW_STATUS_OK;
}

KQFW_API const char* kqfwVersion(void) {
    return KQFW_VERSION;
}

}  // extern "C"
