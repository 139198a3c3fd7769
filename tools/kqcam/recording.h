#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "commands.h"
#include "preview.h"
#include "tiff_writer.h"

namespace kqcam {

// The files of a stream or series: the TIFF its frames go to (only with --output) and the
// preview of the last one written, created before the camera is touched and closed at the end
// with what the run learnt (frame count, interval).
class Recording {
  public:
    int32_t camera;
    const RunOptions& options;
    kqtools::ImageShape shape;
    FileFacts facts;
    std::vector<uint16_t> image, previewImage;
    std::unique_ptr<TiffWriter> tiff;
    std::unique_ptr<PreviewWriter> preview;
    std::chrono::steady_clock::time_point firstWritten, lastWritten;
    uint64_t frames = 0, written = 0;

    Recording(int32_t camera, const RunOptions& options);
    // Before the camera is touched: 0, or the exit code for a file that cannot be created.
    int checkFiles() const;
    // Once the settings are in the camera.
    void prepare();
    // The image in `image` is frame number `frames`: every k-th one is written.
    bool take();
    // Closes the files and says what they hold: the run's exit code, or 3 when a write
    // failed (the pages before it kept).
    int finish(int code);
};

}  // namespace kqcam
