#include "processing/calibration.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace kqfw {

namespace {

constexpr float kUnitsPerStep = 0.09411765f;
constexpr int32_t kGradientAgreement = 100;
constexpr uint32_t kRowBytes = kPatchSide;

// A setting moved by `move` steps and kept to 0 .. 255; a move that is not a number (patches
// whose sums overflowed) leaves the setting where it was.
float moved(float setting, float move) {
    const float v = setting + move;
    return std::isnan(v) ? setting : std::clamp(v, 0.0f, 255.0f);
}

int wrap(int v, int n) {
    return ((v % n) + n) % n;
}

const uint8_t* patchAt(const uint8_t* patches, int j, int i) {
    return patches + size_t(j * kCalGrid + i) * kPatchBytes;
}

}  // namespace

void integrationkernel(int n, int axis, CalArray& k) {
    CalArray t = {};
    for (auto& row : k) {
        std::fill(std::begin(row), std::end(row), 0.0f);
    }
    float& pin = axis == 0 ? k[0][n - 1] : k[n - 1][0];
    k[0][0] = -0.25f;
    pin = 0.25f;
    for (int step = 0; step < 4 * n * n; ++step) {
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                t[r][c] = 0.25f * (k[wrap(r - 1, n)][c] + k[wrap(r + 1, n)][c] +
                                   k[r][wrap(c - 1, n)] + k[r][wrap(c + 1, n)]);
            }
        }
        t[0][0] = -0.25f;
        (axis == 0 ? t[0][n - 1] : t[n - 1][0]) = 0.25f;
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                k[r][c] = 0.5f * (k[r][c] + t[r][c]);
            }
        }
    }
    float s = 0.0f;
    for (int m = 0; m < n; ++m) {
        s += axis == 0 ? k[m][0] : k[0][m];
    }
    if (s == 0.0f) {
        return;  // no grid to integrate over
    }
    const float scale = float(1 - n) / (2.0f * float(n) * s);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            k[r][c] *= scale;
        }
    }
}

uint32_t patchshift(const uint8_t* a, const uint8_t* b, double result[2]) {
    double sxx = 0, sxy = 0, syy = 0, sxd = 0, syd = 0;
    auto at = [](const uint8_t* p, int y, int x) { return int32_t(p[y * kRowBytes + x]); };
    for (int y = 1; y <= 124; ++y) {
        for (int x = 1; x <= 125; ++x) {
            const int32_t ax = at(a, y, x + 1) - at(a, y, x - 1);
            const int32_t ay = at(a, y + 1, x) - at(a, y - 1, x);
            const int32_t bx = at(b, y, x + 1) - at(b, y, x - 1);
            const int32_t by = at(b, y + 1, x) - at(b, y - 1, x);
            if (ax * bx + ay * by <= kGradientAgreement) {
                continue;
            }
            const int32_t gx = ax + bx, gy = ay + by;
            const int32_t d = at(a, y, x) - at(b, y, x);
            sxx += gx * gx;
            sxy += gx * gy;
            syy += gy * gy;
            sxd += gx * d;
            syd += gy * d;
        }
    }
    const double det = sxx * syy - sxy * sxy;
    if (det == 0) {
        result[0] = result[1] = 0;
        return 3;
    }
    result[0] = -48 * (sxd * syy - syd * sxy) / det;
    result[1] = -48 * (syd * sxx - sxd * sxy) / det;
    return 0;
}

