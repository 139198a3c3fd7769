// The configuration ROM as the Linux backend reads it: a camera's names become the device path
// the other backends give, and no ROM, however cut or pointed wrong, is read out of bounds.
#include <gtest/gtest.h>

#include <vector>

#include "backends/cdev_node_path.h"

namespace kqfw {
namespace {

// Quadlets in the host's order, as the kernel hands a ROM out.
void put(std::vector<uint8_t>& rom, uint32_t quadlet) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&quadlet);
    rom.insert(rom.end(), bytes, bytes + 4);
}

// Bus information block, a root directory of vendor id, vendor leaf, model id, model leaf, and
// the two leaves.
std::vector<uint8_t> romOf(const std::string& vendor, const std::string& model) {
    std::vector<uint8_t> rom;
    put(rom, 0x04040000);
    put(rom, 0x31333934);
    put(rom, 0x00FF5000);
    put(rom, 0x00DE1000);
    put(rom, 0x1001027B);
    auto leafQuadlets = [](const std::string& text) { return 3 + (text.size() + 3) / 4; };
    put(rom, 4u << 16);
    put(rom, 0x0300B0C1);
    put(rom, 0x81000000 | 3);  // the vendor leaf, 3 quadlets on from this entry
    put(rom, 0x17000001);
    put(rom, 0x81000000 | static_cast<uint32_t>(1 + leafQuadlets(vendor)));
    for (const std::string& text : {vendor, model}) {
        put(rom, static_cast<uint32_t>(leafQuadlets(text) - 1) << 16);
        put(rom, 0);
        put(rom, 0);
        std::string padded = text + std::string((4 - text.size() % 4) % 4, '\0');
        for (size_t i = 0; i < padded.size(); i += 4) {
            put(rom, uint32_t(uint8_t(padded[i])) << 24 | uint32_t(uint8_t(padded[i + 1])) << 16 |
                         uint32_t(uint8_t(padded[i + 2])) << 8 | uint8_t(padded[i + 3]));
        }
    }
    return rom;
}

TEST(NodeRom, ACamerasNamesAndIdMakeThePathTheOtherBackendsGive) {
    const std::vector<uint8_t> rom = romOf("Tolvan Opt", "Vestrix KQM");
    NodeIdentity identity;
    ASSERT_TRUE(parseConfigRom(rom.data(), rom.size(), &identity));
    EXPECT_EQ(identity.vendorName, "Tolvan Opt");
    EXPECT_EQ(identity.modelName, "Vestrix KQM");
    EXPECT_EQ(devicePathOf(identity),
              "\\\\?\\1394#tolvan_opt&vestrix_kqm#10001001027b#"
              "{5d3a7c41-92e6-4f0b-8b1d-3e6a0c94f257}");
}

TEST(NodeRom, ACutOrMisdirectedRomIsRefusedWithoutReadingPastIt) {
    const std::vector<uint8_t> rom = romOf("Tolvan Opt", "Vestrix KQC");
    for (size_t bytes = 0; bytes < rom.size(); ++bytes) {
        // Each cut is a buffer of its own size, so a read past it is one the sanitizers see.
        std::vector<uint8_t> cut(rom.begin(), rom.begin() + bytes);
        NodeIdentity identity;
        EXPECT_FALSE(parseConfigRom(cut.data(), cut.size(), &identity)) << bytes;
    }
    std::vector<uint8_t> wrong = rom;
    wrong[4 * 7 + 3] = 0xFF;  // the vendor leaf's offset points far past the end
    NodeIdentity identity;
    EXPECT_FALSE(parseConfigRom(wrong.data(), wrong.size(), &identity));
    std::vector<uint8_t> controller(rom.begin(), rom.begin() + 4 * 6);
    controller[4 * 5 + 1] = 0;  // a root directory without entries
    EXPECT_FALSE(parseConfigRom(controller.data(), controller.size(), &identity));
}

}  // namespace
}  // namespace kqfw
