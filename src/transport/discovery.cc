#include "transport/discovery.h"

#include <algorithm>
#include <cstdio>

#include "kqfw/kqfw.h"
#include "platform/clock.h"
#include "platform/string_compare.h"
#include "transport/async_request.h"
#include "transport/driver_registry.h"
#include "transport/ioctl_codes.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw {

namespace {

constexpr uint32_t kResetSettleMs = 100;
constexpr size_t kSegmentLimit = 15;
constexpr size_t kPaddedSegment = 15;

bool hasPrefix(const std::string& path, const char* prefix) {
    return path.compare(0, kPrefixChars, prefix, kPrefixChars) == 0;
}

uint32_t low24(uint32_t v) {
    return v & 0x00FFFFFF;
}

uint32_t readInto(const DeviceLink& link, uint32_t address, uint32_t& value) {
    return readQuadlet(link, address, &value) == 0 ? 0 : KQFW_STATUS_READ_FAILED;
}

uint32_t readMode(const DeviceLink& link, int m, Format7ModeInfo& mode) {
    uint32_t v = 0;
    if (readInto(link, link.commandBase + kCmdFormat7ModeOffsets + 4 * m, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.csrAddress = kRegisterSpaceBase + 4 * low24(v);
    const uint32_t csr = mode.csrAddress;
    if (readInto(link, csr + kF7MaxSize, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.maxWidth = static_cast<uint16_t>(v >> 16);
    mode.maxHeight = static_cast<uint16_t>(v);
    if (readInto(link, csr + kF7UnitSize, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.unitWidth = static_cast<uint16_t>(v >> 16);
    mode.unitHeight = static_cast<uint16_t>(v);
    if (readInto(link, csr + kF7TotalBytes, mode.totalBytes)) {
        return KQFW_STATUS_READ_FAILED;
    }
    if (readInto(link, csr + kF7BytesPerPacket, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.bytesPerPacket = static_cast<uint16_t>(v >> 16);
    if (readInto(link, csr + kF7PacketsPerFrame, mode.packetsPerFrame)) {
        return KQFW_STATUS_READ_FAILED;
    }
    if (readInto(link, csr + kF7UnitPosition, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.unitPosX = static_cast<uint16_t>(v >> 16);
    mode.unitPosY = static_cast<uint16_t>(v);
    if (readInto(link, link.advancedBase + kAdvModeSizeWords + kAdvModeSizeStride * m, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.modeWidth = static_cast<uint16_t>(v >> 16);
    mode.modeHeight = static_cast<uint16_t>(v);
    if (readInto(link, csr + kF7Capabilities, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    mode.packingCapable = (v & kF7PackingCapableBit) ? 1 : 0;
    mode.compressionCapable = (v & kF7CompressionCapableBit) ? 1 : 0;
    return 0;
}

}  // namespace

std::vector<std::string> listCameras() {
    std::vector<std::string> list;
    for (std::string& path : driver().listInterfaces(kCameraInterfaceClass)) {
        if (list.size() == kMaxListedCameras) {
            break;
        }
        if (path.size() <= kMaxPathChars) {
            list.push_back(std::move(path));
        }
    }
    return list;
}

std::string sortKey(const std::string& path) {
    size_t first = path.find('#');
    size_t second = first == std::string::npos ? first : path.find('#', first + 1);
    size_t third = second == std::string::npos ? second : path.find('#', second + 1);
    if (third == std::string::npos) {
        return {};
    }
    std::string segment = path.substr(second + 1, third - second - 1);
    if (segment.size() > kSegmentLimit) {
        return {};
    }
    // Short segments are padded like the longer ones, so every key has the same shape.
    std::string p = std::string(kPaddedSegment - segment.size(), '0') + segment;
    std::string k = p.substr(0, 7) + '0' + p.substr(7, 2);
    return k.substr(8, 2) + k.substr(6, 2) + k.substr(4, 2) + k.substr(2, 2) + k.substr(0, 2);
}

int comparePaths(const std::string& a, const std::string& b) {
    std::string ka = sortKey(a);
    std::string kb = sortKey(b);
    if (!ka.empty() && !kb.empty()) {
        return compareLikeLstrcmp(ka.c_str(), kb.c_str());
    }
    return compareLikeLstrcmp(a.c_str(), b.c_str());
}

void sortCameraList(std::vector<std::string>& paths) {
    std::sort(paths.begin(), paths.end(),
              [](const std::string& a, const std::string& b) { return comparePaths(a, b) < 0; });
}

bool isColourPath(const std::string& path) {
    return hasPrefix(path, kColourPrefix);
}

bool isMonoPath(const std::string& path) {
    return hasPrefix(path, kMonoPrefix);
}

uint32_t selectCamera(uint32_t k, std::string* path) {
    std::vector<std::string> paths = listCameras();
    sortCameraList(paths);
    uint32_t count = 0;
    for (const std::string& candidate : paths) {
        if (isColourPath(candidate) || isMonoPath(candidate)) {
            if (count == k && path != nullptr) {
                *path = candidate;
            }
            ++count;
        }
    }
    return count;
}

uint32_t openCamera(uint32_t k, DeviceLink& link, Format7ModeInfo (&modes)[kFormat7Modes]) {
    std::string path;
    if (k >= selectCamera(k, &path)) {
        return KQFW_STATUS_NO_CAMERA;
    }
    uint32_t error = 0;
    link.deviceHandle = driver().open(path, false, &error);
    if (link.deviceHandle == kInvalidDeviceHandle) {
        return KQFW_STATUS_NO_CAMERA;
    }
    std::snprintf(link.devicePath, sizeof link.devicePath, "%s", path.c_str());
    link.isMono = isMonoPath(path) ? 1 : 0;

    uint8_t node[kNodeAddressBytes] = {};
    uint32_t returned = 0;
    driver().ioControl(link.deviceHandle, kIoctlGetNodeAddress, node, sizeof node, node,
                       sizeof node, &returned);
    uint16_t address = loadLe16(node + 4);
    link.busNumber = static_cast<uint16_t>(address >> 6);
    link.nodeNumber = static_cast<uint16_t>(address & 0x3F);

    uint32_t root = 0;
    if (readInto(link, kConfigRomRoot, root)) {
        return KQFW_STATUS_READ_FAILED;
    }
    const uint32_t d1 = kConfigRomDirectoryBase + 4 * low24(root);
    uint32_t d1Value = 0;
    readQuadlet(link, d1, &d1Value);
    const uint32_t d2 = d1 + 4 * low24(d1Value) + 4;
    uint32_t v = 0;
    if (readInto(link, d2, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    link.commandBase = kRegisterSpaceBase + 4 * low24(v);
    if (readInto(link, link.commandBase + kCmdAdvancedOffset, v)) {
        return KQFW_STATUS_READ_FAILED;
    }
    link.advancedBase = kRegisterSpaceBase + 4 * low24(v);

    if (writeQuadlet(link, link.commandBase + kCmdInitialize, kResetToDefaults) != 0) {
        return KQFW_STATUS_WRITE_FAILED;
    }
    settleMs(kResetSettleMs);

    uint32_t mask = 0;
    if (readInto(link, link.commandBase + kCmdFormat7ModeMask, mask)) {
        return KQFW_STATUS_READ_FAILED;
    }
    for (int m = 0; m < kFormat7Modes; ++m) {
        if (mask & (1u << (31 - m))) {
            if (uint32_t status = readMode(link, m, modes[m])) {
                return status;
            }
        }
    }
    return 0;
}

}  // namespace kqfw
