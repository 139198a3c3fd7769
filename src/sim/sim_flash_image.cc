#include "sim/sim_flash_image.h"

#include "sim/sim_piezo.h"

#include <algorithm>
#include <cmath>

namespace kqfw::sim {

namespace {

constexpr uint32_t kDefaultBlemishes[] = {1388 * 17 + 203,  1388 * 88 + 1201,  1388 * 161 + 640,
                                          1388 * 302 + 17,  1388 * 411 + 999,  1388 * 502 + 694,
                                          1388 * 515 + 695, 1388 * 640 + 1333, 1388 * 777 + 88,
                                          1388 * 903 + 450, 1388 * 998 + 1100, 1388 * 1031 + 7};
constexpr uint32_t kDefaultMarked[] = {1388 * 250 + 250, 1388 * 700 + 1000, 1388 * 1000 + 30};
constexpr uint8_t kDefaultMarkedCodes[] = {1, 2, 1};

void storeBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

// Writes entry k of a table for the shot that lands at (rows, columns) sensor pixels.
void putEntry(uint8_t* table, int k, double rows, double columns, bool mono) {
    table[2 * k] = piezoSteps(columns, mono);
    table[2 * k + 1] = static_cast<uint8_t>(255 - piezoSteps(rows, mono));
}

// A colour table of an n x n grid at 1/f pixel spacing: grid row j lands R = n - 1 - j down.
void colourTable(uint8_t* table, int n, int f) {
    for (int k = 0; k < n * n; ++k) {
        int j = k / n;
        int i = k % n;
        putEntry(table, k, double(n - 1 - j) / f, double(i) / f, false);
    }
}

void monoTable(uint8_t* table, int f) {
    for (int k = 0; k < f * f; ++k) {
        int j = k / f;
        int i = k % f;
        putEntry(table, k, double(f - 1 - j) / f, double(i) / f, true);
    }
}

}  // namespace

KqsimCameraConfig defaultCameraConfig(uint32_t model) {
    KqsimCameraConfig c{};
    c.model = model;
    c.uniqueIdHigh = 0x00C0DE10;
    c.uniqueIdLow = model == KQSIM_MODEL_KQM ? 0x0010027B : 0x0010014A;
    c.firmwareVersion = 0x0115;
    c.maxWidth = c.modeWidth = 1388;
    c.maxHeight = c.modeHeight = 1040;
    c.unitWidth = 4;
    c.unitHeight = 4;
    c.modeMask = 0x80000000;
    c.packingCapable = 1;
    c.compressionCapable = 1;
    c.gain = 0x0C8;
    c.flashIdWord = model == KQSIM_MODEL_KQM ? 0x4B514D01 : 0x4B514301;
    c.blemishCount = std::size(kDefaultBlemishes);
    c.blemishPositions = kDefaultBlemishes;
    c.markedPixelCount = std::size(kDefaultMarked);
    c.markedPixelPositions = kDefaultMarked;
    c.markedPixelCodes = kDefaultMarkedCodes;
    return c;
}

std::vector<uint8_t> factoryCalibrationBlock(uint32_t model) {
    std::vector<uint8_t> block(kSimCalibrationBytes, 0);
    if (model == KQSIM_MODEL_KQM) {
        monoTable(&block[10], 2);
        monoTable(&block[20], 3);
        return block;
    }
    colourTable(&block[40], 2, 1);
    colourTable(&block[50], 4, 2);
    colourTable(&block[84], 6, 3);
    // Index 6 shoots the subset 0, 2, 4, 12, 14, 16, 24, 26, 28 of the 6 x 6 grid.
    constexpr int kSubset[9] = {0, 2, 4, 12, 14, 16, 24, 26, 28};
    for (int k = 0; k < 9; ++k) {
        block[20 + 2 * k] = block[84 + 2 * kSubset[k]];
        block[20 + 2 * k + 1] = block[84 + 2 * kSubset[k] + 1];
    }
    return block;
}

std::vector<uint8_t> buildFlashImage(const KqsimCameraConfig& config, uint32_t flashBytes) {
    std::vector<uint8_t> flash(flashBytes, 0xFF);
    uint32_t state = 0x2545F491u ^ config.uniqueIdLow;
    for (uint32_t i = 0; i < kSimFirmwareBytes; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        flash[i] = static_cast<uint8_t>(state);
    }
    uint8_t* record = &flash[kSimFlashRecordAddress];
    if (config.flashRecord != nullptr) {
        uint32_t bytes = std::min(config.flashRecordBytes, flashBytes - kSimFlashRecordAddress);
        std::copy(config.flashRecord, config.flashRecord + bytes, record);
        return flash;
    }
    std::fill(record, record + 512, 0);
    storeBe32(record + 144, config.flashIdWord);
    std::vector<uint8_t> calibration =
        config.calibrationBlock != nullptr
            ? std::vector<uint8_t>(config.calibrationBlock, config.calibrationBlock + 256)
            : factoryCalibrationBlock(config.model);
    std::copy(calibration.begin(), calibration.end(), record + 256);
    const uint32_t a = config.blemishCount;
    const uint32_t b = config.markedPixelCount;
    storeBe32(record + 512, a);
    storeBe32(record + 516, b);
    storeBe32(record + 520, 0);
    for (uint32_t i = 0; i < a; ++i) {
        storeBe32(record + 524 + 4 * i, config.blemishPositions[i]);
    }
    // The two bytes a pixel that follow the positions are the firmware's own; leave them 0.
    std::fill(record + 524 + 4 * a, record + 524 + 6 * a, 0);
    for (uint32_t j = 0; j < b; ++j) {
        uint8_t* e = record + 524 + 6 * a + 4 * j;
        uint32_t position = config.markedPixelPositions[j];
        e[0] = config.markedPixelCodes != nullptr ? config.markedPixelCodes[j] : 1;
        e[1] = static_cast<uint8_t>(position >> 16);
        e[2] = static_cast<uint8_t>(position >> 8);
        e[3] = static_cast<uint8_t>(position);
    }
    return flash;
}

}  // namespace kqfw::sim
