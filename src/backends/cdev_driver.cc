// The Linux FireWire backend: listing, opening, transactions, the node address, bus resets and
// the requests the driver keeps in user space.
#include "backends/cdev_driver.h"

#include <linux/firewire-constants.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <set>

#include "backends/cdev_driver_state.h"
#include "backends/cdev_node_path.h"
#include "platform/error_report.h"
#include "transport/async_request.h"
#include "transport/cdev_errors.h"
#include "transport/discovery.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

namespace {

constexpr size_t kRomBytes = 1024;
constexpr size_t kEventBytes = 4096;  // a response carries at most a block

uint64_t pointerValue(const void* p) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

// The node's identity and bus position; false when it cannot be read.
bool nodeInfo(CdevSystem& system, int fd, uint8_t* rom, size_t* romBytes,
              fw_cdev_event_bus_reset* reset) {
    fw_cdev_get_info info{};
    info.version = 5;
    info.rom_length = rom != nullptr ? kRomBytes : 0;
    info.rom = pointerValue(rom);
    info.bus_reset = pointerValue(reset);
    if (system.ioctl(fd, FW_CDEV_IOC_GET_INFO, &info) < 0) {
        return false;
    }
    if (romBytes != nullptr) {
        *romBytes = std::min<size_t>(info.rom_length, kRomBytes);
    }
    return true;
}

bool sameClass(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void reportNoAccess(const std::string& fwPath) {
    static std::mutex mutex;
    static std::set<std::string> told;
    bool first = false;
    {
        std::lock_guard lock(mutex);
        first = told.insert(fwPath).second;
    }
    // Outside the lock: the application's message sink may call the library, which may come
    // back here.
    if (first) {
        reportError(
            "cannot open %s: permission denied. Install the udev rule 60-kqfw-cameras.rules "
            "into /etc/udev/rules.d (cmake --install puts it in <prefix>/lib/udev/rules.d), "
            "run `udevadm control --reload` and plug the camera in again.",
            fwPath.c_str());
    }
}

}  // namespace

CdevDriver::CdevDriver(CdevSystem& system) : system_(system) {}

CdevDriver::~CdevDriver() {
    std::vector<DeviceHandle> open;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, handle] : handles_) {
            open.push_back(id);
        }
    }
    for (DeviceHandle id : open) {
        close(id);
    }
}

std::vector<std::string> CdevDriver::listInterfaces(const std::string& interfaceClass) {
    std::vector<std::string> paths;
    if (!sameClass(interfaceClass, kCameraInterfaceClass)) {
        return paths;
    }
    std::map<std::string, std::string> found;
    for (const std::string& fwPath : system_.listNodes()) {
        const int fd = system_.open(fwPath);
        if (fd < 0) {
            if (fd == -EACCES && !probing_) {
                reportNoAccess(fwPath);
            }
            continue;
        }
        uint8_t rom[kRomBytes] = {};
        size_t romBytes = 0;
        fw_cdev_event_bus_reset reset{};
        NodeIdentity identity;
        const bool read = nodeInfo(system_, fd, rom, &romBytes, &reset);
        system_.close(fd);
        if (read && reset.node_id != reset.local_node_id &&
            parseConfigRom(rom, romBytes, &identity)) {
            const std::string path = devicePathOf(identity);
            found[path] = fwPath;
            paths.push_back(path);
        }
    }
    std::lock_guard lock(mutex_);
    nodePaths_ = std::move(found);
    return paths;
}

bool CdevDriver::findsCamera() {
    // A machine whose controller node is closed to users is common and no fault: the probe
    // stays quiet, and a camera chosen explicitly says what is wrong.
    probing_ = true;
    const std::vector<std::string> paths = listInterfaces(kCameraInterfaceClass);
    probing_ = false;
    return std::any_of(paths.begin(), paths.end(), [](const std::string& path) {
        return isColourPath(path) || isMonoPath(path);
    });
}

