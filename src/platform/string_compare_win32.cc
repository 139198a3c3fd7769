#include <windows.h>

#include "platform/string_compare.h"

namespace kqfw {

int compareLikeLstrcmp(const char* a, const char* b) {
    return lstrcmpA(a, b);
}

}  // namespace kqfw
