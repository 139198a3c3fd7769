#pragma once

#include <string>

namespace kqfw {

// The value of an environment variable of the process, empty when it is not set. On Windows
// the process's own block is read, so a value an application set after the C runtime started
// counts too.
std::string environmentValue(const char* name);

}  // namespace kqfw
