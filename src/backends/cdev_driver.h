#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/cdev_system.h"
#include "transport/driver_port.h"
#include "transport/driver_requests.h"

namespace kqfw {

// The camera driver's requests served in user space on the kernel's FireWire character
// devices: transactions, the node address and bus resets come from the node's descriptor; the
// isochronous bandwidth and channel from the kernel's resource manager; a receive runs on a
// descriptor of its own that this backend assembles packets from into the mapped buffers. What
// the kernel does not keep (event registrations, the start command, receive resources, the
// receive's status) is kept here per node, as the camera's driver keeps it per device.
//
// Thread context: as DriverPort. Each open handle has one thread reading its node's events; an
// attach runs its receive on the calling thread.
class CdevDriver final : public DriverPort {
  public:
    explicit CdevDriver(CdevSystem& system);
    ~CdevDriver() override;

    std::vector<std::string> listInterfaces(const std::string& interfaceClass) override;
    DeviceHandle open(const std::string& path, bool overlapped, uint32_t* error) override;
    uint32_t ioControl(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputBytes,
                       void* output, uint32_t outputBytes, uint32_t* returned) override;
    uint32_t ioControlOverlapped(DeviceHandle handle, uint32_t code, Event* completion) override;
    uint32_t overlappedResult(DeviceHandle handle) override;
    uint32_t cancelIo(DeviceHandle handle) override;
    void close(DeviceHandle handle) override;

    // True when a node of the system is a camera this library drives (KQ colour or mono).
    bool findsCamera();

  private:
    struct Node;
    struct Handle;
    struct Receive;
    struct Buffers;
    struct IsoAllocation {
        DeviceHandle owner = kInvalidDeviceHandle;
        uint32_t channel = 0;  // bandwidth allocations: 0
        uint32_t units = 0;    // channel allocations: 0
        bool isChannel = false;
        uint32_t generation = 0;  // the bus generation it was made in, and lapses with
    };
    struct ReceiveResource {
        DeviceHandle owner = kInvalidDeviceHandle;
        std::shared_ptr<Node> node;
        uint32_t channel = 0;
        uint32_t bytesPerPacket = 0;
    };

    std::shared_ptr<Handle> handleOf(DeviceHandle id);
    void readEvents(const std::shared_ptr<Handle>& handle);
    uint32_t transaction(Handle& handle, bool write, uint8_t* buffer, uint32_t inputBytes,
                         uint32_t outputBytes, uint32_t* returned);
    uint32_t writeRegister(Handle& handle, uint32_t address, const uint8_t* busOrder);
    uint32_t allocateIso(Handle& handle, bool release, uint64_t channels, uint32_t units,
                         int32_t* channel);
    bool lapsed(const IsoAllocation& allocation, const Handle& handle) const;
    uint32_t isoRequest(DeviceHandle id, Handle& handle, uint32_t code, const DriverRequest& r);
    uint32_t nodeRequest(Handle& handle, uint32_t code, const DriverRequest& r);
    uint32_t attach(Handle& handle, const DriverRequest& request);
    void releaseOwned(DeviceHandle owner, Handle& handle);

    CdevSystem& system_;
    std::mutex mutex_;                              // the tables below and every Node's fields
    std::map<std::string, std::string> nodePaths_;  // device path -> /dev/fw node
    std::map<std::string, std::shared_ptr<Node>> nodes_;
    std::map<DeviceHandle, std::shared_ptr<Handle>> handles_;
    DeviceHandle nextHandle_ = 0x100;
    std::map<uint64_t, IsoAllocation> allocations_;
    std::map<uint64_t, ReceiveResource> resources_;
    uint64_t nextIsoHandle_ = 0x7000;
    uint64_t nextClosure_ = 1;
    std::atomic<bool> probing_{false};
};

}  // namespace kqfw
