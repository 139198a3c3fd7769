#pragma once

#include <cstdint>
#include <string>

namespace kqcam {

// A 16-bit TIFF of one or more pages (grey, or RGB from the library's blue-green-red pixels),
// written beside the target and renamed when committed, so a failed or interrupted write
// leaves no file.
class TiffWriter {
  public:
    explicit TiffWriter(std::string path);
    ~TiffWriter();  // discards what was not committed
    TiffWriter(const TiffWriter&) = delete;
    TiffWriter& operator=(const TiffWriter&) = delete;

    bool addPage(const uint16_t* image, uint32_t width, uint32_t height, uint32_t channels,
                 const std::string& description);
    bool commit();
    uint32_t pages() const { return pages_; }

  private:
    std::string path_, partial_;
    void* tiff_ = nullptr;
    uint32_t pages_ = 0;
    bool failed_ = false;
};

}  // namespace kqcam
