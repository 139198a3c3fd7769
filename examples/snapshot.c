/* snapshot: opens the first camera, takes one image at its current settings and writes it.
 *
 *   snapshot [FILE.ppm]
 *
 * Without camera hardware the library talks to the simulated bench, whose camera 0 is a colour
 * camera looking at a test slide. */
#include <stdio.h>
#include <stdlib.h>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "pnm.h"

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "snapshot.ppm";
    const int32_t camera = 0;

    StatusCode status = IxenmInit(camera);
    if (status != KQFW_STATUS_OK) {
        fprintf(stderr, "cannot open camera %d: %s\n", camera, kqfwStatusText(status));
        return 1;
    }

    /* The image's size follows resolution, binning and region; bits 42 is colour (three
     * samples a pixel), 14 grey. */
    uint32_t width = 0, height = 0;
    IxenmGetCurrentDataSize(camera, &width, &height);
    const uint32_t channels = IxenmGetCurrentBitsPerPixel(camera) == 42 ? 3 : 1;
    const size_t samples = (size_t)width * height * channels;
    uint16_t* image = malloc(samples * sizeof *image);
    if (image == NULL) {
        IxenmClose(camera);
        return 1;
    }

    IxenmSetExposure(camera, 20000); /* microseconds */
    const int32_t result =
        IxenmAcquisition(camera, image, (uint32_t)(samples * sizeof *image), NULL);
    if (result != 0) {
        fprintf(stderr, "acquisition failed: %s\n", kqfwStatusText((StatusCode)result));
    } else if (write_pnm(path, image, width, height, channels) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
    } else {
        printf("%s: %u x %u, %s, mean %.0f\n", path, width, height,
               channels == 3 ? "colour" : "grey", mean_sample(image, samples));
    }

    free(image);
    IxenmClose(camera);
    return result == 0 ? 0 : 1;
}
