/* multishot: a sensor-shift image. At resolution 4 the camera takes a series of shots with the
 * sensor moved by fractions of a pixel between them, and the library merges them into an image
 * twice the sensor's size in each direction (three times at 5 and 6; full colour at the
 * sensor's size at 3).
 *
 *   multishot [RESOLUTION [FILE.ppm]]
 */
#include <stdio.h>
#include <stdlib.h>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "pnm.h"

/* Called during the series; the shot count shows how far it is. */
static int32_t show_shots(uint32_t elapsedMs, uint32_t totalMs, int32_t state, uint64_t camera) {
    (void)elapsedMs;
    (void)totalMs;
    (void)state;
    static uint32_t shown = 0;
    uint32_t placed = 0, total = 0;
    if (kqfwGetShotProgress((int32_t)camera, &placed, &total) == KQFW_STATUS_OK &&
        placed != shown) {
        shown = placed;
        printf("  shot %u of %u\n", placed, total);
    }
    return 0;
}

int main(int argc, char** argv) {
    const uint32_t resolution = argc > 1 ? (uint32_t)atoi(argv[1]) : 4;
    const char* path = argc > 2 ? argv[2] : "multishot.ppm";
    const int32_t camera = 0;
    StatusCode status = IxenmInit(camera);
    if (status == KQFW_STATUS_OK) {
        status = IxenmSetResolution(camera, resolution);
    }
    if (status != KQFW_STATUS_OK) {
        fprintf(stderr, "cannot set resolution %u: %s\n", resolution, kqfwStatusText(status));
        IxenmClose(camera);
        return 1;
    }
    IxenmSetExposure(camera, 10000);

    uint32_t width = 0, height = 0;
    IxenmGetCurrentDataSize(camera, &width, &height);
    const uint32_t channels = IxenmGetCurrentBitsPerPixel(camera) == 42 ? 3 : 1;
    const size_t samples = (size_t)width * height * channels;
    uint16_t* image = malloc(samples * sizeof *image);
    int32_t result = KQFW_STATUS_NO_MEMORY;
    if (image != NULL) {
        printf("resolution %u: %u x %u\n", resolution, width, height);
        result = IxenmAcquisitionEx(camera, image, (uint32_t)(samples * sizeof *image), show_shots,
                                    (uint64_t)camera);
    }
    if (result != 0) {
        fprintf(stderr, "multi-shot image failed: %s\n", kqfwStatusText((StatusCode)result));
    } else if (write_pnm(path, image, width, height, channels) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        result = 1;
    } else {
        printf("%s: %u x %u, mean %.0f\n", path, width, height, mean_sample(image, samples));
    }
    free(image);
    IxenmClose(camera);
    return result == 0 ? 0 : 1;
}
