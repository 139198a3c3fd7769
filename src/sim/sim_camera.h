#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "kqfw/kqsim.h"
#include "sim/sim_sensor.h"

namespace kqfw::sim {

// Where this firmware places its register blocks.
inline constexpr size_t kWriteLogCapacity = KQSIM_WRITE_LOG_CAPACITY;
inline constexpr uint32_t kSimCommandBase = 0xF0F00000;
inline constexpr uint32_t kSimAdvancedBase = 0xF2F00000;
inline constexpr uint32_t kSimModeBlockBase = 0xF0F08000;
inline constexpr uint32_t kSimModeBlockStride = 0x100;
inline constexpr uint32_t kSimFlashBytes = 0x40000;

using Clock = std::chrono::steady_clock;

// What the camera streams with the settings it last applied.
struct StreamGeometry {
    bool valid = false;
    int32_t left = 0, top = 0, width = 0, height = 0;  // sensor pixels
    uint32_t binX = 1, binY = 1;
    uint32_t coding = kCodingPacked12;
    uint32_t deliveredWidth = 0, deliveredHeight = 0;
    uint32_t payloadBytes = 0;  // the frame's samples
    uint32_t bytesPerPacket = 0, packetsPerFrame = 0;
};

// A frame the camera is about to deliver.
struct PlannedFrame {
    Clock::time_point due;
    uint32_t shot = 0;     // shot number within a multi-shot series
    bool dropped = false;  // lost on the bus (a fault): no data arrives
    FrameRequest request;
};

// The firmware of one KQ camera: its register space, the vendor-block access lock, the flash
// controller and the flash memory. It answers one transaction at a time; the bench serialises
// all calls (not thread-safe by itself).
class SimCamera {
  public:
    SimCamera(const KqsimCameraConfig& config, std::string path, uint16_t nodeNumber);

    const std::string& path() const { return path_; }
    const KqsimCameraConfig& config() const { return config_; }
    bool isForeign() const { return config_.model == KQSIM_MODEL_FOREIGN; }
    bool isMono() const { return config_.model == KQSIM_MODEL_KQM; }
    uint16_t nodeNumber() const { return nodeNumber_; }

    // One quadlet transaction from the bus: 0 or an error number.
    uint32_t readQuadlet(uint32_t address, uint32_t* value, Clock::time_point now);
    uint32_t writeQuadlet(uint32_t address, uint32_t value, Clock::time_point now);

    // Acquisition, as the driver's receive sees it. The next frame the camera will deliver (if
    // it is exposing or armed for a trigger that came), and its delivery.
    bool nextFrame(Clock::time_point now, PlannedFrame* frame);
    void frameDelivered(Clock::time_point now);
    bool capturing() const { return capture_.mode != Capture::Mode::kIdle; }
    bool continuous() const { return capture_.mode == Capture::Mode::kContinuous; }
    void triggerPulse(Clock::time_point now);
    // A bus reset: the camera stops what it was streaming.
    void busReset() { capture_ = Capture{}; }
    const StreamGeometry& geometry() const { return geometry_; }
    const SensorModel& sensor() const { return sensor_; }
    void setNoise(bool on) { sensor_.noise = on; }
    void setIllumination(double level, double driftPerShot) {
        illumination_ = level;
        drift_ = driftPerShot;
    }
    // Faults, counted from now (from 1): frame `nth` is lost on the bus (several may be armed),
    // or arrives `delayMs` late.
    void dropFrame(uint64_t nth) { dropFrames_.insert(framesPlanned_ + nth); }
    void delayFrame(uint64_t nth, uint32_t delayMs) {
        delayFrame_ = framesPlanned_ + nth;
        delayMs_ = delayMs;
    }
    void clearFrameFaults() {
        dropFrames_.clear();
        delayFrame_ = 0;
    }
    // The receive waiting for the delayed frame gave up on it: the frame was late once, and the
    // next receive's frame is not delayed again.
    void abandonDelayedFrame() {
        if (delayFrame_ == framesPlanned_ + 1) {
            delayFrame_ = 0;
        }
    }
    // The sensor offset of shot k of a multi-shot pattern, from the flash's shift table.
    bool shotOffset(uint32_t pattern, uint32_t shot, double* dx, double* dy) const;

