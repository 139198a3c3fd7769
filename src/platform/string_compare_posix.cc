#include "platform/string_compare.h"

#include <cctype>

namespace kqfw {

namespace {

int fold(unsigned char c) {
    return std::tolower(c);
}

}  // namespace

int compareLikeLstrcmp(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    int caseOrder = 0;
    for (; *p != 0 || *q != 0; ++p, ++q) {
        if (fold(*p) != fold(*q)) {
            return fold(*p) < fold(*q) ? -1 : 1;
        }
        if (caseOrder == 0 && *p != *q) {
            caseOrder = std::islower(*p) ? -1 : 1;
        }
    }
    return caseOrder;
}

}  // namespace kqfw
