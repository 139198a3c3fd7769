#pragma once

#include <map>
#include <string>

namespace kqfw::bench {

// Prints the colour kernels against OpenCV: speed, its ratio, and quality against the scene.
void printColourTable(const std::map<std::string, double>& megapixelsPerSecond);

}  // namespace kqfw::bench
