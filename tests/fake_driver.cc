#include "fake_driver.h"

#include <cstring>

#include "transport/async_request.h"
#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {

uint32_t FakeDriver::ioControl(DeviceHandle, uint32_t code, const void* input, uint32_t inputBytes,
                               void* output, uint32_t outputBytes, uint32_t* returned) {
    const auto* in = static_cast<const uint8_t*>(input);
    requests.push_back({code, std::vector<uint8_t>(in, in + inputBytes)});
    if (failNext > 0) {
        --failNext;
        return failError;
    }
    if (code != kIoctlAsyncRead && code != kIoctlAsyncWrite) {
        std::memset(output, 0, outputBytes);
        *returned = outputBytes;
        return 0;
    }
    const AsyncRequestFields f = decodeAsyncRequest(in);
    if (code == kIoctlAsyncWrite && failWritesTo != 0 && f.offsetLow == failWritesTo) {
        return failError;
    }
    auto* out = static_cast<uint8_t*>(output);
    std::memmove(out, in, inputBytes);
    for (uint32_t q = 0; q < f.byteCount / 4; ++q) {
        const uint32_t address = f.offsetLow + 4 * q;
        uint8_t* data = asyncRequestData(out) + 4 * q;
        if (code == kIoctlAsyncWrite && address == flashControlAddress) {
            registers[address] = (loadBe32(data) & ~0xC0000000u) | (flashError ? 0x20000000u : 0);
        } else if (code == kIoctlAsyncWrite) {
            registers[address] = loadBe32(data);
        } else {
            storeBe32(data, registers[address]);
        }
    }
    *returned = outputBytes;
    return 0;
}

std::vector<FakeDriver::Request> FakeDriver::ofCode(uint32_t code) const {
    std::vector<Request> out;
    for (const Request& r : requests) {
        if (r.code == code) {
            out.push_back(r);
        }
    }
    return out;
}

ScopedDriver::ScopedDriver(DriverPort& port) {
    installDriver(&port);
}

ScopedDriver::~ScopedDriver() {
    installDriver(nullptr);
}

}  // namespace kqfw::test
