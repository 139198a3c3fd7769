// The simulated bus's kernel node, tested at the system calls the Linux backend makes.
#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kqfw/kqsim.h"
#include "sim/sim_fw_node.h"
#include "sim/sim_sensor.h"
#include "transport/driver_port.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {
namespace {

constexpr uint64_t kRegisterSpace = 0xFFFF00000000ull;
constexpr uint32_t kCommand = 0xF0F00000;
constexpr uint32_t kAdvanced = 0xF2F00000;
constexpr uint32_t kCsr0 = 0xF0F08000;

uint32_t be(const uint8_t* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

struct Info {
    std::vector<uint32_t> rom;
    fw_cdev_event_bus_reset reset{};
};

// The text of the leaf that follows the root directory entry with `key`.
std::string leafAfter(const std::vector<uint32_t>& rom, uint32_t key) {
    const size_t root = 5, entries = rom[root] >> 16;
    for (size_t i = root + 1; i + 1 <= root + entries; ++i) {
        if (rom[i] >> 24 == key && rom[i + 1] >> 24 == 0x81) {
            const size_t leaf = i + 1 + (rom[i + 1] & 0xFFFFFF);
            std::string text;
            for (size_t q = leaf + 3; q <= leaf + (rom[leaf] >> 16); ++q) {
                for (int shift = 24; shift >= 0; shift -= 8) {
                    if (char c = static_cast<char>(rom[q] >> shift)) {
                        text += c;
                    }
                }
            }
            return text;
        }
    }
    return "";
}

bool hasRootKey(const std::vector<uint32_t>& rom, uint32_t key) {
    for (size_t i = 6; i <= 5 + (rom[5] >> 16); ++i) {
        if (rom[i] >> 24 == key) {
            return true;
        }
    }
    return false;
}

class SimFwNodeTest : public ::testing::Test {
  protected:
    void SetUp() override { kqsimResetDefault(); }
    void TearDown() override {
        for (int fd : opened_) {
            node_->close(fd);
        }
        kqsimResetDefault();
    }

    int open(const std::string& path) {
        const int fd = node_->open(path);
        if (fd >= 0) {
            opened_.push_back(fd);
        }
        return fd;
    }
    int openCamera(int32_t camera) { return open("/dev/fw" + std::to_string(camera + 1)); }

    Info info(int fd, uint64_t closure = 0) {
        Info result;
        uint8_t rom[1024] = {};
        fw_cdev_get_info get{};
        get.version = 4;
        get.rom = reinterpret_cast<uintptr_t>(rom);
        get.rom_length = sizeof rom;
        get.bus_reset = reinterpret_cast<uintptr_t>(&result.reset);
        get.bus_reset_closure = closure;
        EXPECT_EQ(node_->ioctl(fd, FW_CDEV_IOC_GET_INFO, &get), 0);
        for (uint32_t i = 0; i + 4 <= get.rom_length && i < sizeof rom; i += 4) {
            uint32_t quadlet = 0;  // the host's order, as the kernel keeps the ROM
            std::memcpy(&quadlet, rom + i, 4);
            result.rom.push_back(quadlet);
        }
        return result;
    }

    // The next event of a descriptor; the limit only guards against a hang.
    std::vector<uint8_t> event(int fd) {
        std::vector<uint8_t> buffer(16384);
        EXPECT_EQ(node_->poll(fd, 10000), 1);
        const long n = node_->read(fd, buffer.data(), buffer.size());
        EXPECT_GT(n, 0);
        buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return buffer;
    }
    static uint32_t typeOf(const std::vector<uint8_t>& e) {
        uint32_t type = ~0u;
        if (e.size() >= 12) {
            std::memcpy(&type, e.data() + 8, 4);
        }
        return type;
    }

    // A transaction and its response: the rcode, and the data for a read.
    uint32_t transact(int fd, uint32_t tcode, uint32_t address, std::vector<uint8_t>* data,
                      uint32_t generation, uint64_t offsetHigh = kRegisterSpace) {
        fw_cdev_send_request request{};
        request.tcode = tcode;
        request.length = static_cast<uint32_t>(data->size());
        request.offset = offsetHigh | address;
        request.closure = 0xC105;
        request.data = reinterpret_cast<uintptr_t>(data->data());
        request.generation = generation;
        EXPECT_EQ(node_->ioctl(fd, FW_CDEV_IOC_SEND_REQUEST, &request), 0);
        const std::vector<uint8_t> e = event(fd);
        EXPECT_EQ(typeOf(e), uint32_t{FW_CDEV_EVENT_RESPONSE});
        fw_cdev_event_response response{};
        std::memcpy(&response, e.data(), offsetof(fw_cdev_event_response, data));
        EXPECT_EQ(response.closure, 0xC105u);
        const bool read = tcode == TCODE_READ_QUADLET_REQUEST || tcode == TCODE_READ_BLOCK_REQUEST;
        EXPECT_EQ(response.length, read && response.rcode == RCODE_COMPLETE ? data->size() : 0);
        if (response.length > 0) {
            std::memcpy(data->data(), e.data() + offsetof(fw_cdev_event_response, data),
                        std::min<size_t>(response.length, data->size()));
        }
        return response.rcode;
    }
    uint32_t readQuadlet(int fd, uint32_t address, uint32_t generation, uint32_t* value) {
        std::vector<uint8_t> data(4);
        const uint32_t rcode = transact(fd, TCODE_READ_QUADLET_REQUEST, address, &data, generation);
        *value = be(data.data());
        return rcode;
    }
    uint32_t writeQuadlet(int fd, uint32_t address, uint32_t value, uint32_t generation) {
        std::vector<uint8_t> data = {uint8_t(value >> 24), uint8_t(value >> 16),
                                     uint8_t(value >> 8), uint8_t(value)};
        return transact(fd, TCODE_WRITE_QUADLET_REQUEST, address, &data, generation);
    }

    CdevSystem* node_ = simCdevSystem();
    std::vector<int> opened_;
};

TEST_F(SimFwNodeTest, NodesShowTheirCamerasRomsAndOnlyWhilePresentAndPermitted) {
    KqsimCameraConfig foreign;
    kqsimDefaultConfig(KQSIM_MODEL_FOREIGN, &foreign);
    ASSERT_EQ(kqsimAddCamera(&foreign), 2);
    EXPECT_EQ(node_->listNodes(),
              (std::vector<std::string>{"/dev/fw0", "/dev/fw1", "/dev/fw2", "/dev/fw3"}));

    const struct {
        uint32_t model, vendorId, modelId;
        const char *vendor, *name;
    } cameras[] = {{KQSIM_MODEL_KQC, 0x00B0C1, 1, "Tolvan Opt", "Vestrix KQC"},
                   {KQSIM_MODEL_KQM, 0x00B0C1, 2, "Tolvan Opt", "Vestrix KQM"},
                   {KQSIM_MODEL_FOREIGN, 0x00D0E2, 3, "Meridian", "Film Scanner"}};
    const Info controller = info(open("/dev/fw0"));
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cameras[i].name);
        KqsimCameraConfig config;
        kqsimDefaultConfig(cameras[i].model, &config);
        const Info camera = info(openCamera(i), 0xABC0 + i);
        ASSERT_GE(camera.rom.size(), 16u);
        EXPECT_EQ(camera.rom[0] >> 24, 4u);
        EXPECT_EQ(camera.rom[1], 0x31333934u);
        EXPECT_EQ(camera.rom[3], config.uniqueIdHigh);
        EXPECT_EQ(camera.rom[4], config.uniqueIdLow);
        EXPECT_EQ(camera.rom[6], 0x03000000u | cameras[i].vendorId);
        EXPECT_EQ(leafAfter(camera.rom, 0x03), cameras[i].vendor);
        EXPECT_EQ(camera.rom[8], 0x17000000u | cameras[i].modelId);
        EXPECT_EQ(leafAfter(camera.rom, 0x17), cameras[i].name);
        EXPECT_TRUE(hasRootKey(camera.rom, 0xD1));
        EXPECT_EQ(camera.reset.type, uint32_t{FW_CDEV_EVENT_BUS_RESET});
        EXPECT_EQ(camera.reset.closure, 0xABC0u + i);
        EXPECT_EQ(camera.reset.local_node_id, 0xFFC0u);
        EXPECT_EQ(camera.reset.node_id >> 6, 0x3FFu);
        EXPECT_NE(camera.reset.node_id, camera.reset.local_node_id);
        EXPECT_EQ(camera.reset.generation, controller.reset.generation);
    }
    EXPECT_EQ(controller.reset.node_id, controller.reset.local_node_id);
    EXPECT_FALSE(hasRootKey(controller.rom, 0xD1));

