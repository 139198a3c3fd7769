#include "delivered_image.h"

#include "kqfw/kqfw.h"

namespace kqtools {

ImageShape deliveredImage(int32_t camera) {
    ImageShape shape;
    IxenmGetCurrentDataSize(camera, &shape.width, &shape.height);
    uint32_t colourPossible = 0;
    IxenmHasBitsPerPixel(camera, 42, &colourPossible);
    const bool colourSet = IxenmGetCurrentBitsPerPixel(camera) == 42;
    shape.channels = colourSet && colourPossible != 0 ? 3 : 1;
    shape.bufferSamples = size_t{shape.width} * shape.height * (colourSet ? 3 : 1);
    return shape;
}

}  // namespace kqtools
