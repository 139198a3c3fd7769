#include "commands.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camera_choice.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"
#include "library_messages.h"

namespace kqcam {

namespace {

const char* modelName(uint32_t isColour) {
    return isColour ? "KQC (colour)" : "KQM (mono)";
}

// The library does not say which bus it talks to; a camera whose device path is one of the
// simulated bench's is the bench's.
bool isSimulated(const char* devicePath) {
    char path[256];
    for (int32_t i = 0; i < kqsimCameraCount(); ++i) {
        if (kqsimDevicePath(i, path, sizeof path) == 0 && std::strcmp(path, devicePath) == 0) {
            return true;
        }
    }
    return false;
}

int openFailure(int32_t camera, StatusCode status) {
    std::fprintf(stderr, "kqcam: camera %d could not be opened (%s)\n", camera,
                 describeStatus(status).c_str());
    return status == KQFW_STATUS_NO_CAMERA ? kExitNoCamera : kExitCameraError;
}

// The bytes a firmware text yields: one for each line ended by CR LF, as the camera's loader
// reads it. Empty, with the reason, for a text that yields none (the library would write an
// empty image and restart the camera).
size_t firmwareLines(const std::vector<uint8_t>& text, std::string* reason) {
    size_t lines = 0, bareLineFeeds = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            (i > 0 && text[i - 1] == '\r' ? lines : bareLineFeeds) += 1;
        }
    }
    if (lines == 0) {
        *reason = text.empty()        ? "the file is empty"
                  : bareLineFeeds > 0 ? "its lines end in LF alone; firmware lines end in CR LF"
                                      : "it has no line ended by CR LF";
    }
    return lines;
}

}  // namespace

ClosesCameras::~ClosesCameras() {
    IxenClose();
}

int listCameras() {
    const uint32_t count = IxenGetNumberofCameras();
    if (count == 0) {
        std::fprintf(stderr, "kqcam: no camera present\n");
        return kExitNoCamera;
    }
    ClosesCameras closer;
    std::printf("%-6s %-13s %-10s %-9s %-10s %s\n", "index", "model", "unique-id", "firmware",
                "camera", "path");
    for (int32_t i = 0; i < static_cast<int32_t>(count) && i < 10; ++i) {
        if (StatusCode status = IxenmInit(i)) {
            return openFailure(i, status);
        }
        uint32_t info[4];
        KqfwCameraDescription d;
        IxenmInfo(i, info);
        kqfwDescribeCamera(i, &d);
        std::printf("%-6d %-13s 0x%04x     %u.%02u     %-10s %s\n", i, modelName(info[2]), info[1],
                    info[0] >> 8, info[0] & 0xFF,
                    isSimulated(d.devicePath) ? "simulated" : "hardware", d.devicePath);
    }
    return kExitOk;
}

int chooseCamera(const std::string& choice, int32_t* camera) {
    std::string why;
    switch (kqtools::chooseCamera(choice, camera, &why)) {
        case kqtools::Choice::kFound:
            return kExitOk;
        case kqtools::Choice::kMalformed:
            std::fprintf(stderr, "kqcam: --camera: %s\n", why.c_str());
            return kExitUsage;
        case kqtools::Choice::kAbsent:
            break;
    }
    std::fprintf(stderr, "kqcam: %s\n", why.c_str());
    return kExitNoCamera;
}

int openListed(int32_t camera) {
    if (StatusCode status = kqfwInitListed(camera, camera)) {
        return openFailure(camera, status);
    }
    return kExitOk;
}

int describeCamera(int32_t camera) {
    ClosesCameras closer;
    if (int code = openListed(camera)) {
        return code;
    }
    uint32_t info[4];
    KqfwCameraDescription d;
    IxenmInfo(camera, info);
    kqfwDescribeCamera(camera, &d);
    std::printf("camera          %d\n", camera);
    std::printf("model           %s\n", modelName(info[2]));
    std::printf("path            %s%s\n", d.devicePath,
                isSimulated(d.devicePath) ? " (simulated)" : "");
    std::printf("unique id       0x%04x\n", info[1]);
    std::printf("firmware        %u.%02u (0x%04x)\n", info[0] >> 8, info[0] & 0xFF, info[0]);
    std::printf("flash id        0x%08x\n", info[3]);
    std::printf("sensor          %u x %u\n", d.sensorWidth, d.sensorHeight);
    for (int m = 0; m < 8; ++m) {
        if (d.modeMask & (1u << m)) {
            std::printf("format7 mode %d  %u x %u\n", m, d.modeMaxWidth[m], d.modeMaxHeight[m]);
        }
    }
    std::printf("12-bit packing  %s\n", d.packingCapable ? "yes" : "no");
    std::printf("8-bit transfer  %s\n", d.compressionCapable ? "yes" : "no");
    std::printf("blemishes       %d (%d marked pixels)%s\n", d.blemishCount, d.markedPixelCount,
                d.flashValid ? "" : ", flash record invalid");
    std::printf("resolutions     %s\n", acceptedResolutions(camera).c_str());
    std::printf("bits            %s (at resolution %u)\n", acceptedBits(camera).c_str(),
                IxenmGetCurrentResolution(camera));
    std::printf("binning         %s (at %u bits)\n", acceptedBinnings(camera).c_str(),
                IxenmGetCurrentBitsPerPixel(camera));
    std::printf("exposure        %s\n", exposureRange(camera).c_str());
    uint32_t readout = 0;
    if (IxenmGetCurrentReadouttime(camera, &readout) == KQFW_STATUS_OK) {
        std::printf("readout time    %u us beyond the exposure (current settings)\n", readout);
    }
    return kExitOk;
}

int writeFirmware(int32_t camera, const std::string& path, bool confirmed) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "kqcam: cannot read %s\n", path.c_str());
        return kExitUsage;
    }
    const std::vector<uint8_t> text((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    std::string reason;
    const size_t bytes = firmwareLines(text, &reason);
    if (bytes == 0) {
        std::fprintf(stderr, "kqcam: %s yields no firmware byte: %s\n", path.c_str(),
                     reason.c_str());
        return kExitUsage;
    }
    if (!confirmed) {
        std::fprintf(stderr,
                     "kqcam: writing firmware replaces the camera's own; add --yes to do it\n");
        return kExitUsage;
    }
    ClosesCameras closer;
    if (int code = openListed(camera)) {
        return code;
    }
    std::printf("writing %zu firmware bytes (%zu bytes of text) to camera %d ...\n", bytes,
                text.size(), camera);
    const StatusCode status =
        IxenmWriteFirmware(camera, text.data(), static_cast<int32_t>(text.size()));
    if (status != KQFW_STATUS_OK) {
        std::fprintf(stderr, "kqcam: firmware not written (%s)\n", describeStatus(status).c_str());
        return status == KQFW_STATUS_BAD_ARGUMENT ? kExitUsage : kExitCameraError;
    }
    std::printf("done; the camera runs the new firmware\n");
    return kExitOk;
}

}  // namespace kqcam