    // A wake is kept for the next poll, which returns at once.
    const int fd = openCamera(0);
    node_->wake(fd);
    EXPECT_EQ(node_->poll(fd, -1), 0);
    EXPECT_EQ(node_->poll(fd, 0), 0);

    ASSERT_EQ(kqsimUnplug(1), 0);
    EXPECT_EQ(node_->listNodes(), (std::vector<std::string>{"/dev/fw0", "/dev/fw1", "/dev/fw3"}));
    EXPECT_EQ(node_->open("/dev/fw2"), -ENOENT);
    EXPECT_EQ(node_->open("/dev/fw9"), -ENOENT);
    EXPECT_EQ(typeOf(event(fd)), uint32_t{FW_CDEV_EVENT_BUS_RESET});  // the others hear of it
    simFwNodeDenyAccess(0, true);
    EXPECT_EQ(node_->open("/dev/fw1"), -EACCES);
    simFwNodeDenyAccess(0, false);
    EXPECT_GE(openCamera(0), 0);
}

TEST_F(SimFwNodeTest, TransactionsAnswerWithResponseEventsAndTheBenchFaults) {
    const int fd = openCamera(0);
    const uint32_t generation = info(fd).reset.generation;
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &config);

    uint32_t value = 0;
    EXPECT_EQ(readQuadlet(fd, 0xF0000410, generation, &value), uint32_t{RCODE_COMPLETE});
    EXPECT_EQ(value, config.uniqueIdLow);
    const uint32_t shutter = kCommand + 0x81C;
    EXPECT_EQ(writeQuadlet(fd, shutter, 0x02000123, generation), uint32_t{RCODE_COMPLETE});
    ASSERT_EQ(kqsimPeekRegister(0, shutter, &value), 0);
    EXPECT_EQ(value & 0xFFF, 0x123u);
    // A block carries its quadlets in bus order.
    std::vector<uint8_t> block(128);
    EXPECT_EQ(transact(fd, TCODE_READ_BLOCK_REQUEST, 0xF0000400, &block, generation),
              uint32_t{RCODE_COMPLETE});
    for (uint32_t q = 0; q < 32; ++q) {
        ASSERT_EQ(kqsimPeekRegister(0, 0xF0000400 + 4 * q, &value), 0);
        EXPECT_EQ(be(&block[4 * q]), value) << q;
    }

    EXPECT_EQ(readQuadlet(fd, 0xF0000410, generation + 1, &value), uint32_t{RCODE_GENERATION});
    std::vector<uint8_t> data(4);
    EXPECT_EQ(transact(fd, TCODE_READ_QUADLET_REQUEST, 0xF0000410, &data, generation, 0),
              uint32_t{RCODE_ADDRESS_ERROR});
    ASSERT_EQ(kqsimFailRegister(0, shutter, KQSIM_WRITE, kErrorSemTimeout), 0);
    EXPECT_EQ(writeQuadlet(fd, shutter, 1, generation), uint32_t{RCODE_NO_ACK});
    EXPECT_EQ(readQuadlet(fd, shutter, generation, &value), uint32_t{RCODE_COMPLETE});

    const uint32_t reads = kqsimRequestCount(kIoctlAsyncRead);
    kqsimFailRequest(kIoctlAsyncRead, 1, kErrorBusy);
    fw_cdev_send_request request{};
    request.tcode = TCODE_READ_QUADLET_REQUEST;
    request.length = 4;
    request.offset = kRegisterSpace | 0xF0000410;
    request.data = reinterpret_cast<uintptr_t>(data.data());
    request.generation = generation;
    EXPECT_EQ(node_->ioctl(fd, FW_CDEV_IOC_SEND_REQUEST, &request), -EBUSY);
    EXPECT_EQ(kqsimRequestCount(kIoctlAsyncRead), reads + 1);
    EXPECT_EQ(node_->poll(fd, 0), 0);  // a failed call queues no response

    ASSERT_EQ(kqsimUnplug(0), 0);
    EXPECT_EQ(node_->ioctl(fd, FW_CDEV_IOC_SEND_REQUEST, &request), -ENODEV);
    EXPECT_EQ(node_->poll(fd, 0), -ENODEV);
    EXPECT_EQ(node_->read(fd, data.data(), data.size()), -ENODEV);
    node_->close(fd);
    EXPECT_EQ(node_->ioctl(fd, FW_CDEV_IOC_SEND_REQUEST, &request), -EBADF);
}

