#include "tiff_writer.h"

#include <tiffio.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "kqfw/kqfw_ext.h"

namespace kqcam {

TiffWriter::TiffWriter(std::string path) : path_(std::move(path)), partial_(path_ + ".partial") {}

TiffWriter::~TiffWriter() {
    if (tiff_ != nullptr) {
        TIFFClose(static_cast<TIFF*>(tiff_));
        std::error_code ignored;
        std::filesystem::remove(partial_, ignored);
    }
}

bool TiffWriter::addPage(const uint16_t* image, uint32_t width, uint32_t height, uint32_t channels,
                         const std::string& description) {
    if (failed_) {
        return false;
    }
    if (tiff_ == nullptr) {
        tiff_ = TIFFOpen(partial_.c_str(), "w");
        if (tiff_ == nullptr) {
            failed_ = true;
            return false;
        }
    }
    TIFF* tiff = static_cast<TIFF*>(tiff_);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 1.0);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 1.0);
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, (std::string("kqcam ") + kqfwVersion()).c_str());
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    std::vector<uint16_t> row(size_t{width} * channels);
    for (uint32_t y = 0; y < height && !failed_; ++y) {
        const uint16_t* src = image + size_t{y} * width * channels;
        for (size_t x = 0; x < width; ++x) {
            for (uint32_t k = 0; k < channels; ++k) {
                // The library's pixels are blue, green, red; TIFF's are red, green, blue.
                row[x * channels + k] = src[x * channels + (channels - 1 - k)];
            }
        }
        failed_ = TIFFWriteScanline(tiff, row.data(), y, 0) != 1;
    }
    failed_ = failed_ || TIFFWriteDirectory(tiff) != 1;
    pages_ += failed_ ? 0 : 1;
    return !failed_;
}

bool TiffWriter::commit() {
    if (tiff_ == nullptr) {
        return false;
    }
    TIFFClose(static_cast<TIFF*>(tiff_));
    tiff_ = nullptr;
    // The filesystem rename replaces an existing file on Windows too, where the C one refuses.
    std::error_code error;
    if (!failed_) {
        std::filesystem::rename(partial_, path_, error);
    }
    if (failed_ || error) {
        std::filesystem::remove(partial_, error);
        return false;
    }
    return true;
}

}  // namespace kqcam
