#pragma once

#include <cstdint>

#include "api/camera_context.h"
#include "processing/simd_level.h"

namespace kqfw {

// The base colour matrix of the sensor; each row sums to 1.
extern const double kBaseColorMatrix[3][3];

// colorMatrix := per row r, (1 - s_r) * I + s_r * B.
void saturationStep(CameraContext& context);

// Builds whiteLuts for the factors wb and matrixTables from colorMatrix: 0, or 5 when a factor
// is 0 (nothing changes then).
uint32_t buildColourTables(CameraContext& context, const double wb[3]);

// Transforms `count` RGB16 pixels (blue, green, red in memory) in place through the matrix
// tables and the clamp, when colour processing is on; shared out to the camera's processing
// threads.
void ApplyColorMatrix(const CameraContext& context, uint16_t* pixels, int64_t count);
// The same at a given instruction level; kPlain and kScalar are the pixel-by-pixel reference.
void ApplyColorMatrix(SimdLevel level, const CameraContext& context, uint16_t* pixels,
                      int64_t count);
// The vector form computes the tables' formula: only for tables that hold it, which
// colorMatrixComputable checks entry by entry. It transforms whole groups of four pixels and
// returns how many pixels it did.
bool colorMatrixComputable(const CameraContext& context);
int64_t computeColorMatrixAvx2(const CameraContext& context, uint16_t* pixels, int64_t count);

// The fixed tables every open camera has.
void fillClampTable(uint16_t (&table)[kClampEntries]);
void fillExpand8Table(uint16_t (&table)[256]);

}  // namespace kqfw
