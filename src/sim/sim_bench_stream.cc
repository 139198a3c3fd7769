// The driver's isochronous side: bandwidth, channels and receive resources, the start command,
// receives that block until their frames are in, and the scenes the cameras see.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "platform/event.h"
#include "sim/sim_bench.h"
#include "transport/async_request.h"
#include "transport/driver_requests.h"

namespace kqfw::sim {

namespace {

constexpr uint32_t kBusBandwidthBytes = 4915;  // bytes a 125 µs cycle carries at S400
constexpr int kChannels = 64;
constexpr size_t kMaxResources = 8;

uint32_t byteSwap(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

}  // namespace

int32_t SimBench::lastFrame(int32_t camera, uint16_t* samples, uint32_t maxSamples, uint32_t* width,
                            uint32_t* height) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    if (device == nullptr) {
        return -1;
    }
    static const std::vector<uint16_t> none;
    const std::vector<uint16_t>& last = device->lastFrame ? device->lastFrame->samples : none;
    const size_t n = std::min<size_t>(last.size(), maxSamples);
    if (samples != nullptr) {
        std::copy_n(last.begin(), n, samples);
    }
    if (width != nullptr) {
        *width = device->lastWidth;
    }
    if (height != nullptr) {
        *height = device->lastHeight;
    }
    return static_cast<int32_t>(last.size());
}

uint32_t SimBench::bandwidthInUse() {
    std::lock_guard lock(mutex_);
    uint32_t bytes = 0;
    for (const auto& [id, b] : bandwidth_) {
        bytes += b.bytes;
    }
    return bytes;
}

void SimBench::releaseIsoch(DeviceHandle owner) {
    for (auto* table : {&bandwidth_, &resources_}) {
        for (auto it = table->begin(); it != table->end();) {
            it = it->second.owner == owner ? table->erase(it) : std::next(it);
        }
    }
    for (auto it = channelOwners_.begin(); it != channelOwners_.end();) {
        if (it->second == owner) {
            channels_ &= ~(uint64_t{1} << it->first);
            it = channelOwners_.erase(it);
        } else {
            ++it;
        }
    }
}

std::shared_ptr<const Scene> SimBench::sceneFor(Device& device) {
    if (device.scene == nullptr || device.sceneGeneration != sceneGeneration_) {
        const SensorModel& sensor = device.camera->sensor();
        switch (sceneKind_) {
            case KQSIM_SCENE_FLAT:
                device.scene = Scene::flat(sceneLevel_);
                break;
            case KQSIM_SCENE_DARK:
                device.scene = Scene::flat(0.0);
                break;
            case KQSIM_SCENE_IMAGE:
                device.scene = Scene::image(sceneImage_.data(), sceneWidth_, sceneHeight_,
                                            sceneChannels_, sensor.width, sensor.height);
                break;
            default:
                device.scene = Scene::testSlide(sensor.width, sensor.height);
        }
        device.sceneGeneration = sceneGeneration_;
    }
    return device.scene;
}

void SimBench::setScene(uint32_t kind, double level, const uint16_t* samples, uint32_t width,
                        uint32_t height, uint32_t channels) {
    std::lock_guard lock(mutex_);
    ensureBench();
    sceneKind_ = kind;
    sceneLevel_ = level;
    if (kind == KQSIM_SCENE_IMAGE) {
        sceneImage_.assign(samples, samples + size_t{width} * height * channels);
        sceneWidth_ = width;
        sceneHeight_ = height;
        sceneChannels_ = channels;
    }
    ++sceneGeneration_;
}

bool SimBench::setNoise(int32_t camera, bool on) {
    return withCamera(camera, [on](SimCamera& c) { c.setNoise(on); });
}

bool SimBench::setIllumination(int32_t camera, double level, double driftPerShot) {
    return withCamera(camera, [=](SimCamera& c) { c.setIllumination(level, driftPerShot); });
}

bool SimBench::trigger(int32_t camera) {
    return withCamera(camera, [this](SimCamera& c) {
        c.triggerPulse(Clock::now());
        changed_.notify_all();
    });
}

bool SimBench::dropFrame(int32_t camera, uint32_t nth) {
    return withCamera(camera, [nth](SimCamera& c) { c.dropFrame(nth); });
}

bool SimBench::delayFrame(int32_t camera, uint32_t nth, uint32_t delayMs) {
    return withCamera(camera, [=](SimCamera& c) { c.delayFrame(nth, delayMs); });
}

bool SimBench::groundTruth(int32_t camera, uint32_t scale, uint32_t left, uint32_t top,
                           uint32_t width, uint32_t height, uint16_t* out) {
    std::shared_ptr<const Scene> scene;
    SensorModel sensor;
    {
        std::lock_guard lock(mutex_);
        Device* device = deviceFor(camera);
        if (device == nullptr) {
            return false;
        }
        scene = sceneFor(*device);
        sensor = device->camera->sensor();
    }
    if (uint64_t{left} + width > uint64_t{sensor.width} * scale ||
        uint64_t{top} + height > uint64_t{sensor.height} * scale) {
        return false;
    }
    // White lands where a nominal 100 ms exposure puts it on the green channel.
    const double white = sensor.whiteDnPerMs * 100.0;
    auto level = [white](double radiance) {
        return static_cast<uint16_t>(
            std::clamp(std::lround(kPedestal + white * radiance), 0L, long(kFullScale)));
    };
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            float rgb[3];
            scene->radianceAt((left + x + 0.5) / scale, (top + y + 0.5) / scale, rgb);
            const size_t i = size_t{y} * width + x;
            if (sensor.mono) {
                out[i] = level((rgb[0] + rgb[1] + rgb[2]) / 3.0);
            } else {
                out[3 * i] = level(rgb[2]);
                out[3 * i + 1] = level(rgb[1]);
                out[3 * i + 2] = level(rgb[0]);
            }
        }
    }
    return true;
}

