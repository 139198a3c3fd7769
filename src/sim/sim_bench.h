#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kqfw/kqsim.h"
#include "sim/sim_camera.h"
#include "sim/sim_scene.h"
#include "transport/driver_port.h"
#include "transport/driver_requests.h"

namespace kqfw::sim {

// What the kernel-side node of the bus (sim_fw_node) hears of, under the bench lock: the resets
// and departures that end its streams and raise its generation, the end of a bench, and the
// descriptors it holds open, which count as the driver's handles do.
class BenchListener {
  public:
    static constexpr size_t kNoLeaver = ~size_t{0};
    virtual void busReset(size_t leaver) = 0;
    // Before the cameras go: every stream on them must end.
    virtual void benchReset() = 0;
    // A stream still holds on to a camera (the bench waits until none does).
    virtual bool holdsCameras() = 0;
    virtual uint32_t openDescriptors() = 0;

  protected:
    ~BenchListener() = default;
};

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
    int32_t readAddresses(int32_t camera, uint32_t* addresses, uint32_t max);
    int64_t writesDropped(int32_t camera);
    bool clearWriteLog(int32_t camera);
    uint32_t requestCount(uint32_t code);
    uint32_t openHandles();
    int32_t firmwareStarts(int32_t camera);

    // Streams and scenes (kqsim).
    void setScene(uint32_t kind, double level, const uint16_t* samples, uint32_t width,
                  uint32_t height, uint32_t channels);
    bool setNoise(int32_t camera, bool on);
    bool setIllumination(int32_t camera, double level, double driftPerShot);
    bool trigger(int32_t camera);
    bool dropFrame(int32_t camera, uint32_t nth);
    bool delayFrame(int32_t camera, uint32_t nth, uint32_t delayMs);
    bool groundTruth(int32_t camera, uint32_t scale, uint32_t left, uint32_t top, uint32_t width,
                     uint32_t height, uint16_t* out);
    uint32_t bandwidthInUse();
    int32_t lastFrame(int32_t camera, uint16_t* samples, uint32_t maxSamples, uint32_t* width,
                      uint32_t* height);

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
    friend class SimFwNode;

    // A buffer the driver maps for the library: zeroed, and left to the system's lazily
    // zeroed pages, so mapping 17 MB at every opening touches only what frames fill.
    class MappedBuffer {
      public:
        static std::shared_ptr<MappedBuffer> allocate(size_t bytes);
        ~MappedBuffer();
        MappedBuffer(const MappedBuffer&) = delete;
        MappedBuffer& operator=(const MappedBuffer&) = delete;
        uint8_t* data() const { return bytes_; }
        size_t size() const { return size_; }

