// White balance, saturation and the colour-processing switch of an open camera.
#include "camera/camera_table.h"
#include "camera/colour_tables.h"
#include "kqfw/kqfw.h"

namespace kqfw {

namespace {

// Factors and levels count at single precision. A plain double -> float -> double round trip
// is not enough: GCC 12's SLP vectoriser, pairing the trips of three factors, dropped the
// rounding of all but one at -O2, so the tables (and whether a factor that rounds to 0 is
// refused) depended on the build. A volatile float has to be stored as a float and read back,
// which no optimiser may leave out.
double single(double v) {
    const volatile float rounded = static_cast<float>(v);
    return rounded;
}

double determinant(const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Solves m x = b by Cramer's rule; false when m is singular.
bool solve(const double m[3][3], const double b[3], double x[3]) {
    const double d = determinant(m);
    if (d == 0) {
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        double replaced[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                replaced[r][c] = c == k ? b[r] : m[r][c];
            }
        }
        x[k] = determinant(replaced) / d;
    }
    return true;
}

}  // namespace

}  // namespace kqfw

using namespace kqfw;

extern "C" {

KQFW_API StatusCode Ixenm_setwhite(int32_t index, double* whiteBalance) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (whiteBalance == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    return buildColourTables(*c, whiteBalance);
}

KQFW_API StatusCode Ixen_setwhite(double* whiteBalance) {
    return Ixenm_setwhite(0, whiteBalance);
}

KQFW_API StatusCode IxenmSetWhiteBalance(int32_t index, double wb0, double wb1, double wb2) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    double rounded[3] = {single(wb0), single(wb1), single(wb2)};
    if (StatusCode result = buildColourTables(*c, rounded)) {
        return result;
    }
    c->whiteBalance[0] = wb0;
    c->whiteBalance[1] = wb1;
    c->whiteBalance[2] = wb2;
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetWhiteBalance(double wb0, double wb1, double wb2) {
    return IxenmSetWhiteBalance(0, wb0, wb1, wb2);
}

KQFW_API StatusCode IxenmSetImageWhiteBalance(int32_t index, double level0, double level1,
                                              double level2) {
    auto [c, status] = idleCameraFor(index);
    if (c == nullptr) {
        return status;
    }
    double levels[3] = {single(level0), single(level1), single(level2)};
    if (levels[0] <= 0 || levels[1] <= 0 || levels[2] <= 0) {
        return KQFW_STATUS_BAD_WHITE_BALANCE;
    }
    if (c->colorProcessingEnabled != 0) {
        double solved[3];
        // Saturation factors that cancel a row leave no colour the matrix could have seen.
        if (!solve(c->colorMatrix, levels, solved)) {
            return KQFW_STATUS_BAD_ARGUMENT;
        }
        for (int i = 0; i < 3; ++i) {
            levels[i] = solved[i];
        }
    }
    double factors[3];
    for (int i = 0; i < 3; ++i) {
        factors[i] = levels[i] * single(c->whiteBalance[i]);
    }
    if (StatusCode result = buildColourTables(*c, factors)) {
        return result;
    }
    for (int i = 0; i < 3; ++i) {
        c->whiteBalance[i] = factors[i];
    }
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenSetImageWhiteBalance(double level0, double level1, double level2) {
    return IxenmSetImageWhiteBalance(0, level0, level1, level2);
}

KQFW_API StatusCode IxenmGetCurrentWhiteBalance(int32_t index, double* wb0, double* wb1,
                                                double* wb2) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (wb0 == nullptr || wb1 == nullptr || wb2 == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *wb0 = c->whiteBalance[0];
    *wb1 = c->whiteBalance[1];
    *wb2 = c->whiteBalance[2];
    return KQFW_STATUS_OK;
}

KQFW_API StatusCode IxenGetCurrentWhiteBalance(double* wb0, double* wb1, double* wb2) {
    return IxenmGetCurrentWhiteBalance(0, wb0, wb1, wb2);
}

KQFW_API StatusCode IxenmSetColorSaturation(int32_t index, double s0, double s1, double s2) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    c->saturation[0] = s0;
    c->saturation[1] = s1;
    c->saturation[2] = s2;
    saturationStep(*c);
    return buildColourTables(*c, c->whiteBalance);
}

KQFW_API void IxenSetColorSaturation(double s0, double s1, double s2) {
    IxenmSetColorSaturation(0, s0, s1, s2);
}

KQFW_API StatusCode IxenmEnableColorProcessing(int32_t index, uint32_t on) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    c->colorProcessingEnabled = on;
    return KQFW_STATUS_OK;
}

KQFW_API void IxenEnableColorProcessing(uint32_t on) {
    IxenmEnableColorProcessing(0, on);
}

KQFW_API StatusCode IxenmIsColorProcessingEnabled(int32_t index, uint32_t* on) {
    auto [c, status] = cameraFor(index);
    if (c == nullptr) {
        return status;
    }
    if (on == nullptr) {
        return KQFW_STATUS_BAD_ARGUMENT;
    }
    *on = c->colorProcessingEnabled;
    return KQFW_STATUS_OK;
}

KQFW_API uint32_t IxenIsColorProcessingEnabled(void) {
    return valueOfCameraZero([](const kqfw::CameraContext& c) { return c.colorProcessingEnabled; });
}

}  // extern "C"
