#include "app/run_flow.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/camera_motion.h"
#include "app/console.h"
#include "app/frame_sources.h"
#include "app/key_table.h"

namespace {

// The printed marker width must be a real size: NaN, infinities, zero and
// negative widths would make every pose meaningless.
bool scanPatternWidth(const char* text, double* width) {
    return std::sscanf(text, "%lf", width) == 1 && std::isfinite(*width) && *width > 0.0;
}

bool scanCameraNumber(const char* text, int* camNo) {
    return std::sscanf(text, "%d", camNo) == 1;
}

int rejectCommandLine() {
    printUsage();
    waitForSpaceKey();
    return 1;
}

}  // namespace

void finishTrack(int camNo) {
    smoothKeyTable();
    writeCameraMotion(camNo);
}

int runLumeko(int argc, char** argv) {
    if (argc == 1) {
        printUsage();
        return 1;
    }
    if (argc != 6)
        return rejectCommandLine();
    const char* patternName = argv[1];
    const char* kind = argv[4];
    const char* inputName = argv[5];
    double patternWidth;
    int camNo;
    if (!scanPatternWidth(argv[2], &patternWidth))
        return rejectCommandLine();
    if (!scanCameraNumber(argv[3], &camNo))
        return rejectCommandLine();

    int status;
    if (std::strcmp(kind, "M") == 0) {
        status = trackMovie(patternName, patternWidth, inputName);
    } else if (std::strcmp(kind, "I") == 0) {
        status = trackImage(patternName, patternWidth, inputName);
    } else {
        return rejectCommandLine();
    }
    if (status == 0)
        finishTrack(camNo);
    return status;
}
