/* dll_client: loads kqfw64.dll as an application that resolves the exports by name does,
 * checks that every export resolves, selects the simulated bus, opens both cameras, takes an
 * image on each, runs a short continuous acquisition and closes. Prints "windows client: ok"
 * and exits 0 when everything held. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "export_names.h"

typedef uint32_t (*Init)(int32_t);
typedef uint32_t (*Status)(void);
typedef void (*Close)(int32_t);
typedef uint32_t (*SetU32)(uint32_t);
typedef uint32_t (*SetCameraU32)(int32_t, uint32_t);
typedef uint32_t (*DataSize)(int32_t, uint32_t*, uint32_t*);
typedef uint32_t (*BitsOf)(int32_t);
typedef int32_t (*Acquisition)(int32_t, uint16_t*, uint32_t, void*);
typedef int32_t (*FrameCallback)(uint16_t*, uint32_t, int32_t, uint64_t, uint64_t);
typedef uint32_t (*GetIPInfo)(int32_t, void**, uint32_t*, FrameCallback, uint32_t*);
typedef int32_t (*StartContinuous)(int32_t, int32_t, uint64_t);
typedef int32_t (*StopContinuous)(int32_t);
typedef uint32_t (*Execute)(void*, uint16_t*, void*);
typedef void (*TimeScale)(double);

static HMODULE module;
static HANDLE enoughFrames;
static volatile LONG framesSeen;
static uint8_t* lastFrame;
static uint32_t lastFrameBytes;

/* The generic function pointer type, which converts to any other without a warning. */
typedef void (*AnyFunction)(void);

static AnyFunction resolve(const char* name) {
    AnyFunction function = (AnyFunction)GetProcAddress(module, name);
    if (function == NULL) {
        printf("cannot resolve %s\n", name);
        exit(1);
    }
    return function;
}

static int32_t on_frame(uint16_t* frame, uint32_t frameBytes, int32_t frameIndex,
                        uint64_t slotValue, uint64_t userValue) {
    (void)frameIndex;
    (void)slotValue;
    (void)userValue;
    if (frame != NULL && frameBytes <= lastFrameBytes && InterlockedIncrement(&framesSeen) <= 5) {
        memcpy(lastFrame, frame, frameBytes);
        if (framesSeen == 5) {
            SetEvent(enoughFrames);
        }
    }
    return 1;
}

static double mean_of(const uint16_t* samples, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum += samples[i];
    }
    return count > 0 ? sum / (double)count : 0;
}

static int snap(int32_t camera) {
    uint32_t width = 0, height = 0;
    ((SetCameraU32)resolve("IxenmSetResolution"))(camera, 0);
    ((DataSize)resolve("IxenmGetCurrentDataSize"))(camera, &width, &height);
    const uint32_t channels =
        ((BitsOf)resolve("IxenmGetCurrentBitsPerPixel"))(camera) == 42 ? 3 : 1;
    const size_t samples = (size_t)width * height * channels;
    uint16_t* image = malloc(samples * sizeof *image);
    if (image == NULL) {
        return 0;
    }
    const int32_t status = ((Acquisition)resolve("IxenmAcquisition"))(
        camera, image, (uint32_t)(samples * sizeof *image), NULL);
    const double mean = mean_of(image, samples);
    printf("camera %d: status %d, %u x %u x %u, mean %.0f\n", camera, status, width, height,
           channels, mean);
    free(image);
    return status == 0 && width == 1388 && height == 1040 && mean > 200 && mean < 16383;
}

static int stream(int32_t camera) {
    void* context = NULL;
    uint32_t contextBytes = 0, frameBytes = 0;
    uint32_t status = ((GetIPInfo)resolve("IxenmGetIPInfo"))(camera, &context, &contextBytes,
                                                             on_frame, &frameBytes);
    lastFrameBytes = frameBytes;
    lastFrame = malloc(frameBytes);
    uint16_t* image = malloc((size_t)1388 * 1040 * 3 * sizeof *image);
    enoughFrames = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (status != 0 || lastFrame == NULL || image == NULL || enoughFrames == NULL) {
        printf("cannot prepare the run: status %u\n", status);
        return 0;
    }
    int32_t started = ((StartContinuous)resolve("IxenmStartContinuousAcquisition"))(camera, 0, 0);
    const DWORD waited = started == 0 ? WaitForSingleObject(enoughFrames, 60000) : WAIT_FAILED;
    ((StopContinuous)resolve("IxenmStopContinuousAcquisition"))(camera);
    status = ((Execute)resolve("IxenmExecuteIPFunction"))(context, image, lastFrame);
    const double mean = mean_of(image, (size_t)1388 * 1040);
    printf("camera %d: run started %d, %ld frames, processed %u, mean %.0f\n", camera, started,
           (long)framesSeen, status, mean);
    CloseHandle(enoughFrames);
    free(image);
    free(lastFrame);
    return started == 0 && waited == WAIT_OBJECT_0 && status == 0 && mean > 200;
}

/* The library's own driver backend, on a machine without the camera driver: it must find no
 * camera, and say so, rather than fail in any other way. */
static int no_driver_present(void) {
    const uint32_t available = ((Status)resolve("IXenIsAvailable"))();
    const uint32_t count = ((Status)resolve("IxenGetNumberofCameras"))();
    const uint32_t opened = ((Init)resolve("IxenmInit"))(0);
    printf("windows driver: available %u, %u cameras, open %u\n", available, count, opened);
    return available == 16 && count == 0 && opened == 3;
}

int main(int argc, char** argv) {
    /* The library reads its driver choice when it loads: by default the operating system's
     * driver; "sim" (the default of this client) the simulated bus, no camera needed. */
    const char* driver = argc > 1 ? argv[1] : "sim";
    SetEnvironmentVariableA("KQFW_DRIVER", driver);
    module = LoadLibraryA("kqfw64.dll");
    if (module == NULL) {
        printf("cannot load kqfw64.dll: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    if (strcmp(driver, "win32") == 0) {
        ((SetU32)resolve("IxenSetErrorMessages"))(0);
        const int ok = no_driver_present();
        FreeLibrary(module);
        printf("windows client: %s\n", ok ? "ok" : "FAILED");
        return ok ? 0 : 1;
    }
    const size_t count = sizeof kExportNames / sizeof kExportNames[0];
    size_t resolved = 0;
    for (size_t i = 0; i < count; ++i) {
        if (GetProcAddress(module, kExportNames[i]) != NULL) {
            ++resolved;
        } else {
            printf("missing export %s\n", kExportNames[i]);
        }
    }
    printf("resolved %u of %u exports\n", (unsigned)resolved, (unsigned)count);

    /* No message boxes on a machine without a display. */
    ((SetU32)resolve("IxenSetErrorMessages"))(0);
    ((TimeScale)resolve("kqsimSetTimeScale"))(0);
    int ok = resolved == count;
    ok = ok && ((Init)resolve("IxenmInit"))(0) == 0 && ((Init)resolve("IxenmInit"))(1) == 0;
    ok = ok && snap(0) && snap(1) && stream(1);
    ((Close)resolve("IxenmClose"))(1);
    ((Close)resolve("IxenmClose"))(0);
    FreeLibrary(module);
    printf("windows client: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
