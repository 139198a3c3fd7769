/* live: a live view's loop. The camera streams continuously; the library's thread hands each
 * raw frame to a callback that only copies it, and the application's own thread turns the
 * newest one into an image whenever it is ready for one, at its own pace.
 *
 *   live [FRAMES]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <threads.h>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "pnm.h"

/* The newest raw frame, handed from the library's thread to the main one. */
static struct {
    mtx_t lock;
    cnd_t changed;
    uint8_t* raw;
    uint32_t rawBytes;
    int32_t index; /* the driver's frame number, -1 before the first */
    int fresh;     /* a frame the main thread has not taken yet */
    int ended;     /* the run ended (stopped, or the camera went away) */
} latest;

/* Runs on the library's dispatch thread: copy and return at once, so no frame is skipped
 * because of us. A null frame says the run has ended. */
static int32_t on_frame(uint16_t* frame, uint32_t frameBytes, int32_t frameIndex,
                        uint64_t slotValue, uint64_t userValue) {
    (void)slotValue;
    (void)userValue;
    mtx_lock(&latest.lock);
    if (frame == NULL) {
        latest.ended = 1;
    } else if (frameBytes <= latest.rawBytes) {
        memcpy(latest.raw, frame, frameBytes);
        latest.index = frameIndex;
        latest.fresh = 1;
    }
    cnd_broadcast(&latest.changed);
    mtx_unlock(&latest.lock);
    return 1; /* keep streaming */
}

int main(int argc, char** argv) {
    const int frames = argc > 1 ? atoi(argv[1]) : 20;
    const int32_t camera = 0;
    StatusCode status = IxenmInit(camera);
    if (status != KQFW_STATUS_OK) {
        fprintf(stderr, "cannot open camera %d: %s\n", camera, kqfwStatusText(status));
        return 1;
    }
    IxenmSetExposure(camera, 10000);

    /* The processing context describes how a raw frame of the current settings becomes an
     * image; it also registers the frame callback of the run. */
    IpContext* context = NULL;
    uint32_t contextBytes = 0, frameBytes = 0;
    status = IxenmGetIPInfo(camera, &context, &contextBytes, on_frame, &frameBytes);
    uint32_t width = 0, height = 0;
    IxenmGetCurrentDataSize(camera, &width, &height);
    const uint32_t channels = IxenmGetCurrentBitsPerPixel(camera) == 42 ? 3 : 1;
    uint16_t* image = malloc((size_t)width * height * channels * sizeof *image);
    uint8_t* raw = malloc(frameBytes);
    latest.raw = malloc(frameBytes);
    latest.rawBytes = frameBytes;
    latest.index = -1;
    if (status != KQFW_STATUS_OK || image == NULL || raw == NULL || latest.raw == NULL) {
        fprintf(stderr, "cannot prepare the run: %s\n", kqfwStatusText(status));
        IxenmClose(camera);
        free(latest.raw);
        free(raw);
        free(image);
        return 1;
    }
    mtx_init(&latest.lock, mtx_plain);
    cnd_init(&latest.changed);

    /* Priority 0 is normal; the user value comes back to the callback. */
    int32_t result = IxenmStartContinuousAcquisition(camera, 0, 0);
    if (result != 0) {
        fprintf(stderr, "cannot start: %s\n", kqfwStatusText((StatusCode)result));
    }
    int32_t previous = -1;
    for (int shown = 0; result == 0 && shown < frames;) {
        mtx_lock(&latest.lock);
        while (!latest.fresh && !latest.ended) {
            cnd_wait(&latest.changed, &latest.lock);
        }
        const int ended = latest.ended && !latest.fresh;
        const int32_t index = latest.index;
        if (!ended) {
            memcpy(raw, latest.raw, frameBytes);
            latest.fresh = 0;
        }
        mtx_unlock(&latest.lock);
        if (ended) {
            fprintf(stderr, "the run ended before %d frames\n", frames);
            result = 1;
            break;
        }
        /* Each frame is taken once, so the driver's numbers only grow. */
        if (index <= previous) {
            fprintf(stderr, "frame %d came after frame %d\n", index, previous);
            result = 1;
            break;
        }
        previous = index;
        /* Any thread may process, several at once; here the main one does. */
        status = IxenmExecuteIPFunction(context, image, raw);
        if (status != KQFW_STATUS_OK) {
            fprintf(stderr, "cannot process frame %d: %s\n", index, kqfwStatusText(status));
            result = 1;
            break;
        }
        ++shown;
        printf("frame %d: mean %.0f\n", index,
               mean_sample(image, (size_t)width * height * channels));
    }
    IxenmStopContinuousAcquisition(camera);

    KqfwRunStatistics statistics;
    kqfwGetRunStatistics(camera, &statistics);
    printf("delivered %llu frames, %.1f frames/s, lost %llu\n",
           (unsigned long long)statistics.framesDelivered, statistics.framesPerSecond,
           (unsigned long long)statistics.framesLost);
    if (result == 0) {
        write_pnm("live.ppm", image, width, height, channels);
    }

    IxenmClose(camera);
    free(latest.raw);
    free(raw);
    free(image);
    cnd_destroy(&latest.changed);
    mtx_destroy(&latest.lock);
    return result == 0 ? 0 : 1;
}