      private:
        MappedBuffer(uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
        uint8_t* bytes_;
        size_t size_;
    };
    using Buffer = std::shared_ptr<MappedBuffer>;
    struct StartCommand {
        bool set = false;
        uint32_t value = 0;
        uint32_t address = 0;
        uint32_t waitMs = 0;  // a single frame that has not arrived by then fails the receive
    };
    struct Receive {
        bool active = false;
        bool cancelled = false;
        bool stopped = false;
        uint64_t resource = 0;
        uint32_t count = 1;
        uint32_t frameBytes = 0;
        uint32_t slotBytes = 0;
        Buffer buffer;
        bool busReset = false;  // a bus reset ended it
        ReceiveStatus status;   // its lost frames are those lost on the bus
    };
    // A frame as the sensor read it out and as it crossed the bus. Without noise a frame is a
    // function of its request, so one rendering serves every frame of a run until the scene or
    // the settings change.
    struct RenderedFrame {
        FrameRequest request;
        uint32_t coding = 0;
        uint64_t sceneGeneration = 0;
        std::vector<uint16_t> samples;
        std::vector<uint8_t> bytes;
    };
    using Rendered = std::shared_ptr<const RenderedFrame>;
    struct Device {
        std::unique_ptr<SimCamera> camera;
        bool present = true;
        Event* frameEvent = nullptr;
        Event* triggerEvent = nullptr;
        bool selectAux = false;
        StartCommand start;
        Receive receive;
        std::shared_ptr<const Scene> scene;
        uint64_t sceneGeneration = 0;
        // The last frame the sensor read out (its samples before the transfer coding).
        Rendered lastFrame;
        uint32_t lastWidth = 0, lastHeight = 0;
    };
    struct Handle {
        size_t device = 0;
        bool overlapped = false;
        Event* pending = nullptr;  // the completion event of a pending bus-reset request
        uint32_t lastResult = 0;
        Buffer bufferA, bufferB;  // mapped through this handle
    };
    struct Isoch {
        DeviceHandle owner;
        uint32_t bytes = 0;    // bandwidth
        uint32_t channel = 0;  // resources
        size_t device = 0;
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
    // Runs f on a camera under the bench lock; false for an id not on the bench.
    template <typename F>
    bool withCamera(int32_t camera, F f) {
        std::lock_guard lock(mutex_);
        Device* device = deviceFor(camera);
        if (device != nullptr) {
            f(*device->camera);
        }
        return device != nullptr;
    }
    void resetLocked(bool withDefaultCameras);
    int32_t addCameraLocked(const KqsimCameraConfig& config);
    Device* deviceFor(int32_t camera);
    void complete(Handle& handle, uint32_t result);
    std::optional<uint32_t> requestFault(uint32_t code);
    std::optional<uint32_t> registerFault(size_t device, uint32_t address, uint32_t access);
    uint32_t streamRequest(std::unique_lock<std::mutex>& lock, DeviceHandle id, Handle& handle,
                           uint32_t code, const DriverRequest& r);
    uint32_t attach(std::unique_lock<std::mutex>& lock, Handle& handle, size_t deviceIndex,
                    const DriverRequest& request);
    void releaseIsoch(DeviceHandle owner);
    std::shared_ptr<const Scene> sceneFor(Device& device);
    // The frame `planned` renders to, from the last one when that one is equal by construction.
    // Called with the lock held; renders with it released.
    Rendered render(std::unique_lock<std::mutex>& lock, Device& device,
                    const FrameRequest& request);
    // One step of a camera's frames as a receive takes them: waits (kWaited; the caller checks
    // what may end it and asks again), gives up on a timed single frame (kTimedOut), or delivers
    // the frame that is due, lost on the bus (kLost) or read out (kFrame, rendered with the lock
    // released). Shared by the driver's receives and the node's iso contexts.
    enum class FrameStep { kWaited, kTimedOut, kLost, kFrame };
    struct ProducedFrame {
        Rendered rendered;
        StreamGeometry geometry;
    };
    FrameStep produceFrame(std::unique_lock<std::mutex>& lock, Device& device, bool timed,
                           Clock::time_point deadline, ProducedFrame* produced);
    uint32_t asyncTransaction(Handle& handle, bool write, const uint8_t* input, uint32_t inputBytes,
                              uint8_t* output, uint32_t outputBytes, uint32_t* returned);

    std::mutex mutex_;
    std::condition_variable changed_;  // any change a receive in flight may wait for
    bool configured_ = false;          // a program that never sets a bench up gets the default one
    std::deque<Device> devices_;       // a deque: receives in flight hold references
    std::map<DeviceHandle, Handle> handles_;
    DeviceHandle nextHandle_ = 0x100;
    std::vector<RequestFault> requestFaults_;
    std::vector<RegisterFault> registerFaults_;
    uint32_t detailFailures_ = 0;
    std::map<uint32_t, uint32_t> requestCounts_;
    double timeScale_ = 1.0;
    Clock::time_point epoch_ = Clock::now();
    std::map<uint64_t, Isoch> bandwidth_, resources_;
    uint64_t channels_ = 0;  // bit c: channel c is taken
    std::map<uint32_t, DeviceHandle> channelOwners_;
    uint64_t nextIsochHandle_ = 0x5000;
    // The scene under every camera: its kind and, for an image, its samples.
    uint32_t sceneKind_ = KQSIM_SCENE_SLIDE;
    double sceneLevel_ = 0.6;
    std::vector<uint16_t> sceneImage_;
    uint32_t sceneWidth_ = 0, sceneHeight_ = 0, sceneChannels_ = 0;
    uint64_t sceneGeneration_ = 1;
    uint32_t busGeneration_ = 1;  // +1 at every reset, a departure's too
    BenchListener* listener_ = nullptr;
};

}  // namespace kqfw::sim
