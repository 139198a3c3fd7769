#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "live_camera.h"

namespace kqview {

// An answer to a request: the HTTP status and its JSON body.
struct Reply {
    int http = 200;
    nlohmann::json body;
};

// The viewer's commands on one camera: every request body is checked (JSON, a known command,
// values of the right type and range) before the library is asked, and a refusal names the
// value and what the camera takes, with the library's status. Snaps are written where kqcam
// runs; multi-shot images and reference measurements run as one job at a time on a thread of
// their own, with their progress in the status.
class Control {
  public:
    Control(LiveCamera& camera, int32_t benchCamera);
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Reply command(const std::string& body);
    nlohmann::json status();
    // The path of a snap this viewer wrote, or empty for any other name.
    std::string snapPath(const std::string& name);
    // Aborts and joins a job under way.
    void finish();

  private:
    struct Job {
        std::string kind, message, file;
        bool running = false, ok = true;
        uint32_t done = 0, total = 0;
    };

    Reply setting(const std::string& name, const nlohmann::json& request);
    Reply whiteBalanceAt(const nlohmann::json& request);
    Reply bench(const std::string& name, const nlohmann::json& request);
    Reply snap(const nlohmann::json& request);
    Reply startJob(const std::string& kind, uint32_t value);
    void runMultiShot(uint32_t resolution);
    void runReference(bool black);
    static int32_t onProgress(uint32_t elapsed, uint32_t total, int32_t state, uint64_t user);
    std::string writeSnap(const std::vector<uint16_t>& image, const kqtools::ImageShape& shape,
                          int32_t frame, std::string* error);

    LiveCamera& camera_;
    const int32_t bench_;  // the bench's number for the camera, -1 for hardware
    std::vector<int32_t> resolutions_;
    std::mutex lock_;  // the job, the snaps and the reference flags
    Job job_;
    std::thread worker_;
    std::atomic<bool> aborting_{false};
    std::vector<std::string> snaps_;
    bool blackRef_ = false, whiteRef_ = false;
};

}  // namespace kqview
