#include "app/run_flow.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/console.h"
#include "app/messages.h"
#include "app/options.h"
#include "camera/distortion.h"
#include "cli/progress_line.h"
#include "files/file_reason.h"
#include "media/movie_reader.h"
#include "media/still_reader.h"
#include "track/camera_motion.h"

namespace {

// What the command line asks for.
struct RunSettings {
    const char* patternName;
    double patternWidth;
    int camNo;
    const char* kind;
    const char* inputName;
    TrackerSettings tracker;
};

// The printed marker width must be a real size: NaN, infinities, zero and
// negative widths would make every pose meaningless.
bool scanPatternWidth(const char* text, double* width) {
    return std::sscanf(text, "%lf", width) == 1 && std::isfinite(*width) && *width > 0.0;
}

bool scanCameraNumber(const char* text, int* camNo) {
    return std::sscanf(text, "%d", camNo) == 1;
}

// The usage text after a line saying what is wrong (`format` with `text`,
// when given), the pause; returns 1.
int rejectCommandLine(const char* format = nullptr, const char* text = nullptr) {
    if (format != nullptr)
        std::fprintf(stderr, format, text);
    printUsage();
    waitForSpaceKey();
    return 1;
}

// An option given among the positional arguments: one that begins with "--"
// when their count is wrong, else one of Lumeko's options (a file may begin
// with "--"). The pattern file, first, may be anything.
const char* misplacedOption(char** args, int count) {
    for (int i = 1; i < count; i++)
        if (std::strncmp(args[i], "--", 2) == 0 && args[i][2] != '\0' &&
            (count != 5 || isOption(args[i])))
            return args[i];
    return nullptr;
}

void printWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s\n", warning.c_str());
}

// The line after a failure's documented message that says why, naming the file.
void printReason(const char* name, const std::string& reason) {
    if (!reason.empty())
        std::fprintf(stderr, MSG_FILE_REASON, name, reason.c_str());
}

// A documented failure message about the file `name`, the reason line, the
// pause; returns 1.
int reportFileFailure(const char* format, const char* name, const std::string& reason) {
    std::fprintf(stderr, format, name);
    printReason(name, reason);
    waitForSpaceKey();
    return 1;
}

// A picture sequence's failure: the documented message about the sequence,
// then the line naming the file (or folder) concerned and why; the pause.
int reportSequenceFailure(const char* format, const char* name, const std::string& file,
                          const std::string& reason) {
    std::fprintf(stderr, format, name);
    printReason(file.c_str(), reason);
    waitForSpaceKey();
    return 1;
}

// Why a file that was there to read could not be used: the operating
// system's reason, else what its contents are not.
std::string readReason(const char* name, const char* contentReason) {
    const std::string problem = fileReadProblem(name);
    return problem.empty() ? contentReason : problem;
}

// libjpeg's (or libpng's) own fatal message ends the run without the pause;
// the file it concerns follows.
int reportDecoderError(const std::string& message, const char* name, const char* contentReason) {
    std::fprintf(stderr, "%s\n", message.c_str());
    printReason(name, readReason(name, contentReason));
    return 1;
}

// The failure of opening or preparing an input, reported as the run's end;
// for a picture sequence, the file (or folder) concerned and why.
int reportInputFailure(InputFailure failure, const char* name, const MovieInfo* info,
                       const std::string& problemFile = "", const std::string& problem = "") {
    switch (failure) {
        case InputFailure::CannotOpen:
            if (info != nullptr && !problemFile.empty())
                return reportSequenceFailure(MSG_CAN_NOT_OPEN_MOVIE, name, problemFile, problem);
            if (info != nullptr)
                return reportFileFailure(MSG_CAN_NOT_OPEN_MOVIE, name,
                                         readReason(name, MSG_REASON_NOT_MOVIE));
            return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, name, fileReadProblem(name));
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
        case InputFailure::FrameTooLarge:
            std::fprintf(stderr, MSG_FRAME_TOO_LARGE, name, info->width, info->height,
                         MAX_FRAME_SIDE);
            waitForSpaceKey();
            return 1;
        case InputFailure::UnsupportedColour:
            return reportFailure(MSG_UNSUPPORTED_JPEG, name);
        case InputFailure::MixedSizes:
            return reportSequenceFailure(MSG_MIXED_SIZES, name, problemFile, problem);
        case InputFailure::DecoderError:
        case InputFailure::RangePastEnd:
        case InputFailure::None:
            break;
    }
    return 1;
}

int reportReaderFailure(InputFailure failure, const char* name, const MovieReader& reader) {
    if (failure == InputFailure::RangePastEnd) {
        std::fprintf(stderr, MSG_RANGE_PAST_END, reader.rangeStart(), reader.rangeEnd(), name,
                     reader.movieLength(), reader.movieLength() - 1);
        waitForSpaceKey();
        return 1;
    }
    return reportInputFailure(failure, name, &reader.info(), reader.problemFile(),
                              reader.problem());
}

