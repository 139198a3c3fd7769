#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "transport/driver_port.h"

namespace kqfw::test {

// A scripted driver behind the seam: it records every request as bytes, answers register reads
// from a map, and fails requests when told to. Not a camera: it knows no register semantics
// beyond "locked" vendor blocks, which a test switches by hand.
class FakeDriver final : public DriverPort {
  public:
    struct Request {
        uint32_t code;
        std::vector<uint8_t> input;
    };

    std::vector<std::string> paths;
    std::map<uint32_t, uint32_t> registers;
    std::vector<Request> requests;
    uint32_t failNext = 0;      // the next this-many requests fail ...
    uint32_t failError = 31;    // ... with this error
    uint32_t failWritesTo = 0;  // writes to this address fail while it is non-zero
    // The flash controller finishes each command at once; a test may make it report errors.
    uint32_t flashControlAddress = 0xF2F00070;
    bool flashError = false;

    std::vector<std::string> listInterfaces(const std::string&) override { return paths; }
    DeviceHandle open(const std::string&, bool, uint32_t*) override { return 1; }
    uint32_t ioControl(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputBytes,
                       void* output, uint32_t outputBytes, uint32_t* returned) override;
    uint32_t ioControlOverlapped(DeviceHandle, uint32_t, Event*) override { return 1; }
    uint32_t overlappedResult(DeviceHandle) override { return 1; }
    uint32_t cancelIo(DeviceHandle) override { return 0; }
    void close(DeviceHandle) override {}

    // Requests of one code, in order.
    std::vector<Request> ofCode(uint32_t code) const;
};

// Routes the library's driver requests to a fake for the life of a test.
class ScopedDriver {
  public:
    explicit ScopedDriver(DriverPort& port);
    ~ScopedDriver();
};

}  // namespace kqfw::test
