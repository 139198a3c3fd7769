#include "backends/driver_backends.h"

#include <string>

#include "platform/environment.h"
#include "platform/error_report.h"
#include "sim/sim_driver.h"

namespace kqfw {

namespace {

bool always() {
    return true;
}

bool onlyByName() {
    return false;
}

struct DriverBackend {
    const char* name;
    DriverPort* (*instance)();  // null when the backend cannot run here
    bool (*byDefault)();        // whether it is taken when none is named
};

// In order of preference. The simulated bus runs everywhere, so it closes the list.
constexpr DriverBackend kBackends[] = {
    {"win32", &win32DriverInstance, &always},
    {"linux", &linuxDriverInstance, &linuxFindsCamera},
    {"linux-sim", &linuxSimDriverInstance, &onlyByName},
    {"sim", &simDriverInstance, &always},
};

// What a misspelt KQFW_DRIVER gets: a bus without cameras, so that nothing silently runs on
// another backend than the one asked for.
class NoDriver final : public DriverPort {
  public:
    std::vector<std::string> listInterfaces(const std::string&) override { return {}; }
    DeviceHandle open(const std::string&, bool, uint32_t* error) override {
        *error = kErrorFileNotFound;
        return kInvalidDeviceHandle;
    }
    uint32_t ioControl(DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t,
                       uint32_t*) override {
        return kErrorInvalidHandle;
    }
    uint32_t ioControlOverlapped(DeviceHandle, uint32_t, Event*) override {
        return kErrorInvalidHandle;
    }
    uint32_t overlappedResult(DeviceHandle) override { return kErrorInvalidHandle; }
    uint32_t cancelIo(DeviceHandle) override { return kErrorInvalidHandle; }
    void close(DeviceHandle) override {}
};

}  // namespace

DriverPort* composeDriver() {
    const std::string wanted = environmentValue("KQFW_DRIVER");
    if (!wanted.empty()) {
        std::string choices;
        for (const DriverBackend& backend : kBackends) {
            if (DriverPort* port = backend.instance()) {
                if (wanted == backend.name) {
                    return port;
                }
                choices += std::string(choices.empty() ? "" : " or ") + backend.name;
            }
        }
        reportError("KQFW_DRIVER=%s names no driver of this build; it takes %s", wanted.c_str(),
                    choices.c_str());
        static NoDriver none;
        return &none;
    }
    for (const DriverBackend& backend : kBackends) {
        DriverPort* port = backend.instance();
        if (port != nullptr && backend.byDefault()) {
            return port;
        }
    }
    return nullptr;
}

}  // namespace kqfw
