#include <cstdio>
#include <string>

#include "platform/default_report.h"
#include "platform/error_report.h"

namespace kqfw {

void showDefaultReport(const char* text) {
    const std::string line = windows1252ToUtf8(text);
    std::fprintf(stderr, "kqfw: %s\n", line.c_str());
}

}  // namespace kqfw
