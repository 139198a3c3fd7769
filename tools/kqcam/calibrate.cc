// kqcam calibrate and kqcam calibration: the sensor-shift calibration run, and the calibration
// block kept in files.
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "commands.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

namespace kqcam {

namespace {

constexpr size_t kCalibrationBytes = 256;

std::atomic<int> interrupted{0};

void onInterrupt(int) {
    interrupted = 1;
}

int32_t showIteration(uint32_t iteration, uint32_t iterations, float* s, uintptr_t) {
    std::printf(
        "iteration %u/%u: deviation rms %.2f x %.2f y, largest %.2f x %.2f y (1/12 patch pixel); "
        "settings x %.0f..%.0f, y %.0f..%.0f\n",
        iteration, iterations, s[2], s[3], s[0], s[1], s[4], s[5], s[6], s[7]);
    std::fflush(stdout);
    return interrupted.load();
}

}  // namespace

int calibrate(int32_t camera, uint32_t resolution, int32_t iterations) {
    ClosesCameras closer;
    if (int code = openListed(camera)) {
        return code;
    }
    if (StatusCode s = IxenmSetResolution(camera, resolution)) {
        return fail("resolution refused", s);
    }
    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    const StatusCode status = IxenmCalibrateEx(camera, iterations, showIteration, 0);
    std::signal(SIGINT, SIG_DFL);
    if (status != 0) {
        return fail(status == KQFW_STATUS_CALIBRATION_FAILED
                        ? "nothing to measure: put a textured specimen under the lens"
                        : "calibration failed",
                    status);
    }
    std::printf(interrupted != 0 ? "stopped; the last table is in the camera\n"
                                 : "calibrated; the table is in the camera\n");
    return kExitOk;
}

int calibrationFile(int32_t camera, const std::string& action, const std::string& path,
                    bool confirmed) {
    if (action == "load") {
        // The flash takes whatever the file begins with: only a saved block goes in.
        std::error_code error;
        const auto bytes = std::filesystem::file_size(path, error);
        if (error) {
            std::fprintf(stderr, "kqcam: cannot read %s\n", path.c_str());
            return kExitUsage;
        }
        if (bytes != kCalibrationBytes) {
            std::fprintf(stderr,
                         "kqcam: %s holds %ju bytes; a calibration file (kqcam calibration "
                         "save) holds %zu\n",
                         path.c_str(), static_cast<uintmax_t>(bytes), kCalibrationBytes);
            return kExitUsage;
        }
        if (!confirmed) {
            std::fprintf(stderr,
                         "kqcam: loading replaces the calibration in the camera's flash; add "
                         "--yes to do it\n");
            return kExitUsage;
        }
    }
    ClosesCameras closer;
    if (int code = openListed(camera)) {
        return code;
    }
    StatusCode status = KQFW_STATUS_OK;
    if (action == "save") {
        status = IxenmSaveCalibration(camera, path.c_str());
    } else if (action == "load") {
        status = IxenmLoadCalibration(camera, path.c_str());
    } else {
        status = IxenmResetCalibration(camera);
    }
    if (status != 0) {
        return fail(("calibration " + action + " failed").c_str(), status);
    }
    std::printf(action == "save"   ? "saved the calibration to %s\n"
                : action == "load" ? "loaded %s into the camera\n"
                                   : "restored the factory calibration%s\n",
                action == "reset" ? "" : path.c_str());
    return kExitOk;
}

}  // namespace kqcam
