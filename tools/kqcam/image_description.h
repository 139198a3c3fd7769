#pragma once

#include <cstdint>
#include <string>

namespace kqcam {

// What a TIFF's descriptions record (the convention is in docs/design.md): the first page
// carries ImageJ's own keys, so ImageJ and tifffile show the file with the right display range
// and frame interval, then the camera, its settings and what was applied to the images; every
// page carries its frame index and time.
struct FileFacts {
    std::string settings;            // describeSettings(): key=value pairs separated by spaces
    std::string blackRef, whiteRef;  // reference files applied; empty: none
    bool scaledTo16 = false;
    uint16_t maxSample = 16383;
    uint32_t channels = 1;
    uint64_t frames = 1;       // pages in the file
    double frameInterval = 0;  // seconds between pages; 0: not a recording
};

std::string firstPageDescription(const FileFacts& facts, uint64_t frame, double seconds);
std::string pageDescription(uint64_t frame, double seconds);

}  // namespace kqcam
