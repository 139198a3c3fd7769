// The kernel node's descriptors: opening and listing nodes, the event queue a client reads and
// polls, the node information with its bus-reset record, and asynchronous transactions.
#include "sim/sim_fw_node.h"

#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "transport/cdev_errors.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

CdevSystem* simCdevSystem() {
    return &sim::SimFwNode::instance();
}

void simFwNodeDenyAccess(int32_t camera, bool deny) {
    sim::SimFwNode::instance().denyAccess(camera, deny);
}

namespace sim {

namespace {

// The kernel interface the node speaks: 5 has the flush request.
constexpr uint32_t kKernelInterfaceVersion = 5;

constexpr char kNodePrefix[] = "/dev/fw";
constexpr uint32_t kMaxBlockBytes = 2048;
// A camera's node number is one more than its position, and 63 is the broadcast address.
constexpr size_t kMaxListedCameras = 62;

void storeBe(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

uint32_t loadBe(const uint8_t* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

// The node a path names: 0 for the controller, N for camera N - 1; -1 for no node path.
long nodeOfPath(const std::string& path) {
    const size_t prefix = sizeof kNodePrefix - 1;
    if (path.compare(0, prefix, kNodePrefix) != 0 || path.size() == prefix ||
        path.size() > prefix + 3) {
        return -1;
    }
    long node = 0;
    for (size_t i = prefix; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9' ||
            (i == prefix && path[i] == '0' && path.size() > i + 1)) {
            return -1;
        }
        node = node * 10 + (path[i] - '0');
    }
    return node;
}

}  // namespace

SimFwNode& SimFwNode::instance() {
    // Never destroyed: a producer the program never stopped must not outlive its node.
    static SimFwNode* node = new SimFwNode(SimBench::instance());
    return *node;
}

SimFwNode::SimFwNode(SimBench& bench) : bench_(bench) {
    std::lock_guard lock(bench_.mutex_);
    bench_.listener_ = this;
}

void SimFwNode::denyAccess(int32_t camera, bool deny) {
    std::lock_guard lock(bench_.mutex_);
    if (camera < 0) {
        return;
    }
    if (deny) {
        denied_.insert(static_cast<size_t>(camera));
    } else {
        denied_.erase(static_cast<size_t>(camera));
    }
}

SimFwNode::DescriptorPtr SimFwNode::find(int fd) {
    auto it = descriptors_.find(fd);
    return it == descriptors_.end() ? nullptr : it->second;
}

uint32_t SimFwNode::nodeIdOf(const Descriptor& d) {
    if (d.device == kController || d.device >= bench_.devices_.size()) {
        return kSimLocalNodeId;
    }
    return simCameraNodeId(bench_.devices_[d.device].camera->nodeNumber());
}

std::vector<std::string> SimFwNode::listNodes() {
    std::lock_guard lock(bench_.mutex_);
    bench_.ensureBench();
    std::vector<std::string> nodes = {std::string(kNodePrefix) + "0"};
    // A listing that fails part way leaves the cameras after it out, as the driver's does.
    for (size_t i = 0; i < bench_.devices_.size() && i < kMaxListedCameras; ++i) {
        if (!bench_.devices_[i].present) {
            continue;
        }
        if (bench_.detailFailures_ > 0) {
            --bench_.detailFailures_;
            break;
        }
        nodes.push_back(kNodePrefix + std::to_string(i + 1));
    }
    return nodes;
}

int SimFwNode::open(const std::string& path) {
    std::lock_guard lock(bench_.mutex_);
    bench_.ensureBench();
    const long node = nodeOfPath(path);
    if (node < 0 ||
        static_cast<size_t>(node) > std::min(bench_.devices_.size(), kMaxListedCameras)) {
        return -ENOENT;
    }
    auto d = std::make_shared<Descriptor>();
    if (node > 0) {
        d->device = static_cast<size_t>(node - 1);
        if (!bench_.devices_[d->device].present) {
            return -ENOENT;
        }
        if (denied_.count(d->device) != 0) {
            return -EACCES;
        }
    }
    while (descriptors_.count(nextFd_) != 0) {
        nextFd_ = nextFd_ == 0x7FFFFFFF ? 3 : nextFd_ + 1;
    }
    const int fd = nextFd_;
    nextFd_ = nextFd_ == 0x7FFFFFFF ? 3 : nextFd_ + 1;
    descriptors_.emplace(fd, std::move(d));
    return fd;
}

void SimFwNode::close(int fd) {
    {
        std::lock_guard lock(bench_.mutex_);
        DescriptorPtr d = find(fd);
        if (d == nullptr) {
            return;
        }
        descriptors_.erase(fd);
        d->closed = true;
        halt(*d);
        // The kernel's release takes the iso context and the mapping with the file, but not
        // what the _ONCE requests allocated.
        freeMapping(d->mapping);
        d->events.clear();
        eventsChanged_.notify_all();
        bench_.changed_.notify_all();
    }
    reap();
}

void SimFwNode::queueEvent(Descriptor& d, const void* record, size_t recordBytes, size_t tailAt,
                           const void* tail, size_t tailBytes) {
    // As the kernel queues a record with a variable part: the whole fixed record (its padding
    // too), the variable part written from where its array begins.
    std::vector<uint8_t> event(recordBytes + tailBytes);
    std::memcpy(event.data(), record, recordBytes);
    if (tailBytes > 0) {
        std::memcpy(event.data() + tailAt, tail, tailBytes);
        std::fill(event.begin() + static_cast<ptrdiff_t>(tailAt + tailBytes), event.end(), 0);
    }
    d.events.push_back(std::move(event));
    eventsChanged_.notify_all();
}

fw_cdev_event_bus_reset SimFwNode::busResetRecord(const Descriptor& d) {
    fw_cdev_event_bus_reset reset{};
    reset.closure = d.busResetClosure;
    reset.type = FW_CDEV_EVENT_BUS_RESET;
    reset.node_id = nodeIdOf(d);
    reset.local_node_id = kSimLocalNodeId;
    reset.bm_node_id = kSimLocalNodeId;
    reset.irm_node_id = kSimLocalNodeId;
    reset.root_node_id = kSimLocalNodeId;
    reset.generation = bench_.busGeneration_;
    return reset;
}

long SimFwNode::read(int fd, void* buffer, size_t bytes) {
    Lock lock(bench_.mutex_);
    DescriptorPtr d = find(fd);
    if (d == nullptr) {
        return -EBADF;
    }
    eventsChanged_.wait(lock,
                        [&] { return !d->events.empty() || d->wake || d->gone || d->closed; });
    if (d->closed) {
        return -EBADF;
    }
    if (!d->events.empty()) {
        const std::vector<uint8_t>& event = d->events.front();
        const size_t n = std::min(bytes, event.size());
        if (n > 0 && buffer == nullptr) {
            return -EFAULT;
        }
        std::memcpy(buffer, event.data(), n);
        d->events.pop_front();
        return static_cast<long>(n);
    }
    if (d->wake) {
        d->wake = false;
        return 0;
    }
    return -ENODEV;
}

int SimFwNode::poll(int fd, int timeoutMs) {
    Lock lock(bench_.mutex_);
    DescriptorPtr d = find(fd);
    if (d == nullptr) {
        return -EBADF;
    }
    auto ready = [&] { return !d->events.empty() || d->wake || d->gone || d->closed; };
    if (timeoutMs < 0) {
        eventsChanged_.wait(lock, ready);
    } else {
        eventsChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }
    // A wake comes first: it is how the client ends the thread that polls.
    if (d->wake) {
        d->wake = false;
        return 0;
    }
    if (d->closed) {
        return -EBADF;
    }
    if (!d->events.empty()) {
        return 1;
    }
    return d->gone ? -ENODEV : 0;
}

void SimFwNode::wake(int fd) {
    std::lock_guard lock(bench_.mutex_);
    if (DescriptorPtr d = find(fd)) {
        d->wake = true;
        eventsChanged_.notify_all();
    }
}

int SimFwNode::ioctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    {
        Lock lock(bench_.mutex_);
        bench_.ensureBench();
        DescriptorPtr d = find(fd);
        if (d == nullptr) {
            return -EBADF;
        }
        if (argument == nullptr) {
            return -EFAULT;
        }
        result = ioctlLocked(lock, *d, d, request, argument);
        // Whatever a request changed, a producer may be waiting for it.
        bench_.changed_.notify_all();
    }
    reap();
    return result;
}

int SimFwNode::ioctlLocked(Lock&, Descriptor& d, const DescriptorPtr& self, unsigned long request,
                           void* argument) {
    // The driver counts a transaction before it knows whether the node is still there.
    if (request == FW_CDEV_IOC_SEND_REQUEST) {
        const uint32_t tcode = static_cast<fw_cdev_send_request*>(argument)->tcode;
        const bool write =
            tcode == TCODE_WRITE_QUADLET_REQUEST || tcode == TCODE_WRITE_BLOCK_REQUEST;
        ++bench_.requestCounts_[write ? kIoctlAsyncWrite : kIoctlAsyncRead];
    }
    if (d.gone) {
        return -ENODEV;
    }
    switch (request) {
        case FW_CDEV_IOC_GET_INFO:
            return getInfo(d, argument);
        case FW_CDEV_IOC_SEND_REQUEST:
            return sendRequest(d, argument);
        case FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE_ONCE:
            return allocateOnce(d, argument);
        case FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE_ONCE:
            return deallocateOnce(d, argument);
        case FW_CDEV_IOC_CREATE_ISO_CONTEXT:
            return createContext(d, argument);
        case FW_CDEV_IOC_QUEUE_ISO:
            return queueIso(d, argument);
        case FW_CDEV_IOC_START_ISO:
            return startIso(d, self, argument);
        case FW_CDEV_IOC_FLUSH_ISO:
            return flushIso(d, argument);
        case FW_CDEV_IOC_STOP_ISO:
            if (!d.context.created || static_cast<fw_cdev_stop_iso*>(argument)->handle != 0) {
                return -EINVAL;
            }
            halt(d);
            return 0;
        default:
            return -ENOTTY;
    }
}

int SimFwNode::getInfo(Descriptor& d, void* argument) {
    auto* info = static_cast<fw_cdev_get_info*>(argument);
    const KqsimCameraConfig* camera =
        d.device == kController ? nullptr : &bench_.devices_[d.device].camera->config();
    const std::vector<uint32_t> rom = simConfigRom(camera);
    const size_t romBytes = 4 * rom.size();
    if (info->rom != 0) {
        auto* out = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(info->rom));
        // As the kernel keeps it: it reads the ROM off the bus into quadlets of the host's order.
        std::memcpy(out, rom.data(), std::min<size_t>(info->rom_length, romBytes));
    }
    info->rom_length = static_cast<uint32_t>(romBytes);
    info->card = 0;
    info->version = kKernelInterfaceVersion;
    d.busResetClosure = info->bus_reset_closure;
    if (info->bus_reset != 0) {
        const fw_cdev_event_bus_reset reset = busResetRecord(d);
        std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(info->bus_reset)), &reset,
                    sizeof reset);
    }
    return 0;
}