DeviceHandle CdevDriver::open(const std::string& path, bool overlapped, uint32_t* error) {
    std::string fwPath;
    {
        std::lock_guard lock(mutex_);
        auto it = nodePaths_.find(path);
        if (it != nodePaths_.end()) {
            fwPath = it->second;
        }
    }
    if (fwPath.empty()) {
        listInterfaces(kCameraInterfaceClass);
        std::lock_guard lock(mutex_);
        auto it = nodePaths_.find(path);
        if (it == nodePaths_.end()) {
            *error = kErrorFileNotFound;
            return kInvalidDeviceHandle;
        }
        fwPath = it->second;
    }
    const int fd = system_.open(fwPath);
    if (fd < 0) {
        if (fd == -EACCES) {
            reportNoAccess(fwPath);
        }
        *error = errorOfErrno(-fd);
        return kInvalidDeviceHandle;
    }
    // A node number is given again to the next device plugged in: the ROM says who is there.
    uint8_t rom[kRomBytes] = {};
    size_t romBytes = 0;
    fw_cdev_event_bus_reset reset{};
    NodeIdentity identity;
    if (!nodeInfo(system_, fd, rom, &romBytes, &reset) ||
        !parseConfigRom(rom, romBytes, &identity) || devicePathOf(identity) != path) {
        system_.close(fd);
        *error = kErrorFileNotFound;
        return kInvalidDeviceHandle;
    }
    auto handle = std::make_shared<Handle>();
    handle->fd = fd;
    handle->overlapped = overlapped;
    DeviceHandle id;
    {
        std::lock_guard lock(mutex_);
        std::shared_ptr<Node>& node = nodes_[path];
        if (node == nullptr || node->gone || node->fwPath != fwPath) {
            node = std::make_shared<Node>();
            node->fwPath = fwPath;
        }
        node->nodeId = reset.node_id;
        node->generation = reset.generation;
        handle->node = node;
        id = nextHandle_++;
        handles_[id] = handle;
    }
    if (!handle->reader.startForDriver([this, handle] { readEvents(handle); })) {
        std::lock_guard lock(mutex_);
        handles_.erase(id);
        system_.close(fd);
        *error = kErrorNotEnoughMemory;
        return kInvalidDeviceHandle;
    }
    return id;
}

std::shared_ptr<CdevDriver::Handle> CdevDriver::handleOf(DeviceHandle id) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(id);
    return it == handles_.end() ? nullptr : it->second;
}

// The node's events, in the order the kernel gives them, until the handle closes or the node
// goes.
void CdevDriver::readEvents(const std::shared_ptr<Handle>& handle) {
    alignas(8) uint8_t event[kEventBytes];
    for (;;) {
        const int ready = system_.poll(handle->fd, -1);
        if (handle->stop) {
            return;
        }
        long n = 0;
        if (ready > 0) {
            n = system_.read(handle->fd, event, sizeof event);
        }
        if (ready < 0 || n < 0) {
            {
                std::lock_guard lock(mutex_);
                handle->node->gone = true;
                if (handle->node->receive.fd >= 0) {
                    system_.wake(handle->node->receive.fd);
                }
            }
            std::lock_guard lock(handle->mutex);
            handle->gone = true;
            if (handle->pending != nullptr) {
                handle->complete(kErrorDeviceNotConnected);
            }
            handle->answered.notify_all();
            return;
        }
        if (n < static_cast<long>(sizeof(fw_cdev_event_common))) {
            continue;
        }
        fw_cdev_event_common common;
        std::memcpy(&common, event, sizeof common);
        switch (common.type) {
            case FW_CDEV_EVENT_BUS_RESET: {
                fw_cdev_event_bus_reset reset{};
                std::memcpy(&reset, event, std::min<size_t>(n, sizeof reset));
                {
                    // Each handle of the node reads every reset: the first to read a generation
                    // acts for the node, and one reading late must not end a receive started
                    // since or take the generation back.
                    std::lock_guard lock(mutex_);
                    Node& node = *handle->node;
                    const bool newer = static_cast<int32_t>(reset.generation - node.generation) > 0;
                    if (newer) {
                        node.nodeId = reset.node_id;
                        node.generation = reset.generation;
                    }
                    if (newer && node.receive.active) {
                        node.receive.busReset = true;
                        system_.wake(node.receive.fd);
                    }
                }
                std::lock_guard lock(handle->mutex);
                if (handle->pending != nullptr) {
                    handle->complete(0);
                } else {
                    handle->resetUnseen = true;
                }
                break;
            }
            case FW_CDEV_EVENT_RESPONSE: {
                // The data follow the fixed fields, before the record's own padding.
                constexpr size_t kData = offsetof(fw_cdev_event_response, data);
                if (n < static_cast<long>(kData)) {
                    break;
                }
                fw_cdev_event_response response{};
                std::memcpy(&response, event, kData);
                const size_t bytes = std::min<size_t>(response.length, n - kData);
                std::lock_guard lock(handle->mutex);
                auto it = handle->answers.find(common.closure);
                if (it != handle->answers.end()) {
                    it->second.rcode = response.rcode;
                    it->second.data.assign(event + kData, event + kData + bytes);
                    it->second.done = true;
                    handle->answered.notify_all();
                }
                break;
            }
            case FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED:
            case FW_CDEV_EVENT_ISO_RESOURCE_DEALLOCATED: {
                fw_cdev_event_iso_resource resource{};
                std::memcpy(&resource, event, std::min<size_t>(n, sizeof resource));
                std::lock_guard lock(handle->mutex);
                auto it = handle->answers.find(common.closure);
                if (it != handle->answers.end()) {
                    it->second.channel = resource.channel;
                    it->second.bandwidth = resource.bandwidth;
                    it->second.done = true;
                    handle->answered.notify_all();
                }
                break;
            }
            default:
                break;
        }
    }
}

