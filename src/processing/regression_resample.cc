// The regression method's last step: every channel resampled half a pixel up and left, so the
// colours sit where the sensor's cells are. Output row y reads input rows y - 2 to y + 1.
#include <algorithm>
#include <cstring>

#include "camera/lut.h"
#include "platform/error_report.h"
#include "platform/memory.h"
#include "platform/worker_pool.h"
#include "processing/regression_interpolation.h"
#include "processing/rgb_image.h"

namespace kqfw {

using Image = RgbImage;

namespace {

// One output value of the half-pixel resampling, with the edge rules: rows beyond the frame are
// the row itself, columns are held at the frame's edge.
uint16_t resampledAt(const Image& im, int channel, int32_t y, int32_t x) {
    const int32_t ym2 = y - 2 >= 0 ? y - 2 : y, ym1 = y - 1 >= 0 ? y - 1 : y;
    const int32_t yp1 = y + 1 < im.h ? y + 1 : y;
    auto v = [&](int32_t yy, int32_t xx) {
        return int32_t{im.at(yy, std::clamp(xx, 0, im.w - 1))[channel]};
    };
    const int32_t in = v(ym1, x - 1) + v(ym1, x) + v(y, x - 1) + v(y, x);
    const int32_t out = v(ym2, x - 1) + v(ym2, x) + v(ym1, x - 2) + v(y, x - 2) + v(ym1, x + 1) +
                        v(y, x + 1) + v(yp1, x - 1) + v(yp1, x);
    return static_cast<uint16_t>(clampSample((6 * in - out) >> 4));
}

// The same for a pixel whose whole neighbourhood lies inside the frame (2 <= y <= h - 2,
// 2 <= x <= w - 2): straight indexing, no edge rules.
inline uint16_t resampledInside(const uint16_t* p, int32_t rowStride) {
    auto v = [p, rowStride](int32_t dy, int32_t dx) { return int32_t{p[dy * rowStride + 3 * dx]}; };
    const int32_t in = v(-1, -1) + v(-1, 0) + v(0, -1) + v(0, 0);
    const int32_t out =
        v(-2, -1) + v(-2, 0) + v(-1, -2) + v(0, -2) + v(-1, 1) + v(0, 1) + v(1, -1) + v(1, 0);
    return static_cast<uint16_t>(clampSample((6 * in - out) >> 4));
}

// A plane for one channel's results, or null once it reported that there was no memory.
uint16_t* newPlane(int32_t width, int32_t height) {
    auto* plane = static_cast<uint16_t*>(allocZeroed(size_t(width) * height * sizeof(uint16_t)));
    if (plane == nullptr) {
        reportError("Not enough memory in routine AssembleSingle");
    }
    return plane;
}

void storePlane(uint16_t* plane, int channel, int32_t width, int32_t height, uint16_t* image) {
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        image[3 * i + channel] = plane[i];
    }
    freeZeroed(plane);
}

}  // namespace

void ResampleChannelHalfPixelReference(int channel, int32_t width, int32_t height,
                                       uint16_t* image) {
    uint16_t* plane = newPlane(width, height);
    if (plane == nullptr) {
        return;
    }
    const Image im{image, width, height};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            plane[size_t(y) * width + x] = resampledAt(im, channel, y, x);
        }
    }
    storePlane(plane, channel, width, height, image);
}

void ResampleChannelHalfPixel(int channel, int32_t width, int32_t height, uint16_t* image) {
    uint16_t* plane = newPlane(width, height);
    if (plane == nullptr) {
        return;
    }
    const Image im{image, width, height};
    const int32_t rowStride = 3 * width;
    for (int32_t y = 0; y < height; ++y) {
        uint16_t* out = plane + size_t(y) * width;
        const bool insideRows = y >= 2 && y <= height - 2;
        if (!insideRows || width < 5) {
            for (int32_t x = 0; x < width; ++x) {
                out[x] = resampledAt(im, channel, y, x);
            }
            continue;
        }
        out[0] = resampledAt(im, channel, y, 0);
        out[1] = resampledAt(im, channel, y, 1);
        const uint16_t* p = im.at(y, 2) + channel;
        for (int32_t x = 2; x <= width - 2; ++x, p += 3) {
            out[x] = resampledInside(p, rowStride);
        }
        out[width - 1] = resampledAt(im, channel, y, width - 1);
    }
    storePlane(plane, channel, width, height, image);
}

