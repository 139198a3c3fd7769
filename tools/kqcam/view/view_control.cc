#include "view_control.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>

#include "../commands.h"
#include "../library_messages.h"
#include "../tiff_writer.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"

namespace kqview {

using nlohmann::json;

namespace {

constexpr uint32_t kMaxWhiteBalance = 1000;
// The camera aligns a region down to 4 pixels: a smaller one could come out empty, which the
// run would refuse.
constexpr uint32_t kMinRegion = 8;
constexpr uint32_t kWhiteBalanceArea = 8;  // half the side of the area a click averages

Reply bad(const std::string& error) {
    return {400, {{"ok", false}, {"error", error}}};
}

Reply refusedBy(StatusCode status, const std::string& what) {
    return {422,
            {{"ok", false},
             {"error", what + " (" + kqcam::describeStatus(status) + ")"},
             {"status", status},
             {"status_text", kqfwStatusText(status)}}};
}

Reply done(const std::string& message) {
    return {200, {{"ok", true}, {"message", message}}};
}

// A whole number within [low, high] from `value`, or why not.
bool whole(const json& value, uint64_t low, uint64_t high, uint32_t* out, std::string* why) {
    if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<int64_t>() >= 0)) {
        *why = "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    const uint64_t v = value.get<uint64_t>();
    if (v < low || v > high) {
        *why = "must be from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
               std::to_string(v);
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

const std::vector<std::string>& commandNames() {
    static const std::vector<std::string> names = {"exposure",
                                                   "gain",
                                                   "binning",
                                                   "resolution",
                                                   "region",
                                                   "white_balance",
                                                   "white_balance_at",
                                                   "colour_processing",
                                                   "interpolation",
                                                   "display",
                                                   "snap",
                                                   "reference",
                                                   "references_off",
                                                   "scene",
                                                   "drop_frame",
                                                   "bus_reset"};
    return names;
}

bool hasResolution(int32_t camera, uint32_t r) {
    const uint32_t current = IxenmGetCurrentResolution(camera);
    const bool ok = IxenmSetResolution(camera, r) == KQFW_STATUS_OK;
    IxenmSetResolution(camera, current);
    return ok;
}

}  // namespace

Control::Control(LiveCamera& camera, int32_t benchCamera) : camera_(camera), bench_(benchCamera) {
    // Asked before the run starts: trying a resolution is how the library tells.
    for (uint32_t r = 0; r <= 6; ++r) {
        if (hasResolution(camera_.slot(), r)) {
            resolutions_.push_back(static_cast<int32_t>(r));
        }
    }
}

Control::~Control() {
    finish();
}

void Control::finish() {
    aborting_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

Reply Control::command(const std::string& body) {
    const json request = json::parse(body, nullptr, false);
    if (request.is_discarded()) {
        return bad("the body is not JSON");
    }
    if (!request.is_object() || !request.contains("command") || !request["command"].is_string()) {
        return bad("the body must be a JSON object with a \"command\" string");
    }
    const std::string name = request["command"].get<std::string>();
    const auto& names = commandNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        Reply r = bad("unknown command \"" + name.substr(0, 64) + "\"");
        r.body["commands"] = names;
        return r;
    }
    {
        std::lock_guard lock(lock_);
        if (job_.running) {
            return {409, {{"ok", false}, {"error", "busy: the " + job_.kind + " is under way"}}};
        }
    }
    if (name == "white_balance_at") {
        return whiteBalanceAt(request);
    }
    if (name == "scene" || name == "drop_frame" || name == "bus_reset") {
        return bench(name, request);
    }
    if (name == "snap") {
        return snap(request);
    }
    if (name == "reference") {
        const json kind = request.value("kind", json());
        if (kind != "black" && kind != "white") {
            return bad("reference: \"kind\" must be \"black\" or \"white\"");
        }
        return startJob(kind.get<std::string>() + " reference", 0);
    }
    if (name == "references_off") {
        std::string refusal;
        const StatusCode s = camera_.change(
            false,
            [&]() -> StatusCode {
                const StatusCode b = IxenmSetBlackRef(camera_.slot(), 0);
                return b != KQFW_STATUS_OK ? b : IxenmSetWhiteRef(camera_.slot(), 0);
            },
            nullptr, &refusal);
        if (s != KQFW_STATUS_OK) {
            return refusedBy(s, "references not switched off");
        }
        std::lock_guard lock(lock_);
        blackRef_ = whiteRef_ = false;
        return done("references off");
    }
    return setting(name, request);
}

Reply Control::setting(const std::string& name, const json& request) {
    const int32_t cam = camera_.slot();
    const json value = request.value("value", json());
    std::string why;
    uint32_t v = 0;
    std::function<StatusCode()> set;
    std::function<std::string()> explain;
    bool shaping = false;
    if (name == "exposure") {
        if (!whole(value, 1, UINT32_MAX, &v, &why)) {
            return bad("exposure " + why);
        }
        set = [=] { return IxenmSetExposure(cam, v); };
        explain = [=] {
            return "exposure " + std::to_string(v) + " us refused: this camera takes " +
                   kqcam::exposureRange(cam);
        };
    } else if (name == "gain") {
        if (!whole(value, 0, 255, &v, &why)) {
            return bad("gain " + why);
        }
        set = [=] { return IxenmWriteAnalogGain(cam, v); };
        explain = [=] { return "gain " + std::to_string(v) + " refused: 0 to 255"; };
    } else if (name == "binning") {
        if (!whole(value, 1, 5, &v, &why)) {
            return bad("binning " + why);
        }
        shaping = true;
        set = [=] { return IxenmSetBinning(cam, static_cast<int32_t>(v)); };
        explain = [=] {
            return "binning " + std::to_string(v) +
                   " refused: with these settings this camera takes " +
                   kqcam::acceptedBinnings(cam);
        };
    } else if (name == "resolution") {
        if (!whole(value, 0, 2, &v, &why)) {
            return bad("resolution " + why + " (3 to 6 are multi-shot snaps)");
        }
        shaping = true;
        set = [=] { return IxenmSetResolution(cam, v); };
        explain = [=] {
            return "resolution " + std::to_string(v) + " refused: this camera has " +
                   kqcam::acceptedResolutions(cam);
        };
    } else if (name == "region") {
        uint32_t rect[4] = {};
        const bool whole_sensor = value.is_null();
        if (!whole_sensor) {
            if (!value.is_array() || value.size() != 4) {
                return bad("region must be [left, top, right, bottom] or null for the whole image");
            }
            for (int i = 0; i < 4; ++i) {
                if (!whole(value[i], 0, 65535, &rect[i], &why)) {
                    return bad("region: each edge " + why);
                }
            }
            if (rect[2] <= rect[0] || rect[3] <= rect[1]) {
                return bad("region: right must be past left and bottom past top");
            }
            if (rect[2] - rect[0] < kMinRegion || rect[3] - rect[1] < kMinRegion) {
                return bad("region: at least " + std::to_string(kMinRegion) + " x " +
                           std::to_string(kMinRegion) + " pixels");
            }
        }
        shaping = true;
        set = [=]() mutable { return IxenmSetImageSize(cam, whole_sensor ? nullptr : rect); };
        explain = [=] {
            KqfwCameraDescription d{};
            kqfwDescribeCamera(cam, &d);
            return "region " + value.dump() + " refused: it must lie on the " +
                   std::to_string(d.sensorWidth) + " x " + std::to_string(d.sensorHeight) +
                   " sensor at the current binning";
        };
    } else if (name == "white_balance") {
        if (!value.is_array() || value.size() != 3) {
            return bad("white_balance must be [red, green, blue]");
        }
        double f[3];
        for (int i = 0; i < 3; ++i) {
            if (!value[i].is_number() || !std::isfinite(value[i].get<double>()) ||
                value[i].get<double>() <= 0 || value[i].get<double>() > kMaxWhiteBalance) {
                return bad("white_balance: each factor must be above 0 and at most " +
                           std::to_string(kMaxWhiteBalance));
            }
            f[i] = value[i].get<double>();
        }
        set = [=] { return IxenmSetWhiteBalance(cam, f[0], f[1], f[2]); };
        explain = [=] { return "white balance " + value.dump() + " refused"; };
    } else if (name == "colour_processing") {
        if (!value.is_boolean()) {
            return bad("colour_processing must be true or false");
        }
        const bool on = value.get<bool>();
        set = [=] { return IxenmEnableColorProcessing(cam, on ? 1 : 0); };
        explain = [] { return std::string("colour processing refused"); };
    } else if (name == "interpolation") {
        if (value != json("camera") && value != json("lmmse")) {
            return bad("interpolation must be \"camera\" or \"lmmse\"");
        }
        const int32_t method =
            value == json("lmmse") ? KQFW_INTERPOLATION_LMMSE : KQFW_INTERPOLATION_CAMERA;
        set = [=] { return kqfwSetColourInterpolation(cam, method); };
        explain = [=] { return "interpolation " + value.get<std::string>() + " refused"; };
    } else {  // display
        DisplayRange range;
        range.automatic = request.value("auto", json(false)) == json(true);
        if (!range.automatic) {
            if (!whole(request.value("low", json()), 0, kFullScale, &range.low, &why) ||
                !whole(request.value("high", json()), 0, kFullScale, &range.high, &why)) {
                return bad("display: give \"auto\": true, or \"low\" and \"high\" that " + why);
            }
            if (range.high <= range.low) {
                return bad("display: high must be above low");
            }
        }
        camera_.setDisplay(range);
        return done("display range set");
    }
    std::string refusal;
    if (StatusCode s = camera_.change(shaping, set, explain, &refusal)) {
        return refusedBy(s, refusal);
    }
    return done(name + " set");
}

Reply Control::whiteBalanceAt(const json& request) {
    const auto frame = camera_.latest();
    if (!frame) {
        return {503, {{"ok", false}, {"error", "no frame yet"}}};
    }
    if (frame->shape.channels != 3) {
        return {409, {{"ok", false}, {"error", "white balance needs a colour image"}}};
    }
    uint32_t x = 0, y = 0;
    std::string why;
    if (!whole(request.value("x", json()), 0, frame->shape.width - 1, &x, &why) ||
        !whole(request.value("y", json()), 0, frame->shape.height - 1, &y, &why)) {
        return bad("white_balance_at: \"x\" and \"y\" are a pixel of the image and " + why);
    }
    const uint32_t w = frame->shape.width, h = frame->shape.height;
    double sum[3] = {};
    uint32_t n = 0;
    for (uint32_t j = y > kWhiteBalanceArea ? y - kWhiteBalanceArea : 0;
         j < std::min(h, y + kWhiteBalanceArea); ++j) {
        for (uint32_t i = x > kWhiteBalanceArea ? x - kWhiteBalanceArea : 0;
             i < std::min(w, x + kWhiteBalanceArea); ++i) {
            for (int c = 0; c < 3; ++c) {
                sum[c] += (*frame->image)[(size_t{j} * w + i) * 3 + c];
            }
            ++n;
        }
    }
    // The image's pixels are blue, green, red; the library's levels red, green, blue, on any
    // common scale: relative to their mean, so the factors keep their size.
    const double mean = (sum[0] + sum[1] + sum[2]) / 3;
    if (!(mean > 0)) {
        return {422, {{"ok", false}, {"error", "white balance needs a lit grey area, not black"}}};
    }
    const double red = sum[2] / mean, green = sum[1] / mean, blue = sum[0] / mean;
    const int32_t cam = camera_.slot();
    std::string refusal;
    const StatusCode s = camera_.change(
        false, [=] { return IxenmSetImageWhiteBalance(cam, red, green, blue); },
        [=] {
            char text[160];
            std::snprintf(text, sizeof text,
                          "white balance from relative levels %.3f %.3f %.3f refused: the area "
                          "must be lit grey, not black",
                          red, green, blue);
            return std::string(text);
        },
        &refusal);
    if (s != KQFW_STATUS_OK) {
        return refusedBy(s, refusal);
    }
    return done("white balance taken from the area around " + std::to_string(x) + ", " +
                std::to_string(y));
}

Reply Control::bench(const std::string& name, const json& request) {
    if (bench_ < 0) {
        return {409, {{"ok", false}, {"error", name + " is for the simulated bench only"}}};
    }
    if (name == "scene") {
        const json scene = request.value("value", json());
        if (!scene.is_string() || !kqcam::setBenchScene(scene.get<std::string>())) {
            return bad("scene must be \"slide\", \"flat\" or \"dark\"");
        }
        return done("scene " + scene.get<std::string>());
    }
    if (name == "drop_frame") {
        kqsimDropFrame(bench_, 1);
        return done("the next frame is lost on the bus");
    }
    kqsimBusReset();
    return done("bus reset");
}

std::string Control::snapPath(const std::string& name) {
    std::lock_guard lock(lock_);
    return std::find(snaps_.begin(), snaps_.end(), name) != snaps_.end() ? name : std::string();
}

}  // namespace kqview
