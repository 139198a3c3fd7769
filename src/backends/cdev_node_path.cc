#include "backends/cdev_node_path.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "transport/driver_port.h"

namespace kqfw {

namespace {

constexpr uint32_t kKeyVendorId = 0x03;
constexpr uint32_t kKeyModelId = 0x17;
constexpr uint32_t kKeyTextLeaf = 0x81;
constexpr size_t kBusInfoQuadlets = 5;
constexpr size_t kLeafHeaderQuadlets = 3;  // length, descriptor type, character set
constexpr size_t kMaxNameChars = 64;

class RomReader {
  public:
    RomReader(const uint8_t* rom, size_t bytes) : rom_(rom), quadlets_(bytes / 4) {}
    bool has(size_t q) const { return q < quadlets_; }
    // The kernel hands the ROM out as it keeps it: quadlets in this machine's byte order.
    uint32_t at(size_t q) const {
        uint32_t quadlet = 0;
        std::memcpy(&quadlet, rom_ + 4 * q, 4);
        return quadlet;
    }

    // The text of the leaf at quadlet q; empty when the leaf does not fit in the ROM (a name
    // cut short would make another device's path).
    std::string text(size_t q) const {
        if (!has(q) || !has(q + (at(q) >> 16))) {
            return {};
        }
        const size_t length = at(q) >> 16;
        std::string out;
        for (size_t i = kLeafHeaderQuadlets; i <= length && has(q + i); ++i) {
            const uint32_t word = at(q + i);
            for (int shift = 24; shift >= 0; shift -= 8) {
                const char c = static_cast<char>(word >> shift & 0xFF);
                if (c == '\0' || out.size() == kMaxNameChars) {
                    return out;
                }
                out += c;
            }
        }
        return out;
    }

  private:
    const uint8_t* rom_;
    size_t quadlets_;
};

std::string pathSegment(const std::string& name) {
    std::string out;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += c == ' ' ? '_' : static_cast<char>(std::tolower(u));
    }
    return out;
}

}  // namespace

bool parseConfigRom(const uint8_t* rom, size_t bytes, NodeIdentity* identity) {
    *identity = NodeIdentity{};
    const RomReader r(rom, bytes);
    if (!r.has(kBusInfoQuadlets)) {
        return false;
    }
    const size_t busInfo = r.at(0) >> 24;  // quadlets of the bus information block after q0
    const size_t root = 1 + busInfo;
    if (busInfo < 4 || !r.has(root)) {
        return false;
    }
    identity->uniqueIdHigh = r.at(3);
    identity->uniqueIdLow = r.at(4);
    const size_t entries = r.at(root) >> 16;
    uint32_t lastKey = 0;
    for (size_t i = 1; i <= entries && r.has(root + i); ++i) {
        const uint32_t entry = r.at(root + i);
        const uint32_t key = entry >> 24;
        if (key == kKeyTextLeaf && (lastKey == kKeyVendorId || lastKey == kKeyModelId)) {
            const std::string name = r.text(root + i + (entry & 0xFFFFFF));
            (lastKey == kKeyVendorId ? identity->vendorName : identity->modelName) = name;
        }
        lastKey = key;
    }
    return !identity->vendorName.empty() && !identity->modelName.empty();
}

std::string devicePathOf(const NodeIdentity& identity) {
    char instance[16];
    std::snprintf(instance, sizeof instance, "%04x%08x", identity.uniqueIdHigh & 0xFFFF,
                  identity.uniqueIdLow);
    return std::string("\\\\?\\1394#") + pathSegment(identity.vendorName) + "&" +
           pathSegment(identity.modelName) + "#" + instance + "#" + kCameraInterfaceClass;
}

}  // namespace kqfw
