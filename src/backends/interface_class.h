#pragma once

#include <cstdint>
#include <string>

namespace kqfw {

// A device interface class as Windows names it: {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, in the
// field layout of a GUID.
struct InterfaceClass {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

// False for text that is not a braced GUID of hexadecimal digits (either case).
bool parseInterfaceClass(const std::string& text, InterfaceClass* out);

}  // namespace kqfw
