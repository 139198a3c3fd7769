#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kqcam {

// Exit codes scripts can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNoCamera = 2;
inline constexpr int kExitCameraError = 3;

int listCameras();
int describeCamera(int32_t camera);
// Writes firmware text from a file into a camera and starts it; refuses unless confirmed.
int writeFirmware(int32_t camera, const std::string& path, bool confirmed);
// Opens cameras 0 to `camera` (slots take cameras in list order): 0 or the exit code.
int openUpTo(int32_t camera);

struct SnapOptions {
    std::string output = "kqcam-snap.tif";
    uint32_t resolution = 0;
    uint32_t bits = 0;  // 0: the model's default
    uint32_t binning = 1;
    uint32_t exposureUs = 0;  // 0: the camera's current exposure
    int32_t gain = -1;        // -1: unchanged
    std::vector<double> whiteBalance;
    bool scaleTo16 = false;
};
// Takes one image and writes it as a 16-bit TIFF (grey, or RGB).
int snap(int32_t camera, const SnapOptions& options);

}  // namespace kqcam
