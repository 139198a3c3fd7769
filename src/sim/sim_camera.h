#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kqfw/kqsim.h"

namespace kqfw::sim {

// Where this firmware places its register blocks.
inline constexpr uint32_t kSimCommandBase = 0xF0F00000;
inline constexpr uint32_t kSimAdvancedBase = 0xF2F00000;
inline constexpr uint32_t kSimModeBlockBase = 0xF0F08000;
inline constexpr uint32_t kSimModeBlockStride = 0x100;
inline constexpr uint32_t kSimFlashBytes = 0x40000;

using Clock = std::chrono::steady_clock;

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

    // Test access that bypasses the bus.
    bool peek(uint32_t address, uint32_t* value, Clock::time_point now);
    std::vector<uint8_t>& flash() { return flash_; }
    const std::vector<std::pair<uint32_t, uint32_t>>& writeLog() const { return writeLog_; }
    void clearWriteLog() { writeLog_.clear(); }
    void setFlashError(bool on) { flashErrorForced_ = on; }
    int firmwareStarts() const { return firmwareStarts_; }
    void setTimeScale(double scale) { timeScale_ = scale; }

  private:
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
    std::vector<std::pair<uint32_t, uint32_t>> writeLog_;
};

}  // namespace kqfw::sim
