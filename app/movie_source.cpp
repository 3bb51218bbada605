#include <cstdio>

#include "app/console.h"
#include "app/frame_sources.h"

// Placeholder until the movie decoder lands.
int trackMovie(const char*, double, const char* movieName) {
    std::fprintf(stderr, "can not AVIFileOpen <%s>\n", movieName);
    waitForSpaceKey();
    return 1;
}
