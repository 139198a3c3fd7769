#pragma once

#include <cstdint>

#include "camera/camera_context.h"

namespace kqfw {

// The base colour matrix of the sensor; each row sums to 1.
extern const double kBaseColorMatrix[3][3];

// colorMatrix := per row r, (1 - s_r) * I + s_r * B.
void saturationStep(CameraContext& context);

// Builds whiteLuts for the factors wb and matrixTables from colorMatrix: 0, or 5 when a factor
// is 0 (nothing changes then).
uint32_t buildColourTables(CameraContext& context, const double wb[3]);

// The fixed tables every open camera has.
void fillClampTable(uint16_t (&table)[kClampEntries]);
void fillExpand8Table(uint16_t (&table)[256]);

}  // namespace kqfw
