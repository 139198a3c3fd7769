#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kqfw {

class Event;

// An open handle of the kernel driver; kInvalidDeviceHandle is never a valid one.
using DeviceHandle = uint64_t;
inline constexpr DeviceHandle kInvalidDeviceHandle = 0;

// Operating-system error numbers the library tells apart (Win32 values, so that numbers passed
// through to the application mean the same on every platform).
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr uint32_t kErrorBusReset = 1111;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorBusy = 170;

// The interface class of the camera driver.
inline constexpr const char* kCameraInterfaceClass = "{5d3a7c41-92e6-4f0b-8b1d-3e6a0c94f257}";

// Everything the library asks of the camera's kernel driver. Requests cross this seam as their
// exact byte layouts: the library builds and parses the bytes itself.
//
// Thread context: every member may be called from any thread; a request that blocks (an attach,
// say) blocks only its caller, and other threads may use other handles meanwhile.
class DriverPort {
  public:
    virtual ~DriverPort() = default;

    // Device paths of the present interfaces of a class, in the driver's order. Stops at the
    // first interface whose details cannot be fetched.
    virtual std::vector<std::string> listInterfaces(const std::string& interfaceClass) = 0;

    // Opens a path for reading and writing; overlapped handles may carry the bus-reset request.
    // Returns kInvalidDeviceHandle and sets *error on failure.
    virtual DeviceHandle open(const std::string& path, bool overlapped, uint32_t* error) = 0;

    // A synchronous I/O control: 0, or the error number of the failed request. *returned gets
    // the number of output bytes written.
    virtual uint32_t ioControl(DeviceHandle handle, uint32_t code, const void* input,
                               uint32_t inputBytes, void* output, uint32_t outputBytes,
                               uint32_t* returned) = 0;

    // Issues an overlapped request without buffers (the bus-reset notification). Returns
    // kErrorIoPending when it is pending: `completion` is then set when it ends and
    // overlappedResult() tells how. Any other value means it did not start.
    virtual uint32_t ioControlOverlapped(DeviceHandle handle, uint32_t code, Event* completion) = 0;

    // How the last overlapped request on the handle ended: 0, kErrorOperationAborted after a
    // cancel, kErrorIoPending while still pending, or another error number.
    virtual uint32_t overlappedResult(DeviceHandle handle) = 0;

    // Ends the handle's pending overlapped request.
    virtual uint32_t cancelIo(DeviceHandle handle) = 0;

    virtual void close(DeviceHandle handle) = 0;
};

}  // namespace kqfw
