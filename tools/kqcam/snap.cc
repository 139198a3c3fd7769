// kqcam snap: one image from a camera, written as a 16-bit TIFF.
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "delivered_image.h"
#include "image_description.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "library_messages.h"
#include "preview.h"
#include "progress.h"
#include "tiff_writer.h"

namespace kqcam {

int fail(const char* what, StatusCode status) {
    std::fprintf(stderr, "kqcam: %s (%s)\n", what, describeStatus(status).c_str());
    if (status == KQFW_STATUS_ABORTED) {
        return kExitInterrupted;
    }
    return status == KQFW_STATUS_NO_CAMERA ? kExitNoCamera : kExitCameraError;
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
                  IxenmGetCurrentResolution(camera), binning,
                  kqtools::deliveredImage(camera).channels * 14, wb[0], wb[1], wb[2]);
    return text;
}

FileFacts factsOf(int32_t camera, const SnapOptions& o, const kqtools::ImageShape& shape) {
    FileFacts facts;
    facts.settings = describeSettings(camera);
    facts.blackRef = o.blackRef;
    facts.whiteRef = o.whiteRef;
    facts.scaledTo16 = o.scaleTo16;
    facts.maxSample = o.scaleTo16 ? uint16_t{16383 << 2} : uint16_t{16383};
    facts.channels = shape.channels;
    return facts;
}

int snap(int32_t camera, const SnapOptions& o) {
    // The files first: a path that cannot be written is found before anything is exposed.
    TiffWriter tiff(o.output);
    if (!tiff.created()) {
        std::fprintf(stderr, "kqcam: cannot write %s: %s\n", o.output.c_str(),
                     tiff.errorText().c_str());
        return kExitUsage;
    }
    std::unique_ptr<PreviewWriter> preview;
    if (!o.preview.empty()) {
        preview = std::make_unique<PreviewWriter>(o.preview);
        if (!preview->created()) {
            std::fprintf(stderr, "kqcam: cannot write %s\n", o.preview.c_str());
            return kExitUsage;
        }
    }
    if (!o.scene.empty()) {
        setBenchScene(o.scene);
    }
    ClosesCameras closer;
    if (int code = openListed(camera)) {
        return code;
    }
    if (int code = applySettings(camera, o)) {
        return code;
    }
    const kqtools::ImageShape shape = kqtools::deliveredImage(camera);
    std::vector<uint16_t> image(shape.bufferSamples);
    int32_t status = 0;
    {
        InterruptsAbort ctrlC;
        const auto bytes = static_cast<uint32_t>(image.size() * 2);
        status = o.resolution >= 3
                     ? IxenmAcquisitionEx(camera, image.data(), bytes, shotProgress,
                                          static_cast<uint64_t>(camera))
                     : IxenmAcquisition(camera, image.data(), bytes, exposureProgress);
    }
    const std::time_t taken = std::time(nullptr);
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
    const FileFacts facts = factsOf(camera, o, shape);
    if (!tiff.addPage(image.data(), shape, facts.maxSample, taken,
                      firstPageDescription(facts, 0, 0)) ||
        !tiff.commit()) {
        std::fprintf(stderr, "kqcam: cannot write %s\n", o.output.c_str());
        return kExitCameraError;
    }
    std::printf("wrote %s: %u x %u, %s, 16-bit\n", o.output.c_str(), shape.width, shape.height,
                shape.channels == 3 ? "RGB" : "grey");
    if (preview != nullptr) {
        if (!preview->write(image.data(), shape)) {
            std::fprintf(stderr, "kqcam: cannot write %s\n", o.preview.c_str());
            return kExitCameraError;
        }
        std::printf("wrote %s: 8-bit preview\n", o.preview.c_str());
    }
    return kExitOk;
}

}  // namespace kqcam
