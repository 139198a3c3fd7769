#pragma once

#include <cstdint>

namespace kqfw {

// The sensor-shift calibration's computation: from one series of calibration patches, where
// each shot landed relative to its neighbours in the shot grid, integrated into one position
// a shot, and the settings that move each shot onto the regular grid. Distances are in
// twelfths of a patch pixel; a setting step moves a shot 24/255 of them.
//
// Thread context: the calibrating thread; pure functions of their arguments.

inline constexpr int kCalGrid = 6;  // arrays are 6 x 6, of which n x n are used
inline constexpr uint32_t kPatchSide = 128;
inline constexpr uint32_t kPatchBytes = kPatchSide * kPatchSide;
inline constexpr uint32_t kCalPatches = kCalGrid * kCalGrid;
inline constexpr uint32_t kCalStatistics = 8;

using CalArray = float[kCalGrid][kCalGrid];

// The weights that turn neighbour displacements along one axis (0 horizontal, 1 vertical)
// into positions.
void integrationkernel(int n, int axis, CalArray& kernel);
// The displacement of patch B against patch A (their origins; rows of 128 bytes): 0, or 3
// when too few pixels have agreeing gradients (result 0, 0).
uint32_t patchshift(const uint8_t* a, const uint8_t* b, double result[2]);
// Positions of the n x n shots from their patches (patch j * 6 + i for grid row j, column
// i): 0, or 9 when a pair gave no estimate.
uint32_t measurepositions(int n, const CalArray& kx, const CalArray& ky, const uint8_t* patches,
                          CalArray& px, CalArray& py);
// Moves every setting towards its target and reports the deviations before the move.
void updatesettings(int n, const CalArray& px, const CalArray& py, CalArray& sx, CalArray& sy,
                    float statistics[kCalStatistics]);
// One iteration on the working grid of 6 x 6 shift-table entries (h, 255 - v): 0 or 9 (the
// grid is then unchanged).
uint32_t computecalibration(bool mono, uint32_t f, const uint8_t* patches,
                            uint8_t grid[kCalGrid * kCalGrid * 2],
                            float statistics[kCalStatistics]);

}  // namespace kqfw
