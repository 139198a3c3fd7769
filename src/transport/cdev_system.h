#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kqfw {

// The system calls the Linux FireWire backend makes on the kernel's character devices
// (/dev/fw*, the ioctls and events of <linux/firewire-cdev.h>). The backend makes every call
// through this seam, so a test double can stand where the kernel stands: the simulated bus
// answers the same calls with the events and isochronous packets a real node would give.
//
// Errors come back as negative errno values, as the kernel gives them, never through errno.
//
// Thread context: every member may be called from any thread, also for the same descriptor
// (one thread reads a node's events while others send it requests).
class CdevSystem {
  public:
    virtual ~CdevSystem() = default;

    // The character-device nodes present now ("/dev/fw0", ...), in node-number order.
    virtual std::vector<std::string> listNodes() = 0;

    // Opens a node for reading and writing: a descriptor (>= 0), or -errno (-EACCES when the
    // user may not open it, -ENOENT when it is gone).
    virtual int open(const std::string& path) = 0;

    // Gives the descriptor back; its iso contexts, resources allocated with the _ONCE requests
    // excepted, and mappings made through it end with it (as the kernel's release does).
    virtual void close(int fd) = 0;

    // One ioctl of <linux/firewire-cdev.h>: its non-negative result, or -errno.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;

    // Reads one event (an fw_cdev_event_* record) into `buffer`: its length, or -errno
    // (-ENODEV once the node is gone). Blocks until an event is there or wake() is called.
    virtual long read(int fd, void* buffer, size_t bytes) = 0;

    // Waits until an event can be read (1), the timeout passes (0; timeoutMs < 0 waits without
    // a limit) or wake() is called for the descriptor (0), or the node is gone (-ENODEV).
    virtual int poll(int fd, int timeoutMs) = 0;

    // Makes the descriptor's current or next poll() return at once: how the backend ends the
    // thread that reads a node's events.
    virtual void wake(int fd) = 0;

    // Maps `bytes` of the descriptor's isochronous buffer (created with the first iso context,
    // as the kernel requires the mapping before the context is queued): the address, or null.
    virtual void* mapIsoBuffer(int fd, size_t bytes) = 0;
    virtual void unmapIsoBuffer(void* address, size_t bytes) = 0;
};

}  // namespace kqfw
