#include "sim/sim_bench.h"
#include <cmath>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/event.h"
#include "platform/memory.h"
#include "sim/sim_flash_image.h"
#include "transport/async_request.h"
#include "transport/driver_requests.h"

namespace kqfw::sim {

namespace {
constexpr double kMaxTimeScale = 1e6;
}

namespace {

constexpr uint16_t kLocalBus = 0x3FF;
constexpr uint16_t kMaxNodes = 63;
constexpr uint32_t kErrorNoResponse = kErrorSemTimeout;

std::string makePath(const KqsimCameraConfig& config) {
    char instance[512];
    if (config.instance != nullptr) {
        std::snprintf(instance, sizeof instance, "%s", config.instance);
    } else {
        std::snprintf(instance, sizeof instance, "%04x%08x", config.uniqueIdHigh & 0xFFFF,
                      config.uniqueIdLow);
    }
    const char* device = config.model == KQSIM_MODEL_KQC   ? "tolvan_opt&vestrix_kqc"
                         : config.model == KQSIM_MODEL_KQM ? "tolvan_opt&vestrix_kqm"
                                                           : "meridian&film_scanner";
    return std::string("\\\\?\\1394#") + device + "#" + instance + "#" + kCameraInterfaceClass;
}

bool sameClass(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::shared_ptr<SimBench::MappedBuffer> SimBench::MappedBuffer::allocate(size_t bytes) {
    auto* block = static_cast<uint8_t*>(allocZeroed(bytes));
    if (block == nullptr) {
        return nullptr;
    }
    auto* buffer = new (std::nothrow) MappedBuffer(block, bytes);
    if (buffer == nullptr) {
        freeZeroed(block);
        return nullptr;
    }
    return std::shared_ptr<MappedBuffer>(buffer);
}

SimBench::MappedBuffer::~MappedBuffer() {
    freeZeroed(bytes_);
}

SimBench& SimBench::instance() {
    static SimBench bench;
    return bench;
}

SimBench::SimBench() = default;

void SimBench::ensureBench() {
    if (!configured_) {
        resetLocked(true);
    }
}

void SimBench::reset(bool withDefaultCameras) {
    std::unique_lock lock(mutex_);
    // A receive in flight holds on to its camera: end it before the camera goes.
    for (Device& device : devices_) {
        device.receive.cancelled = true;
    }
    if (listener_ != nullptr) {
        listener_->benchReset();
    }
    changed_.notify_all();
    changed_.wait(lock, [this] {
        return std::none_of(devices_.begin(), devices_.end(),
                            [](const Device& d) { return d.receive.active; }) &&
               (listener_ == nullptr || !listener_->holdsCameras());
    });
    resetLocked(withDefaultCameras);
}

void SimBench::resetLocked(bool withDefaultCameras) {
    configured_ = true;
    for (auto& [id, handle] : handles_) {
        if (handle.pending != nullptr) {
            complete(handle, kErrorDeviceNotConnected);
        }
    }
    handles_.clear();
    devices_.clear();
    requestFaults_.clear();
    registerFaults_.clear();
    detailFailures_ = 0;
    requestCounts_.clear();
    bandwidth_.clear();
    resources_.clear();
    channels_ = 0;
    channelOwners_.clear();
    sceneKind_ = KQSIM_SCENE_SLIDE;
    sceneLevel_ = 0.6;
    sceneImage_.clear();
    ++sceneGeneration_;
    timeScale_ = 1.0;
    if (withDefaultCameras) {
        addCameraLocked(defaultCameraConfig(KQSIM_MODEL_KQC));
        addCameraLocked(defaultCameraConfig(KQSIM_MODEL_KQM));
    }
}

int32_t SimBench::addCamera(const KqsimCameraConfig& config) {
    std::lock_guard lock(mutex_);
    ensureBench();
    return addCameraLocked(config);
}

int32_t SimBench::addCameraLocked(const KqsimCameraConfig& config) {
    if (config.model > KQSIM_MODEL_FOREIGN || devices_.size() >= kMaxNodes ||
        (config.instance != nullptr && std::strlen(config.instance) > 400)) {
        return -1;
    }
    if (config.flashRecord == nullptr) {
        const uint64_t recordBytes =
            524 + 6ull * config.blemishCount + 4ull * config.markedPixelCount;
        if (kSimFlashRecordAddress + recordBytes > kSimFlashBytes ||
            (config.blemishCount > 0 && config.blemishPositions == nullptr) ||
            (config.markedPixelCount > 0 && config.markedPixelPositions == nullptr)) {
            return -1;
        }
    } else if (config.flashRecordBytes > kSimFlashBytes - kSimFlashRecordAddress) {
        return -1;
    }
    Device device;
    device.camera = std::make_unique<SimCamera>(config, makePath(config),
                                                static_cast<uint16_t>(devices_.size()));
    device.camera->setTimeScale(timeScale_);
    devices_.push_back(std::move(device));
    return static_cast<int32_t>(devices_.size() - 1);
}

SimBench::Device* SimBench::deviceFor(int32_t camera) {
    ensureBench();
    if (camera < 0 || static_cast<size_t>(camera) >= devices_.size()) {
        return nullptr;
    }
    return &devices_[camera];
}

int32_t SimBench::cameraCount() {
    std::lock_guard lock(mutex_);
    ensureBench();
    return static_cast<int32_t>(devices_.size());
}

bool SimBench::devicePath(int32_t camera, std::string* path) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    if (device == nullptr) {
        return false;
    }
    *path = device->camera->path();
    return true;
}

void SimBench::complete(Handle& handle, uint32_t result) {
    handle.lastResult = result;
    Event* event = handle.pending;
    handle.pending = nullptr;
    event->set();
}

bool SimBench::unplug(int32_t camera) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    if (device == nullptr) {
        return false;
    }
    device->present = false;
    // A node leaving the bus resets it: the others hear of it, the leaver's requests fail, and
    // what was allocated for the leaver lapses with the reset (its owner can no longer give it
    // back, and no one re-allocates it).
    for (auto& [id, handle] : handles_) {
        const bool leaver = &devices_[handle.device] == device;
        if (handle.pending != nullptr) {
            complete(handle, leaver ? kErrorDeviceNotConnected : 0);
        }
        if (leaver) {
            releaseIsoch(id);
        }
    }
    ++busGeneration_;
    if (listener_ != nullptr) {
        listener_->busReset(static_cast<size_t>(camera));
    }
    changed_.notify_all();
    return true;
}

void SimBench::busReset() {
    std::lock_guard lock(mutex_);
    for (auto& [id, handle] : handles_) {
        if (handle.pending != nullptr) {
            complete(handle, 0);
        }
    }
    // The cameras stop streaming, and the receives under way end.
    for (Device& device : devices_) {
        device.camera->busReset();
        if (device.receive.active) {
            device.receive.busReset = true;
        }
    }
    ++busGeneration_;
    if (listener_ != nullptr) {
        listener_->busReset(BenchListener::kNoLeaver);
    }
    changed_.notify_all();
}

void SimBench::setTimeScale(double scale) {
    std::lock_guard lock(mutex_);
    ensureBench();
    // 0 runs the cameras as fast as the bench can render; a scale that is not a finite
    // number of at least 0 would turn durations into nonsense.
    timeScale_ = scale >= 0 && std::isfinite(scale) && scale <= kMaxTimeScale ? scale : 1.0;
    for (Device& device : devices_) {
        device.camera->setTimeScale(timeScale_);
    }
}

void SimBench::failRequest(uint32_t code, uint32_t nth, uint32_t error) {
    std::lock_guard lock(mutex_);
    ensureBench();
    requestFaults_.push_back({code, nth == 0 ? 0 : nth - 1, nth == 0, error});
}

bool SimBench::failRegister(int32_t camera, uint32_t address, uint32_t access, uint32_t error) {
    std::lock_guard lock(mutex_);
    if (deviceFor(camera) == nullptr) {
        return false;
    }
    registerFaults_.push_back({static_cast<size_t>(camera), address, access, error});
    return true;
}

bool SimBench::setFlashError(int32_t camera, bool on) {
    return withCamera(camera, [on](SimCamera& c) { c.setFlashError(on); });
}

void SimBench::failInterfaceDetails(uint32_t count) {
    std::lock_guard lock(mutex_);
    ensureBench();
    detailFailures_ = count;
}

void SimBench::clearFaults() {
    std::lock_guard lock(mutex_);
    requestFaults_.clear();
    registerFaults_.clear();
    detailFailures_ = 0;
    for (Device& device : devices_) {
        device.camera->setFlashError(false);
        device.camera->clearFrameFaults();
    }
}

bool SimBench::peekRegister(int32_t camera, uint32_t address, uint32_t* value) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    return device != nullptr && device->camera->peek(address, value, Clock::now());
}

