/* references: measures a black reference (the sensor's dark pattern) and a white one (the
 * illumination's unevenness), keeps them in files, and takes an image with both applied.
 *
 *   references [DIRECTORY]
 *
 * With a real camera, cover it for the black reference and put an empty, evenly lit field under
 * it for the white one; on the simulated bench the example lays darkness and a flat field under
 * it itself. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"
#include "pnm.h"

/* Progress of the black reference's long exposure; a non-zero result would abort it. */
static int32_t show_progress(uint32_t elapsedMs, uint32_t totalMs, int32_t state) {
    (void)state;
    static uint32_t shownTenths = 0;
    const uint32_t tenths = totalMs == 0 ? 10 : elapsedMs * 10 / totalMs;
    if (tenths > shownTenths) {
        shownTenths = tenths;
        printf("  %u of %u ms\n", elapsedMs, totalMs);
    }
    return 0;
}

static int save(const char* path, const uint8_t* block, size_t bytes) {
    FILE* f = fopen(path, "wb");
    int ok = f != NULL && fwrite(block, 1, bytes, f) == bytes;
    if (f != NULL && fclose(f) != 0) {
        ok = 0;
    }
    return ok ? 0 : -1;
}

static int load(const char* path, uint8_t* block, size_t bytes) {
    FILE* f = fopen(path, "rb");
    const int ok = f != NULL && fread(block, 1, bytes, f) == bytes;
    if (f != NULL) {
        fclose(f);
    }
    return ok ? 0 : -1;
}

static int check(const char* what, StatusCode status) {
    if (status != KQFW_STATUS_OK) {
        fprintf(stderr, "%s: status %u, %s\n", what, status, kqfwStatusText(status));
    }
    return status == KQFW_STATUS_OK;
}

/* The spread of an image's samples (standard deviation over mean) at the current settings. */
static int flat_spread(int32_t camera, double* spread) {
    uint32_t width = 0, height = 0;
    IxenmGetCurrentDataSize(camera, &width, &height);
    const size_t samples = (size_t)width * height * 3;
    uint16_t* image = malloc(samples * sizeof *image);
    const int ok = image != NULL &&
                   IxenmAcquisition(camera, image, (uint32_t)(samples * sizeof *image), NULL) == 0;
    if (ok) {
        const double mean = mean_sample(image, samples);
        double sum = 0;
        for (size_t i = 0; i < samples; ++i) {
            sum += (image[i] - mean) * (image[i] - mean);
        }
        *spread = sqrt(sum / (double)samples) / mean;
    }
    free(image);
    return ok;
}

int main(int argc, char** argv) {
    const char* directory = argc > 1 ? argv[1] : ".";
    const int32_t camera = 0;
    if (!check("open", IxenmInit(camera))) {
        return 1;
    }

    /* The saved blocks are sized by the sensor: the size of resolution 0 at binning 1. */
    uint32_t sensorWidth = 0, sensorHeight = 0, id = 0;
    IxenmGetResolutionValues(camera, 0, &sensorWidth, &sensorHeight, &id);
    const size_t blackBytes = (size_t)(sensorHeight + 2) * sensorWidth * 2;
    const size_t whiteBytes = (size_t)sensorHeight * sensorWidth * 2;
    uint8_t* black = malloc(blackBytes);
    uint8_t* white = malloc(whiteBytes);
    char blackPath[1024], whitePath[1024];
    snprintf(blackPath, sizeof blackPath, "%s/black.ref", directory);
    snprintf(whitePath, sizeof whitePath, "%s/white.ref", directory);

    int ok = black != NULL && white != NULL;
    printf("black reference (camera covered)\n");
    kqsimSetScene(KQSIM_SCENE_DARK, 0, NULL, 0, 0, 0);
    ok = ok && check("black reference", IxenmCalculateBlackRef(camera, show_progress));
    printf("white reference (empty field)\n");
    kqsimSetScene(KQSIM_SCENE_FLAT, 1.0, NULL, 0, 0, 0);
    IxenmSetExposure(camera, 60000);
    ok = ok && check("white reference", IxenmCalculateWhiteRef(camera, NULL));

    /* Saved blocks outlive the session: a later one restores them instead of measuring. */
    ok = ok && check("save black", IxenmSaveBlackRef(camera, black, (uint32_t)blackBytes));
    ok = ok && check("save white", IxenmGetWhiteTable(camera, white));
    ok = ok && save(blackPath, black, blackBytes) == 0 && save(whitePath, white, whiteBytes) == 0;
    IxenmClose(camera);

    if (ok) {
        printf("saved %s and %s; a new session restores them\n", blackPath, whitePath);
        memset(black, 0, blackBytes);
        memset(white, 0, whiteBytes);
        ok = load(blackPath, black, blackBytes) == 0 && load(whitePath, white, whiteBytes) == 0;
        ok = ok && check("reopen", IxenmInit(camera)) &&
             check("exposure", IxenmSetExposure(camera, 60000));
        ok =
            ok && check("restore black", IxenmRestoreBlackRef(camera, black, (uint32_t)blackBytes));
        ok = ok && check("restore white", IxenmSetWhiteTable(camera, white));
    }

    /* The flat field without and with the references: corrected, its samples vary less. */
    double before = 0, after = 0;
    ok = ok && check("references off", IxenmSetBlackRef(camera, 0)) &&
         check("references off", IxenmSetWhiteRef(camera, 0)) && flat_spread(camera, &before);
    ok = ok && check("apply black", IxenmSetBlackRef(camera, 1)) &&
         check("apply white", IxenmSetWhiteRef(camera, 1)) && flat_spread(camera, &after);
    if (ok) {
        printf("flat field spread: %.2f %% uncorrected, %.2f %% corrected\n", 100 * before,
               100 * after);
        ok = after < before;
    }
    IxenmClose(camera);
    free(black);
    free(white);
    return ok ? 0 : 1;
}
