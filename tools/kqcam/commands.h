#pragma once

#include <cstdint>

namespace kqcam {

// Exit codes scripts can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNoCamera = 2;
inline constexpr int kExitCameraError = 3;

int listCameras();
int describeCamera(int32_t camera);

}  // namespace kqcam