uint32_t SimBench::streamRequest(std::unique_lock<std::mutex>& lock, DeviceHandle id,
                                 Handle& handle, uint32_t code, const DriverRequest& r) {
    Device& device = devices_[handle.device];
    switch (code) {
        case kIoctlSetStartCommand: {
            kqfw::StartCommand start;
            if (const uint32_t error = readStartCommand(r, &start)) {
                return error;
            }
            uint32_t probe = 0;
            if (start.node != ((0x3FF << 6) | device.camera->nodeNumber()) ||
                start.addressHigh != kRegisterSpaceHigh ||
                !device.camera->peek(start.address, &probe, Clock::now())) {
                return kErrorInvalidParameter;
            }
            device.start = {true, start.value, start.address, start.waitMs};
            return 0;
        }
        case kIoctlIsochAllocateBandwidth: {
            BandwidthRequest ask;
            if (const uint32_t error = readBandwidthRequest(r, &ask)) {
                return error;
            }
            uint32_t used = 0;
            for (const auto& [h, b] : bandwidth_) {
                used += b.bytes;
            }
            if (ask.speed > kSpeedS400 || ask.bytesPerCycle == 0 ||
                used + ask.bytesPerCycle > kBusBandwidthBytes) {
                return kErrorNotEnoughMemory;
            }
            const uint64_t h = nextIsochHandle_++;
            bandwidth_[h] = {id, ask.bytesPerCycle, 0, handle.device};
            answerBandwidth(r, h, kBusBandwidthBytes - used - ask.bytesPerCycle);
            return 0;
        }
        case kIoctlIsochAllocateChannel: {
            uint32_t wanted = 0;
            if (const uint32_t error = readChannelRequest(r, &wanted)) {
                return error;
            }
            int channel = -1;
            for (int c = 0; c < kChannels && channel < 0; ++c) {
                if ((wanted == kAnyChannel || wanted == uint32_t(c)) && !(channels_ >> c & 1)) {
                    channel = c;
                }
            }
            if (channel < 0) {
                return kErrorNotEnoughMemory;
            }
            channels_ |= uint64_t{1} << channel;
            channelOwners_[channel] = id;
            answerChannel(r, static_cast<uint32_t>(channel), ~channels_);
            return 0;
        }
        case kIoctlIsochAllocateResources: {
            ResourceRequest ask;
            if (const uint32_t error = readResourceRequest(r, &ask)) {
                return error;
            }
            if (ask.speed > kSpeedS400 || ask.channel >= kChannels ||
                !(channels_ >> ask.channel & 1) || ask.buffers == 0 ||
                resources_.size() >= kMaxResources) {
                return kErrorNotEnoughMemory;
            }
            const uint64_t h = nextIsochHandle_++;
            resources_[h] = {id, 0, ask.channel, handle.device};
            answerResources(r, h);
            return 0;
        }
        case kIoctlIsochFreeResources:
        case kIoctlIsochFreeBandwidth: {
            auto& table = code == kIoctlIsochFreeResources ? resources_ : bandwidth_;
            uint64_t h = 0;
            if (const uint32_t error = readHandle(r, &h)) {
                return error;
            }
            return table.erase(h) == 1 ? 0 : kErrorInvalidParameter;
        }
        case kIoctlIsochFreeChannel: {
            uint32_t channel = 0;
            if (const uint32_t error = readQuadlet(r, &channel)) {
                return error;
            }
            if (channel >= kChannels || !(channels_ >> channel & 1)) {
                return kErrorInvalidParameter;
            }
            channels_ &= ~(uint64_t{1} << channel);
            channelOwners_.erase(channel);
            return 0;
        }
        case kIoctlSelectBuffer: {
            uint32_t which = 0;
            if (const uint32_t error = readQuadlet(r, &which)) {
                return error;
            }
            if (which > 1) {
                return kErrorInvalidParameter;
            }
            device.selectAux = which == 1;
            return 0;
        }
        case kIoctlIsochAttachBuffers:
            return attach(lock, handle, handle.device, r);
        case kIoctlIsochStop: {
            uint64_t resource = 0;
            if (const uint32_t error = readStop(r, &resource)) {
                return error;
            }
            if (resources_.count(resource) == 0) {
                return kErrorInvalidParameter;
            }
            if (device.receive.active && device.receive.resource == resource) {
                device.receive.stopped = true;
            }
            return 0;
        }
        case kIoctlCancelReceive:
            if (device.receive.active) {
                device.receive.cancelled = true;
            }
            return 0;
        case kIoctlGetReceiveStatus:
            return answerReceiveStatus(r, device.receive.status);
        default:
            return kErrorInvalidFunction;
    }
}