bool SimBench::readFlash(int32_t camera, uint32_t address, uint8_t* data, uint32_t bytes) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    if (device == nullptr || data == nullptr) {
        return false;
    }
    const std::vector<uint8_t>& flash = device->camera->flash();
    if (uint64_t{address} + bytes > flash.size()) {
        return false;
    }
    std::copy(flash.begin() + address, flash.begin() + address + bytes, data);
    return true;
}

int32_t SimBench::writeLog(int32_t camera, KqsimRegisterWrite* entries, uint32_t max) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    if (device == nullptr) {
        return -1;
    }
    const auto& log = device->camera->writeLog();
    for (size_t i = 0; entries != nullptr && i < log.size() && i < max; ++i) {
        entries[i] = {log[i].first, log[i].second};
    }
    return static_cast<int32_t>(log.size());
}

int32_t SimBench::readAddresses(int32_t camera, uint32_t* addresses, uint32_t max) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    if (device == nullptr) {
        return -1;
    }
    const std::set<uint32_t>& read = device->camera->readAddresses();
    uint32_t i = 0;
    for (auto it = read.begin(); addresses != nullptr && it != read.end() && i < max; ++it) {
        addresses[i++] = *it;
    }
    return static_cast<int32_t>(read.size());
}

int64_t SimBench::writesDropped(int32_t camera) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    return device == nullptr ? -1 : static_cast<int64_t>(device->camera->writesDropped());
}

