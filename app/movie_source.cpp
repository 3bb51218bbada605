#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/console.h"
#include "app/frame_sources.h"
#include "app/key_table.h"
#include "app/movie_file.h"
#include "app/tracker.h"

namespace {

// Seconds between two redraws of the progress line.
constexpr double PROGRESS_INTERVAL = 0.25;

// The progress line on the error stream, drawn only when that is a terminal.
struct Progress {
    bool enabled;
    bool drawn;
    double startTime;
    double lastDrawTime;
};

Progress progress;

double secondsNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void startProgress() {
    progress = Progress{};
    progress.enabled = isatty(STDERR_FILENO) == 1;
    progress.startTime = secondsNow();
}

void showProgress(long long framesDone, unsigned length) {
    if (!progress.enabled)
        return;
    const double now = secondsNow();
    if (progress.drawn && now - progress.lastDrawTime < PROGRESS_INTERVAL)
        return;
    const double elapsed = now - progress.startTime;
    const double fps = elapsed > 0.0 ? static_cast<double>(framesDone) / elapsed : 0.0;
    if (length > 0) {
        std::fprintf(stderr, "\rframe %lld of %u, %.1f fps\033[K", framesDone, length, fps);
    } else {
        std::fprintf(stderr, "\rframe %lld, %.1f fps\033[K", framesDone, fps);
    }
    std::fflush(stderr);
    progress.drawn = true;
    progress.lastDrawTime = now;
}

void eraseProgress() {
    if (!progress.drawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progress.drawn = false;
}

// Frame rate and size must be usable before anything is printed or set up.
bool reportUnusableInfo(const MovieInfo& info, const char* movieName) {
    if (info.rate == 0 || info.scale == 0) {
        std::fprintf(stderr, "can not find the frame rate of <%s> (rate %u, scale %u)\n", movieName,
                     info.rate, info.scale);
    } else if (info.width <= 0 || info.height <= 0) {
        std::fprintf(stderr, "can not find the frame size of <%s> (%d x %d)\n", movieName,
                     info.width, info.height);
    } else {
        return false;
    }
    waitForSpaceKey();
    return true;
}

// The frame handed to the tracker, and an all-white one that stands for a
// frame that could not be decoded: it is tracked like a frame in which the
// marker is not seen, so it keeps its place in the key table and is not
// found, unless detection still reports a marker lost in the last two frames.
struct TrackFrames {
    FrameImage picture;
    FrameImage blank;
};

bool allocateTrackFrames(TrackFrames& frames, const MovieInfo& info) {
    const size_t bytes = static_cast<size_t>(info.width) * static_cast<size_t>(info.height) * 4;
    frames.picture =
        FrameImage{static_cast<unsigned char*>(std::malloc(bytes)), info.width, info.height};
    frames.blank =
        FrameImage{static_cast<unsigned char*>(std::malloc(bytes)), info.width, info.height};
    if (frames.picture.pixels == nullptr || frames.blank.pixels == nullptr) {
        std::free(frames.picture.pixels);
        std::free(frames.blank.pixels);
        return false;
    }
    std::memset(frames.blank.pixels, 255, bytes);
    return true;
}

// Tracks one row; a row the key table cannot take ends the program with its
// own message, which must not land on the progress line.
void trackRow(const FrameImage& frame, long long row, unsigned length) {
    if (row >= KEY_TABLE_SIZE)
        eraseProgress();
    trackFrame(frame);
    showProgress(row + 1, length);
}

// Frame i of the movie becomes row i: each decoded frame is placed by its
// frame number, and every position with no decoded frame gets a not-found
// row. A known length bounds the rows; an unknown one ends with the last
// decoded frame. Returns the number of positions that had no frame.
long long trackAllFrames(const TrackFrames& frames, const MovieInfo& info) {
    const bool lengthKnown = info.length > 0;
    long long next = 0;
    long long lost = 0;
    MovieFrame decoded;
    while (readMovieFrame(decoded) == 1) {
        if (decoded.number < next)
            continue;  // before the start, or a repeated position
        if (lengthKnown && decoded.number >= info.length)
            break;
        for (; next < decoded.number; next++, lost++)
            trackRow(frames.blank, next, info.length);
        dibToFrame(decoded.rows, decoded.stride, frames.picture.pixels, info.width, info.height);
        trackRow(frames.picture, next++, info.length);
    }
    if (lengthKnown) {
        for (; next < info.length; next++, lost++)
            trackRow(frames.blank, next, info.length);
    }
    return lost;
}

}  // namespace

void dibToFrame(const unsigned char* rows, int stride, unsigned char* frame, int width,
                int height) {
    for (int y = 0; y < height; y++) {
        const unsigned char* read = rows + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; x++) {
            frame[0] = read[0];
            frame[1] = read[1];
            frame[2] = read[2];
            frame[3] = 255;
            frame += 4;
            read += 3;
        }
    }
}

int trackMovie(const char* patternName, double patternWidth, const char* movieName) {
    if (openMovieFile(movieName) != 0)
        return reportFailure("can not AVIFileOpen <%s>\n", movieName);
    if (openMovieVideoStream() != 0) {
        closeMovieFile();
        return reportFailure("can not AVIFileGetStream <%s>\n", movieName);
    }
    const MovieInfo info = movieFileInfo();
    if (reportUnusableInfo(info, movieName)) {
        closeMovieFile();
        return 1;
    }
    std::printf("frame rate: %u\n", info.rate / info.scale);
    setupTracker(patternName, patternWidth, info.width, info.height);
    if (openMovieDecoder(0) != 0) {
        closeMovieFile();
        return reportFailure("can not AVIStreamGetFrameOpen <%s>\n", movieName);
    }
    TrackFrames frames;
    if (!allocateTrackFrames(frames, info)) {
        closeMovieFile();
        return reportFailure("%s", "can not malloc\n");
    }

    startProgress();
    const long long lost = trackAllFrames(frames, info);
    eraseProgress();
    if (lost > 0) {
        std::fprintf(stderr, "%lld frame(s) of <%s> could not be decoded and count as not found\n",
                     lost, movieName);
    }

    std::free(frames.picture.pixels);
    std::free(frames.blank.pixels);
    closeMovieFile();
    return 0;
}
