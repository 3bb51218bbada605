#include "app/run_flow.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "app/console.h"
#include "app/messages.h"
#include "app/options.h"
#include "camera/distortion.h"
#include "cli/progress_line.h"
#include "files/file_reason.h"
#include "files/same_file.h"
#include "layout/layout_adjust.h"
#include "layout/layout_file.h"
#include "media/frame_source.h"
#include "media/still_reader.h"
#include "track/camera_motion.h"
#include "track/frame_loop.h"
#include "track/layout_pass.h"
#include "track/plate_file.h"
#include "track/setup_tracker.h"

namespace {

// What the command line asks for.
struct RunSettings {
    const char* patternName;
    double patternWidth;
    int camNo;
    bool movie;  // kind M: a movie or a picture sequence; kind I: a still
    const char* inputName;
    std::string report;  // --report's file; empty without it
    TrackerSettings tracker;
    MovieSettings reading;
    std::vector<SetMarker> markers;  // the set's markers, the first (the arguments') at 0
    std::string layoutOut, layoutIn;
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

// A documented failure message about the file `name`, the line naming
// `reasonFile` (by default `name`) and why, the pause; returns 1.
int reportFileFailure(const char* format, const char* name, const std::string& reason,
                      const char* reasonFile = nullptr) {
    std::fprintf(stderr, format, name);
    printReason(reasonFile != nullptr ? reasonFile : name, reason);
    waitForSpaceKey();
    return 1;
}

// Why a file that was there to read could not be used: the operating
// system's reason, else what its contents are not.
std::string readReason(const char* name, const char* contentReason) {
    const std::string problem = fileReadProblem(name);
    return problem.empty() ? contentReason : problem;
}

// What an input could not be opened or read for, as the run's end.
int reportInputProblem(const InputProblem& problem, const RunSettings& run,
                       const FrameSource& source) {
    const char* name = run.inputName;
    const std::string why = !problem.reason.empty() ? problem.reason
                            : problem.error != 0    ? std::strerror(problem.error)
                                                    : "";
    switch (problem.failure) {
        case InputFailure::CannotOpen:
            if (!run.movie)
                return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, name, why);
            if (!problem.file.empty())
                return reportFileFailure(MSG_CAN_NOT_OPEN_MOVIE, name, why, problem.file.c_str());
            return reportFileFailure(MSG_CAN_NOT_OPEN_MOVIE, name,
                                     readReason(name, MSG_REASON_NOT_MOVIE));
        case InputFailure::MixedSizes:
            return reportFileFailure(MSG_MIXED_SIZES, name, why, problem.file.c_str());
        case InputFailure::NoVideoStream:
            return reportFailure(MSG_NO_VIDEO_STREAM, name);
        case InputFailure::NoFrameRate:
            return reportFailure(MSG_NO_FRAME_RATE, name);
        case InputFailure::NoDecoder:
            return reportFailure(MSG_NO_DECODER, name);
        case InputFailure::UnsupportedColour:
            return reportFailure(MSG_UNSUPPORTED_JPEG, name);
        case InputFailure::NoFrameSize:
            std::fprintf(stderr, MSG_NO_FRAME_SIZE, name, source.size().width,
                         source.size().height);
            break;
        case InputFailure::FrameTooLarge:
            std::fprintf(stderr, run.movie ? MSG_FRAME_TOO_LARGE : MSG_STILL_TOO_LARGE, name,
                         source.size().width, source.size().height, MAX_FRAME_SIDE);
            break;
        case InputFailure::RangePastEnd:
            if (problem.inputFrames)
                std::fprintf(stderr, MSG_RANGE_PAST_END, run.reading.range->first,
                             run.reading.range->last, name, *problem.inputFrames,
                             *problem.inputFrames - 1);
            else
                std::fprintf(stderr, MSG_RANGE_NO_FRAME, run.reading.range->first,
                             run.reading.range->last, name, run.reading.range->first);
            break;
        case InputFailure::JpegError:
        case InputFailure::PngError:
            // libjpeg's (or libpng's) own fatal message ends the run without
            // the pause; the file it concerns follows.
            std::fprintf(stderr, "%s\n", problem.reason.c_str());
            printReason(name, readReason(name, problem.failure == InputFailure::PngError
                                                   ? MSG_REASON_NOT_PNG
                                                   : MSG_REASON_NOT_JPEG));
            return 1;
        case InputFailure::OutOfMemory:
        case InputFailure::Unconvertible:
        case InputFailure::None:
            return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    }
    waitForSpaceKey();
    return 1;
}

// What a failed step of the track says, as the run's end.
int reportTrackFailure(const TrackResult& result, const RunSettings& run, FrameSource& source) {
    switch (result.failure) {
        case TrackFailure::InputFailed:
            printWarnings(source.takeWarnings());
            return reportInputProblem(result.input, run, source);
        case TrackFailure::TooLong:
            std::fputs(MSG_KEY_TABLE_FULL, stderr);
            std::fprintf(stderr, MSG_MOVIE_TOO_LONG, run.inputName, source.length().value_or(0),
                         KEY_TABLE_SIZE);
            waitForSpaceKey();
            return 1;
        case TrackFailure::TableFull:
            return reportFailure("%s", MSG_KEY_TABLE_FULL);
        case TrackFailure::WrongFrameSize:
            return reportFailure("%s", MSG_DETECTION_FAILED);
        case TrackFailure::LibraryFailed:
            std::fprintf(stderr, MSG_TRACKING_FAILED, run.inputName, result.what.c_str());
            waitForSpaceKey();
            return 1;
        default:
            return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    }
}

// A camera file for frames of another shape is resized by the width ratio
// alone and gives a wrong track: say so, and how to make a matching file.
void warnOfOtherAspect(const CameraParam& camera, FrameSize frames) {
    const double ratio = (static_cast<double>(frames.width) / frames.height) /
                         (static_cast<double>(camera.xsize) / camera.ysize);
    if (std::fabs(ratio - 1.0) > 0.01)
        std::fprintf(stderr, MSG_OTHER_ASPECT, frames.width, frames.height, CAMERA_PARAM_FILE,
                     camera.xsize, camera.ysize, frames.width, frames.height);
}

// What setting the tracker up says: the camera file's failure, or the
// warning about its shape and the camera as resized, then the failure.
int reportSetup(const TrackerSetup& setup, const RunSettings& run, FrameSize frames) {
    const TrackFailure failure = setup.result.failure;
    if (failure == TrackFailure::CameraUnreadable) {
        std::fprintf(stderr, MSG_CAN_NOT_LOAD_CAMERA, CAMERA_PARAM_FILE);
        printReason(CAMERA_PARAM_FILE, setup.result.what);
        if (setup.result.error == ENOENT)
            std::fputs(MSG_CAMERA_MISSING_HINT, stderr);
        waitForSpaceKey();
        return 1;
    }
    warnOfOtherAspect(setup.loaded, frames);
    if (failure == TrackFailure::CameraUnusable) {
        std::fprintf(stderr, MSG_CAN_NOT_LOAD_CAMERA, CAMERA_PARAM_FILE);
        std::fprintf(stderr, MSG_CAMERA_RESIZE_REASON, CAMERA_PARAM_FILE, frames.width,
                     frames.height);
        waitForSpaceKey();
        return 1;
    }
    std::fputs(arFormatCameraParam(setup.camera).c_str(), stdout);
    if (failure == TrackFailure::PatternMissing || failure == TrackFailure::PatternUnreadable) {
        if (failure == TrackFailure::PatternMissing)
            std::printf(MSG_PATTERN_FILE_MISSING, run.patternName);
        else
            std::fputs(MSG_PATTERN_READ_ERROR, stdout);
        return reportFileFailure(MSG_CAN_NOT_LOAD_PATTERN, run.patternName,
                                 readReason(run.patternName, MSG_REASON_NOT_PATTERN));
    }
    if (!setup.result.ok())
        return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    return 0;
}

// What the source had to say once its last frame was tracked: frames
// without a picture or repeated, a range cut short, the decoder's warnings.
void reportSourceEnd(const SourceEnd& end, const char* name) {
    if (end.undecoded > 0)
        std::fprintf(stderr, MSG_LOST_FRAMES, end.undecoded, name);
    if (end.missing > 0)
        std::fprintf(stderr, MSG_MISSING_FRAMES, end.missing, name);
    if (end.repeated > 0)
        std::fprintf(stderr, MSG_REPEATED_FRAMES, end.repeated, name);
    if (end.clipped)
        std::fprintf(stderr, MSG_RANGE_CLIPPED, end.clipped->first, end.clipped->last, name,
                     end.clipped->first, end.clipped->lastDelivered);
    printWarnings(end.warnings);
}

// The pattern files of the set's further markers, marker 1 on.
std::vector<std::string> furtherPatterns(const RunSettings& run) {
    std::vector<std::string> patterns;
    for (size_t m = 1; m < run.markers.size(); m++)
        patterns.push_back(run.markers[m].pattern);
    return patterns;
}

std::vector<double> setWidths(const RunSettings& run) {
    std::vector<double> widths;
    for (const SetMarker& marker : run.markers)
        widths.push_back(marker.width);
    return widths;
}

// The set's markers left out, by pattern file, separated by spaces: those
// placed too loosely (`loose`), or else those never linked to the first.
std::string leftOutMarkers(const RunSettings& run, const MarkerLayout& layout,
                           const std::vector<bool>& loose, bool looseOnes) {
    std::string names;
    for (size_t m = 1; m < layout.markers.size(); m++)
        if (!layout.markers[m].linked && (m < loose.size() && loose[m]) == looseOnes)
            names += (names.empty() ? "" : " ") + run.markers[m].pattern;
    return names;
}

// A failed pattern load of the set's, as the run's end.
int reportSetPattern(const TrackResult& result) {
    if (result.failure == TrackFailure::PatternMissing ||
        result.failure == TrackFailure::PatternUnreadable)
        return reportFileFailure(MSG_CAN_NOT_LOAD_PATTERN, result.what.c_str(),
                                 readReason(result.what.c_str(), MSG_REASON_NOT_PATTERN));
    return reportFailure("%s", MSG_CAN_NOT_MALLOC);
}

// Reads --layout's file into `layout`.
int readSetLayout(const RunSettings& run, MarkerLayout& layout) {
    const LayoutResult read = readLayout(run.layoutIn, setWidths(run), layout);
    const char* name = run.layoutIn.c_str();
    switch (read.status) {
        case LayoutStatus::Ok:
            return 0;
        case LayoutStatus::CannotRead:
            return reportFileFailure(MSG_LAYOUT_CAN_NOT_READ, name, fileReadProblem(name));
        case LayoutStatus::BadFile:
            std::fprintf(stderr, MSG_LAYOUT_BAD_LINE, name, read.line);
            break;
        default:
            if (read.line > 0)
                std::fprintf(stderr, MSG_LAYOUT_WRONG_MARKERS, name, read.line);
            else
                std::fprintf(stderr, MSG_LAYOUT_NO_FIRST, name);
    }
    waitForSpaceKey();
    return 1;
}

// The frames in which two or more markers were seen.
long long sharedFrames(const std::vector<MarkerSighting>& sightings) {
    long long shared = 0;
    for (size_t i = 1; i < sightings.size(); i++)
        shared += sightings[i].frame == sightings[i - 1].frame &&
                  (i < 2 || sightings[i - 2].frame != sightings[i].frame);
    return shared;
}

// The first pass over `source` and the layout learned from it: the links
// chained over the frames that see two markers, then adjusted; written to
// --layout-out's file when asked.
int learnLayout(FrameSource& source, const RunSettings& run, const CameraParam& camera,
                MarkerLayout& layout) {
    std::vector<MarkerSighting> sightings;
    ProgressLine progress;
    const long long length = source.length().value_or(0);
    const TrackResult seen = sightMarkers(source, camera, run.markers, run.tracker, sightings,
                                          [&](long long framesDone, std::span<const MarkerStatus>) {
                                              if (run.movie)
                                                  progress.show(framesDone, length);
                                          });
    progress.erase();
    if (!seen.ok())
        return seen.failure == TrackFailure::InputFailed ? reportTrackFailure(seen, run, source)
                                                         : reportSetPattern(seen);
    std::vector<bool> loose;
    const LayoutResult learned = placeMarkers(sightings, setWidths(run), camera.mat, layout, loose);
    if (learned.status == LayoutStatus::NoLink) {
        std::fprintf(stderr, MSG_LAYOUT_NO_LINK, run.patternName,
                     leftOutMarkers(run, layout, {}, false).c_str());
        waitForSpaceKey();
        return 1;
    }
    if (!learned.ok())
        return reportFailure("%s", MSG_LAYOUT_FAILED);
    int placed = 0;
    for (const PlacedMarker& marker : layout.markers)
        placed += marker.linked;
    std::fprintf(stderr, MSG_LAYOUT_LEARNED, placed, static_cast<int>(layout.markers.size()),
                 sharedFrames(sightings));
    if (const std::string names = leftOutMarkers(run, layout, loose, true); !names.empty())
        std::fprintf(stderr, MSG_LAYOUT_LOOSE, names.c_str());
    if (const std::string names = leftOutMarkers(run, layout, loose, false); !names.empty())
        std::fprintf(stderr, MSG_LAYOUT_UNLINKED, names.c_str());
    if (run.layoutOut.empty())
        return 0;
    std::vector<std::string> patterns;
    for (const SetMarker& marker : run.markers)
        patterns.push_back(marker.pattern);
    const LayoutResult written = writeLayout(run.layoutOut, layout, patterns);
    if (!written.ok())
        return reportFileFailure(MSG_LAYOUT_CAN_NOT_WRITE, run.layoutOut.c_str(),
                                 std::strerror(written.error));
    return 0;
}

// Opens `source` on the input, sets `tracker` up for its frames and tracks
// every frame; for a picture sequence, `plate` receives its first number and
// rate. With several markers and no layout given, the first pass learns the
// layout over `source`, and the frames are tracked from a new source that
// `again` makes.
int trackSource(FrameSource& source, const RunSettings& run, std::unique_ptr<Tracker>& tracker,
                std::optional<PlateFrames>& plate,
                const std::function<std::unique_ptr<FrameSource>()>& again) {
    const char* name = run.inputName;
    if (const InputProblem opened = source.open(name); !opened.ok()) {
        printWarnings(source.takeWarnings());
        return reportInputProblem(opened, run, source);
    }
    if (const TrackResult fits = fitsKeyTable(source); !fits.ok())
        return reportTrackFailure(fits, run, source);
    const std::optional<FrameRate> rate = source.rate();
    if (rate)
        std::printf(MSG_FRAME_RATE, rate->rate / rate->scale);
    printWarnings(source.takeWarnings());

    TrackerSetup setup =
        setupTracker(run.patternName, run.patternWidth, source.size(), run.tracker);
    if (reportSetup(setup, run, source.size()) != 0)
        return 1;
    tracker = std::move(setup.tracker);
    MarkerLayout layout;
    if (!run.markers.empty() && !run.layoutIn.empty() && readSetLayout(run, layout) != 0)
        return 1;
    if (const InputProblem prepared = source.prepare(); !prepared.ok())
        return reportInputProblem(prepared, run, source);
    // With several markers and no layout given: the first pass learns it,
    // and the frames are tracked again from the start.
    std::unique_ptr<FrameSource> second;
    FrameSource* frames = &source;
    if (!run.markers.empty() && run.layoutIn.empty()) {
        if (learnLayout(source, run, setup.camera, layout) != 0)
            return 1;
        second = again();
        if (const InputProblem opened = second->open(name); !opened.ok())
            return reportInputProblem(opened, run, *second);
        if (const InputProblem prepared = second->prepare(); !prepared.ok())
            return reportInputProblem(prepared, run, *second);
        second->takeWarnings();
        frames = second.get();
    }
    if (!run.markers.empty())
        if (const TrackResult used = tracker->useLayout(furtherPatterns(run), layout); !used.ok())
            return reportSetPattern(used);

    ProgressLine progress;
    const long long length = frames->length().value_or(0);
    const TrackResult tracked = trackFrames(
        *frames, *tracker, [&](long long framesDone, std::span<const MarkerStatus> untraced) {
            for (const MarkerStatus failure : untraced)
                std::printf(MSG_CONTOUR_DIAGNOSTIC, arContourFailureNumber(failure));
            if (run.movie)
                progress.show(framesDone, length);
        });
    progress.erase();
    if (!tracked.ok())
        return reportTrackFailure(tracked, run, *frames);
    reportSourceEnd(frames->end(), name);
    if (tracker->busyFrames() > 0)
        std::fprintf(stderr, MSG_BUSY_FRAMES, tracker->busyFrames(), name);
    if (const std::optional<long long> first = frames->firstNumber())
        plate = PlateFrames{*first, static_cast<double>(rate->rate) / rate->scale};
    return 0;
}

// Kind M: a movie, or a numbered picture sequence.
int trackMovie(const RunSettings& run, std::unique_ptr<Tracker>& tracker,
               std::optional<PlateFrames>& plate) {
    const std::unique_ptr<FrameSource> source = makeMovieSource(run.inputName, run.reading);
    return trackSource(*source, run, tracker, plate,
                       [&run] { return makeMovieSource(run.inputName, run.reading); });
}

// Kind I: one JPEG or PNG still.
int trackImage(const RunSettings& run, std::unique_ptr<Tracker>& tracker,
               std::optional<PlateFrames>& plate) {
    StillReader still;
    return trackSource(still, run, tracker, plate,
                       [] { return std::unique_ptr<FrameSource>(new StillReader); });
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
    if (!tracker.settings().pose.refine && shift > 1.0)
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
    const TrackResult written = writePlateFile(CAMERA_MOTION_FILE, *plate);
    if (written.ok())
        std::fprintf(stderr, MSG_PLATE_WRITTEN, name.c_str(), plate->firstFrame, plate->fps);
    else
        std::fprintf(stderr, MSG_PLATE_FAILED, name.c_str(), std::strerror(written.error),
                     plate->firstFrame, plate->fps);
}

// Smooths the track, writes it as the camera-motion file for `camNo` and says
// on the error stream how many rows it holds and in how many the marker was
// found. Writes the plate file beside it for a picture sequence's track, and
// removes an earlier one otherwise.
int finishTrack(Tracker& tracker, int camNo, const std::optional<PlateFrames>& plate) {
    tracker.smooth();
    const TrackResult written = writeCameraMotion(tracker.keys(), camNo);
    if (written.ok()) {
        reportSummary(tracker);
        finishPlateFile(plate);
        return 0;
    }
    return reportFileFailure(written.failure == TrackFailure::CannotWrite ? MSG_CAN_NOT_CLOSE_FILE
                                                                          : MSG_CAN_NOT_OPEN_FILE,
                             CAMERA_MOTION_FILE, std::strerror(written.error));
}

// Whether two outputs, existing or not, are one file: the same path once
// resolved, or the same file.
bool sameOutput(const std::string& a, const std::string& b) {
    std::error_code failed;
    const std::filesystem::path first = std::filesystem::weakly_canonical(a, failed);
    const std::filesystem::path second = std::filesystem::weakly_canonical(b, failed);
    return (!failed && first == second) || sameFile(a, b);
}

// Nothing the user gave is written over: an output that is one of the
// inputs (by any name or link), or a report named like the track or its
// plate file, is refused before anything is read or written.
int refuseClash(const RunSettings& run) {
    const std::string track = CAMERA_MOTION_FILE;
    std::vector<std::string> outputs = {track, track + PLATE_FILE_SUFFIX};
    for (const std::string& output : outputs)
        if (!run.report.empty() && sameOutput(run.report, output)) {
            std::fprintf(stderr, MSG_REPORT_IS_OUTPUT, run.report.c_str(), output.c_str());
            waitForSpaceKey();
            return 1;
        }
    if (!run.report.empty())
        outputs.push_back(run.report);
    for (const std::string& output : outputs)
        if (!run.layoutOut.empty() && sameOutput(run.layoutOut, output)) {
            std::fprintf(stderr, MSG_LAYOUT_IS_OUTPUT, run.layoutOut.c_str(), output.c_str());
            waitForSpaceKey();
            return 1;
        }
    if (!run.layoutOut.empty())
        outputs.push_back(run.layoutOut);
    std::vector<std::string> inputs =
        run.movie ? movieSourceFiles(run.inputName) : std::vector<std::string>{run.inputName};
    inputs.insert(inputs.end(), {run.patternName, CAMERA_PARAM_FILE});
    for (const SetMarker& marker : run.markers)
        inputs.push_back(marker.pattern);
    if (!run.layoutIn.empty())
        inputs.push_back(run.layoutIn);
    const std::optional<FileClash> clash = findClash(outputs, inputs);
    if (clash)
        return reportFailure("%s\n", clashMessage(*clash).c_str());
    return 0;
}

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
    RunSettings run{args[0],         0.0, 0,  false, args[4], options.report, options.tracker,
                    options.reading, {},  {}, {}};
    if (!scanPatternWidth(args[1], &run.patternWidth))
        return rejectCommandLine(MSG_BAD_WIDTH, args[1]);
    if (!scanCameraNumber(args[2], &run.camNo))
        return rejectCommandLine(MSG_BAD_CAM_NO, args[2]);
    run.movie = std::strcmp(args[3], "M") == 0;
    if (!run.movie && std::strcmp(args[3], "I") != 0)
        return rejectCommandLine(MSG_BAD_KIND, args[3]);

