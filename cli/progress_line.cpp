#include "cli/progress_line.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Seconds between two redraws of the progress line.
constexpr double PROGRESS_INTERVAL = 0.25;

double secondsNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

ProgressLine::ProgressLine() : enabled(isatty(STDERR_FILENO) == 1), startTime(secondsNow()) {}

void ProgressLine::show(long long done, long long total) {
    if (!enabled)
        return;
    const double now = secondsNow();
    if (drawn && now - lastDrawTime < PROGRESS_INTERVAL && done != total)
        return;
    const double elapsed = now - startTime;
    const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    if (total > 0)
        std::fprintf(stderr, "\rframe %lld of %lld, %.1f fps\033[K", done, total, fps);
    else
        std::fprintf(stderr, "\rframe %lld, %.1f fps\033[K", done, fps);
    std::fflush(stderr);
    drawn = true;
    lastDrawTime = now;
}

void ProgressLine::erase() {
    if (!drawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn = false;
}
