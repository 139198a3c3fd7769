#include "preview.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kqcam {

namespace {

// The samples at the thousandth from each end; the top kept above the bottom.
std::pair<uint16_t, uint16_t> stretchBounds(const uint16_t* image, size_t samples) {
    std::vector<uint32_t> histogram(65536);
    for (size_t i = 0; i < samples; ++i) {
        ++histogram[image[i]];
    }
    const size_t cut = samples / 1000;
    uint32_t low = 0, high = 65535;
    for (size_t seen = 0; low < 65535 && seen + histogram[low] <= cut; ++low) {
        seen += histogram[low];
    }
    for (size_t seen = 0; high > 0 && seen + histogram[high] <= cut; --high) {
        seen += histogram[high];
    }
    return {static_cast<uint16_t>(low), static_cast<uint16_t>(std::max(high, low + 1))};
}

// libpng leaves by longjmp on an error: nothing here needs unwinding.
bool writePng(std::FILE* file, const png_byte* rows, const kqtools::ImageShape& shape) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, shape.width, shape.height, 8,
                 shape.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < shape.height; ++y) {
        png_write_row(png, rows + size_t{y} * shape.width * shape.channels);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

PreviewWriter::PreviewWriter(std::string path)
    : path_(std::move(path)), partial_(path_ + ".partial") {
    file_ = std::fopen(partial_.c_str(), "wb");
}

PreviewWriter::~PreviewWriter() {
    if (file_ != nullptr) {
        std::fclose(file_);
        std::error_code ignored;
        std::filesystem::remove(partial_, ignored);
    }
}

bool PreviewWriter::write(const uint16_t* image, const kqtools::ImageShape& shape) {
    if (file_ == nullptr) {
        return false;
    }
    const auto [low, high] = stretchBounds(image, shape.samples());
    const double scale = 255.0 / (high - low);
    const uint32_t channels = shape.channels;
    std::vector<png_byte> rows(shape.samples());
    for (size_t p = 0; p < size_t{shape.width} * shape.height; ++p) {
        for (uint32_t k = 0; k < channels; ++k) {
            // The library's pixels are blue, green, red; PNG's are red, green, blue.
            const int v = image[p * channels + (channels - 1 - k)] - low;
            rows[p * channels + k] = static_cast<png_byte>(std::clamp(v * scale + 0.5, 0.0, 255.0));
        }
    }
    const bool written = writePng(file_, rows.data(), shape);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    std::error_code error;
    if (written && closed) {
        std::filesystem::rename(partial_, path_, error);
    }
    if (!written || !closed || error) {
        std::filesystem::remove(partial_, error);
        return false;
    }
    return true;
}

}  // namespace kqcam