bool SimBench::clearWriteLog(int32_t camera) {
    return withCamera(camera, [](SimCamera& c) { c.clearWriteLog(); });
}

uint32_t SimBench::requestCount(uint32_t code) {
    std::lock_guard lock(mutex_);
    auto it = requestCounts_.find(code);
    return it == requestCounts_.end() ? 0 : it->second;
}

uint32_t SimBench::openHandles() {
    std::lock_guard lock(mutex_);
    const uint32_t descriptors = listener_ != nullptr ? listener_->openDescriptors() : 0;
    return static_cast<uint32_t>(handles_.size()) + descriptors;
}

int32_t SimBench::firmwareStarts(int32_t camera) {
    std::lock_guard lock(mutex_);
    Device* device = deviceFor(camera);
    return device == nullptr ? -1 : device->camera->firmwareStarts();
}

std::optional<uint32_t> SimBench::requestFault(uint32_t code) {
    for (auto it = requestFaults_.begin(); it != requestFaults_.end(); ++it) {
        if (it->code != code) {
            continue;
        }
        if (it->every) {
            return it->error;
        }
        if (it->remaining == 0) {
            uint32_t error = it->error;
            requestFaults_.erase(it);
            return error;
        }
        --it->remaining;
    }
    return std::nullopt;
}

std::optional<uint32_t> SimBench::registerFault(size_t device, uint32_t address, uint32_t access) {
    for (const RegisterFault& fault : registerFaults_) {
        if (fault.device == device && fault.address == address && (fault.access & access)) {
            return fault.error;
        }
    }
    return std::nullopt;
}

