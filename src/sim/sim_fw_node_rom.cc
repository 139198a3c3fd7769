// The configuration ROMs the kernel node reads off the bus: the bus information block with the
// unique id, and the root directory with the vendor and model, each with its text leaf.
#include <string>

#include "sim/sim_camera.h"
#include "sim/sim_fw_node.h"

namespace kqfw::sim {

namespace {

constexpr uint32_t kBusName = 0x31333934;  // "1394"
constexpr uint32_t kCameraCapabilities = 0x0000B002;
constexpr uint32_t kControllerCapabilities = 0xF000B002;
constexpr uint32_t kNodeCapabilities = 0x0083C0;
constexpr uint32_t kControllerIdHigh = 0x0000F0F0;
constexpr uint32_t kControllerIdLow = 0x00000001;
constexpr uint32_t kKeyVendor = 0x03;
constexpr uint32_t kKeyModel = 0x17;
constexpr uint32_t kKeyNodeCapabilities = 0x0C;
constexpr uint32_t kKeyTextLeaf = 0x81;
constexpr uint32_t kKeyUnitDirectory = 0xD1;
constexpr uint32_t kKeySpecifier = 0x12;
constexpr uint32_t kKeyVersion = 0x13;
constexpr uint32_t kKeyCommandBase = 0x40;
constexpr uint32_t kUnitVersion = 0x000100;

uint16_t crc16(const uint32_t* quadlets, size_t count) {
    uint32_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            const uint32_t sum = ((crc >> 12) ^ (quadlets[i] >> shift)) & 0xF;
            crc = ((crc << 4) ^ (sum << 12) ^ (sum << 5) ^ sum) & 0xFFFF;
        }
    }
    return static_cast<uint16_t>(crc);
}

// Seals the block whose length quadlet is at `at`: its length and the CRC of what follows.
void seal(std::vector<uint32_t>& rom, size_t at) {
    const size_t length = rom.size() - at - 1;
    rom[at] = static_cast<uint32_t>(length << 16) | crc16(&rom[at + 1], length);
}

void appendTextLeaf(std::vector<uint32_t>& rom, const std::string& text) {
    const size_t at = rom.size();
    rom.push_back(0);
    rom.push_back(0);  // a textual descriptor, no specifier
    rom.push_back(0);  // minimal ASCII, no language
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t q = 0;
        for (size_t k = 0; k < 4; ++k) {
            const uint8_t c = i + k < text.size() ? static_cast<uint8_t>(text[i + k]) : 0;
            q |= uint32_t{c} << (24 - 8 * k);
        }
        rom.push_back(q);
    }
    seal(rom, at);
}

uint32_t entry(uint32_t key, uint32_t value) {
    return key << 24 | (value & 0xFFFFFF);
}

}  // namespace

std::vector<uint32_t> simConfigRom(const KqsimCameraConfig* camera) {
    std::vector<uint32_t> rom = {0, kBusName,
                                 camera != nullptr ? kCameraCapabilities : kControllerCapabilities,
                                 camera != nullptr ? camera->uniqueIdHigh : kControllerIdHigh,
                                 camera != nullptr ? camera->uniqueIdLow : kControllerIdLow};
    const size_t root = rom.size();
    if (camera == nullptr) {
        rom.push_back(0);
        rom.push_back(entry(kKeyNodeCapabilities, kNodeCapabilities));
        seal(rom, root);
    } else {
        const bool foreign = camera->model == KQSIM_MODEL_FOREIGN;
        const uint32_t vendor = foreign ? 0x00D0E2 : 0x00B0C1;
        const uint32_t model = foreign ? 3 : camera->model == KQSIM_MODEL_KQM ? 2 : 1;
        const std::string vendorName = foreign ? "Meridian" : "Tolvan Opt";
        const std::string modelName = foreign                            ? "Film Scanner"
                                      : camera->model == KQSIM_MODEL_KQM ? "Vestrix KQM"
                                                                         : "Vestrix KQC";
        // The root directory's six entries, then the unit directory's three, then the leaves;
        // an offset counts quadlets from its own entry.
        const size_t unit = root + 7;
        const size_t vendorLeaf = unit + 4;
        const size_t modelLeaf = vendorLeaf + 3 + (vendorName.size() + 3) / 4;
        rom.push_back(0);
        rom.push_back(entry(kKeyVendor, vendor));
        rom.push_back(entry(kKeyTextLeaf, static_cast<uint32_t>(vendorLeaf - (root + 2))));
        rom.push_back(entry(kKeyModel, model));
        rom.push_back(entry(kKeyTextLeaf, static_cast<uint32_t>(modelLeaf - (root + 4))));
        rom.push_back(entry(kKeyNodeCapabilities, kNodeCapabilities));
        rom.push_back(entry(kKeyUnitDirectory, static_cast<uint32_t>(unit - (root + 6))));
        seal(rom, root);
        rom.push_back(0);
        rom.push_back(entry(kKeySpecifier, vendor));
        rom.push_back(entry(kKeyVersion, kUnitVersion));
        rom.push_back(entry(kKeyCommandBase, (kSimCommandBase - 0xF0000000) / 4));
        seal(rom, unit);
        appendTextLeaf(rom, vendorName);
        appendTextLeaf(rom, modelName);
    }
    // The bus information block's CRC covers the whole ROM after its first quadlet.
    const size_t covered = rom.size() - 1;
    rom[0] = 0x04u << 24 | static_cast<uint32_t>(covered & 0xFF) << 16 | crc16(&rom[1], covered);
    return rom;
}

}  // namespace kqfw::sim
