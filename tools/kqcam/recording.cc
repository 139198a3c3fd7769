#include "recording.h"

#include <cstdio>
#include <ctime>

namespace kqcam {

namespace {

using Clock = std::chrono::steady_clock;

// A classic TIFF's offsets end at 4 GB: a recording that may pass it (one without a frame
// limit, or a long one) is written as BigTIFF; one known to fit stays classic, which more
// readers take. A margin covers the directories and descriptions.
bool needsBigTiff(const RunOptions& o, const kqtools::ImageShape& shape) {
    if (o.frames == 0) {
        return true;
    }
    const uint64_t pages = (uint64_t{o.frames} + o.every - 1) / o.every;
    return pages * shape.samples() * 2 > (uint64_t{4} << 30) - (uint64_t{64} << 20);
}

}  // namespace

Recording::Recording(int32_t c, const RunOptions& o) : camera(c), options(o) {
    if (!o.settings.output.empty()) {
        tiff = std::make_unique<TiffWriter>(o.settings.output);
    }
    if (!o.settings.preview.empty()) {
        preview = std::make_unique<PreviewWriter>(o.settings.preview);
    }
}

int Recording::checkFiles() const {
    if (tiff != nullptr && !tiff->created()) {
        std::fprintf(stderr, "kqcam: cannot write %s: %s\n", options.settings.output.c_str(),
                     tiff->errorText().c_str());
        return kExitUsage;
    }
    if (preview != nullptr && !preview->created()) {
        std::fprintf(stderr, "kqcam: cannot write %s\n", options.settings.preview.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

void Recording::prepare() {
    shape = kqtools::deliveredImage(camera);
    image.resize(shape.bufferSamples);
    facts = factsOf(camera, options.settings, shape);
    if (tiff != nullptr && needsBigTiff(options, shape)) {
        tiff->useBigTiff();
    }
}

bool Recording::take() {
    const uint64_t frame = frames++;
    if (frame % options.every != 0 || (tiff == nullptr && preview == nullptr)) {
        return true;
    }
    if (options.settings.scaleTo16) {
        for (uint16_t& v : image) {
            v = static_cast<uint16_t>(v << 2);
        }
    }
    if (preview != nullptr) {
        previewImage = image;
    }
    const auto now = Clock::now();
    if (written == 0) {
        firstWritten = now;
    }
    lastWritten = now;
    const double seconds = std::chrono::duration<double>(now - firstWritten).count();
    if (tiff == nullptr) {
        ++written;
        return true;
    }
    const std::string description =
        written == 0 ? firstPageDescription(facts, frame, 0) : pageDescription(frame, seconds);
    if (!tiff->addPage(image.data(), shape, facts.maxSample, std::time(nullptr), description)) {
        return false;
    }
    ++written;
    return true;
}

int Recording::finish(int code) {
    if (preview != nullptr && !previewImage.empty()) {
        if (preview->write(previewImage.data(), shape)) {
            std::printf("wrote %s: 8-bit preview of the last frame written\n",
                        options.settings.preview.c_str());
        }
    }
    if (tiff == nullptr) {
        return code;
    }
    const char* path = options.settings.output.c_str();
    if (written > 1) {
        // The first page's frame count and interval are known only now.
        facts.frames = written;
        facts.frameInterval = std::chrono::duration<double>(lastWritten - firstWritten).count() /
                              static_cast<double>(written - 1);
        tiff->rewriteFirstDescription(firstPageDescription(facts, 0, 0));
    }
    const bool whole = tiff->commit();
    if (tiff->pages() == 0) {
        std::fprintf(stderr, "kqcam: nothing written to %s\n", path);
        return code == kExitOk ? kExitCameraError : code;
    }
    if (!whole) {
        std::fprintf(stderr, "kqcam: writing %s failed after %u pages; the file keeps those %u\n",
                     path, tiff->pages(), tiff->pages());
        code = code == kExitOk || code == kExitInterrupted ? kExitCameraError : code;
    }
    std::printf("wrote %s: %u pages of %u x %u, %s, 16-bit\n", path, tiff->pages(), shape.width,
                shape.height, shape.channels == 3 ? "RGB" : "grey");
    return code;
}

}  // namespace kqcam
