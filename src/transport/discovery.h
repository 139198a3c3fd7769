#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport/device_link.h"
#include "transport/format7_mode.h"

namespace kqfw {

inline constexpr int kMaxListedCameras = 10;
inline constexpr size_t kMaxPathChars = 254;  // a path slot holds 255 characters
inline constexpr size_t kPrefixChars = 32;
inline constexpr const char* kColourPrefix = "\\\\?\\1394#tolvan_opt&vestrix_kqc#";
inline constexpr const char* kMonoPrefix = "\\\\?\\1394#tolvan_opt&vestrix_kqm#";

// The present interfaces of the camera class, unsorted: at most 10, none longer than 254
// characters (the surplus is skipped).
std::vector<std::string> listCameras();

// The ordering key of a path, or an empty string when the full path decides.
std::string sortKey(const std::string& path);
// Compares like lstrcmpA on the keys when both paths have one, else on the full paths.
int comparePaths(const std::string& a, const std::string& b);
void sortCameraList(std::vector<std::string>& paths);

bool isColourPath(const std::string& path);
bool isMonoPath(const std::string& path);

// Counts the matching cameras in sorted order; when k is below the count, *path gets the k-th.
uint32_t selectCamera(uint32_t k, std::string* path);

// Opens camera k of the sorted list into `link` and reads its Format_7 modes: 0, 3, 20 or 27.
// On failure `link` keeps what was filled (so the caller can close the handle).
uint32_t openCamera(uint32_t k, DeviceLink& link, Format7ModeInfo (&modes)[kFormat7Modes]);

}  // namespace kqfw
