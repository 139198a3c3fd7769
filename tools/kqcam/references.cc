// kqcam refs: black and white references measured, saved to files and restored from them.
// The files hold the library's own blocks: the black reference with its two extra rows, the
// white table of one gain per sensor pixel.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
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

// A reference file written beside its final name and put in place only whole. Created before
// the camera is touched, so a path that cannot be written is refused before a minute of
// measuring.
class ReferenceFile {
  public:
    explicit ReferenceFile(std::string path)
        : path_(std::move(path)), partial_(path_ + ".partial"), file_(partial_, std::ios::binary) {}
    ~ReferenceFile() {
        if (!done_) {
            file_.close();
            std::error_code ignored;
            std::filesystem::remove(partial_, ignored);
        }
    }
    bool opened() const { return file_.is_open(); }
    bool write(const std::vector<uint8_t>& data) {
        file_.write(reinterpret_cast<const char*>(data.data()),
                    static_cast<std::streamsize>(data.size()));
        file_.close();  // a full disk shows when the last bytes go out
        if (!file_) {
            return false;
        }
        // The filesystem rename replaces an existing file on Windows too, where the C one
        // refuses.
        std::error_code error;
        std::filesystem::rename(partial_, path_, error);
        done_ = !error;
        return done_;
    }

  private:
    std::string path_, partial_;
    std::ofstream file_;
    bool done_ = false;
};

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
    ReferenceFile file(o.output);
    if (!file.opened()) {
        std::fprintf(stderr, "kqcam: cannot create %s\n", o.output.c_str());
        return kExitUsage;
    }
    ClosesCameras closer;
    if (int code = openListed(camera)) {
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
    if (!file.write(data)) {
        std::fprintf(stderr, "kqcam: cannot write %s\n", o.output.c_str());
        return kExitCameraError;
    }
    std::printf("saved the %s reference to %s (%zu bytes)\n", o.kind.c_str(), o.output.c_str(),
                data.size());
    return kExitOk;
}

}  // namespace kqcam
