// kqcam snap: one image from a camera, written as a 16-bit TIFF.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "library_messages.h"
#include "progress.h"
#include "tiff_writer.h"

namespace kqcam {

int fail(const char* what, StatusCode status) {
    std::fprintf(stderr, "kqcam: %s (%s)\n", what, describeStatus(status).c_str());
    return status == KQFW_STATUS_NO_CAMERA ? kExitNoCamera : kExitCameraError;
}

StatusCode applySettings(int32_t camera, const SnapOptions& o) {
    if (StatusCode s = applyReferences(camera, o.blackRef, o.whiteRef)) {
        return s;
    }
    if (StatusCode s = IxenmSetResolution(camera, o.resolution)) {
        return s;
    }
    if (o.bits != 0) {
        if (StatusCode s = IxenmSetBitsPerPixel(camera, static_cast<int32_t>(o.bits))) {
            return s;
        }
    }
    if (StatusCode s = IxenmSetBinning(camera, static_cast<int32_t>(o.binning))) {
        return s;
    }
    if (o.exposureUs != 0) {
        if (StatusCode s = IxenmSetExposure(camera, o.exposureUs)) {
            return s;
        }
    }
    if (o.gain >= 0) {
        if (StatusCode s = IxenmWriteAnalogGain(camera, static_cast<uint32_t>(o.gain))) {
            return s;
        }
    }
    if (o.whiteBalance.size() == 3) {
        return IxenmSetWhiteBalance(camera, o.whiteBalance[0], o.whiteBalance[1],
                                    o.whiteBalance[2]);
    }
    return KQFW_STATUS_OK;
}

std::string describeSettings(int32_t camera) {
    uint32_t info[4] = {};
    uint32_t exposure = 0, gain = 0, binning = 0;
    double wb[3] = {};
    IxenmInfo(camera, info);
    IxenmGetCurrentExposure(camera, &exposure);
    IxenmReadAnalogGain(camera, &gain);
    IxenmGetCurrentBinning(camera, &binning);
    IxenmGetCurrentWhiteBalance(camera, &wb[0], &wb[1], &wb[2]);
    char text[512];
    std::snprintf(text, sizeof text,
                  "model=%s serial=0x%04x firmware=0x%04x exposure_us=%u gain=%u resolution=%u "
                  "binning=%u bits=%u white_balance=%.4g,%.4g,%.4g",
                  info[2] ? "KQC" : "KQM", info[1], info[0], exposure, gain,
                  IxenmGetCurrentResolution(camera), binning, IxenmGetCurrentBitsPerPixel(camera),
                  wb[0], wb[1], wb[2]);
    return text;
}

int snap(int32_t camera, const SnapOptions& o) {
    if (!o.scene.empty()) {
        setBenchScene(o.scene);
    }
    ClosesCameras closer;
    if (int code = openUpTo(camera)) {
        return code;
    }
    if (StatusCode s = applySettings(camera, o)) {
        return fail("setting refused", s);
    }
    uint32_t width = 0, height = 0;
    IxenmGetCurrentDataSize(camera, &width, &height);
    const uint32_t channels = IxenmGetCurrentBitsPerPixel(camera) == 42 ? 3 : 1;
    std::vector<uint16_t> image(size_t{width} * height * channels);
    int32_t status = 0;
    {
        InterruptsAbort ctrlC;
        const auto bytes = static_cast<uint32_t>(image.size() * 2);
        status = o.resolution >= 3
                     ? IxenmAcquisitionEx(camera, image.data(), bytes, shotProgress,
                                          static_cast<uint64_t>(camera))
                     : IxenmAcquisition(camera, image.data(), bytes, exposureProgress);
    }
    if (o.resolution >= 3) {
        shotProgress(0, 0, 0, static_cast<uint64_t>(camera));  // the bar as the series ended
        std::fprintf(stderr, "\n");
    }
    if (status != 0) {
        std::fprintf(stderr, "\n");
        return fail(status == KQFW_STATUS_ABORTED ? "aborted" : "acquisition failed",
                    static_cast<StatusCode>(status));
    }
    if (o.scaleTo16) {
        for (uint16_t& v : image) {
            v = static_cast<uint16_t>(v << 2);
        }
    }
    TiffWriter tiff(o.output);
    if (!tiff.addPage(image.data(), width, height, channels, describeSettings(camera)) ||
        !tiff.commit()) {
        std::fprintf(stderr, "kqcam: cannot write %s\n", o.output.c_str());
        return kExitCameraError;
    }
    std::printf("wrote %s: %u x %u, %s, 16-bit\n", o.output.c_str(), width, height,
                channels == 3 ? "RGB" : "grey");
    return kExitOk;
}

}  // namespace kqcam
