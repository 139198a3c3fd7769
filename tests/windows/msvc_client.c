/* msvc_client: an application built the way an MSVC toolchain builds it (the compiler in MSVC
 * mode, an MSVC-compatible linker) against the SDK's headers and kqfw64.lib alone. It has no C
 * runtime, since Debian carries no MSVC one: the entry point is its own and the exit code tells
 * the result. Opens the simulated camera 0 (KQFW_DRIVER=sim), takes one image and exits with 0
 * when the image has light in it, else with the number of the step that failed. */
#include "kqfw/kqfw.h"

__declspec(dllimport) void __stdcall ExitProcess(unsigned code);

/* The largest image of the colour camera: full resolution, three samples a pixel. */
static uint16_t image[1388 * 1040 * 3];

static unsigned take_image(void) {
    uint32_t width = 0, height = 0;
    if (IxenmGetCurrentDataSize(0, &width, &height) != KQFW_STATUS_OK) {
        return 2;
    }
    const uint32_t samples = width * height * 3;
    if (samples > sizeof image / sizeof *image) {
        return 3;
    }
    IxenmSetExposure(0, 20000);
    if (IxenmAcquisition(0, image, samples * sizeof *image, NULL) != 0) {
        return 4;
    }
    uint64_t sum = 0;
    for (uint32_t i = 0; i < samples; ++i) {
        sum += image[i];
    }
    return sum > 0 ? 0 : 5;
}

void msvc_client(void) {
    if (IxenmInit(0) != KQFW_STATUS_OK) {
        ExitProcess(1);
    }
    const unsigned result = take_image();
    IxenmClose(0);
    ExitProcess(result);
}
