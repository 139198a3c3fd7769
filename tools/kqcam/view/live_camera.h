#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "delivered_image.h"
#include "frame_render.h"
#include "kqfw/kqfw.h"

namespace kqview {

// A camera on continuous acquisition for the viewer. The library's dispatch thread only copies
// the newest raw frame into a hand-off slot (a frame not yet taken is replaced: the newest
// wins, so the camera never waits for the browser); one thread of ours processes it, renders
// it and publishes it for the requests, which wait for a newer frame or take the latest.
// Camera calls that change settings, the processing and the jobs take the camera lock in turn.
class LiveCamera {
  public:
    explicit LiveCamera(int32_t slot);
    ~LiveCamera();
    LiveCamera(const LiveCamera&) = delete;
    LiveCamera& operator=(const LiveCamera&) = delete;

    // Starts the run and the processing thread: the status of the start.
    StatusCode start();
    // Stops the run and the threads; the camera stays open.
    void stop();

    int32_t slot() const { return slot_; }
    std::shared_ptr<const ShownFrame> latest();
    // A frame other than `sequence` (the one a page shows), waiting at most `limit`; null when
    // none came.
    std::shared_ptr<const ShownFrame> newerThan(uint64_t sequence, std::chrono::milliseconds limit);

    // Runs `set` on the camera. A shaping setting (resolution, binning, region) stops the run
    // first; another is tried during the run and, when the library answers busy, set with the
    // run stopped. A refusal is explained by `explain`, asked while the run is still stopped
    // (some answers try settings). The run is restarted either way.
    StatusCode change(bool shaping, const std::function<StatusCode()>& set,
                      const std::function<std::string()>& explain, std::string* refusal);
    // Runs `work` with the run stopped, for as long as it takes (a multi-shot image, a
    // reference measurement); the run restarts afterwards.
    StatusCode withRunStopped(const std::function<StatusCode()>& work);

    void setDisplay(const DisplayRange& range);
    DisplayRange display();
    // What happened to the run that the page should say (a restart after a bus reset).
    std::string lastEvent();
    uint64_t restarts() const { return restarts_; }

  private:
    struct Handoff {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<uint8_t> frame;
        int32_t index = -1;
        std::chrono::steady_clock::time_point arrival;
        bool pending = false, ended = false, quitting = false;
    };

    static int32_t onFrame(uint16_t* frame, uint32_t bytes, int32_t index, uint64_t, uint64_t user);
    void process();
    // With the camera lock held.
    StatusCode startRun();
    void stopRun();
    void recover();

    const int32_t slot_;
    Handoff handoff_;
    std::mutex camera_;  // the camera's settings, the run and the processing context
    IpContext* context_ = nullptr;
    uint32_t frameBytes_ = 0;
    kqtools::ImageShape shape_;
    bool running_ = false;
    std::atomic<bool> stopped_{false};  // no run starts any more

    std::mutex published_;
    std::condition_variable arrived_;
    std::shared_ptr<const ShownFrame> latest_;
    DisplayRange range_;
    std::string event_;
    bool closed_ = false;  // waiting requests return at once
    std::atomic<uint64_t> restarts_{0};
    uint64_t sequence_ = 0;
    std::thread processor_;
};

}  // namespace kqview