uint32_t measurepositions(int n, const CalArray& kx, const CalArray& ky, const uint8_t* patches,
                          CalArray& px, CalArray& py) {
    CalArray hx = {}, hy = {}, vx = {}, vy = {};
    bool failed = false;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const uint8_t* self = patchAt(patches, j, i);
            double r[2];
            // The last column's neighbour is the first one, a pixel on.
            const bool lastColumn = i == n - 1;
            const uint8_t* right =
                lastColumn ? patchAt(patches, j, 0) + 1 : patchAt(patches, j, i + 1);
            failed |= patchshift(self, right, r) != 0;
            hx[j][i] = static_cast<float>(lastColumn ? r[0] - 12 : r[0]);
            hy[j][i] = static_cast<float>(r[1]);
            // Vertical pairs are seen a row lower; the last row's neighbour is the first row
            // at its own origin, a row on.
            const bool lastRow = j == n - 1;
            const uint8_t* below =
                lastRow ? patchAt(patches, 0, i) : patchAt(patches, j + 1, i) + kRowBytes;
            failed |= patchshift(self + kRowBytes, below, r) != 0;
            vx[j][i] = static_cast<float>(r[0]);
            vy[j][i] = static_cast<float>(lastRow ? r[1] + 12 : r[1]);
        }
    }
    if (failed) {
        return 9;
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            float sumX = 0.0f, sumY = 0.0f;
            for (int b = 0; b < n; ++b) {
                for (int a = 0; a < n; ++a) {
                    const int y = wrap(j + b, n), x = wrap(i + a, n);
                    sumX += kx[b][a] * hx[y][x] + ky[b][a] * vx[y][x];
                    sumY += kx[b][a] * hy[y][x] + ky[b][a] * vy[y][x];
                }
            }
            px[j][i] = 0.001f * sumX;
            py[j][i] = 0.001f * sumY;
        }
    }
    return 0;
}

void updatesettings(int n, const CalArray& px, const CalArray& py, CalArray& sx, CalArray& sy,
                    float statistics[kCalStatistics]) {
    const float half = float(n) / 2.0f;
    const float spacing = 12.0f / float(n);
    float maxX = 0, maxY = 0, sumX = 0, sumY = 0;
    float minSx = 255, maxSx = 0, minSy = 255, maxSy = 0;
    for (int j = 0; j < n; ++j) {
        const float ty = (float(j) - half + 0.5f) * -spacing;
        for (int i = 0; i < n; ++i) {
            const float tx = (float(i) - half + 0.5f) * spacing;
            sx[j][i] = moved(sx[j][i], (tx - px[j][i]) / kUnitsPerStep);
            sy[j][i] = moved(sy[j][i], (ty - py[j][i]) / kUnitsPerStep);
            const float rx = px[j][i] - tx, ry = py[j][i] - ty;
            maxX = std::max(maxX, std::fabs(rx));
            maxY = std::max(maxY, std::fabs(ry));
            sumX += rx * rx;
            sumY += ry * ry;
            minSx = std::min(minSx, sx[j][i]);
            maxSx = std::max(maxSx, sx[j][i]);
            minSy = std::min(minSy, sy[j][i]);
            maxSy = std::max(maxSy, sy[j][i]);
        }
    }
    const float cells = float(n * n);
    const float values[kCalStatistics] = {
        maxX, maxY, std::sqrt(sumX / cells), std::sqrt(sumY / cells), minSx, maxSx, minSy, maxSy};
    std::copy(std::begin(values), std::end(values), statistics);
}

uint32_t computecalibration(bool mono, uint32_t f, const uint8_t* patches,
                            uint8_t grid[kCalGrid * kCalGrid * 2],
                            float statistics[kCalStatistics]) {
    const int n = static_cast<int>(mono ? f : 2 * f);
    if (n < 2 || n > kCalGrid) {
        return 9;
    }
    CalArray kx, ky, px = {}, py = {}, sx = {}, sy = {};
    integrationkernel(n, 0, kx);
    integrationkernel(n, 1, ky);
    for (int r = 0; r < kCalGrid; ++r) {
        for (int c = 0; c < kCalGrid; ++c) {
            kx[r][c] *= 1000.0f;
            ky[r][c] *= 1000.0f;
        }
    }
    if (measurepositions(n, kx, ky, patches, px, py) != 0) {
        return 9;
    }
    auto entry = [&](int j, int i) { return grid + 2 * (j * kCalGrid + i); };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            sx[j][i] = entry(j, i)[0];
            sy[j][i] = float(255 - entry(j, i)[1]);
        }
    }
    updatesettings(n, px, py, sx, sy, statistics);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            entry(j, i)[0] = static_cast<uint8_t>(sx[j][i] + 0.5f);
            entry(j, i)[1] = static_cast<uint8_t>(255 - static_cast<int>(sy[j][i] + 0.5f));
        }
    }
    return 0;
}

}  // namespace kqfw