int SimFwNode::sendRequest(Descriptor& d, void* argument) {
    const auto* request = static_cast<const fw_cdev_send_request*>(argument);
    const uint32_t tcode = request->tcode;
    const bool write = tcode == TCODE_WRITE_QUADLET_REQUEST || tcode == TCODE_WRITE_BLOCK_REQUEST;
    const bool quadlet =
        tcode == TCODE_WRITE_QUADLET_REQUEST || tcode == TCODE_READ_QUADLET_REQUEST;
    const uint32_t n = request->length;
    if ((!write && tcode != TCODE_READ_QUADLET_REQUEST && tcode != TCODE_READ_BLOCK_REQUEST) ||
        (quadlet && n != 4) || n == 0 || n % 4 != 0 || n > kMaxBlockBytes) {
        return -EINVAL;
    }
    const auto* source = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(request->data));
    if (write && source == nullptr) {
        return -EFAULT;
    }
    if (auto fault = bench_.requestFault(write ? kIoctlAsyncWrite : kIoctlAsyncRead)) {
        return -errnoOf(*fault);
    }
    std::vector<uint8_t> data(n);
    if (write) {
        std::memcpy(data.data(), source, n);
    }
    uint32_t error = 0;
    if (request->generation != bench_.busGeneration_) {
        error = kErrorBusReset;
    } else if (request->offset >> 32 != 0xFFFF || d.device == kController) {
        error = kErrorGenFailure;
    } else {
        SimCamera& camera = *bench_.devices_[d.device].camera;
        const auto now = Clock::now();
        for (uint32_t q = 0; q < n / 4 && error == 0; ++q) {
            const uint32_t address = static_cast<uint32_t>(request->offset) + 4 * q;
            if (auto fault =
                    bench_.registerFault(d.device, address, write ? KQSIM_WRITE : KQSIM_READ)) {
                error = *fault;
                break;
            }
            uint32_t value = loadBe(&data[4 * q]);
            if (!write) {
                camera.noteRead(address);
            }
            error = write ? camera.writeQuadlet(address, value, now)
                          : camera.readQuadlet(address, &value, now);
            storeBe(&data[4 * q], value);
        }
    }
    fw_cdev_event_response response{};
    response.closure = request->closure;
    response.type = FW_CDEV_EVENT_RESPONSE;
    response.rcode = responseCodeOf(error);
    response.length = write || error != 0 ? 0 : n;
    queueEvent(d, &response, sizeof response, offsetof(fw_cdev_event_response, data), data.data(),
               response.length);
    return 0;
}

