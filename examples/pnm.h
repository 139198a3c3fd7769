/* Writes an image of the library as a 16-bit PGM (grey) or PPM (colour) file, a format every
 * image viewer reads and that needs no library. Shared by the examples. */
#ifndef KQFW_EXAMPLES_PNM_H
#define KQFW_EXAMPLES_PNM_H

#include <stdint.h>
#include <stdio.h>

/* Samples are 0..16383; colour pixels hold blue, green, red, and PPM wants red first. 0 on
 * success. */
static inline int write_pnm(const char* path, const uint16_t* image, uint32_t width,
                            uint32_t height, uint32_t channels) {
    FILE* f = fopen(path, "wb");
    if (f == NULL) {
        return -1;
    }
    fprintf(f, "P%c\n%u %u\n16383\n", channels == 3 ? '6' : '5', width, height);
    for (size_t i = 0; i < (size_t)width * height; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            /* PNM samples are big-endian. */
            const uint16_t v = image[i * channels + (channels - 1 - c)];
            fputc(v >> 8, f);
            fputc(v & 0xFF, f);
        }
    }
    return fclose(f) == 0 ? 0 : -1;
}

/* The mean sample, a quick check that an image holds something. */
static inline double mean_sample(const uint16_t* image, size_t samples) {
    double sum = 0;
    for (size_t i = 0; i < samples; ++i) {
        sum += image[i];
    }
    return samples == 0 ? 0 : sum / (double)samples;
}

#endif