int reportReaderFailure(InputFailure failure, const char* name, StillReader& reader) {
    printWarnings(reader.takeWarnings());
    if (failure == InputFailure::DecoderError)
        return reportDecoderError(reader.decoderError(), name,
                                  reader.isPng() ? MSG_REASON_NOT_PNG : MSG_REASON_NOT_JPEG);
    if (failure == InputFailure::FrameTooLarge) {
        std::fprintf(stderr, MSG_STILL_TOO_LARGE, name, reader.claimedWidth(),
                     reader.claimedHeight(), MAX_FRAME_SIDE);
        waitForSpaceKey();
        return 1;
    }
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

// What the last frame leaves to say. A range of a movie of unknown length
// may turn out to start after its end: nothing was tracked, and the run
// fails; one that goes past its end was tracked up to it.
int reportEnd(const MovieReader& reader, const char* name) {
    const long long undecoded = reader.lostFrames() - reader.missingFrames();
    if (undecoded > 0)
        std::fprintf(stderr, MSG_LOST_FRAMES, undecoded, name);
    if (reader.missingFrames() > 0)
        std::fprintf(stderr, MSG_MISSING_FRAMES, reader.missingFrames(), name);
    if (reader.repeatedFrames() > 0)
        std::fprintf(stderr, MSG_REPEATED_FRAMES, reader.repeatedFrames(), name);
    const long long first = reader.rangeStart(), last = reader.rangeEnd();
    const long long tracked = first + reader.framesDelivered() - 1;
    if (last < 0 || tracked >= last)
        return 0;
    if (reader.framesDelivered() == 0) {
        std::fprintf(stderr, MSG_RANGE_NO_FRAME, first, last, name, first);
        waitForSpaceKey();
        return 1;
    }
    std::fprintf(stderr, MSG_RANGE_CLIPPED, first, last, name, first, tracked);
    return 0;
}

// A movie whose known length does not fit the key table is refused before
// its first frame, not after 1500 frames of work.
int checkLength(const MovieReader& reader, const char* name) {
    if (reader.info().length <= static_cast<unsigned>(KEY_TABLE_SIZE))
        return 0;
    std::fputs(MSG_KEY_TABLE_FULL, stderr);
    std::fprintf(stderr, MSG_MOVIE_TOO_LONG, name, reader.info().length, KEY_TABLE_SIZE);
    waitForSpaceKey();
    return 1;
}
int checkLength(const StillReader&, const char*) {
    return 0;
}
int reportEnd(StillReader& reader, const char*) {
    printWarnings(reader.takeWarnings());
    return 0;
}

// A picture sequence's position without a picture (a missing number, or a
// file that does not decode) is a not-found row that forgets the markers
// held; a movie's undecodable frame tracks as a blank frame would.
bool isSequence(const MovieReader& reader) {
    return reader.isSequence();
}
bool isSequence(const StillReader&) {
    return false;
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

void printPatternLoadError(MarkerStatus status, const char* patternName) {
    if (status == MarkerStatus::PatternCannotOpen)
        std::printf(MSG_PATTERN_FILE_MISSING, patternName);
    if (status == MarkerStatus::PatternUnreadable)
        std::fputs(MSG_PATTERN_READ_ERROR, stdout);
}

// A camera file for frames of another shape is resized by the width ratio
// alone and gives a wrong track: say so, and how to make a matching file.
void warnOfOtherAspect(const CameraParam& camera, int width, int height) {
    const double ratio =
        (static_cast<double>(width) / height) / (static_cast<double>(camera.xsize) / camera.ysize);
    if (std::fabs(ratio - 1.0) > 0.01)
        std::fprintf(stderr, MSG_OTHER_ASPECT, width, height, CAMERA_PARAM_FILE, camera.xsize,
                     camera.ysize, width, height);
}

// What detection could not trace, as it always reported it.
void printDetectionDiagnostics(const Tracker& tracker) {
    for (MarkerStatus failure : tracker.detector().trace().contourFailures)
        std::printf(MSG_CONTOUR_DIAGNOSTIC, arContourFailureNumber(failure));
}

// What the written file holds, on the error stream so that nothing reading
// standard output sees it; with a hint when the marker was mostly missed.
// With --bridge it also counts the bridged rows, apart from the marker's.
// When the lens moves points by more than a pixel and the pose is fitted
// without it, a line saying that --refine fits it through the lens.
void reportSummary(const Tracker& tracker) {
    const KeyTable& keys = tracker.keys();
    int found = 0, bridged = 0;
    for (int i = 0; i < keys.count; i++) {
        found += keys.rows[i].found != 0;
        bridged += tracker.report().rows[i].status == FrameStatus::Bridged;
    }
    found -= bridged;
    if (tracker.settings().bridge)
        std::fprintf(stderr, MSG_SUMMARY_BRIDGED, CAMERA_MOTION_FILE, keys.count,
                     keys.count == 1 ? "" : "s", found, bridged);
    else
        std::fprintf(stderr, MSG_SUMMARY, CAMERA_MOTION_FILE, keys.count,
                     keys.count == 1 ? "" : "s", found);
    if (keys.count > 0 && 2 * found < keys.count)
        std::fputs(MSG_SUMMARY_HINT, stderr);
    const CameraParam& camera = tracker.detector().camera();
    const double shift = arLargestLensShift(camera.distFactor, camera.xsize, camera.ysize);
    if (!tracker.settings().refine && shift > 1.0)
        std::fprintf(stderr, MSG_LENS_HINT, shift);
}

// The plate file beside the new Lumeko.cm2: a sequence's, or none (an
// earlier one would mislabel this track).
void finishPlateFile(const std::optional<PlateFrames>& plate) {
    if (!plate.has_value()) {
        removePlateFile(CAMERA_MOTION_FILE);
        return;
    }
    const std::string name = std::string(CAMERA_MOTION_FILE) + PLATE_FILE_SUFFIX;
    const FileResult written = writePlateFile(CAMERA_MOTION_FILE, *plate);
    if (written.ok())
        std::fprintf(stderr, MSG_PLATE_WRITTEN, name.c_str(), plate->firstFrame, plate->fps);
    else
        std::fprintf(stderr, MSG_PLATE_FAILED, name.c_str(), std::strerror(written.error),
                     plate->firstFrame, plate->fps);
}

// Opens the input, sets the tracker up for its frames and tracks every frame.
template <class Reader>
int trackInput(Reader& reader, const char* patternName, double patternWidth, const char* inputName,
               std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings) {
    InputFailure failure = reader.open(inputName);
    if (failure != InputFailure::None)
        return reportReaderFailure(failure, inputName, reader);
    if (checkLength(reader, inputName) != 0)
        return 1;
    reportOpened(reader);
    if (setUpTracker(patternName, patternWidth, frameWidth(reader), frameHeight(reader), tracker,
                     settings) != 0)
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
        if (read == ReadResult::NoPicture ? trackNoPicture(*tracker, isSequence(reader)) != 0
                                          : trackOneFrame(*tracker, *frame) != 0)
            return 1;
        reportFrame(progress, ++framesDone, reader);
    }
    progress.erase();
    if (reportEnd(reader, inputName) != 0)
        return 1;
    if (tracker->busyFrames() > 0)
        std::fprintf(stderr, MSG_BUSY_FRAMES, tracker->busyFrames(), inputName);
    return 0;
}

}  // namespace