// A receive as the backend runs one: resources, a context on the camera's channel, packets
// queued with interrupts, then the camera set streaming through its registers.
class SimFwNodeIsoTest : public SimFwNodeTest {
  protected:
    static constexpr uint32_t kWidth = 64, kHeight = 48;  // 6144 bytes: a full and a part packet

    void SetUp() override {
        SimFwNodeTest::SetUp();
        kqsimSetTimeScale(0);
        kqsimSetNoise(0, 0);
        control_ = openCamera(0);
        generation_ = info(control_, 0xB05).reset.generation;
    }

    fw_cdev_event_iso_resource allocate(uint64_t channels, uint32_t bandwidth) {
        fw_cdev_allocate_iso_resource request{0xA110C, channels, bandwidth, 0};
        EXPECT_EQ(node_->ioctl(control_, FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE_ONCE, &request), 0);
        const std::vector<uint8_t> e = event(control_);
        fw_cdev_event_iso_resource result{};
        std::memcpy(&result, e.data(), std::min(e.size(), sizeof result));
        EXPECT_EQ(result.type, uint32_t{FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED});
        return result;
    }

    void program(uint32_t channel) {
        const std::pair<uint32_t, uint32_t> writes[] = {
            {kAdvanced + 0x00, 0x0007C2E5},  // the vendor block's access code and mask
            {kAdvanced + 0x04, 0x00000FFF},
            {kAdvanced + 0x104, 0x01010000},
            {kAdvanced + 0x110, 0},
            {kAdvanced + 0x114, kWidth << 16 | kHeight},
            {kCommand + 0x81C, 0x02000000 + 10},
            {kCsr0 + 0x10, sim::kCoding16 << 24},
            {kAdvanced + 0x11C, 0x40000000},
            {kCsr0 + 0x7C, 0x40000000},
            {kCommand + 0x60C, channel << 28 | 0x2000000},
        };
        for (const auto& [address, value] : writes) {
            ASSERT_EQ(writeQuadlet(control_, address, value, generation_),
                      uint32_t{RCODE_COMPLETE});
        }
        uint32_t packet = 0;
        ASSERT_EQ(readQuadlet(control_, kCsr0 + 0x44, generation_, &packet),
                  uint32_t{RCODE_COMPLETE});
        bytesPerPacket_ = packet >> 16;
        ASSERT_EQ(bytesPerPacket_, 4096u);
    }

