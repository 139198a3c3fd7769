#pragma once

#include <cstddef>
#include <cstdint>

namespace kqfw {

// Firmware text holds one byte a CR LF line, its bits as '0' and '1' (the last eight before the
// line's end count), and a space starts a comment that runs to the CR. Measuring checks the
// text and gives the flash bytes it makes, whole 128-byte blocks: 0, or 8 for a CR without LF,
// or a comment that never ends. A text with no whole line makes no byte.
uint32_t measureFirmwareText(const uint8_t* text, int32_t length, size_t* imageBytes);

// Fills a measured image: the bytes of the lines, then 0xFF to the end.
void parseFirmwareText(const uint8_t* text, int32_t length, uint8_t* image, size_t imageBytes);

}  // namespace kqfw
