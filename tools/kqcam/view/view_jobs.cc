// Snaps and the long jobs of the viewer: a snap of the live image written at once, multi-shot
// images and reference measurements on a thread of their own with the run stopped.
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "../commands.h"
#include "../image_description.h"
#include "../library_messages.h"
#include "../tiff_writer.h"
#include "kqfw/kqfw_ext.h"
#include "view_control.h"

namespace kqview {

using nlohmann::json;

namespace {

// A name of the snap's time that no file has yet, in the folder kqcam runs in.
std::string freshName(std::time_t when) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&when));
    std::string name = std::string("kqcam-view-") + stamp + ".tif";
    for (int n = 2; std::filesystem::exists(name); ++n) {
        name = std::string("kqcam-view-") + stamp + "-" + std::to_string(n) + ".tif";
    }
    return name;
}

}  // namespace

std::string Control::writeSnap(const std::vector<uint16_t>& image, const kqtools::ImageShape& shape,
                               int32_t frame, std::string* error) {
    const std::time_t taken = std::time(nullptr);
    kqcam::SnapOptions options;
    {
        std::lock_guard lock(lock_);
        options.blackRef = blackRef_ ? "measured_in_view" : "";
        options.whiteRef = whiteRef_ ? "measured_in_view" : "";
    }
    kqcam::FileFacts facts = kqcam::factsOf(camera_.slot(), options, shape);
    // A viewer's snap is often of a region dragged on the image: the file says which.
    uint32_t rect[4] = {};
    IxenmGetCurrentImageSize(camera_.slot(), rect);
    facts.settings += " region=" + std::to_string(rect[0]) + "," + std::to_string(rect[1]) + "," +
                      std::to_string(rect[2]) + "," + std::to_string(rect[3]);
    std::lock_guard lock(lock_);
    const std::string name = freshName(taken);
    kqcam::TiffWriter tiff(name);
    if (!tiff.created()) {
        *error = "cannot write " + name + ": " + tiff.errorText();
        return "";
    }
    if (!tiff.addPage(image.data(), shape, facts.maxSample, taken,
                      kqcam::firstPageDescription(facts, frame < 0 ? 0 : frame, 0)) ||
        !tiff.commit()) {
        *error = "cannot write " + name;
        return "";
    }
    snaps_.push_back(name);
    return name;
}

Reply Control::snap(const json& request) {
    const json resolution = request.value("resolution", json());
    if (!resolution.is_null()) {
        if (!resolution.is_number_unsigned() || resolution.get<uint64_t>() < 3 ||
            resolution.get<uint64_t>() > 6) {
            return {400,
                    {{"ok", false},
                     {"error",
                      "snap: \"resolution\" is a multi-shot resolution, 3 to 6; "
                      "without it the live image is saved"}}};
        }
        return startJob("multi-shot snap", resolution.get<uint32_t>());
    }
    const auto frame = camera_.latest();
    if (!frame) {
        return {503, {{"ok", false}, {"error", "no frame yet"}}};
    }
    std::string error;
    const std::string name = writeSnap(*frame->image, frame->shape, frame->index, &error);
    if (name.empty()) {
        return {500, {{"ok", false}, {"error", error}}};
    }
    return {200, {{"ok", true}, {"message", "wrote " + name}, {"file", name}}};
}

Reply Control::startJob(const std::string& kind, uint32_t value) {
    std::lock_guard lock(lock_);
    if (job_.running) {
        return {409, {{"ok", false}, {"error", "busy: the " + job_.kind + " is under way"}}};
    }
    if (worker_.joinable()) {
        worker_.join();  // the previous job, which has ended
    }
    job_ = Job{kind, "", "", true, true, 0, 0};
    aborting_ = false;
    if (kind == "multi-shot snap") {
        worker_ = std::thread([this, value] { runMultiShot(value); });
    } else {
        worker_ = std::thread([this, kind] { runReference(kind == "black reference"); });
    }
    return {202, {{"ok", true}, {"message", kind + " started"}}};
}

int32_t Control::onProgress(uint32_t elapsed, uint32_t total, int32_t state, uint64_t user) {
    auto* self = reinterpret_cast<Control*>(static_cast<uintptr_t>(user));
    std::lock_guard lock(self->lock_);
    if (self->job_.kind == "multi-shot snap") {
        kqfwGetShotProgress(self->camera_.slot(), &self->job_.done, &self->job_.total);
    } else if (self->job_.kind == "white reference") {
        self->job_.done = state == 1 ? 0 : elapsed + 1;  // frames taken of four
        self->job_.total = total;
    } else {
        self->job_.done = elapsed;  // milliseconds of the long exposure
        self->job_.total = total;
    }
    return self->aborting_ ? 1 : 0;
}

void Control::runMultiShot(uint32_t resolution) {
    const int32_t cam = camera_.slot();
    std::string message, file;
    const StatusCode status = camera_.withRunStopped([&]() -> StatusCode {
        const uint32_t live = IxenmGetCurrentResolution(cam);
        if (StatusCode s = IxenmSetResolution(cam, resolution)) {
            message = "resolution " + std::to_string(resolution) + " refused: this camera has " +
                      kqcam::acceptedResolutions(cam) + " (" + kqcam::describeStatus(s) + ")";
            return s;
        }
        const kqtools::ImageShape shape = kqtools::deliveredImage(cam);
        std::vector<uint16_t> image(shape.bufferSamples);
        const auto s = static_cast<StatusCode>(IxenmAcquisitionEx(
            cam, image.data(), static_cast<uint32_t>(image.size() * 2), onProgress,
            static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this))));
        if (s != KQFW_STATUS_OK) {
            message = "the multi-shot image failed (" + kqcam::describeStatus(s) + ")";
        } else if ((file = writeSnap(image, shape, 0, &message)).empty()) {
            IxenmSetResolution(cam, live);
            return KQFW_STATUS_BAD_ARGUMENT;
        } else {
            message = "wrote " + file;
        }
        IxenmSetResolution(cam, live);
        return s;
    });
    std::lock_guard lock(lock_);
    job_.running = false;
    job_.ok = status == KQFW_STATUS_OK && !file.empty();
    job_.message = message.empty() ? kqcam::describeStatus(status) : message;
    job_.file = file;
    if (job_.ok) {
        job_.done = job_.total;
    }
}

void Control::runReference(bool black) {
    const int32_t cam = camera_.slot();
    const auto user = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this));
    const StatusCode status = camera_.withRunStopped([&]() -> StatusCode {
        const StatusCode s = black ? IxenmCalculateBlackRefEx(cam, onProgress, user)
                                   : IxenmCalculateWhiteRefEx(cam, onProgress, user);
        if (s != KQFW_STATUS_OK) {
            return s;
        }
        return black ? IxenmSetBlackRef(cam, 1) : IxenmSetWhiteRef(cam, 1);
    });
    std::lock_guard lock(lock_);
    job_.running = false;
    job_.ok = status == KQFW_STATUS_OK;
    const std::string what = black ? "black reference" : "white reference";
    job_.message = job_.ok ? what + " measured and applied"
                           : what + " not measured (" + kqcam::describeStatus(status) + ")";
    if (job_.ok) {
        (black ? blackRef_ : whiteRef_) = true;
    }
}

}  // namespace kqview
