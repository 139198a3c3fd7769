#include "tiff_writer.h"

#include <tiffio.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "kqfw/kqfw_ext.h"

namespace kqcam {

// libtiff writes through these, so that after the first failed write nothing more reaches the
// file: a page whose data could not be written whole is then never linked into the chain of
// pages, and the ones before it stay readable.
struct TiffIo {
    static TiffWriter& writer(thandle_t h) { return *static_cast<TiffWriter*>(h); }
    static bool seekTo(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
        return _fseeki64(f, offset, whence) == 0;
#else
        return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
    }
    static int64_t position(std::FILE* f) {
#ifdef _WIN32
        return _ftelli64(f);
#else
        return ftello(f);
#endif
    }
    static tmsize_t read(thandle_t h, void* data, tmsize_t bytes) {
        return static_cast<tmsize_t>(
            std::fread(data, 1, static_cast<size_t>(bytes), writer(h).file_));
    }
    static tmsize_t write(thandle_t h, void* data, tmsize_t bytes) {
        TiffWriter& w = writer(h);
        if (w.failed_) {
            return -1;
        }
        const size_t done = std::fwrite(data, 1, static_cast<size_t>(bytes), w.file_);
        if (done != static_cast<size_t>(bytes) || std::fflush(w.file_) != 0) {
            w.failed_ = true;
            return -1;
        }
        return bytes;
    }
    static toff_t seek(thandle_t h, toff_t offset, int whence) {
        std::FILE* f = writer(h).file_;
        if (!seekTo(f, static_cast<int64_t>(offset), whence)) {
            return static_cast<toff_t>(-1);
        }
        return static_cast<toff_t>(position(f));
    }
    static toff_t size(thandle_t h) {
        std::FILE* f = writer(h).file_;
        const int64_t here = position(f);
        seekTo(f, 0, SEEK_END);
        const int64_t end = position(f);
        seekTo(f, here, SEEK_SET);
        return static_cast<toff_t>(end);
    }
    static int close(thandle_t) {
        return 0;
    }
    static int map(thandle_t, void**, toff_t*) {
        return 0;
    }
    static void unmap(thandle_t, void*, toff_t) {}
};

std::string tiffDateTime(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[20];
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

TiffWriter::TiffWriter(std::string path) : path_(std::move(path)), partial_(path_ + ".partial") {
    file_ = std::fopen(partial_.c_str(), "w+b");
    if (file_ == nullptr) {
        std::error_code ignored;
        const auto folder = std::filesystem::absolute(path_, ignored).parent_path();
        error_ = std::filesystem::is_directory(folder, ignored)
                     ? "cannot create a file in " + folder.string()
                     : "no folder " + folder.string();
    }
}

TiffWriter::~TiffWriter() {
    if (file_ != nullptr) {
        failed_ = true;  // nothing more is written: the file goes
        if (tiff_ != nullptr) {
            TIFFClose(static_cast<TIFF*>(tiff_));
        }
        std::fclose(file_);
        std::error_code ignored;
        std::filesystem::remove(partial_, ignored);
    }
}

bool TiffWriter::addPage(const uint16_t* image, const kqtools::ImageShape& shape,
                         uint16_t maxSample, std::time_t taken, const std::string& description) {
    if (failed_ || file_ == nullptr) {
        return false;
    }
    if (tiff_ == nullptr) {
        tiff_ =
            TIFFClientOpen(partial_.c_str(), big_ ? "w8" : "w", this, TiffIo::read, TiffIo::write,
                           TiffIo::seek, TiffIo::close, TiffIo::size, TiffIo::map, TiffIo::unmap);
        if (tiff_ == nullptr) {
            failed_ = true;
            return false;
        }
    }
    TIFF* tiff = static_cast<TIFF*>(tiff_);
    const uint32_t width = shape.width, height = shape.height, channels = shape.channels;
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
    TIFFSetField(tiff, TIFFTAG_MINSAMPLEVALUE, uint16_t{0});
    TIFFSetField(tiff, TIFFTAG_MAXSAMPLEVALUE, maxSample);
    TIFFSetField(tiff, TIFFTAG_DATETIME, tiffDateTime(taken).c_str());
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

bool TiffWriter::rewriteFirstDescription(const std::string& description) {
    TIFF* tiff = static_cast<TIFF*>(tiff_);
    if (failed_ || tiff == nullptr || pages_ == 0 || TIFFSetDirectory(tiff, 0) != 1) {
        return false;
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    failed_ = TIFFRewriteDirectory(tiff) != 1 || failed_;
    return !failed_;
}

bool TiffWriter::commit() {
    if (file_ == nullptr) {
        return false;
    }
    const bool whole = !failed_;
    if (tiff_ != nullptr) {
        TIFFClose(static_cast<TIFF*>(tiff_));
        tiff_ = nullptr;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    // The filesystem rename replaces an existing file on Windows too, where the C one refuses.
    std::error_code error;
    if (pages_ > 0) {
        std::filesystem::rename(partial_, path_, error);
    }
    if (pages_ == 0 || error) {
        std::filesystem::remove(partial_, error);
        return false;
    }
    return whole && closed;
}

}  // namespace kqcam
