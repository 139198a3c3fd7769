#pragma once

#include <cstdint>
#include <string>

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

}  // namespace kqcam
