#include <windows.h>

#include "platform/environment.h"

namespace kqfw {

std::string environmentValue(const char* name) {
    char value[256];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

}  // namespace kqfw
