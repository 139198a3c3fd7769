#pragma once

#include <map>
#include <string>
#include <vector>

namespace kqfw::bench {

// Prints the colour kernels against OpenCV: speed, its ratio, and quality against the scene.
void printColourTable(const std::map<std::string, double>& megapixelsPerSecond);

struct PipelineRun {
    std::string label;
    double milliseconds = 0;  // per frame
    double periodMs = 0;      // the frame's time on the bus
};

// Prints each frame pipeline beside the bus time of its frame.
void printPipelineTable(const std::vector<PipelineRun>& runs);

}  // namespace kqfw::bench
