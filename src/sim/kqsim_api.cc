// The exported bench control of the simulated bus.
#include <cstring>
#include <string>

#include "kqfw/kqsim.h"
#include "sim/sim_bench.h"
#include "sim/sim_flash_image.h"

using kqfw::sim::SimBench;

extern "C" {

KQFW_API void kqsimDefaultConfig(uint32_t model, KqsimCameraConfig* config) {
    if (config != nullptr) {
        *config = kqfw::sim::defaultCameraConfig(model);
    }
}

KQFW_API void kqsimReset(void) {
    SimBench::instance().reset(false);
}

KQFW_API void kqsimResetDefault(void) {
    SimBench::instance().reset(true);
}

KQFW_API int32_t kqsimAddCamera(const KqsimCameraConfig* config) {
    return config == nullptr ? -1 : SimBench::instance().addCamera(*config);
}

KQFW_API int32_t kqsimCameraCount(void) {
    return SimBench::instance().cameraCount();
}

KQFW_API int32_t kqsimDevicePath(int32_t camera, char* path, uint32_t size) {
    std::string text;
    if (path == nullptr || !SimBench::instance().devicePath(camera, &text) || text.size() >= size) {
        return -1;
    }
    std::memcpy(path, text.c_str(), text.size() + 1);
    return 0;
}

KQFW_API int32_t kqsimUnplug(int32_t camera) {
    return SimBench::instance().unplug(camera) ? 0 : -1;
}

KQFW_API void kqsimBusReset(void) {
    SimBench::instance().busReset();
}

KQFW_API void kqsimSetTimeScale(double scale) {
    SimBench::instance().setTimeScale(scale);
}

KQFW_API void kqsimFailRequest(uint32_t code, uint32_t nth, uint32_t error) {
    SimBench::instance().failRequest(code, nth, error);
}

KQFW_API int32_t kqsimFailRegister(int32_t camera, uint32_t address, uint32_t access,
                                   uint32_t error) {
    return SimBench::instance().failRegister(camera, address, access, error) ? 0 : -1;
}

KQFW_API int32_t kqsimSetFlashError(int32_t camera, uint32_t on) {
    return SimBench::instance().setFlashError(camera, on != 0) ? 0 : -1;
}

KQFW_API void kqsimFailInterfaceDetails(uint32_t count) {
    SimBench::instance().failInterfaceDetails(count);
}

KQFW_API void kqsimClearFaults(void) {
    SimBench::instance().clearFaults();
}

KQFW_API int32_t kqsimPeekRegister(int32_t camera, uint32_t address, uint32_t* value) {
    return value != nullptr && SimBench::instance().peekRegister(camera, address, value) ? 0 : -1;
}

KQFW_API int32_t kqsimReadFlash(int32_t camera, uint32_t address, uint8_t* data, uint32_t bytes) {
    return SimBench::instance().readFlash(camera, address, data, bytes) ? 0 : -1;
}

KQFW_API int32_t kqsimWriteLog(int32_t camera, KqsimRegisterWrite* entries, uint32_t max) {
    return SimBench::instance().writeLog(camera, entries, max);
}

KQFW_API int32_t kqsimReadAddresses(int32_t camera, uint32_t* addresses, uint32_t max) {
    return SimBench::instance().readAddresses(camera, addresses, max);
}

KQFW_API int64_t kqsimWriteLogDropped(int32_t camera) {
    return SimBench::instance().writesDropped(camera);
}

KQFW_API int32_t kqsimClearWriteLog(int32_t camera) {
    return SimBench::instance().clearWriteLog(camera) ? 0 : -1;
}

KQFW_API uint32_t kqsimRequestCount(uint32_t code) {
    return SimBench::instance().requestCount(code);
}

KQFW_API uint32_t kqsimOpenHandles(void) {
    return SimBench::instance().openHandles();
}

KQFW_API int32_t kqsimFirmwareStarts(int32_t camera) {
    return SimBench::instance().firmwareStarts(camera);
}

KQFW_API int32_t kqsimSetScene(uint32_t kind, double level, const uint16_t* samples, uint32_t width,
                               uint32_t height, uint32_t channels) {
    if (kind > KQSIM_SCENE_IMAGE ||
        (kind == KQSIM_SCENE_IMAGE &&
         (samples == nullptr || width == 0 || height == 0 || (channels != 1 && channels != 3) ||
          uint64_t{width} * height > (1u << 26)))) {
        return -1;
    }
    SimBench::instance().setScene(kind, level, samples, width, height, channels);
    return 0;
}

KQFW_API int32_t kqsimSetNoise(int32_t camera, uint32_t on) {
    return SimBench::instance().setNoise(camera, on != 0) ? 0 : -1;
}

KQFW_API int32_t kqsimSetIllumination(int32_t camera, double level, double driftPerShot) {
    return SimBench::instance().setIllumination(camera, level, driftPerShot) ? 0 : -1;
}

KQFW_API int32_t kqsimTrigger(int32_t camera) {
    return SimBench::instance().trigger(camera) ? 0 : -1;
}

KQFW_API int32_t kqsimDropFrame(int32_t camera, uint32_t nth) {
    return nth > 0 && SimBench::instance().dropFrame(camera, nth) ? 0 : -1;
}

KQFW_API int32_t kqsimDelayFrame(int32_t camera, uint32_t nth, uint32_t delayMs) {
    return nth > 0 && SimBench::instance().delayFrame(camera, nth, delayMs) ? 0 : -1;
}

KQFW_API int32_t kqsimGroundTruth(int32_t camera, uint32_t scale, uint32_t left, uint32_t top,
                                  uint32_t width, uint32_t height, uint16_t* out) {
    return out != nullptr && scale >= 1 && scale <= 12 &&
                   SimBench::instance().groundTruth(camera, scale, left, top, width, height, out)
               ? 0
               : -1;
}

KQFW_API uint32_t kqsimBandwidthInUse(void) {
    return SimBench::instance().bandwidthInUse();
}

KQFW_API int32_t kqsimLastFrame(int32_t camera, uint16_t* samples, uint32_t max, uint32_t* width,
                                uint32_t* height) {
    return SimBench::instance().lastFrame(camera, samples, max, width, height);
}

}  // extern "C"