    void queue(int fd, uint32_t packets, bool interrupt = true) {
        std::vector<uint32_t> words(packets, FW_CDEV_ISO_PAYLOAD_LENGTH(bytesPerPacket_) |
                                                 FW_CDEV_ISO_HEADER_LENGTH(4) |
                                                 (interrupt ? FW_CDEV_ISO_INTERRUPT : 0));
        fw_cdev_queue_iso request{};
        request.packets = reinterpret_cast<uintptr_t>(words.data());
        request.size = static_cast<uint32_t>(4 * words.size());
        request.data =
            reinterpret_cast<uintptr_t>(mapping_) + uint64_t{queued_ % kSlots} * bytesPerPacket_;
        EXPECT_GE(node_->ioctl(fd, FW_CDEV_IOC_QUEUE_ISO, &request), 0);
        queued_ += packets;
    }

    // The next packet: its header quadlet and payload.
    std::pair<uint32_t, std::vector<uint8_t>> packet(int fd) {
        const std::vector<uint8_t> e = event(fd);
        EXPECT_EQ(typeOf(e), uint32_t{FW_CDEV_EVENT_ISO_INTERRUPT});
        fw_cdev_event_iso_interrupt interrupt{};
        std::memcpy(&interrupt, e.data(), offsetof(fw_cdev_event_iso_interrupt, header));
        EXPECT_EQ(interrupt.closure, 0x150u);
        EXPECT_EQ(interrupt.header_length, 4u);
        const uint32_t header = be(e.data() + offsetof(fw_cdev_event_iso_interrupt, header));
        const uint8_t* payload = mapping_ + size_t{received_++ % kSlots} * bytesPerPacket_;
        return {header, std::vector<uint8_t>(payload, payload + (header >> 16))};
    }

    static constexpr uint32_t kSlots = 8;
    int control_ = -1;
    uint32_t generation_ = 0;
    uint32_t bytesPerPacket_ = 0;
    uint8_t* mapping_ = nullptr;
    uint32_t queued_ = 0, received_ = 0;
};

