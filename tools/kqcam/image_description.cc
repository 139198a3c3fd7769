#include "image_description.h"

#include <cstdio>
#include <sstream>

namespace kqcam {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

std::string pageDescription(uint64_t frame, double seconds) {
    return "frame=" + std::to_string(frame) + "\ntime_s=" + number(seconds) + "\n";
}

std::string firstPageDescription(const FileFacts& f, uint64_t frame, double seconds) {
    // ImageJ reads its keys only from a description that starts with its own version line.
    std::string text = "ImageJ=1.11a\n";
    if (f.frames > 1) {
        text += "frames=" + std::to_string(f.frames) + "\nhyperstack=true\n";
    }
    if (f.frameInterval > 0) {
        text += "finterval=" + number(f.frameInterval) + "\n";
    }
    text += "unit=pixel\nmin=0\nmax=" + std::to_string(f.maxSample) + "\n";
    std::istringstream settings(f.settings);
    for (std::string pair; settings >> pair;) {
        text += pair + "\n";
    }
    std::string processing;
    const auto applied = [&](const std::string& step) {
        processing += (processing.empty() ? "" : ",") + step;
    };
    if (!f.blackRef.empty()) {
        applied("black_reference");
        text += "black_ref=" + f.blackRef + "\n";
    }
    if (!f.whiteRef.empty()) {
        applied("white_reference");
        text += "white_ref=" + f.whiteRef + "\n";
    }
    applied("blemish_correction");
    if (f.channels == 3) {
        applied("colour_interpolation");
        applied("white_balance");
    }
    if (f.scaledTo16) {
        applied("scale16");
    }
    text += "processing=" + processing + "\n";
    return text + pageDescription(frame, seconds);
}

}  // namespace kqcam
