// kqcam refs: black and white references measured, saved to files and restored from them.
// The files hold the library's own blocks: the black reference with its two extra rows, the
// white table of one gain per sensor pixel.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "commands.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"
#include "progress.h"

namespace kqcam {

namespace {

struct Sensor {
    size_t blackBytes, whiteBytes;
};

Sensor sensorOf(int32_t camera) {
    KqfwCameraDescription d{};
    kqfwDescribeCamera(camera, &d);
    return {(size_t{d.sensorHeight} + 2) * d.sensorWidth * 2,
            size_t{d.sensorHeight} * d.sensorWidth * 2};
}

bool readFile(const std::string& path, size_t bytes, std::vector<uint8_t>* data) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "kqcam: cannot read %s\n", path.c_str());
        return false;
    }
    data->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (data->size() != bytes) {
        std::fprintf(stderr, "kqcam: %s holds %zu bytes, this camera's reference %zu\n",
                     path.c_str(), data->size(), bytes);
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& data) {
    const std::string partial = path + ".partial";
    std::ofstream file(partial, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    file.close();  // a full disk shows when the last bytes go out
    std::error_code error;
    if (file) {
        // The filesystem rename replaces an existing file on Windows too, where the C one refuses.
        std::filesystem::rename(partial, path, error);
    }
    if (!file || error) {
        std::filesystem::remove(partial, error);
        return false;
    }
    return true;
}

}  // namespace

bool setBenchScene(const std::string& scene) {
    if (scene == "slide") {
        return kqsimSetScene(KQSIM_SCENE_SLIDE, 1.0, nullptr, 0, 0, 0) == 0;
    }
    if (scene == "flat") {
        return kqsimSetScene(KQSIM_SCENE_FLAT, 1.0, nullptr, 0, 0, 0) == 0;
    }
    if (scene == "dark") {
        return kqsimSetScene(KQSIM_SCENE_DARK, 0.0, nullptr, 0, 0, 0) == 0;
    }
    return false;
}

uint32_t applyReferences(int32_t camera, const std::string& black, const std::string& white) {
    const Sensor sensor = sensorOf(camera);
    std::vector<uint8_t> data;
    if (!black.empty()) {
        if (!readFile(black, sensor.blackBytes, &data)) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        if (StatusCode s = IxenmRestoreBlackRef(camera, data.data(), uint32_t(data.size()))) {
            return s;
        }
        if (StatusCode s = IxenmSetBlackRef(camera, 1)) {
            return s;
        }
    }
    if (!white.empty()) {
        if (!readFile(white, sensor.whiteBytes, &data)) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        if (StatusCode s = IxenmSetWhiteTable(camera, data.data())) {
            return s;
        }
        return IxenmSetWhiteRef(camera, 1);
    }
    return KQFW_STATUS_OK;
}

int measureReference(int32_t camera, const ReferenceOptions& o) {
    if (!o.scene.empty() && !setBenchScene(o.scene)) {
        std::fprintf(stderr, "kqcam: no scene %s (slide, flat or dark)\n", o.scene.c_str());
        return kExitUsage;
    }
    ClosesCameras closer;
    if (int code = openUpTo(camera)) {
        return code;
    }
    const bool black = o.kind == "black";
    if (!black && o.exposureUs != 0) {
        if (StatusCode s = IxenmSetExposure(camera, o.exposureUs)) {
            return fail("exposure refused", s);
        }
    }
    const Sensor sensor = sensorOf(camera);
    StatusCode status = 0;
    {
        InterruptsAbort ctrlC;
        status = black ? IxenmCalculateBlackRef(camera, exposureProgress)
                       : IxenmCalculateWhiteRef(camera, frameProgress);
    }
    std::fprintf(stderr, "\n");
    if (status != KQFW_STATUS_OK) {
        return fail(black ? "black reference not measured" : "white reference not measured",
                    status);
    }
    std::vector<uint8_t> data(black ? sensor.blackBytes : sensor.whiteBytes);
    status = black ? IxenmSaveBlackRef(camera, data.data(), uint32_t(data.size()))
                   : IxenmGetWhiteTable(camera, data.data());
    if (status != KQFW_STATUS_OK) {
        return fail("reference not read back", status);
    }
    if (!writeFile(o.output, data)) {
        std::fprintf(stderr, "kqcam: cannot write %s\n", o.output.c_str());
        return kExitCameraError;
    }
    std::printf("saved the %s reference to %s (%zu bytes)\n", o.kind.c_str(), o.output.c_str(),
                data.size());
    return kExitOk;
}

}  // namespace kqcam
