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

// Closes every camera the command opened, whichever way it leaves.
struct ClosesCameras {
    ~ClosesCameras();
};

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
    std::string blackRef, whiteRef;  // reference files to restore and apply; empty: none
    std::string scene;               // the simulated bench's scene; empty: unchanged
};
// Takes one image and writes it as a 16-bit TIFF (grey, or RGB).
int snap(int32_t camera, const SnapOptions& options);

struct ReferenceOptions {
    std::string kind;  // "black" or "white"
    std::string output;
    uint32_t exposureUs = 0;  // white: 0 keeps the camera's exposure
    std::string scene;
};
// Measures a black or white reference with a progress bar and saves its block to a file.
int measureReference(int32_t camera, const ReferenceOptions& options);
// Restores the reference files given (empty names are skipped) and switches them on; prints
// what is wrong with a file and returns 8 for it.
uint32_t applyReferences(int32_t camera, const std::string& black, const std::string& white);
// Lays a scene under the simulated bench's cameras: "slide", "flat" or "dark"; false for
// another name.
bool setBenchScene(const std::string& scene);

}  // namespace kqcam
