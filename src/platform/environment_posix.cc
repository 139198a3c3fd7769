#include <cstdlib>

#include "platform/environment.h"

namespace kqfw {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace kqfw
