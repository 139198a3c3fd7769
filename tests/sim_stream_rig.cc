#include "sim_stream_rig.h"

#include <cstring>

#include "camera/colour_tables.h"
#include "platform/clock.h"
#include "transport/register_access.h"
#include "transport/register_map.h"

namespace kqfw::test {

namespace {

constexpr uint32_t kCsr0 = 0xF0F08000;

uint32_t request(DeviceHandle h, uint32_t code, uint8_t* buffer, uint32_t bytes) {
    uint32_t returned = 0;
    return driver().ioControl(h, code, buffer, bytes, buffer, bytes, &returned);
}

uint32_t waitIdle(const DeviceLink& link, uint32_t address) {
    for (int i = 0; i < 1000; ++i) {
        uint32_t v = 0;
        if (uint32_t e = readQuadlet(link, address, &v)) {
            return e;
        }
        if (v & 0x00800000) {
            return 8;
        }
        if (!(v & 0x40000000)) {
            return 0;
        }
        sleepMs(1);
    }
    return 121;
}

}  // namespace

uint32_t openStream(const DeviceLink& link, bool mono, const StreamSetup& s, Stream* stream) {
    stream->link = link;
    const uint32_t adv = link.advancedBase, cmd = link.commandBase;
    const uint32_t binning =
        mono ? (s.binning << 24) + (s.binning << 16) : (s.binning << 16) + 0x1000000;
    const std::pair<uint32_t, uint32_t> writes[] = {
        {adv + 0x104, binning},
        {adv + 0x110, (uint32_t(s.left) << 16) + uint32_t(s.top)},
        {adv + 0x114, (uint32_t(s.width) << 16) + uint32_t(s.height)},
        {cmd + 0x81C, (s.exposureUnits & 0xFFF) + 0x2000000},
        {adv + 0x14, s.exposureUnits >> 12},
        {kCsr0 + 0x10, s.coding << 24},
    };
    if (uint32_t e = unlockAdvancedRegisters(link)) {
        return e;
    }
    for (const auto& [address, value] : writes) {
        if (uint32_t e = writeQuadlet(link, address, value)) {
            return e;
        }
    }
    uint32_t e = writeQuadlet(link, adv + 0x11C, 0x40000000);
    e = e ? e : waitIdle(link, adv + 0x11C);
    e = e ? e : writeQuadlet(link, kCsr0 + 0x7C, 0x40000000);
    e = e ? e : waitIdle(link, kCsr0 + 0x7C);
    uint32_t v = 0, position = 0, size = 0;
    e = e ? e : readQuadlet(link, kCsr0 + 0x44, &v);
    stream->bytesPerPacket = v >> 16;
    e = e ? e : readQuadlet(link, kCsr0 + 0x48, &stream->packetsPerFrame);
    e = e ? e : readQuadlet(link, kCsr0 + 0x08, &position);
    e = e ? e : readQuadlet(link, kCsr0 + 0x0C, &size);
    if (e) {
        return e;
    }
    stream->deliveredWidth = size >> 16;
    stream->deliveredHeight = size & 0xFFFF;

    uint8_t bw[24] = {};
    storeLe32(bw, stream->bytesPerPacket);
    storeLe32(bw + 4, 4);
    if (uint32_t r = request(link.deviceHandle, kIoctlIsochAllocateBandwidth, bw, 24)) {
        return r;
    }
    stream->bandwidth = loadLe64(bw + 8);
    uint8_t ch[16] = {};
    storeLe32(ch, 0xFFFFFFFF);
    if (uint32_t r = request(link.deviceHandle, kIoctlIsochAllocateChannel, ch, 16)) {
        return r;
    }
    stream->channel = loadLe32(ch + 4);
    uint8_t res[40] = {};
    storeLe32(res, 4);
    storeLe32(res + 4, 9);
    storeLe32(res + 8, stream->channel);
    storeLe32(res + 12, stream->bytesPerPacket);
    storeLe32(res + 16, 2);
    storeLe32(res + 20, stream->frameBytes());
    storeLe32(res + 24, 1);
    if (uint32_t r = request(link.deviceHandle, kIoctlIsochAllocateResources, res, 40)) {
        return r;
    }
    stream->resources = loadLe64(res + 32);
    return mapSharedBuffers(link, 8 << 20, 2 << 20, &stream->bufferA, &stream->bufferB);
}

uint32_t armStart(const Stream& stream, uint32_t commandOffset, uint32_t value) {
    uint8_t start[20] = {};
    storeLe32(start, value);
    storeLe16(start + 8, stream.link.nodeId());
    storeLe16(start + 12, 0xFFFF);
    storeLe32(start + 16, stream.link.commandBase + commandOffset);
    uint32_t returned = 0;
    return driver().ioControl(stream.link.deviceHandle, kIoctlSetStartCommand, start, 20, nullptr,
                              0, &returned);
}

uint32_t attachFrames(const Stream& stream, uint32_t count) {
    const uint32_t frameBytes = stream.frameBytes();
    const uint32_t slot = (frameBytes + 4095) / 4096 * 4096;
    uint8_t attach[64] = {};
    storeLe64(attach, stream.resources);
    storeLe32(attach + 8, count);
    storeLe32(attach + 12, slot * (count - 1) + frameBytes);
    storeLe32(attach + 24, 1);
    storeLe32(attach + 28, frameBytes);
    storeLe32(attach + 32, stream.bytesPerPacket);
    uint32_t returned = 0;
    return driver().ioControl(stream.link.deviceHandle, kIoctlIsochAttachBuffers, attach, 64,
                              nullptr, 0, &returned);
}

void closeStream(Stream& stream) {
    uint8_t buffer[16] = {};
    storeLe64(buffer, stream.resources);
    request(stream.link.deviceHandle, kIoctlIsochStop, buffer, 16);
    request(stream.link.deviceHandle, kIoctlIsochFreeResources, buffer, 8);
    storeLe32(buffer, stream.channel);
    request(stream.link.deviceHandle, kIoctlIsochFreeChannel, buffer, 4);
    storeLe64(buffer, stream.bandwidth);
    request(stream.link.deviceHandle, kIoctlIsochFreeBandwidth, buffer, 8);
}

ReceiveStatus receiveStatus(DeviceHandle handle) {
    uint8_t out[48] = {};
    uint32_t returned = 0;
    ReceiveStatus status;
    if (driver().ioControl(handle, kIoctlGetReceiveStatus, nullptr, 0, out, 48, &returned) == 0) {
        status.newest = static_cast<int32_t>(loadLe32(out));
        for (int i = 0; i < 5; ++i) {
            status.slots[i] = loadLe64(out + 8 + 8 * i);
        }
    }
    return status;
}

std::vector<uint16_t> frameSamples(const Stream& stream, uint32_t coding, uint32_t slot) {
    const size_t pixels = size_t{stream.deliveredWidth} * stream.deliveredHeight;
    const uint32_t slotBytes = (stream.frameBytes() + 4095) / 4096 * 4096;
    const uint8_t* b = static_cast<const uint8_t*>(stream.bufferA) + size_t{slot} * slotBytes;
    std::vector<uint16_t> samples(pixels);
    static const std::vector<uint16_t> expand = [] {
        uint16_t raw[256];
        fillExpand8Table(raw);
        return std::vector<uint16_t>(raw, raw + 256);
    }();
    for (size_t k = 0; k < pixels; ++k) {
        if (coding == 0x85) {
            const uint8_t* g = b + 3 * (k / 2);
            samples[k] = k % 2 == 0 ? ((g[0] * 16) + (g[2] >> 4)) * 4 + 3
                                    : ((g[1] * 16) + (g[2] & 15)) * 4 + 3;
        } else if (coding == 0x80) {
            samples[k] = expand[b[k]];
        } else {
            samples[k] = static_cast<uint16_t>(b[2 * k] | (b[2 * k + 1] << 8));
        }
    }
    return samples;
}

}  // namespace kqfw::test
