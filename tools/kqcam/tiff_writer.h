#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "delivered_image.h"

namespace kqcam {

// A 16-bit TIFF of one or more pages (grey, or RGB from the library's blue-green-red pixels),
// written beside the target and renamed when committed. The partial file is created at once,
// so a path that cannot be written is known before a camera is touched.
//
// The first failed write stops every later one: the pages written before it stay linked and
// whole, so a recording that fails (a full disk) can still be kept. A writer dropped without
// commit() leaves no file.
class TiffWriter {
  public:
    explicit TiffWriter(std::string path);
    ~TiffWriter();
    TiffWriter(const TiffWriter&) = delete;
    TiffWriter& operator=(const TiffWriter&) = delete;

    // False when the file could not be created; errorText() says why.
    bool created() const { return file_ != nullptr; }
    const std::string& errorText() const { return error_; }

    // BigTIFF, whose offsets pass 4 GB (not every reader takes it); before the first page.
    void useBigTiff() { big_ = true; }
    // `maxSample`: the largest value the samples can take (the display range's top).
    bool addPage(const uint16_t* image, const kqtools::ImageShape& shape, uint16_t maxSample,
                 std::time_t taken, const std::string& description);
    // Replaces the first page's description (what is known only once the run ended).
    bool rewriteFirstDescription(const std::string& description);
    // Closes the file and gives it its name when it holds a page; false when a write failed
    // (the pages written before the failure are kept) or nothing could be kept.
    bool commit();
    uint32_t pages() const { return pages_; }

  private:
    std::string path_, partial_, error_;
    void* tiff_ = nullptr;
    std::FILE* file_ = nullptr;
    uint32_t pages_ = 0;
    bool failed_ = false, big_ = false;

    friend struct TiffIo;
};

// libtiff's directory time format, "YYYY:MM:DD HH:MM:SS" in local time.
std::string tiffDateTime(std::time_t when);

}  // namespace kqcam