void SimFwNode::busReset(size_t leaver) {
    for (auto& [fd, d] : descriptors_) {
        if (leaver != kNoLeaver && d->device == leaver) {
            d->gone = true;
            halt(*d);
            eventsChanged_.notify_all();
            continue;
        }
        if (d->gone) {
            continue;
        }
        // A reset the bench makes stops every camera's stream; a camera that leaves stops
        // only its own.
        if (leaver == kNoLeaver) {
            halt(*d);
        }
        const fw_cdev_event_bus_reset reset = busResetRecord(*d);
        queueEvent(*d, &reset, sizeof reset);
    }
    // A reset clears the resource manager's registers: what the _ONCE requests took lapses
    // with the generation, the leaving camera's and everyone else's.
    releaseOnce();
}

void SimFwNode::benchReset() {
    for (auto& [fd, d] : descriptors_) {
        if (d->device != kController) {
            d->gone = true;
        }
        halt(*d);
    }
    denied_.clear();
    onceChannels_.clear();
    eventsChanged_.notify_all();
}

bool SimFwNode::holdsCameras() {
    return std::any_of(descriptors_.begin(), descriptors_.end(),
                       [](const auto& entry) { return entry.second->context.producers > 0; });
}

uint32_t SimFwNode::openDescriptors() {
    return static_cast<uint32_t>(
        std::count_if(descriptors_.begin(), descriptors_.end(),
                      [](const auto& entry) { return entry.second->device != kController; }));
}

}  // namespace sim
}  // namespace kqfw
