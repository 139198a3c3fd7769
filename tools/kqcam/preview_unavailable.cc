// Builds without libpng (the Windows cross-build, whose dependencies have no libpng) take no
// --preview: the writer is never created, and says why.
#include <cstdio>

#include "preview.h"

namespace kqcam {

PreviewWriter::PreviewWriter(std::string path) : path_(std::move(path)) {
    std::fprintf(stderr, "kqcam: this build writes no PNG previews (built without libpng)\n");
}

PreviewWriter::~PreviewWriter() = default;

bool PreviewWriter::write(const uint16_t*, const kqtools::ImageShape&) {
    return false;
}

}  // namespace kqcam
