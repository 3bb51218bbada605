#include <cstdio>

#include "app/console.h"
#include "app/frame_sources.h"

// Placeholder until the still decoder lands.
int trackImage(const char*, double, const char* imageName) {
    std::fprintf(stderr, "can not open %s\n", imageName);
    waitForSpaceKey();
    return 1;
}