std::vector<std::string> SimBench::listInterfaces(const std::string& interfaceClass) {
    std::lock_guard lock(mutex_);
    ensureBench();
    std::vector<std::string> paths;
    if (!sameClass(interfaceClass, kCameraInterfaceClass)) {
        return paths;
    }
    for (const Device& device : devices_) {
        if (!device.present) {
            continue;
        }
        if (detailFailures_ > 0) {
            --detailFailures_;
            break;
        }
        paths.push_back(device.camera->path());
    }
    return paths;
}

DeviceHandle SimBench::open(const std::string& path, bool overlapped, uint32_t* error) {
    std::lock_guard lock(mutex_);
    ensureBench();
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].present && devices_[i].camera->path() == path) {
            DeviceHandle id = nextHandle_++;
            Handle handle;
            handle.device = i;
            handle.overlapped = overlapped;
            handles_.emplace(id, std::move(handle));
            return id;
        }
    }
    *error = kErrorFileNotFound;
    return kInvalidDeviceHandle;
}

uint32_t SimBench::asyncTransaction(Handle& handle, bool write, const uint8_t* input,
                                    uint32_t inputBytes, uint8_t* output, uint32_t outputBytes,
                                    uint32_t* returned) {
    if (inputBytes < kAsyncRequestHeaderBytes || output == nullptr) {
        return kErrorInsufficientBuffer;
    }
    const AsyncRequestFields request = decodeAsyncRequest(input);
    const uint32_t n = request.byteCount;
    const bool quadlet = n == 4 && request.blockSize == 0;
    const bool block = n == 128 && request.blockSize == 128;
    if (!quadlet && !block) {
        return kErrorInvalidParameter;
    }
    if (inputBytes < asyncRequestLength(n) || outputBytes < asyncRequestLength(n)) {
        return kErrorInsufficientBuffer;
    }
    SimCamera& camera = *devices_[handle.device].camera;
    if (request.nodeId != ((kLocalBus << 6) | camera.nodeNumber())) {
        return kErrorNoResponse;
    }
    if (request.offsetHigh != 0xFFFF) {
        return kErrorGenFailure;
    }
    std::memmove(output, input, asyncRequestLength(n));
    const auto now = Clock::now();
    for (uint32_t q = 0; q < n / 4; ++q) {
        const uint32_t address = request.offsetLow + 4 * q;
        if (auto fault = registerFault(handle.device, address, write ? KQSIM_WRITE : KQSIM_READ)) {
            return *fault;
        }
        uint8_t* data = asyncRequestData(output) + 4 * q;
        uint32_t value = loadBe32(data);
        if (!write) {
            camera.noteRead(address);
        }
        uint32_t error = write ? camera.writeQuadlet(address, value, now)
                               : camera.readQuadlet(address, &value, now);
        if (error != 0) {
            return error;
        }
        storeBe32(data, value);
    }
    *returned = asyncRequestLength(n);
    return 0;
}

