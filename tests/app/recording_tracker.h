#pragma once

#include <string>
#include <vector>

// Stands in for the tracker and the console in the frame-source tests: it
// records what the sources hand over instead of tracking.
namespace recording {

struct Setup {
    std::string patternName;
    double patternWidth;
    int width;
    int height;
};

struct Record {
    std::vector<Setup> setups;
    std::vector<std::vector<unsigned char>> frames;  // copies of every tracked frame
    int pauses = 0;
};

Record& record();
void reset();

}  // namespace recording
