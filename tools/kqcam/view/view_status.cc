// What the page shows besides the image: the camera, its settings and what it accepts, the
// run's statistics, the newest frame's histogram and the job under way.
#include "kqfw/kqfw_ext.h"
#include "view_control.h"

namespace kqview {

using nlohmann::json;

json Control::status() {
    const int32_t cam = camera_.slot();
    uint32_t info[4] = {}, exposure = 0, gain = 0, binning = 0, rect[4] = {}, colour = 0;
    uint32_t minimum = 0, maximum = 0, step = 0;
    double wb[3] = {};
    IxenmInfo(cam, info);
    IxenmGetCurrentExposure(cam, &exposure);
    IxenmReadAnalogGain(cam, &gain);
    IxenmGetCurrentBinning(cam, &binning);
    IxenmGetCurrentImageSize(cam, rect);
    IxenmGetCurrentWhiteBalance(cam, &wb[0], &wb[1], &wb[2]);
    IxenmIsColorProcessingEnabled(cam, &colour);
    int32_t interpolation = KQFW_INTERPOLATION_CAMERA;
    kqfwGetColourInterpolation(cam, &interpolation);
    IxenmGetExposureRange(cam, &minimum, &maximum, &step);
    json binnings = json::array();
    for (int32_t b = 1; b <= 5; ++b) {
        uint32_t available = 0;
        if (IxenmHasBinning(cam, b, &available) == KQFW_STATUS_OK && available != 0) {
            binnings.push_back(b);
        }
    }
    KqfwRunStatistics run{};
    kqfwGetRunStatistics(cam, &run);
    json out = {
        {"camera",
         {{"model", info[2] ? "KQC" : "KQM"}, {"serial", info[1]}, {"bench", bench_ >= 0}}},
        {"settings",
         {{"exposure_us", exposure},
          {"gain", gain},
          {"binning", binning},
          {"resolution", IxenmGetCurrentResolution(cam)},
          {"region", {rect[0], rect[1], rect[2], rect[3]}},
          {"white_balance", {wb[0], wb[1], wb[2]}},
          {"colour_processing", colour != 0},
          {"interpolation", interpolation == KQFW_INTERPOLATION_LMMSE ? "lmmse" : "camera"}}},
        {"accepts",
         {{"exposure_us", {{"min", minimum}, {"max", maximum}, {"step", step}}},
          {"gain", {0, 255}},
          {"binning", binnings},
          {"resolution", resolutions_}}},
        {"run",
         {{"running", run.running != 0},
          {"frames_per_second", run.framesPerSecond},
          {"delivered", run.framesDelivered},
          {"lost", run.framesLost},
          {"skipped", run.framesSkipped},
          {"latest_index", run.latestFrameIndex},
          {"restarts", camera_.restarts()},
          {"event", camera_.lastEvent()}}},
    };
    const DisplayRange range = camera_.display();
    out["display"] = {{"auto", range.automatic}, {"low", range.low}, {"high", range.high}};
    if (const auto f = camera_.latest()) {
        out["frame"] = {{"sequence", f->sequence},
                        {"index", f->index},
                        {"width", f->shape.width},
                        {"height", f->shape.height},
                        {"channels", f->shape.channels},
                        {"mean", f->mean},
                        {"low", f->low},
                        {"high", f->high},
                        {"saturated", f->saturated},
                        {"histogram", f->histogram}};
    }
    std::lock_guard lock(lock_);
    if (!job_.kind.empty()) {
        out["job"] = {{"kind", job_.kind},   {"running", job_.running}, {"done", job_.done},
                      {"total", job_.total}, {"ok", job_.ok},           {"message", job_.message},
                      {"file", job_.file}};
    }
    out["snaps"] = snaps_;
    out["references"] = {{"black", blackRef_}, {"white", whiteRef_}};
    return out;
}

}  // namespace kqview