uint32_t CdevDriver::transaction(Handle& handle, bool write, uint8_t* buffer, uint32_t inputBytes,
                                 uint32_t outputBytes, uint32_t* returned) {
    if (buffer == nullptr || inputBytes < kAsyncRequestHeaderBytes) {
        return kErrorInsufficientBuffer;
    }
    const AsyncRequestFields request = decodeAsyncRequest(buffer);
    const uint32_t n = request.byteCount;
    const bool quadlet = n == kQuadletBytes && request.blockSize == 0;
    const bool block = n == kBlockBytes && request.blockSize == kBlockBytes;
    if (!quadlet && !block) {
        return kErrorInvalidParameter;
    }
    if (inputBytes < asyncRequestLength(n) || outputBytes < asyncRequestLength(n)) {
        return kErrorInsufficientBuffer;
    }
    fw_cdev_send_request send{};
    {
        std::lock_guard lock(mutex_);
        if (handle.node->gone) {
            return kErrorDeviceNotConnected;
        }
        // The descriptor is the node: a request for another node finds no one to answer it.
        if (request.nodeId != handle.node->nodeId) {
            return kErrorSemTimeout;
        }
        send.generation = handle.node->generation;
        send.closure = nextClosure_++;
    }
    uint8_t* data = asyncRequestData(buffer);
    send.tcode = write ? (quadlet ? TCODE_WRITE_QUADLET_REQUEST : TCODE_WRITE_BLOCK_REQUEST)
                       : (quadlet ? TCODE_READ_QUADLET_REQUEST : TCODE_READ_BLOCK_REQUEST);
    send.length = n;
    send.offset = uint64_t{request.offsetHigh} << 32 | request.offsetLow;
    send.data = write ? pointerValue(data) : 0;
    std::unique_lock lock(handle.mutex);
    if (handle.gone) {
        return kErrorDeviceNotConnected;
    }
    handle.answers[send.closure] = {};
    lock.unlock();
    const int sent = system_.ioctl(handle.fd, FW_CDEV_IOC_SEND_REQUEST, &send);
    lock.lock();
    // The kernel answers every request it took, at the latest with its own time-out.
    if (sent >= 0) {
        handle.answered.wait(lock,
                             [&] { return handle.answers[send.closure].done || handle.gone; });
    }
    const CdevAnswer answer = std::move(handle.answers[send.closure]);
    handle.answers.erase(send.closure);
    if (sent < 0) {
        return errorOfErrno(-sent);
    }
    if (!answer.done) {
        return kErrorDeviceNotConnected;
    }
    if (const uint32_t error = errorOfResponseCode(answer.rcode)) {
        return error;
    }
    if (!write) {
        std::memcpy(data, answer.data.data(), std::min<size_t>(n, answer.data.size()));
    }
    *returned = asyncRequestLength(n);
    return 0;
}

