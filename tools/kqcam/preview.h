#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "delivered_image.h"

namespace kqcam {

// An 8-bit PNG of an image, its contrast stretched so that the darkest and brightest thousandth
// of the samples reach black and white: something to look at, not to measure. Created at once
// beside the target (a path that cannot be written is known before a camera is touched) and
// renamed when written; dropped unwritten, it leaves no file.
class PreviewWriter {
  public:
    explicit PreviewWriter(std::string path);
    ~PreviewWriter();
    PreviewWriter(const PreviewWriter&) = delete;
    PreviewWriter& operator=(const PreviewWriter&) = delete;

    bool created() const { return file_ != nullptr; }
    // `image` as the library delivers it (colour pixels blue, green, red).
    bool write(const uint16_t* image, const kqtools::ImageShape& shape);

  private:
    std::string path_, partial_;
    std::FILE* file_ = nullptr;
};

}  // namespace kqcam
