#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kqfw/kqsim.h"
#include "sim/sim_camera.h"
#include "transport/driver_port.h"

namespace kqfw::sim {

// The simulated bus: the cameras on it, the driver's open handles and their pending requests,
// and the faults a test has armed. One mutex guards all of it, so the driver and the kqsim
// functions may be called from any thread.
class SimBench {
  public:
    static SimBench& instance();

    // Bench set-up (kqsim).
    void reset(bool withDefaultCameras);
    int32_t addCamera(const KqsimCameraConfig& config);
    int32_t cameraCount();
    bool devicePath(int32_t camera, std::string* path);
    bool unplug(int32_t camera);
    void busReset();
    void setTimeScale(double scale);

    void failRequest(uint32_t code, uint32_t nth, uint32_t error);
    bool failRegister(int32_t camera, uint32_t address, uint32_t access, uint32_t error);
    bool setFlashError(int32_t camera, bool on);
    void failInterfaceDetails(uint32_t count);
    void clearFaults();

    bool peekRegister(int32_t camera, uint32_t address, uint32_t* value);
    bool readFlash(int32_t camera, uint32_t address, uint8_t* data, uint32_t bytes);
    int32_t writeLog(int32_t camera, KqsimRegisterWrite* entries, uint32_t max);
    bool clearWriteLog(int32_t camera);
    uint32_t requestCount(uint32_t code);
    uint32_t openHandles();
    int32_t firmwareStarts(int32_t camera);

    // The driver's side (SimDriver).
    std::vector<std::string> listInterfaces(const std::string& interfaceClass);
    DeviceHandle open(const std::string& path, bool overlapped, uint32_t* error);
    uint32_t ioControl(DeviceHandle handle, uint32_t code, const uint8_t* input,
                       uint32_t inputBytes, uint8_t* output, uint32_t outputBytes,
                       uint32_t* returned);
    uint32_t ioControlOverlapped(DeviceHandle handle, uint32_t code, Event* completion);
    uint32_t overlappedResult(DeviceHandle handle);
    uint32_t cancelIo(DeviceHandle handle);
    void close(DeviceHandle handle);

  private:
    struct Device {
        std::unique_ptr<SimCamera> camera;
        bool present = true;
        Event* frameEvent = nullptr;
        Event* triggerEvent = nullptr;
    };
    struct Handle {
        size_t device = 0;
        bool overlapped = false;
        Event* pending = nullptr;  // the completion event of a pending bus-reset request
        uint32_t lastResult = 0;
        std::vector<uint8_t> bufferA, bufferB;  // mapped through this handle
    };
    struct RequestFault {
        uint32_t code;
        uint32_t remaining;  // requests to let pass before failing; every one when `every`
        bool every;
        uint32_t error;
    };
    struct RegisterFault {
        size_t device;
        uint32_t address;
        uint32_t access;
        uint32_t error;
    };

    SimBench();
    void ensureBench();
    void resetLocked(bool withDefaultCameras);
    int32_t addCameraLocked(const KqsimCameraConfig& config);
    Device* deviceFor(int32_t camera);
    void complete(Handle& handle, uint32_t result);
    std::optional<uint32_t> requestFault(uint32_t code);
    std::optional<uint32_t> registerFault(size_t device, uint32_t address, uint32_t access);
    uint32_t asyncTransaction(Handle& handle, bool write, const uint8_t* input, uint32_t inputBytes,
                              uint8_t* output, uint32_t outputBytes, uint32_t* returned);

    std::mutex mutex_;
    bool configured_ = false;  // a program that never sets a bench up gets the default one
    std::vector<Device> devices_;
    std::map<DeviceHandle, Handle> handles_;
    DeviceHandle nextHandle_ = 0x100;
    std::vector<RequestFault> requestFaults_;
    std::vector<RegisterFault> registerFaults_;
    uint32_t detailFailures_ = 0;
    std::map<uint32_t, uint32_t> requestCounts_;
    double timeScale_ = 1.0;
};

}  // namespace kqfw::sim