SimBench::Rendered SimBench::render(std::unique_lock<std::mutex>& lock, Device& device,
                                    const FrameRequest& request) {
    const SimCamera& camera = *device.camera;
    const StreamGeometry geometry = camera.geometry();
    std::shared_ptr<const Scene> scene = sceneFor(device);
    const SensorModel sensor = camera.sensor();
    const Rendered& last = device.lastFrame;
    auto same = [&](const FrameRequest& a, const FrameRequest& b) {
        return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height &&
               a.binX == b.binX && a.binY == b.binY && a.exposureMs == b.exposureMs &&
               a.dx == b.dx && a.dy == b.dy && a.illumination == b.illumination;
    };
    if (!sensor.noise && last != nullptr && last->coding == geometry.coding &&
        last->sceneGeneration == device.sceneGeneration && same(last->request, request) &&
        last->bytes.size() >= geometry.payloadBytes) {
        return last;
    }
    auto frame = std::make_shared<RenderedFrame>();
    frame->request = request;
    frame->coding = geometry.coding;
    frame->sceneGeneration = device.sceneGeneration;
    const uint64_t pixels = uint64_t{geometry.deliveredWidth} * geometry.deliveredHeight;
    frame->samples.resize(pixels);
    frame->bytes.assign(geometry.payloadBytes, 0);
    // The camera reads out while the bench serves other requests.
    lock.unlock();
    renderSamples(sensor, *scene, request, frame->samples.data());
    encodeSamples(geometry.coding, frame->samples.data(), pixels, frame->bytes.data());
    lock.lock();
    return frame;
}

SimBench::FrameStep SimBench::produceFrame(std::unique_lock<std::mutex>& lock, Device& device,
                                           bool timed, Clock::time_point deadline,
                                           ProducedFrame* produced) {
    SimCamera& camera = *device.camera;
    PlannedFrame frame;
    const auto now = Clock::now();
    const bool planned = camera.nextFrame(now, &frame);
    // The wait is judged on the camera's own clock: a frame it delivers before the deadline
    // arrives, however late this thread gets to it on a loaded machine.
    const bool inTime = planned && frame.due <= deadline;
    if (timed && !inTime && now >= deadline) {
        camera.abandonDelayedFrame();
        return FrameStep::kTimedOut;
    }
    if (!planned) {
        if (timed) {
            changed_.wait_until(lock, deadline);
        } else {
            changed_.wait(lock);
        }
        return FrameStep::kWaited;
    }
    if (now < frame.due) {
        changed_.wait_until(lock, timed && !inTime ? std::min(frame.due, deadline) : frame.due);
        return FrameStep::kWaited;
    }
    camera.frameDelivered(now);
    if (frame.dropped) {
        return FrameStep::kLost;
    }
    produced->geometry = camera.geometry();
    produced->rendered = render(lock, device, frame.request);
    return FrameStep::kFrame;
}

