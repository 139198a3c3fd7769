#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_scene.h"

namespace kqfw::sim {

// The fixed properties of one camera's sensor: response, fixed pattern, defects, noise.
struct SensorModel {
    bool mono = false;
    uint32_t width = 0, height = 0;  // the full sensor
    uint32_t seed = 1;
    bool noise = true;
    double whiteDnPerMs = 80.0;   // a white scene at the centre, green channel
    double vignetting = 0.12;     // fall-off at the edges, per axis
    double prnu = 0.01;           // pixel gain spread (what a white reference flattens)
    double darkDnPerMs = 0.0005;  // dark current, with a fixed pattern of ±50 %
    double hotDnPerMs = 2.0;      // hot pixels' dark current
    // The readout amplifier's glow: dark current that falls off from the sensor's top right
    // corner along both axes (what a black reference removes beside the hot pixels).
    double glowDnPerMs = 0.02;
    double glowReachPx = 150.0;
    double readNoiseDn = 3.0;
    double dnPerElectron = 0.5;
    double blurSigma = 0.6;           // optics, in sensor pixels
    std::vector<uint32_t> blemishes;  // positions y * width + x of defective pixels
};

// One frame as the camera takes it.
struct FrameRequest {
    int32_t left = 0, top = 0, width = 0, height = 0;  // sensor pixels
    uint32_t binX = 1, binY = 1;                       // averaged in the camera
    double exposureMs = 0;
    double dx = 0, dy = 0;      // sensor displacement (multi-shot), in pixels
    double illumination = 1.0;  // lamp level for this shot
    uint64_t frameNumber = 0;   // makes each frame's noise its own
};

inline constexpr uint16_t kPedestal = 128;
inline constexpr uint16_t kFullScale = 16383;

// The 14-bit samples of a frame, delivered size: (width / binX) x (height / binY).
void renderSamples(const SensorModel& sensor, const Scene& scene, const FrameRequest& request,
                   uint16_t* samples);

// Transfer formats (IIDC colour codings): 5 = 16-bit little-endian, 0x85 = 12-bit packed
// (3 bytes per 2 pixels), 0x80 = 8-bit through the inverse of the library's expansion table.
inline constexpr uint32_t kCoding16 = 5;
inline constexpr uint32_t kCodingPacked12 = 0x85;
inline constexpr uint32_t kCoding8 = 0x80;
uint32_t bytesForPixels(uint32_t coding, uint64_t pixels);
void encodeSamples(uint32_t coding, const uint16_t* samples, uint64_t count, uint8_t* out);

// The byte an 8-bit transfer sends for a sample: the largest code whose expansion does not
// exceed it.
uint8_t compress8(uint16_t sample);

}  // namespace kqfw::sim
