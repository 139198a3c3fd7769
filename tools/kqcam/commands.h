#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delivered_image.h"
#include "image_description.h"
#include "kqfw/kqfw.h"

namespace kqcam {

// Exit codes scripts can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNoCamera = 2;
inline constexpr int kExitCameraError = 3;
inline constexpr int kExitInterrupted = 130;  // as a shell reports a command ended by Ctrl-C

// Closes every camera the command opened, whichever way it leaves.
struct ClosesCameras {
    ~ClosesCameras();
};

int listCameras();
int describeCamera(int32_t camera);
// Writes firmware text from a file into a camera and starts it; refuses unless confirmed, and
// refuses a text that yields no byte.
int writeFirmware(int32_t camera, const std::string& path, bool confirmed);
// The place in the bus listing of the camera a --camera value names: a place ("1"), a model
// ("KQM", the first listed) or a unique id ("0x027b"). 0, or the exit code after saying why.
int chooseCamera(const std::string& choice, int32_t* camera);
// Opens the camera at that place of the listing into the slot of the same number: 0 or the
// exit code.
int openListed(int32_t camera);

struct SnapOptions {
    std::string output;  // empty: no file
    uint32_t resolution = 0;
    uint32_t bits = 0;  // 0: the model's default
    uint32_t binning = 1;
    uint32_t exposureUs = 0;  // 0: the camera's current exposure
    int32_t gain = -1;        // -1: unchanged
    std::vector<double> whiteBalance;
    std::string interpolation;  // "camera" or "lmmse" (kqfwSetColourInterpolation); empty: as is
    bool scaleTo16 = false;
    std::string blackRef, whiteRef;  // reference files to restore and apply; empty: none
    std::string scene;               // the simulated bench's scene; empty: unchanged
    std::string preview;             // an 8-bit PNG to write beside the TIFF; empty: none
};
// Takes one image and writes it as a 16-bit TIFF (grey, or RGB).
int snap(int32_t camera, const SnapOptions& options);
// The settings of the options, in the camera (references first): 0, or the exit code after
// naming the refused setting, its value and what the camera accepts.
int applySettings(int32_t camera, const SnapOptions& options);
// What the camera accepts with its current settings, as the library answers it.
std::string exposureRange(int32_t camera);
std::string acceptedResolutions(int32_t camera);
std::string acceptedBinnings(int32_t camera);
std::string acceptedBits(int32_t camera);
// The camera and its settings, for a TIFF's description.
std::string describeSettings(int32_t camera);
// What a file of the camera's images records of them.
FileFacts factsOf(int32_t camera, const SnapOptions& options, const kqtools::ImageShape& shape);
// Prints what failed with the status and its text; the exit code for it.
int fail(const char* what, StatusCode status);

struct RunOptions {
    SnapOptions settings;  // output empty: nothing is written
    uint32_t frames = 0;   // stop after this many frames (0: until Ctrl-C or the time)
    double seconds = 0;    // stop after this long (0: until Ctrl-C or the frames)
    uint32_t every = 1;    // write every k-th frame
};
// Continuous acquisition: frames/s and lost frames shown live, the frames processed offline and
// written as pages of one TIFF. Ctrl-C ends the run cleanly.
int stream(int32_t camera, const RunOptions& options);
// The same with fast acquisition: each frame triggered and processed by the library.
int series(int32_t camera, const RunOptions& options);

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
// Runs the sensor-shift calibration of a multi-shot resolution, showing each iteration;
// Ctrl-C stops it after the iteration under way, keeping the table written last.
int calibrate(int32_t camera, uint32_t resolution, int32_t iterations);
// "save" or "load" the calibration block to or from a file, or "reset" it to the factory's.
// Loading writes the camera's flash: refused unless confirmed and the file is a block.
int calibrationFile(int32_t camera, const std::string& action, const std::string& path,
                    bool confirmed);

struct ViewOptions {
    uint16_t port = 8473;  // 0: any free port
    std::string listen;    // an address to listen on instead of 127.0.0.1 (a token is needed)
};
// A live view in the browser until Ctrl-C: the camera on continuous acquisition, its settings,
// snaps and references, served by a local web server.
int view(int32_t camera, const ViewOptions& options);

// Lays a scene under the simulated bench's cameras: "slide", "flat" or "dark"; false for
// another name.
bool setBenchScene(const std::string& scene);

}  // namespace kqcam
