#include "app/run_flow.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/camera_motion.h"
#include "app/console.h"
#include "app/messages.h"
#include "app/movie_reader.h"
#include "app/progress_line.h"
#include "app/still_reader.h"

namespace {

// What the command line asks for.
struct RunSettings {
    const char* patternName;
    double patternWidth;
    int camNo;
    const char* kind;
    const char* inputName;
};

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

void printWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s\n", warning.c_str());
}

// libjpeg's own fatal message ends the run without the pause.
int reportDecoderError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

// The failure of opening or preparing an input, reported as the run's end.
int reportInputFailure(InputFailure failure, const char* name, const MovieInfo* info) {
    switch (failure) {
        case InputFailure::CannotOpen:
            return reportFailure(info != nullptr ? MSG_CAN_NOT_OPEN_MOVIE : MSG_CAN_NOT_OPEN_FILE,
                                 name);
        case InputFailure::NoVideoStream:
            return reportFailure(MSG_NO_VIDEO_STREAM, name);
        case InputFailure::NoFrameRate:
            std::fprintf(stderr, MSG_NO_FRAME_RATE, name, info->rate, info->scale);
            waitForSpaceKey();
            return 1;
        case InputFailure::NoFrameSize:
            std::fprintf(stderr, MSG_NO_FRAME_SIZE, name, info->width, info->height);
            waitForSpaceKey();
            return 1;
        case InputFailure::NoDecoder:
            return reportFailure(MSG_NO_DECODER, name);
        case InputFailure::OutOfMemory:
            return reportFailure("%s", MSG_CAN_NOT_MALLOC);
        case InputFailure::UnsupportedColour:
            return reportFailure(MSG_UNSUPPORTED_JPEG, name);
        case InputFailure::DecoderError:
        case InputFailure::None:
            break;
    }
    return 1;
}

int reportReaderFailure(InputFailure failure, const char* name, const MovieReader& reader) {
    return reportInputFailure(failure, name, &reader.info());
}

int reportReaderFailure(InputFailure failure, const char* name, StillReader& reader) {
    printWarnings(reader.takeWarnings());
    if (failure == InputFailure::DecoderError)
        return reportDecoderError(reader.decoderError());
    return reportInputFailure(failure, name, nullptr);
}

// What each kind of input says between opening and tracking, and after its
// last frame.
void reportOpened(const MovieReader& reader) {
    std::printf(MSG_FRAME_RATE, reader.info().rate / reader.info().scale);
}
void reportOpened(StillReader& reader) {
    printWarnings(reader.takeWarnings());
}

void reportFrame(ProgressLine& progress, long long framesDone, const MovieReader& reader) {
    progress.show(framesDone, reader.info().length);
}
void reportFrame(ProgressLine&, long long, StillReader& reader) {
    printWarnings(reader.takeWarnings());
}

void reportEnd(const MovieReader& reader, const char* name) {
    if (reader.lostFrames() > 0)
        std::fprintf(stderr, MSG_LOST_FRAMES, reader.lostFrames(), name);
}
void reportEnd(StillReader& reader, const char*) {
    printWarnings(reader.takeWarnings());
}

int frameWidth(const MovieReader& reader) {
    return reader.info().width;
}
int frameWidth(const StillReader& reader) {
    return reader.width();
}
int frameHeight(const MovieReader& reader) {
    return reader.info().height;
}
int frameHeight(const StillReader& reader) {
    return reader.height();
}

void printPatternLoadError(PatternLoadError error, const char* patternName) {
    if (error == PatternLoadError::FileMissing)
        std::printf(MSG_PATTERN_FILE_MISSING, patternName);
    if (error == PatternLoadError::ReadError)
        std::fputs(MSG_PATTERN_READ_ERROR, stdout);
}

// What detection could not trace, as it always reported it.
void printDetectionDiagnostics(const Tracker& tracker) {
    for (int code : tracker.detector().trace().contourFailures)
        std::printf(MSG_CONTOUR_DIAGNOSTIC, code);
}

