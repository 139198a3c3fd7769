#pragma once

#include <cstdint>
#include <string>

namespace kqtools {

// How a tool's "camera" value names a camera of the bus listing: its place ("1"), its model
// ("KQM", the first listed; case ignored) or its unique id ("0x027b"). The one rule of kqcam,
// the GStreamer source and the Python package.
enum class Choice { kFound, kMalformed, kAbsent };

// The listing's place of the camera `text` names in *position, or why not in *why. A unique id
// is asked of each listed camera, which is opened for a moment into the slot of its place.
Choice chooseCamera(const std::string& text, int32_t* position, std::string* why);

}  // namespace kqtools
