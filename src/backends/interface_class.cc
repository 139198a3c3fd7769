#include "backends/interface_class.h"

namespace kqfw {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads `digits` hexadecimal digits at `at`; false when one is not a digit.
bool readHex(const std::string& text, size_t at, int digits, uint32_t* value) {
    *value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = hexDigit(text[at + static_cast<size_t>(i)]);
        if (d < 0) {
            return false;
        }
        *value = (*value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

}  // namespace

bool parseInterfaceClass(const std::string& text, InterfaceClass* out) {
    // {01234567-0123-0123-0123-0123456789ab}: 38 characters, dashes at 9, 14, 19 and 24.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return false;
    }
    InterfaceClass parsed;
    uint32_t value = 0;
    if (!readHex(text, 1, 8, &parsed.data1) || !readHex(text, 10, 4, &value)) {
        return false;
    }
    parsed.data2 = static_cast<uint16_t>(value);
    if (!readHex(text, 15, 4, &value)) {
        return false;
    }
    parsed.data3 = static_cast<uint16_t>(value);
    // The last two groups are the eight bytes of data4, in order.
    const size_t byteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!readHex(text, byteAt[i], 2, &value)) {
            return false;
        }
        parsed.data4[i] = static_cast<uint8_t>(value);
    }
    *out = parsed;
    return true;
}

}  // namespace kqfw