uint32_t CdevDriver::writeRegister(Handle& handle, uint32_t address, const uint8_t* busOrder) {
    AsyncRequestBuffer buffer{};
    AsyncRequestFields fields;
    {
        std::lock_guard lock(mutex_);
        fields.nodeId = handle.node->nodeId;
    }
    fields.offsetLow = address;
    fields.byteCount = kQuadletBytes;
    encodeAsyncRequest(fields, buffer.data());
    std::memcpy(asyncRequestData(buffer.data()), busOrder, kQuadletBytes);
    uint32_t returned = 0;
    const uint32_t length = asyncRequestLength(kQuadletBytes);
    return transaction(handle, true, buffer.data(), length, length, &returned);
}

uint32_t CdevDriver::ioControl(DeviceHandle id, uint32_t code, const void* input,
                               uint32_t inputBytes, void* output, uint32_t outputBytes,
                               uint32_t* returned) {
    *returned = 0;
    std::shared_ptr<Handle> handle = handleOf(id);
    if (handle == nullptr) {
        return kErrorInvalidHandle;
    }
    {
        std::lock_guard lock(mutex_);
        if (handle->node->gone) {
            return kErrorDeviceNotConnected;
        }
    }
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    if (in == nullptr) {
        inputBytes = 0;
    }
    switch (code) {
        case kIoctlAsyncRead:
        case kIoctlAsyncWrite: {
            if (out == nullptr) {
                return kErrorInsufficientBuffer;
            }
            if (in != nullptr && in != out) {
                std::memmove(out, in, std::min(inputBytes, outputBytes));
            }
            return transaction(*handle, code == kIoctlAsyncWrite, out, inputBytes, outputBytes,
                               returned);
        }
        case kIoctlBusResetNotify:
            return kErrorInvalidParameter;
        default:
            return isoRequest(id, *handle, code, {in, inputBytes, out, outputBytes, returned});
    }
}

uint32_t CdevDriver::ioControlOverlapped(DeviceHandle id, uint32_t code, Event* completion) {
    std::shared_ptr<Handle> handle = handleOf(id);
    if (handle == nullptr) {
        return kErrorInvalidHandle;
    }
    if (code != kIoctlBusResetNotify) {
        return kErrorInvalidFunction;
    }
    std::lock_guard lock(handle->mutex);
    if (handle->gone) {
        return kErrorDeviceNotConnected;
    }
    if (!handle->overlapped || completion == nullptr || handle->pending != nullptr) {
        return kErrorInvalidParameter;
    }
    handle->pending = completion;
    handle->lastResult = kErrorIoPending;
    if (handle->resetUnseen) {
        handle->resetUnseen = false;
        handle->complete(0);
    }
    return kErrorIoPending;
}

uint32_t CdevDriver::overlappedResult(DeviceHandle id) {
    std::shared_ptr<Handle> handle = handleOf(id);
    if (handle == nullptr) {
        return kErrorInvalidHandle;
    }
    std::lock_guard lock(handle->mutex);
    return handle->lastResult;
}

uint32_t CdevDriver::cancelIo(DeviceHandle id) {
    std::shared_ptr<Handle> handle = handleOf(id);
    if (handle == nullptr) {
        return kErrorInvalidHandle;
    }
    std::lock_guard lock(handle->mutex);
    if (handle->pending != nullptr) {
        handle->complete(kErrorOperationAborted);
    }
    return 0;
}

void CdevDriver::close(DeviceHandle id) {
    std::shared_ptr<Handle> handle;
    {
        // The handle is taken out of the table first: of two closes of one handle, one closes.
        std::lock_guard lock(mutex_);
        auto it = handles_.find(id);
        if (it == handles_.end()) {
            return;
        }
        handle = it->second;
        handles_.erase(it);
        const bool others = std::any_of(handles_.begin(), handles_.end(), [&](const auto& entry) {
            return entry.second->node == handle->node;
        });
        if (!others) {
            handle->node->frameEvent = nullptr;
            handle->node->triggerEvent = nullptr;
        }
    }
    // What the handle allocated goes back while its events can still be read.
    releaseOwned(id, *handle);
    handle->stop = true;
    system_.wake(handle->fd);
    handle->reader.join();
    {
        // A request another thread still waits on through this handle has no reader left.
        std::lock_guard lock(handle->mutex);
        handle->gone = true;
        handle->answered.notify_all();
        if (handle->pending != nullptr) {
            handle->complete(kErrorOperationAborted);
        }
    }
    system_.close(handle->fd);
}

}  // namespace kqfw