    // Test access that bypasses the bus.
    bool peek(uint32_t address, uint32_t* value, Clock::time_point now);
    std::vector<uint8_t>& flash() { return flash_; }
    const std::deque<std::pair<uint32_t, uint32_t>>& writeLog() const { return writeLog_; }
    uint64_t writesDropped() const { return writesDropped_; }
    void clearWriteLog() {
        writeLog_.clear();
        writesDropped_ = 0;
        readAddresses_.clear();
    }
    // The distinct addresses read over the bus since the log was cleared, for tests that fail
    // each register the library reads; bounded like the write log.
    void noteRead(uint32_t address) {
        if (readAddresses_.size() < kWriteLogCapacity) {
            readAddresses_.insert(address);
        }
    }
    const std::set<uint32_t>& readAddresses() const { return readAddresses_; }
    void setFlashError(bool on) { flashErrorForced_ = on; }
    int firmwareStarts() const { return firmwareStarts_; }
    void setTimeScale(double scale) { timeScale_ = scale; }

  private:
    struct Capture {
        enum class Mode { kIdle, kOneShot, kMultiShot, kContinuous, kTriggered } mode = Mode::kIdle;
        uint32_t shots = 1;      // frames of this start (or of each trigger)
        uint32_t pattern = 0;    // multi-shot shift pattern, 0 for none
        uint32_t delivered = 0;  // frames delivered since the start (or the trigger)
        uint32_t pendingTriggers = 0;
        Clock::time_point next{};  // when the next frame is due
        bool armed = false;        // a frame is under way
    };

    void applyAdvanced(Clock::time_point now);
    StreamGeometry latchedGeometry(uint32_t coding) const;
    void valueSetting(Clock::time_point now);
    void startCapture(uint32_t address, uint32_t value, Clock::time_point now);
    uint32_t exposureUnits(uint32_t frame) const;
    Clock::duration unitTime() const;
    Clock::duration frameTime(uint32_t frame) const;
    uint32_t readoutUnits() const;
    Clock::duration sensorReadout() const;
    uint32_t streamRegister(uint32_t offset, Clock::time_point now) const;
    uint32_t valueSettingRegister(Clock::time_point now) const;

    enum class Block { kNone, kConfigRom, kCommand, kMode, kAdvanced };
    Block blockOf(uint32_t address, int* mode) const;

    void powerUp();
    void logWrite(uint32_t address, uint32_t value);
    bool unlocked(Clock::time_point now) const;
    uint32_t flashControlValue(Clock::time_point now) const;
    void startFlashCommand(uint32_t command, Clock::time_point now);
    Clock::duration scaled(std::chrono::microseconds real) const;

    KqsimCameraConfig config_;
    std::string path_;
    uint16_t nodeNumber_;
    double timeScale_ = 1.0;

    std::map<uint32_t, uint32_t> registers_;  // the plain storage registers
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> factoryPage_;  // what the alternate read command reads
    uint8_t window_[128] = {};

    // The vendor block's access lock: the code opens it for the mask that follows; the mask's
    // low 12 bits give how long it stays open.
    bool codeAccepted_ = false;
    bool accessOpen_ = false;
    Clock::time_point accessUntil_{};

    uint32_t flashCommand_ = 0;
    bool flashFailed_ = false;
    bool flashErrorForced_ = false;
    Clock::time_point flashBusyUntil_{};

    int firmwareStarts_ = 0;

    SensorModel sensor_;
    StreamGeometry geometry_;
    Capture capture_;
    Clock::time_point applyBusyUntil_{};
    Clock::time_point valueBusyUntil_{};
    bool applyFailed_ = false;
    bool valueFailed_ = false;
    double illumination_ = 1.0;
    double drift_ = 0.0;
    uint64_t framesPlanned_ = 0;
    std::set<uint64_t> dropFrames_;
    uint64_t delayFrame_ = 0;
    uint32_t delayMs_ = 0;
    std::deque<std::pair<uint32_t, uint32_t>> writeLog_;  // the newest kWriteLogCapacity
    std::set<uint32_t> readAddresses_;
    uint64_t writesDropped_ = 0;  // older ones, since the last clear
};

}  // namespace kqfw::sim