uint32_t SimBench::attach(std::unique_lock<std::mutex>& lock, Handle& handle, size_t index,
                          const DriverRequest& request) {
    AttachRequest ask;
    if (const uint32_t error = readAttach(request, &ask)) {
        return error;
    }
    Device& device = devices_[index];
    auto owned = resources_.find(ask.resource);
    Buffer buffer = device.selectAux ? handle.bufferB : handle.bufferA;
    if (owned == resources_.end() || owned->second.device != index || ask.count == 0 ||
        ask.count > kRingSlots || ask.frameBytes == 0 || buffer == nullptr ||
        device.receive.active) {
        return kErrorInvalidParameter;
    }
    if (!ask.fits(buffer->size())) {
        return kErrorInsufficientBuffer;
    }
    const uint64_t resource = ask.resource;
    const uint32_t count = ask.count;
    const uint32_t frameBytes = ask.frameBytes;
    const uint32_t slotBytes = ringSlotBytes(frameBytes);
    SimCamera& camera = *device.camera;
    Receive& receive = device.receive;
    receive = Receive{};
    receive.active = true;
    receive.resource = resource;
    receive.count = count;
    receive.frameBytes = frameBytes;
    receive.slotBytes = slotBytes;
    receive.buffer = buffer;
    if (device.start.set) {
        camera.writeQuadlet(device.start.address, byteSwap(device.start.value), Clock::now());
    }
    const bool startedContinuous = camera.continuous();
    // The driver gives a single frame the start command's wait before it fails the receive.
    const bool timed = count == 1 && device.start.set && device.start.waitMs != 0;
    const auto deadline =
        Clock::now() +
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(device.start.waitMs) * timeScale_);
    if (device.triggerEvent != nullptr) {
        device.triggerEvent->set();
    }
    uint32_t result = 0;
    int32_t frames = 0;
    for (;;) {
        if (receive.cancelled) {
            result = kErrorOperationAborted;
            break;
        }
        if (receive.busReset) {
            result = kErrorBusReset;
            break;
        }
        if (receive.stopped || (count == 1 && frames == 1)) {
            break;
        }
        if (!device.present) {
            result = kErrorDeviceNotConnected;
            break;
        }
        // A streaming run ends when the camera stops streaming.
        if (count > 1 && startedContinuous && !camera.continuous()) {
            break;
        }
        ProducedFrame produced;
        const FrameStep step = produceFrame(lock, device, timed, deadline, &produced);
        if (step == FrameStep::kTimedOut) {
            result = kErrorSemTimeout;
            break;
        }
        if (step == FrameStep::kWaited) {
            continue;
        }
        if (step == FrameStep::kLost) {
            ++receive.status.lost;
            continue;
        }
        const StreamGeometry& geometry = produced.geometry;
        Rendered rendered = std::move(produced.rendered);
        if (receive.cancelled || receive.stopped || receive.busReset) {
            continue;
        }
        device.lastFrame = rendered;
        device.lastWidth = geometry.deliveredWidth;
        device.lastHeight = geometry.deliveredHeight;
        const std::vector<uint8_t>& bytes = rendered->bytes;
        const uint32_t slot = static_cast<uint32_t>(frames) % count;
        // The transfer fills the slot while the bus serves other requests.
        lock.unlock();
        std::memcpy(buffer->data() + size_t{slot} * slotBytes, bytes.data(),
                    std::min<size_t>(frameBytes, bytes.size()));
        lock.lock();
        if (receive.cancelled || receive.stopped || receive.busReset) {
            continue;
        }
        receive.status.newest = frames;
        receive.status.slotValues[slot % kRingSlots] = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch_).count());
        ++frames;
        if (device.frameEvent != nullptr) {
            device.frameEvent->set();
        }
        // Between frames the other requests get the bus, also when frames come back to back
        // (time scale 0, a rendering repeated).
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
    }
    receive.active = false;
    receive.buffer.reset();
    changed_.notify_all();
    return result;
}

}  // namespace kqfw::sim
