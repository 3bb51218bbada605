#include "tools/common/progress_line.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {

double secondsNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

ToolProgress::ToolProgress(long long total) : total(total), enabled(isatty(STDERR_FILENO) == 1) {}

void ToolProgress::show(long long done) {
    if (!enabled)
        return;
    const double now = secondsNow();
    if (drawn && now - lastDrawTime < 0.25 && done != total)
        return;
    if (total > 0)
        std::fprintf(stderr, "\rframe %lld of %lld\033[K", done, total);
    else
        std::fprintf(stderr, "\rframe %lld\033[K", done);
    std::fflush(stderr);
    drawn = true;
    lastDrawTime = now;
}

void ToolProgress::end() {
    if (!drawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn = false;
}
