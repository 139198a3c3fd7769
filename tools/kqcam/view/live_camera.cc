#include "live_camera.h"

#include <cstring>

#include "kqfw/kqfw_ext.h"

namespace kqview {

namespace {

constexpr int kRestartTries = 20;
constexpr auto kRestartPause = std::chrono::milliseconds(100);

}  // namespace

LiveCamera::LiveCamera(int32_t slot) : slot_(slot) {}

LiveCamera::~LiveCamera() {
    stop();
}

int32_t LiveCamera::onFrame(uint16_t* frame, uint32_t bytes, int32_t index, uint64_t,
                            uint64_t user) {
    auto* self = reinterpret_cast<LiveCamera*>(static_cast<uintptr_t>(user));
    Handoff& h = self->handoff_;
    std::lock_guard lock(h.lock);
    if (frame == nullptr) {
        h.ended = true;
    } else {
        const auto* b = reinterpret_cast<const uint8_t*>(frame);
        h.frame.assign(b, b + bytes);
        h.index = index;
        h.arrival = std::chrono::steady_clock::now();
        h.pending = true;
    }
    h.changed.notify_all();
    return 1;
}

StatusCode LiveCamera::startRun() {
    if (stopped_) {
        return KQFW_STATUS_ABORTED;
    }
    uint32_t contextBytes = 0;
    if (StatusCode s = IxenmGetIPInfo(slot_, &context_, &contextBytes, onFrame, &frameBytes_)) {
        return s;
    }
    shape_ = kqtools::deliveredImage(slot_);
    {
        std::lock_guard lock(handoff_.lock);
        handoff_.pending = handoff_.ended = false;
    }
    const int32_t s = IxenmStartContinuousAcquisition(
        slot_, 0, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)));
    running_ = s == 0;
    return static_cast<StatusCode>(s);
}

void LiveCamera::stopRun() {
    if (running_) {
        IxenmStopContinuousAcquisition(slot_);
        running_ = false;
    }
    std::lock_guard lock(handoff_.lock);
    handoff_.pending = false;
}

StatusCode LiveCamera::start() {
    {
        std::lock_guard lock(camera_);
        if (StatusCode s = startRun()) {
            return s;
        }
    }
    processor_ = std::thread([this] { process(); });
    return KQFW_STATUS_OK;
}

void LiveCamera::stop() {
    stopped_ = true;
    {
        std::lock_guard lock(published_);
        closed_ = true;
        arrived_.notify_all();
    }
    {
        std::lock_guard lock(handoff_.lock);
        handoff_.quitting = true;
        handoff_.changed.notify_all();
    }
    if (processor_.joinable()) {
        processor_.join();
    }
    std::lock_guard lock(camera_);
    stopRun();
}

// The bus was reset or the camera went away for a moment: the run ended by itself. It is
// started again until the camera takes it, so the page shows the recovery.
void LiveCamera::recover() {
    std::lock_guard lock(camera_);
    stopRun();
    StatusCode s = KQFW_STATUS_OK;
    for (int i = 0; i < kRestartTries; ++i) {
        if ((s = startRun()) == KQFW_STATUS_OK) {
            ++restarts_;
            std::lock_guard published(published_);
            event_ = "the run ended (bus reset or camera gone); restarted";
            return;
        }
        {
            std::unique_lock h(handoff_.lock);
            if (handoff_.changed.wait_for(h, kRestartPause, [&] { return handoff_.quitting; })) {
                return;
            }
        }
    }
    std::lock_guard published(published_);
    event_ = std::string("the run ended and could not be restarted: ") + kqfwStatusText(s);
}

void LiveCamera::process() {
    void* encoder = newEncoder();
    std::vector<uint8_t> raw;
    for (;;) {
        int32_t index = -1;
        std::chrono::steady_clock::time_point arrival;
        bool ended = false;
        {
            std::unique_lock lock(handoff_.lock);
            handoff_.changed.wait(
                lock, [&] { return handoff_.pending || handoff_.ended || handoff_.quitting; });
            if (handoff_.quitting) {
                break;
            }
            ended = handoff_.ended && !handoff_.pending;
            if (!ended) {
                raw.swap(handoff_.frame);
                index = handoff_.index;
                arrival = handoff_.arrival;
                handoff_.pending = false;
            }
        }
        if (ended) {
            recover();
            continue;
        }
        auto frame = std::make_shared<ShownFrame>();
        {
            std::lock_guard lock(camera_);
            // A frame of a run stopped since has another size, or none.
            if (!running_ || raw.size() != frameBytes_) {
                continue;
            }
            auto image = std::make_shared<std::vector<uint16_t>>(shape_.bufferSamples);
            // The offline context has no room for the interpolation: the camera's, now.
            int32_t interpolation = KQFW_INTERPOLATION_CAMERA;
            kqfwGetColourInterpolation(slot_, &interpolation);
            if (kqfwExecuteIPFunctionEx(context_, image->data(), raw.data(), interpolation) !=
                KQFW_STATUS_OK) {
                continue;
            }
            frame->shape = shape_;
            frame->image = std::move(image);
        }
        frame->index = index;
        frame->arrival = arrival;
        if (!render(frame.get(), display(), encoder)) {
            continue;
        }
        std::lock_guard lock(published_);
        frame->sequence = ++sequence_;
        latest_ = std::move(frame);
        arrived_.notify_all();
    }
    releaseEncoder(encoder);
}

std::shared_ptr<const ShownFrame> LiveCamera::latest() {
    std::lock_guard lock(published_);
    return latest_;
}

std::shared_ptr<const ShownFrame> LiveCamera::newerThan(uint64_t sequence,
                                                        std::chrono::milliseconds limit) {
    std::unique_lock lock(published_);
    // A page that knew an earlier viewer may hold a later number: it gets the newest at once.
    const auto fresh = [&] { return latest_ && latest_->sequence != sequence; };
    arrived_.wait_for(lock, limit, [&] { return closed_ || fresh(); });
    return fresh() ? latest_ : nullptr;
}

StatusCode LiveCamera::change(bool shaping, const std::function<StatusCode()>& set,
                              const std::function<std::string()>& explain, std::string* refusal) {
    std::lock_guard lock(camera_);
    if (shaping) {
        stopRun();
    }
    StatusCode s = set();
    if (s == KQFW_STATUS_BUSY && running_) {
        stopRun();
        s = set();
    }
    if (s != KQFW_STATUS_OK && explain) {
        *refusal = explain();
    }
    if (!running_) {
        if (StatusCode started = startRun(); started != KQFW_STATUS_OK && s == KQFW_STATUS_OK) {
            *refusal = "the run did not start again";
            s = started;
        }
    }
    return s;
}

StatusCode LiveCamera::withRunStopped(const std::function<StatusCode()>& work) {
    std::lock_guard lock(camera_);
    stopRun();
    const StatusCode s = work();
    const StatusCode started = startRun();
    return s != KQFW_STATUS_OK ? s : started;
}

void LiveCamera::setDisplay(const DisplayRange& range) {
    std::lock_guard lock(published_);
    range_ = range;
}

DisplayRange LiveCamera::display() {
    std::lock_guard lock(published_);
    return range_;
}

std::string LiveCamera::lastEvent() {
    std::lock_guard lock(published_);
    return event_;
}

}  // namespace kqview
