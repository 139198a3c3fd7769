#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kqfw {

// What a node's configuration ROM says about it: the 64-bit unique id and the vendor's and
// model's names from the textual descriptor leaves that follow their id entries in the root
// directory.
struct NodeIdentity {
    uint32_t uniqueIdHigh = 0;
    uint32_t uniqueIdLow = 0;
    std::string vendorName;
    std::string modelName;
};

// Parses a ROM given as big-endian quadlets, as the kernel hands it out. False when it is too
// short for a bus information block, or has no root directory with both names (the local
// controller's ROM, a node that is no camera); every offset is checked against the length.
bool parseConfigRom(const uint8_t* rom, size_t bytes, NodeIdentity* identity);

// The device path a node gets, in the form the other backends give: the names lowercased
// with spaces as '_', the unique id's low 48 bits as the instance, and the camera's interface
// class, so that listing, sorting and model recognition above the seam work unchanged.
std::string devicePathOf(const NodeIdentity& identity);

}  // namespace kqfw