int setUpTracker(const char* patternName, double patternWidth, int width, int height,
                 std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings) {
    CameraParam loaded;
    const CameraResult load = arLoadCameraParam(CAMERA_PARAM_FILE, 1, &loaded);
    if (!load.ok()) {
        std::fprintf(stderr, MSG_CAN_NOT_LOAD_CAMERA, CAMERA_PARAM_FILE);
        printReason(CAMERA_PARAM_FILE, load.reason);
        if (access(CAMERA_PARAM_FILE, F_OK) != 0 && errno == ENOENT)
            std::fputs(MSG_CAMERA_MISSING_HINT, stderr);
        waitForSpaceKey();
        return 1;
    }
    warnOfOtherAspect(loaded, width, height);
    CameraParam resized;
    if (arResizeCameraParam(loaded, width, height, resized) != CameraStatus::Ok) {
        std::fprintf(stderr, MSG_CAN_NOT_LOAD_CAMERA, CAMERA_PARAM_FILE);
        std::fprintf(stderr, MSG_CAMERA_RESIZE_REASON, CAMERA_PARAM_FILE, width, height);
        waitForSpaceKey();
        return 1;
    }
    std::fputs(arFormatCameraParam(resized).c_str(), stdout);
    tracker = Tracker::create(resized, patternWidth, settings);
    if (tracker == nullptr)
        return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    const PatternLoad pattern = tracker->loadPattern(patternName);
    if (!pattern.ok()) {
        printPatternLoadError(pattern.status, patternName);
        return reportFileFailure(MSG_CAN_NOT_LOAD_PATTERN, patternName,
                                 readReason(patternName, MSG_REASON_NOT_PATTERN));
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

int trackNoPicture(Tracker& tracker, bool sequence) {
    const TrackStatus status = sequence ? tracker.trackAbsent() : tracker.trackNothing();
    if (status == TrackStatus::TableFull)
        return reportFailure("%s", MSG_KEY_TABLE_FULL);
    return 0;
}

int trackMovie(const char* patternName, double patternWidth, const char* movieName,
               std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings,
               const RunOptions& options, std::optional<PlateFrames>* plate) {
    MovieReader reader;
    if (options.threads >= 0)
        reader.setThreads(options.threads);
    if (options.ranged)
        reader.setRange(options.rangeFirst, options.rangeLast);
    if (options.fpsRate > 0)
        reader.setSequenceRate(options.fpsRate, options.fpsScale);
    const int status = trackInput(reader, patternName, patternWidth, movieName, tracker, settings);
    if (status == 0 && plate != nullptr && reader.isSequence()) {
        const MovieInfo& info = reader.info();
        *plate = PlateFrames{reader.firstNumber(), static_cast<double>(info.rate) / info.scale};
    }
    return status;
}

int trackImage(const char* patternName, double patternWidth, const char* imageName,
               std::unique_ptr<Tracker>& tracker, const TrackerSettings& settings) {
    StillReader reader;
    return trackInput(reader, patternName, patternWidth, imageName, tracker, settings);
}

int finishTrack(Tracker& tracker, int camNo, const std::optional<PlateFrames>& plate) {
    tracker.smooth();
    const FileResult written = writeCameraMotion(tracker.keys(), camNo);
    const std::string reason = std::strerror(written.error);
    switch (written.status) {
        case FileStatus::Done:
            reportSummary(tracker);
            finishPlateFile(plate);
            return 0;
        case FileStatus::CannotCreate:
        case FileStatus::CannotReplace:
            return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, CAMERA_MOTION_FILE, reason);
        case FileStatus::CannotWrite:
            return reportFileFailure(MSG_CAN_NOT_CLOSE_FILE, CAMERA_MOTION_FILE, reason);
    }
    return 1;
}

namespace {

int runCommandLine(int argc, char** argv) {
    if (argc == 1) {
        printUsage();
        return 1;
    }
    RunOptions options;
    std::string badOption;
    const int first = parseOptions(argc, argv, &options, &badOption);
    if (first < 0) {
        std::fprintf(stderr, MSG_BAD_OPTION, badOption.c_str());
        return rejectCommandLine();
    }
    if (options.help) {
        printHelp();
        return 0;
    }
    if (options.version) {
        printVersion();
        return 0;
    }
    char** args = argv + first;
    const int count = argc - first;
    if (const char* option = misplacedOption(args, count))
        return rejectCommandLine(MSG_MISPLACED_OPTION, option);
    if (count != 5)
        return rejectCommandLine();
    RunSettings run{args[0], 0.0, 0, args[3], args[4], options.tracker};
    if (!scanPatternWidth(args[1], &run.patternWidth))
        return rejectCommandLine(MSG_BAD_WIDTH, args[1]);
    if (!scanCameraNumber(args[2], &run.camNo))
        return rejectCommandLine(MSG_BAD_CAM_NO, args[2]);

    const bool movie = std::strcmp(run.kind, "M") == 0;
    if (!movie && std::strcmp(run.kind, "I") != 0)
        return rejectCommandLine(MSG_BAD_KIND, run.kind);

    // Refused before the first frame rather than after the last.
    const std::string outputReason = outputProblem(CAMERA_MOTION_FILE);
    if (!outputReason.empty())
        return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, CAMERA_MOTION_FILE, outputReason);
    const char* report = options.report.empty() ? nullptr : options.report.c_str();
    if (report != nullptr) {
        const std::string reportReason = outputProblem(report, "Its folder");
        if (!reportReason.empty())
            return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, report, reportReason);
    }

    std::unique_ptr<Tracker> tracker;
    std::optional<PlateFrames> plate;
    const int status =
        movie ? trackMovie(run.patternName, run.patternWidth, run.inputName, tracker, run.tracker,
                           options, &plate)
              : trackImage(run.patternName, run.patternWidth, run.inputName, tracker, run.tracker);
    if (status != 0)
        return status;
    // The report first: when it cannot be written the run fails with the
    // earlier Lumeko.cm2 as it was.
    if (report != nullptr) {
        if (const FileResult written = writeFrameReport(tracker->report(), report); !written.ok())
            return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, report, std::strerror(written.error));
    }
    return finishTrack(*tracker, run.camNo, plate);
}

}  // namespace

// Memory that runs out where the code allocates with new ends the run as
// every other allocation failure does, not with an abort.
int runLumeko(int argc, char** argv) {
    try {
        return runCommandLine(argc, argv);
    } catch (const std::bad_alloc&) {
        return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    }
}