TEST_F(SimFwNodeIsoTest, FramesArriveAsPacketsAndLostOnesArriveCutShort) {
    const fw_cdev_event_iso_resource resource = allocate(~uint64_t{0} >> 48, 4096);
    ASSERT_GE(resource.channel, 0);
    EXPECT_EQ(resource.bandwidth, 4096);
    EXPECT_EQ(kqsimBandwidthInUse(), 4096u);
    EXPECT_EQ(allocate(uint64_t{1} << resource.channel, 0).channel, -1);  // taken
    const uint32_t channel = static_cast<uint32_t>(resource.channel);
    program(channel);

    const int fd = openCamera(0);
    fw_cdev_create_iso_context create{FW_CDEV_ISO_CONTEXT_RECEIVE, 4, channel, SCODE_400, 0x150, 7};
    ASSERT_EQ(node_->ioctl(fd, FW_CDEV_IOC_CREATE_ISO_CONTEXT, &create), 0);
    mapping_ = static_cast<uint8_t*>(node_->mapIsoBuffer(fd, kSlots * bytesPerPacket_));
    ASSERT_NE(mapping_, nullptr);
    // The second frame is lost on the bus: it comes as its first half alone.
    ASSERT_EQ(kqsimDropFrame(0, 2), 0);
    queue(fd, 5);
    fw_cdev_start_iso start{-1, 0, FW_CDEV_ISO_CONTEXT_MATCH_ALL_TAGS, 0};
    ASSERT_EQ(node_->ioctl(fd, FW_CDEV_IOC_START_ISO, &start), 0);
    ASSERT_EQ(writeQuadlet(control_, kCommand + 0x614, 0x80000000, generation_),
              uint32_t{RCODE_COMPLETE});

    std::vector<uint32_t> lengths, syncs;
    std::vector<uint8_t> frame;
    for (int i = 0; i < 5; ++i) {
        auto [header, payload] = packet(fd);
        EXPECT_EQ(header >> 8 & 0x3F, channel);
        EXPECT_EQ(header >> 4 & 0xF, 0xAu);
        lengths.push_back(header >> 16);
        syncs.push_back(header & 0xF);
        if (i < 2) {
            frame.insert(frame.end(), payload.begin(), payload.end());
        }
    }
    EXPECT_EQ(lengths, (std::vector<uint32_t>{4096, 2048, 3072, 4096, 2048}));
    EXPECT_EQ(syncs, (std::vector<uint32_t>{1, 0, 1, 1, 0}));
    // Without noise every frame of the run is the one the sensor read out last.
    std::vector<uint16_t> samples(kWidth * kHeight);
    uint32_t width = 0, height = 0;
    ASSERT_EQ(kqsimLastFrame(0, samples.data(), kWidth * kHeight, &width, &height),
              int32_t(kWidth * kHeight));
    EXPECT_EQ(width, kWidth);
    std::vector<uint8_t> expected(2 * samples.size());
    sim::encodeSamples(sim::kCoding16, samples.data(), samples.size(), expected.data());
    EXPECT_EQ(frame, expected);

    // Packets that ask for no interrupt are reported with the next one that does, or when the
    // client asks for those completed (the camera streams on).
    auto headers = [](const std::vector<uint8_t>& e) {
        fw_cdev_event_iso_interrupt interrupt{};
        std::memcpy(&interrupt, e.data(), offsetof(fw_cdev_event_iso_interrupt, header));
        EXPECT_EQ(interrupt.type, uint32_t{FW_CDEV_EVENT_ISO_INTERRUPT});
        return interrupt.header_length;
    };
    queue(fd, 2, false);
    queue(fd, 1);
    EXPECT_EQ(headers(event(fd)), 12u);
    queue(fd, 1, false);
    fw_cdev_flush_iso flush{};
    for (int tries = 0; tries < 10000 && node_->poll(fd, 0) == 0; ++tries) {
        ASSERT_EQ(node_->ioctl(fd, FW_CDEV_IOC_FLUSH_ISO, &flush), 0);
        node_->poll(fd, 1);  // an event, or the bus's next packet given a moment
    }
    EXPECT_EQ(headers(event(fd)), 4u);

    // A reset reaches every descriptor and clears the one-time allocations with the resource
    // manager's registers.
    kqsimBusReset();
    for (int descriptor : {control_, fd}) {
        const std::vector<uint8_t> e = event(descriptor);
        ASSERT_EQ(typeOf(e), uint32_t{FW_CDEV_EVENT_BUS_RESET});
        fw_cdev_event_bus_reset reset{};
        std::memcpy(&reset, e.data(), sizeof reset);
        EXPECT_EQ(reset.generation, generation_ + 1);
        EXPECT_EQ(reset.closure, descriptor == control_ ? 0xB05u : 0u);
    }
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
    EXPECT_EQ(allocate(uint64_t{1} << channel, 0).channel, resource.channel);
    ASSERT_EQ(kqsimUnplug(0), 0);
    EXPECT_EQ(node_->ioctl(fd, FW_CDEV_IOC_START_ISO, &start), -ENODEV);
    node_->unmapIsoBuffer(mapping_, kSlots * bytesPerPacket_);
}

}  // namespace
}  // namespace kqfw::test
