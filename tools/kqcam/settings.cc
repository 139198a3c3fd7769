// The command line's settings taken into the camera. A refused one is named with its value and
// what this camera accepts now, as the library answers it (the accepted values depend on the
// model and on the other settings).
#include <cstdio>
#include <string>

#include "commands.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "library_messages.h"

namespace kqcam {

namespace {

using Probe = bool (*)(int32_t camera, int32_t value);

// The values of first..last the probe accepts, as "1, 3 or 5".
std::string accepted(int32_t camera, int32_t first, int32_t last, Probe probe) {
    std::string list, pending;
    for (int32_t v = first; v <= last; ++v) {
        if (!probe(camera, v)) {
            continue;
        }
        if (!pending.empty()) {
            list += (list.empty() ? "" : ", ") + pending;
        }
        pending = std::to_string(v);
    }
    if (list.empty()) {
        return pending.empty() ? "none" : pending;
    }
    return list + " or " + pending;
}

bool hasBits(int32_t camera, int32_t bits) {
    uint32_t available = 0;
    // The colour model answers yes to any depth where it has colour; only these two exist.
    return (bits == 14 || bits == 42) && IxenmHasBitsPerPixel(camera, bits, &available) == 0 &&
           available != 0;
}

bool hasBinning(int32_t camera, int32_t factor) {
    uint32_t available = 0;
    return IxenmHasBinning(camera, factor, &available) == 0 && available != 0;
}

// Setting a resolution only stores it, and a refused one changes nothing: trying each and going
// back is how the library tells which this model has.
bool hasResolution(int32_t camera, int32_t resolution) {
    const uint32_t current = IxenmGetCurrentResolution(camera);
    const bool ok = IxenmSetResolution(camera, static_cast<uint32_t>(resolution)) == 0;
    IxenmSetResolution(camera, current);
    return ok;
}

int refused(const std::string& what, StatusCode status) {
    std::fprintf(stderr, "kqcam: %s (%s)\n", what.c_str(), describeStatus(status).c_str());
    if (status == KQFW_STATUS_NO_CAMERA) {
        return kExitNoCamera;
    }
    return status == KQFW_STATUS_BAD_ARGUMENT ? kExitUsage : kExitCameraError;
}

}  // namespace

std::string exposureRange(int32_t camera) {
    uint32_t minimum = 0, maximum = 0, step = 0;
    IxenmGetExposureRange(camera, &minimum, &maximum, &step);
    return std::to_string(minimum) + " to " + std::to_string(maximum) + " us in steps of " +
           std::to_string(step);
}

std::string acceptedResolutions(int32_t camera) {
    return accepted(camera, 0, 6, hasResolution);
}

std::string acceptedBinnings(int32_t camera) {
    return accepted(camera, 1, 5, hasBinning);
}

std::string acceptedBits(int32_t camera) {
    return accepted(camera, 14, 42, hasBits);
}

int applySettings(int32_t camera, const SnapOptions& o) {
    if (StatusCode s = applyReferences(camera, o.blackRef, o.whiteRef)) {
        return refused("references not applied", s);
    }
    if (StatusCode s = IxenmSetResolution(camera, o.resolution)) {
        return refused("resolution " + std::to_string(o.resolution) + " refused: this camera has " +
                           acceptedResolutions(camera),
                       s);
    }
    if (o.bits != 0) {
        if (StatusCode s = IxenmSetBitsPerPixel(camera, static_cast<int32_t>(o.bits))) {
            return refused("bits " + std::to_string(o.bits) + " refused: at resolution " +
                               std::to_string(o.resolution) + " this camera takes " +
                               acceptedBits(camera),
                           s);
        }
    }
    if (StatusCode s = IxenmSetBinning(camera, static_cast<int32_t>(o.binning))) {
        return refused("binning " + std::to_string(o.binning) + " refused: with these settings " +
                           "this camera takes " + acceptedBinnings(camera),
                       s);
    }
    if (o.exposureUs != 0) {
        if (StatusCode s = IxenmSetExposure(camera, o.exposureUs)) {
            return refused("exposure " + std::to_string(o.exposureUs) +
                               " us refused: this camera takes " + exposureRange(camera),
                           s);
        }
    }
    if (o.gain >= 0) {
        if (StatusCode s = IxenmWriteAnalogGain(camera, static_cast<uint32_t>(o.gain))) {
            return refused("gain " + std::to_string(o.gain) + " refused", s);
        }
    }
    if (o.whiteBalance.size() == 3) {
        if (StatusCode s = IxenmSetWhiteBalance(camera, o.whiteBalance[0], o.whiteBalance[1],
                                                o.whiteBalance[2])) {
            char text[128];
            std::snprintf(text, sizeof text, "white balance %g %g %g refused", o.whiteBalance[0],
                          o.whiteBalance[1], o.whiteBalance[2]);
            return refused(text, s);
        }
    }
    if (!o.interpolation.empty()) {
        const int32_t method =
            o.interpolation == "lmmse" ? KQFW_INTERPOLATION_LMMSE : KQFW_INTERPOLATION_CAMERA;
        if (StatusCode s = kqfwSetColourInterpolation(camera, method)) {
            return refused("interpolation " + o.interpolation +
                               " refused: this camera takes camera (it has no colour mosaic)",
                           s);
        }
    }
    return kExitOk;
}

}  // namespace kqcam