namespace {

// A row of output for all three channels of the interleaved row y: the edge rules for the
// outer rows and columns, the straight stencil between them, where a channel's neighbour is
// three values away.
inline __attribute__((always_inline)) void resampleRow(const Image& im, int32_t y, uint16_t* out) {
    const bool insideRows = y >= 2 && y <= im.h - 2;
    if (!insideRows || im.w < 5) {
        for (int32_t x = 0; x < im.w; ++x) {
            for (int c = 0; c < 3; ++c) {
                out[3 * x + c] = resampledAt(im, c, y, x);
            }
        }
        return;
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = resampledAt(im, c, y, 0);
        out[3 + c] = resampledAt(im, c, y, 1);
        out[3 * (im.w - 1) + c] = resampledAt(im, c, y, im.w - 1);
    }
    const uint16_t* m2 = im.at(y - 2, 0);
    const uint16_t* m1 = im.at(y - 1, 0);
    const uint16_t* r0 = im.at(y, 0);
    const uint16_t* p1 = im.at(y + 1, 0);
    for (int32_t j = 6; j < 3 * (im.w - 1); ++j) {
        const int32_t in = m1[j - 3] + m1[j] + r0[j - 3] + r0[j];
        const int32_t outer =
            m2[j - 3] + m2[j] + m1[j - 6] + r0[j - 6] + m1[j + 3] + r0[j + 3] + p1[j - 3] + p1[j];
        out[j] = static_cast<uint16_t>(clampSample((6 * in - outer) >> 4));
    }
}

// The output rows [first, end) of a stripe. A row is written back once no output row reads it
// any more: within the stripe two rows behind; the stripe's first row, which the stripe above
// reads, and its last two, which the stripe below reads, once every stripe is done. The ring
// holds three rows in turn and the first row once the turn comes back to its slot.
struct Ring {
    uint16_t* slot[4];
    uint16_t* row(int32_t y, int32_t first) const {
        return y == first && y + 2 < end ? slot[3] : slot[(y - first) % 3];
    }
    int32_t end;
};

inline __attribute__((always_inline)) void resampleRows(const Image& im, const Ring& ring,
                                                        int32_t first, int32_t end) {
    const size_t rowBytes = 3 * size_t(im.w) * sizeof(uint16_t);
    for (int32_t y = first; y < end; ++y) {
        resampleRow(im, y, ring.slot[(y - first) % 3]);
        if (y - 2 == first) {
            std::memcpy(ring.slot[3], ring.slot[0], rowBytes);
        } else if (y - 2 > first) {
            std::memcpy(im.at(y - 2, 0), ring.slot[(y - 2 - first) % 3], rowBytes);
        }
    }
}

void resampleRowsScalar(const Image& im, const Ring& ring, int32_t first, int32_t end) {
    resampleRows(im, ring, first, end);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void resampleRowsAvx2(const Image& im, const Ring& ring,
                                                      int32_t first, int32_t end) {
    resampleRows(im, ring, first, end);
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) void resampleRowsAvx512(const Image& im,
                                                                             const Ring& ring,
                                                                             int32_t first,
                                                                             int32_t end) {
    resampleRows(im, ring, first, end);
}
#endif

void resampleRowsAt(SimdLevel level, const Image& im, const Ring& ring, int32_t first,
                    int32_t end) {
    switch (level) {
#if defined(__x86_64__) && defined(__GNUC__)
        case SimdLevel::kAvx512:
            resampleRowsAvx512(im, ring, first, end);
            break;
        case SimdLevel::kAvx2:
            resampleRowsAvx2(im, ring, first, end);
            break;
#endif
        default:
            resampleRowsScalar(im, ring, first, end);
    }
}

}  // namespace

bool ResampleHalfPixel(SimdLevel level, int32_t width, int32_t height, uint16_t* image,
                       WorkerPool* pool) {
    const Image im{image, width, height};
    const RowStripes stripes = rowStripes(pool, height, 1);
    const size_t rowValues = 3 * size_t(width);
    auto* block =
        static_cast<uint16_t*>(allocZeroed(4 * rowValues * stripes.count * sizeof(uint16_t)));
    if (block == nullptr) {
        return false;
    }
    auto ringOf = [&](int32_t k) {
        Ring ring{};
        for (int i = 0; i < 4; ++i) {
            ring.slot[i] = block + (4 * size_t(k) + i) * rowValues;
        }
        ring.end = stripes.end(k);
        return ring;
    };
    forRowStripes(pool, stripes, [&](int32_t k, int32_t first, int32_t end) {
        resampleRowsAt(level, im, ringOf(k), first, end);
    });
    for (int32_t k = 0; k < stripes.count; ++k) {
        const Ring ring = ringOf(k);
        const int32_t first = stripes.first(k), end = stripes.end(k);
        for (int32_t y = first; y < end; ++y) {
            if (y == first || y >= end - 2) {
                std::memcpy(im.at(y, 0), ring.row(y, first), rowValues * sizeof(uint16_t));
            }
        }
    }
    freeZeroed(block);
    return true;
}

}  // namespace kqfw