uint32_t SimBench::ioControl(DeviceHandle id, uint32_t code, const uint8_t* input,
                             uint32_t inputBytes, uint8_t* output, uint32_t outputBytes,
                             uint32_t* returned) {
    std::unique_lock lock(mutex_);
    // Whatever a request changes, a receive in flight may be waiting for it.
    struct Notify {
        std::condition_variable& cv;
        ~Notify() { cv.notify_all(); }
    } notify{changed_};
    ensureBench();
    *returned = 0;
    ++requestCounts_[code];
    auto it = handles_.find(id);
    if (it == handles_.end()) {
        return kErrorInvalidHandle;
    }
    Handle& handle = it->second;
    Device& device = devices_[handle.device];
    if (!device.present) {
        return kErrorDeviceNotConnected;
    }
    if (auto fault = requestFault(code)) {
        return *fault;
    }
    if (input == nullptr) {
        inputBytes = 0;
    }
    const DriverRequest r{input, inputBytes, output, outputBytes, returned};
    switch (code) {
        case kIoctlAsyncRead:
        case kIoctlAsyncWrite:
            return asyncTransaction(handle, code == kIoctlAsyncWrite, input, inputBytes, output,
                                    outputBytes, returned);
        case kIoctlGetNodeAddress:
            return answerNodeAddress(
                r, static_cast<uint16_t>((kLocalBus << 6) | device.camera->nodeNumber()));
        case kIoctlSetFrameEvent:
        case kIoctlSetTriggerEvent: {
            Event* event = nullptr;
            if (const uint32_t error = readEventRegistration(r, &event)) {
                return error;
            }
            (code == kIoctlSetFrameEvent ? device.frameEvent : device.triggerEvent) = event;
            return 0;
        }
        case kIoctlMapBuffers: {
            uint32_t sizeA = 0, sizeB = 0;
            if (const uint32_t error = readMapBuffers(r, &sizeA, &sizeB)) {
                return error;
            }
            if (sizeA == 0 && sizeB == 0) {
                handle.bufferA.reset();
                handle.bufferB.reset();
                answerMapBuffers(r, nullptr, nullptr);
            } else {
                if (uint64_t{sizeA} + sizeB > kMaxMappedBytes) {
                    return kErrorNotEnoughMemory;
                }
                handle.bufferA = MappedBuffer::allocate(std::max(sizeA, 1u));
                handle.bufferB = MappedBuffer::allocate(std::max(sizeB, 1u));
                if (!handle.bufferA || !handle.bufferB) {
                    handle.bufferA.reset();
                    handle.bufferB.reset();
                    return kErrorNotEnoughMemory;
                }
                answerMapBuffers(r, handle.bufferA->data(), handle.bufferB->data());
            }
            return 0;
        }
        case kIoctlBusResetNotify:
            // Only meaningful as an overlapped request.
            return kErrorInvalidParameter;
        default:
            return streamRequest(lock, id, handle, code, r);
    }
}

uint32_t SimBench::ioControlOverlapped(DeviceHandle id, uint32_t code, Event* completion) {
    std::lock_guard lock(mutex_);
    ensureBench();
    ++requestCounts_[code];
    auto it = handles_.find(id);
    if (it == handles_.end()) {
        return kErrorInvalidHandle;
    }
    Handle& handle = it->second;
    if (!devices_[handle.device].present) {
        return kErrorDeviceNotConnected;
    }
    if (auto fault = requestFault(code)) {
        return *fault;
    }
    if (code != kIoctlBusResetNotify) {
        return kErrorInvalidFunction;
    }
    if (!handle.overlapped || completion == nullptr || handle.pending != nullptr) {
        return kErrorInvalidParameter;
    }
    handle.pending = completion;
    handle.lastResult = kErrorIoPending;
    return kErrorIoPending;
}

uint32_t SimBench::overlappedResult(DeviceHandle id) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(id);
    return it == handles_.end() ? kErrorInvalidHandle : it->second.lastResult;
}

uint32_t SimBench::cancelIo(DeviceHandle id) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) {
        return kErrorInvalidHandle;
    }
    if (it->second.pending != nullptr) {
        complete(it->second, kErrorOperationAborted);
    }
    return 0;
}

void SimBench::close(DeviceHandle id) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) {
        return;
    }
    Handle& handle = it->second;
    if (handle.pending != nullptr) {
        complete(handle, kErrorOperationAborted);
    }
    const size_t device = handle.device;
    // The driver cleans up after a handle closed with its stream still set up.
    releaseIsoch(id);
    handles_.erase(it);
    changed_.notify_all();
    // The last handle of a device takes the event registrations with it.
    bool others = std::any_of(handles_.begin(), handles_.end(), [device](const auto& entry) {
        return entry.second.device == device;
    });
    if (!others && device < devices_.size()) {
        devices_[device].frameEvent = nullptr;
        devices_[device].triggerEvent = nullptr;
    }
}

}  // namespace kqfw::sim
