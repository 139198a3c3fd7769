#pragma once

#include <cstdint>

#include "acquisition/acquire_image.h"
#include "camera/camera_table.h"

namespace kqfw {

// Black and white references: full-sensor raw frames taken through the acquisition, turned
// into the dark pattern and the per-pixel flat-field gains the raw corrections apply.
//
// Thread context: the caller's thread, holding `lease`; the frames are taken by AcquireImage,
// which leaves the settings lock while the camera exposes. The references are written only
// when a measurement succeeded, under the settings lock.

// One raw full-sensor frame of 14-bit samples, exposed `exposureFactor` times the exposure
// step, with every setting it changes put back afterwards.
uint32_t getFullFrame(CameraLease& lease, uint16_t* frame, uint32_t exposureFactor,
                      ProgressKind progress);

uint32_t MeasureBlackRef(CameraLease& lease, ProgressKind progress);
uint32_t MeasureWhiteRef(CameraLease& lease, ProgressKind progress);

// The steps of the measurements, on the record alone. StoreBlackRef takes a mean-free dark
// frame of sensorWidth x sensorHeight samples; CalculateWhiteRef the sum of four flat frames and
// e = exposure units - 1. Both need the reference storage allocated.
void StoreBlackRef(CameraContext& c, const int16_t* frame);
uint32_t CalculateWhiteRef(CameraContext& c, const uint16_t* sum, uint32_t e);

// The reference storage of the sensor, allocated zeroed on first use; false when memory is
// short.
bool ensureBlackRefStorage(CameraContext& c);
bool ensureWhiteRefStorage(CameraContext& c);
size_t blackRefEntries(const CameraContext& c);
size_t whiteRefEntries(const CameraContext& c);

}  // namespace kqfw
