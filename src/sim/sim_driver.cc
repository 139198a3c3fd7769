#include "sim/sim_driver.h"

#include "sim/sim_bench.h"

namespace kqfw {

namespace {

class SimDriver final : public DriverPort {
  public:
    std::vector<std::string> listInterfaces(const std::string& interfaceClass) override {
        return bench().listInterfaces(interfaceClass);
    }
    DeviceHandle open(const std::string& path, bool overlapped, uint32_t* error) override {
        return bench().open(path, overlapped, error);
    }
    uint32_t ioControl(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputBytes,
                       void* output, uint32_t outputBytes, uint32_t* returned) override {
        return bench().ioControl(handle, code, static_cast<const uint8_t*>(input), inputBytes,
                                 static_cast<uint8_t*>(output), outputBytes, returned);
    }
    uint32_t ioControlOverlapped(DeviceHandle handle, uint32_t code, Event* completion) override {
        return bench().ioControlOverlapped(handle, code, completion);
    }
    uint32_t overlappedResult(DeviceHandle handle) override {
        return bench().overlappedResult(handle);
    }
    uint32_t cancelIo(DeviceHandle handle) override { return bench().cancelIo(handle); }
    void close(DeviceHandle handle) override { bench().close(handle); }

  private:
    static sim::SimBench& bench() { return sim::SimBench::instance(); }
};

}  // namespace

DriverPort* simDriverInstance() {
    static SimDriver driver;
    return &driver;
}

}  // namespace kqfw
