#pragma once

#include <cstddef>
#include <cstdint>

namespace kqtools {

struct ImageShape {
    uint32_t width = 0, height = 0, channels = 1;
    size_t bufferSamples = 0;  // what the library asks room for, which may be more
    size_t samples() const { return size_t{width} * height * channels; }
};

// The image the library delivers for the camera's current settings. The depth setting alone
// does not tell: where colour cannot be set (the mono model, the mosaic resolution of the colour
// one) a stored 42 still yields one sample a pixel, though the buffer must hold three.
ImageShape deliveredImage(int32_t camera);

}  // namespace kqtools