    if (!options.markers.empty()) {
        // A set's layout is only as good as its markers' corners, and the
        // smaller ones' are seen at every pixel of their sides.
        run.tracker.detection.refineEveryPixel = true;
        run.markers.push_back({run.patternName, run.patternWidth});
        run.markers.insert(run.markers.end(), options.markers.begin(), options.markers.end());
    }
    run.layoutOut = options.layoutOut;
    run.layoutIn = options.layoutIn;
    if (run.markers.empty() && (!run.layoutOut.empty() || !run.layoutIn.empty()))
        return rejectCommandLine(MSG_SET_NEEDS_MARKER,
                                 run.layoutIn.empty() ? "--layout-out" : "--layout");
    if (refuseClash(run) != 0)
        return 1;
    // Refused before the first frame rather than after the last.
    const std::string outputReason = outputProblem(CAMERA_MOTION_FILE);
    if (!outputReason.empty())
        return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, CAMERA_MOTION_FILE, outputReason);
    if (!run.layoutOut.empty()) {
        const std::string layoutReason = outputProblem(run.layoutOut.c_str(), "Its folder");
        if (!layoutReason.empty())
            return reportFileFailure(MSG_LAYOUT_CAN_NOT_WRITE, run.layoutOut.c_str(), layoutReason);
    }
    if (!run.report.empty()) {
        const std::string reportReason = outputProblem(run.report.c_str(), "Its folder");
        if (!reportReason.empty())
            return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, run.report.c_str(), reportReason);
    }

    std::unique_ptr<Tracker> tracker;
    std::optional<PlateFrames> plate;
    const int tracked =
        run.movie ? trackMovie(run, tracker, plate) : trackImage(run, tracker, plate);
    if (tracked != 0)
        return 1;
    // The report first: when it cannot be written the run fails with the
    // earlier Lumeko.cm2 as it was.
    if (!run.report.empty()) {
        const TrackResult written = writeFrameReport(tracker->report(), run.report.c_str());
        if (!written.ok())
            return reportFileFailure(MSG_CAN_NOT_OPEN_FILE, run.report.c_str(),
                                     std::strerror(written.error));
    }
    return finishTrack(*tracker, run.camNo, plate);
}

}  // namespace

// Whatever a library throws ends the run as a failure, never with an abort:
// memory that runs out where the code allocates with new as every other
// allocation failure does, anything else with what the library says.
int runLumeko(int argc, char** argv) {
    try {
        return runCommandLine(argc, argv);
    } catch (const std::bad_alloc&) {
        return reportFailure("%s", MSG_CAN_NOT_MALLOC);
    } catch (const std::exception& failure) {
        return reportFailure(MSG_LIBRARY_FAILED, failure.what());
    }
}