// Opens the input, sets the tracker up for its frames and tracks every frame.
template <class Reader>
int trackInput(Reader& reader, const char* patternName, double patternWidth, const char* inputName,
               std::unique_ptr<Tracker>& tracker) {
    InputFailure failure = reader.open(inputName);
    if (failure != InputFailure::None)
        return reportReaderFailure(failure, inputName, reader);
    reportOpened(reader);
    if (setUpTracker(patternName, patternWidth, frameWidth(reader), frameHeight(reader), tracker) !=
        0)
        return 1;
    failure = reader.prepare();
    if (failure != InputFailure::None)
        return reportReaderFailure(failure, inputName, reader);

    ProgressLine progress;
    long long framesDone = 0;
    const FrameImage* frame = nullptr;
    for (;;) {
        const ReadResult read = reader.next(&frame);
        if (read == ReadResult::End)
            break;
        if (read == ReadResult::Failed) {
            progress.erase();
            return reportReaderFailure(reader.failure(), inputName, reader);
        }
        if (framesDone >= KEY_TABLE_SIZE)
            progress.erase();
        if (trackOneFrame(*tracker, *frame) != 0)
            return 1;
        reportFrame(progress, ++framesDone, reader);
    }
    progress.erase();
    reportEnd(reader, inputName);
    return 0;
}

}  // namespace

int setUpTracker(const char* patternName, double patternWidth, int width, int height,
                 std::unique_ptr<Tracker>& tracker) {
    CameraParam loaded;
    std::string reason;
    if (arLoadCameraParam(CAMERA_PARAM_FILE, 1, &loaded, &reason) < 0) {
        std::fprintf(stderr, MSG_CAN_NOT_LOAD_CAMERA, CAMERA_PARAM_FILE);
        std::fprintf(stderr, MSG_CAMERA_REASON, CAMERA_PARAM_FILE, reason.c_str());
        waitForSpaceKey();
        return 1;
    }
    CameraParam resized;
    if (arResizeCameraParam(loaded, width, height, resized) < 0) {
        std::fprintf(stderr, MSG_CAN_NOT_LOAD_CAMERA, CAMERA_PARAM_FILE);
        std::fprintf(stderr, MSG_CAMERA_RESIZE_REASON, CAMERA_PARAM_FILE, width, height);
        waitForSpaceKey();
        return 1;
    }
    std::fputs(arFormatCameraParam(resized).c_str(), stdout);
    tracker = Tracker::create(resized, patternWidth);
    if (tracker == nullptr)
        return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    PatternLoadError error = PatternLoadError::None;
    if (tracker->loadPattern(patternName, &error) != 0) {
        printPatternLoadError(error, patternName);
        return reportFailure(MSG_CAN_NOT_LOAD_PATTERN, patternName);
    }
    return 0;
}

int trackOneFrame(Tracker& tracker, const FrameImage& frame) {
    const TrackStatus status = tracker.track(frame);
    printDetectionDiagnostics(tracker);
    if (status == TrackStatus::DetectionFailed)
        return reportFailure("%s", MSG_DETECTION_FAILED);
    if (status == TrackStatus::TableFull)
        return reportFailure("%s", MSG_KEY_TABLE_FULL);
    return 0;
}

int trackMovie(const char* patternName, double patternWidth, const char* movieName,
               std::unique_ptr<Tracker>& tracker) {
    MovieReader reader;
    return trackInput(reader, patternName, patternWidth, movieName, tracker);
}

int trackImage(const char* patternName, double patternWidth, const char* imageName,
               std::unique_ptr<Tracker>& tracker) {
    StillReader reader;
    return trackInput(reader, patternName, patternWidth, imageName, tracker);
}

int finishTrack(Tracker& tracker, int camNo) {
    tracker.smooth();
    switch (writeCameraMotion(tracker.keys(), camNo)) {
        case CameraMotionStatus::Written:
            return 0;
        case CameraMotionStatus::OpenFailed:
            return reportFailure(MSG_CAN_NOT_OPEN_FILE, CAMERA_MOTION_FILE);
        case CameraMotionStatus::CloseFailed:
            return reportFailure(MSG_CAN_NOT_CLOSE_FILE, CAMERA_MOTION_FILE);
    }
    return 1;
}

int runLumeko(int argc, char** argv) {
    if (argc == 1) {
        printUsage();
        return 1;
    }
    if (argc != 6)
        return rejectCommandLine();
    RunSettings run{argv[1], 0.0, 0, argv[4], argv[5]};
    if (!scanPatternWidth(argv[2], &run.patternWidth))
        return rejectCommandLine();
    if (!scanCameraNumber(argv[3], &run.camNo))
        return rejectCommandLine();

    std::unique_ptr<Tracker> tracker;
    int status;
    if (std::strcmp(run.kind, "M") == 0) {
        status = trackMovie(run.patternName, run.patternWidth, run.inputName, tracker);
    } else if (std::strcmp(run.kind, "I") == 0) {
        status = trackImage(run.patternName, run.patternWidth, run.inputName, tracker);
    } else {
        return rejectCommandLine();
    }
    if (status != 0)
        return status;
    return finishTrack(*tracker, run.camNo);
}
