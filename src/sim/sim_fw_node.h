#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <linux/firewire-cdev.h>

#include "kqfw/kqsim.h"
#include "sim/sim_bench.h"
#include "transport/cdev_system.h"

namespace kqfw {

// The kernel's side of the simulated bus: its FireWire character devices, answering the Linux
// backend's system calls with the bench's cameras behind them. Never null.
CdevSystem* simCdevSystem();

// Makes a camera's node refuse to open (-EACCES), as a node the user has no rights to does.
// A new bench lets every node open again.
void simFwNodeDenyAccess(int32_t camera, bool deny);

namespace sim {

// The configuration ROM a node shows, in host-order quadlets (the bus carries them big-endian):
// a camera's, with its vendor and model leaves and a unit directory, or the local controller's
// (null), which has no unit directory.
std::vector<uint32_t> simConfigRom(const KqsimCameraConfig* camera);

// The node ids the node gives: the controller is node 0, a camera the node after its position
// on the bench, so no camera is ever taken for the controller.
inline constexpr uint32_t kSimLocalNodeId = 0xFFC0;
inline uint32_t simCameraNodeId(uint16_t nodeNumber) {
    return kSimLocalNodeId | ((nodeNumber + 1u) & 0x3F);
}

// One lock guards the node and the bench (the bench's), so a node's request and a bench fault
// or reset never see each other half done. Descriptors are /dev/fw0 (the controller) and
// /dev/fwN for the bench's camera N - 1.
class SimFwNode final : public CdevSystem, private BenchListener {
  public:
    static SimFwNode& instance();

    std::vector<std::string> listNodes() override;
    int open(const std::string& path) override;
    void close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    long read(int fd, void* buffer, size_t bytes) override;
    int poll(int fd, int timeoutMs) override;
    void wake(int fd) override;
    void* mapIsoBuffer(int fd, size_t bytes) override;
    void unmapIsoBuffer(void* address, size_t bytes) override;

    void denyAccess(int32_t camera, bool deny);

  private:
    static constexpr size_t kController = BenchListener::kNoLeaver;

    struct Mapping {
        uint8_t* bytes = nullptr;
        size_t size = 0;
    };
    // A packet buffer the client queued: where its payload goes in the mapping.
    struct Slot {
        size_t offset = 0;
        uint32_t capacity = 0;
        bool interrupt = false;
    };
    struct Context {
        bool created = false;
        bool started = false;
        uint32_t producers = 0;  // producers that may still touch the camera
        uint64_t run = 0;        // a halt ends the producer of the run it began
        uint32_t channel = 0;
        uint32_t headerSize = 4;
        uint64_t closure = 0;
        std::deque<Slot> slots;
        std::vector<uint8_t> headers;  // of the packets since the last interrupt
        uint32_t cycle = 0;
        std::thread producer;
    };
    struct Descriptor {
        size_t device = kController;
        bool gone = false;    // the node left the bus
        bool closed = false;  // for calls still waiting on it
        bool wake = false;
        uint64_t busResetClosure = 0;
        std::deque<std::vector<uint8_t>> events;
        Mapping mapping;
        Context context;
    };
    using DescriptorPtr = std::shared_ptr<Descriptor>;
    using Lock = std::unique_lock<std::mutex>;

    explicit SimFwNode(SimBench& bench);

    // BenchListener: called with the bench locked.
    void busReset(size_t leaver) override;
    void benchReset() override;
    bool holdsCameras() override;
    uint32_t openDescriptors() override;

    DescriptorPtr find(int fd);
    uint32_t nodeIdOf(const Descriptor& d);
    void queueEvent(Descriptor& d, const void* record, size_t recordBytes, size_t tailAt = 0,
                    const void* tail = nullptr, size_t tailBytes = 0);
    fw_cdev_event_bus_reset busResetRecord(const Descriptor& d);
    int ioctlLocked(Lock& lock, Descriptor& d, const DescriptorPtr& self, unsigned long request,
                    void* argument);
    int getInfo(Descriptor& d, void* argument);
    int sendRequest(Descriptor& d, void* argument);

    // Isochronous resources and reception (sim_fw_node_iso.cc).
    int allocateOnce(Descriptor& d, void* argument);
    int deallocateOnce(Descriptor& d, void* argument);
    void releaseOnce();
    int createContext(Descriptor& d, void* argument);
    int queueIso(Descriptor& d, void* argument);
    int startIso(Descriptor& d, const DescriptorPtr& self, void* argument);
    int flushIso(Descriptor& d, void* argument);
    // Hands the headers gathered since the last report to the client as one event.
    void reportPackets(Descriptor& d);
    // Ends the context's delivery; its producer joins the ones reap() collects.
    void halt(Descriptor& d);
    void produce(DescriptorPtr d, uint64_t run);
    bool sendFrame(Lock& lock, Descriptor& d, uint64_t run, const uint8_t* bytes, size_t frameBytes,
                   uint32_t bytesPerPacket, uint32_t channel);
    bool live(const Descriptor& d, uint64_t run) const;
    // Joins the producers halted so far; never with the lock held.
    void reap();
    static void freeMapping(Mapping& mapping);

    SimBench& bench_;
    std::condition_variable eventsChanged_;  // an event, a wake, a departure or a close
    std::map<int, DescriptorPtr> descriptors_;
    int nextFd_ = 3;
    std::set<size_t> denied_;
    std::map<uint32_t, size_t> onceChannels_;  // channel: the device it was taken through
    std::vector<std::thread> halted_;
};

}  // namespace sim
}  // namespace kqfw
