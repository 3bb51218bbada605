#include "app/options.h"

#include "cli/option_table.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

namespace {

// A whole number of at most 15 digits, nothing after it.
bool scanCount(const char* text, long long& value) {
    int used = 0;
    return std::strlen(text) <= 15 && std::sscanf(text, "%lld%n", &value, &used) == 1 &&
           text[used] == '\0' && value >= 0;
}

// "FIRST:LAST", both whole numbers, FIRST <= LAST.
bool scanRange(const char* text, RunOptions& options) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text || colon - text > 15)
        return false;
    char first[16] = {};
    std::memcpy(first, text, static_cast<size_t>(colon - text));
    long long from, to;
    if (!scanCount(first, from) || !scanCount(colon + 1, to) || to < from)
        return false;
    options.reading.range = MovieSettings::Range{from, to};
    return true;
}

// "PATTERN,WIDTH": the width after the last comma, finite and above 0.
bool scanMarker(const std::string& value, RunOptions& options) {
    const size_t comma = value.rfind(',');
    double width = 0.0;
    if (comma == std::string::npos || comma == 0 || options.markers.size() + 1 >= SET_MARKER_MAX ||
        !parseDouble(value.substr(comma + 1), width) || !(width > 0.0))
        return false;
    options.markers.push_back({value.substr(0, comma), width});
    return true;
}

bool scanThreads(const char* text, RunOptions& options) {
    long long count;
    if (!scanCount(text, count) || count < 1 || count > 64)
        return false;
    options.reading.threads = static_cast<int>(count);
    return true;
}

// A frame rate above 0 and at most 1000, to a thousandth ("24", "23.976").
bool scanFps(const char* text, RunOptions& options) {
    char* end = nullptr;
    const double fps = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(fps > 0.0 && fps <= 1000.0))
        return false;
    const long long thousandths = std::llround(fps * 1000.0);
    if (thousandths == 0)
        return false;
    const long long common = std::gcd(thousandths, 1000LL);
    options.reading.sequenceRate = {static_cast<unsigned>(thousandths / common),
                                    static_cast<unsigned>(1000 / common)};
    return true;
}

// --best: every option that makes detection, the pose and the track hold up
// on real footage.
bool applyBest(TrackerSettings& t) {
    t.detection.refineEdges = t.pose.refine = t.detection.thresholdRetry =
        t.detection.largeMarkers = t.detection.localRetry = t.detection.strictHistory =
            t.detection.robustSides = t.detection.moreSquares = t.detection.paperRetry = t.bridge =
                t.noSmoothing = t.follow = true;
    return true;
}

// Every option, its help and where it goes in `o`. A value follows as the
// next argument or after '=' ("--name=value").
OptionTable optionTable(RunOptions& o) {
    TrackerSettings& t = o.tracker;
    return {
        {"--best", "",
         "for real footage: every improvement at once (--refine,\n"
         "--adaptive-threshold, --auto-threshold, --large-markers,\n"
         "--strict-history, --robust-sides, --more-squares, --sheen-threshold,\n"
         "--bridge, --no-smoothing, --follow).",
         [&t](const std::string&) { return applyBest(t); }},
        {"--auto-threshold", "",
         "when the marker is not found in a frame at the fixed threshold of 100,\n"
         "look again at a threshold chosen from the frame (Otsu's method on the\n"
         "grey levels where the marker was last seen, else on the whole frame):\n"
         "for dim footage and flat (log) picture profiles. Frames found at 100\n"
         "give the same rows as without the option.",
         [&t](const std::string&) { return t.detection.thresholdRetry = true; }},
        {"--adaptive-threshold", "",
         "when the marker is not found in a frame at the fixed threshold, look\n"
         "again with local thresholds: a pixel is dark when it is darker than\n"
         "the mean of its neighbourhood by a margin (a narrow window scaled to\n"
         "the frame, then a wide one). For uneven light: a gradient or a shadow\n"
         "edge across the marker. With --auto-threshold these looks come first,\n"
         "then its thresholds; the first that sees the marker is kept.",
         [&t](const std::string&) { return t.detection.localRetry = true; }},
        {"--sheen-threshold", "",
         "when no other look finds the marker in a frame, look again at a\n"
         "threshold just below the paper's level (halfway between Otsu's\n"
         "threshold of the frame and the mean of the pixels above it): for a\n"
         "glossy sheet under a lamp, whose sheen greys part of the border.",
         [&t](const std::string&) { return t.detection.paperRetry = true; }},
        {"--strict-history", "",
         "hold the marker over frames it is not seen in only on a region of\n"
         "about its size, ask more of a small marker found inside a larger dark\n"
         "region, and take no square more than one of whose corners misses its\n"
         "outline: an object over the marker's corner, or a patch of texture,\n"
         "gives no wrong camera.",
         [&t](const std::string&) { return t.detection.strictHistory = true; }},
        {"--robust-sides", "",
         "take a marker whose side a fingertip or a smudge dents or bumps (up to\n"
         "about a quarter of the side), or an object over the middle of one side\n"
         "hides (up to 60 % of it): its corners are those that turn the outline\n"
         "most, and each side is fitted without the points off it.",
         [&t](const std::string&) { return t.detection.robustSides = true; }},
        {"--more-squares", "",
         "when a frame's list of 30 candidate squares fills before the marker is\n"
         "among them (a busy floor or table above it in the picture), look on at\n"
         "the squares further down, 30 at a time, until a list holds the marker.",
         [&t](const std::string&) { return t.detection.moreSquares = true; }},
        {"--large-markers", "",
         "let a marker cover more of a large frame: the limits on the size of a\n"
         "dark region grow with the frame's pixel count relative to 640 x 480\n"
         "(never below the usual limits, which stop a marker wider than about\n"
         "360 pixels).",
         [&t](const std::string&) { return t.detection.largeMarkers = true; }},
        {"--refine", "",
         "fit the marker's edges to sub-pixel precision and fit the pose until\n"
         "it converges: a more accurate track, a little slower.",
         [&t](const std::string&) { return t.detection.refineEdges = t.pose.refine = true; }},
        {"--no-smoothing", "",
         "write every frame's camera as tracked, without the five-frame smoothing\n"
         "of the keys. With --refine the cameras are accurate to about a tenth of\n"
         "a degree, and averaging each frame with its neighbours bends a turning\n"
         "or shaking camera's path by more than that (half a degree to a degree\n"
         "on an orbit of 4 degrees a frame).",
         [&t](const std::string&) { return t.noSmoothing = true; }},
        {"--bridge", "",
         "keep the camera while the marker is lost (out of view, covered or\n"
         "smeared): points on the plane the marker lies on, picked and placed\n"
         "while it is seen, are followed from frame to frame, and a frame without\n"
         "the marker takes the camera they agree on, when enough of them, spread\n"
         "over the picture, do (else it stays a frame without the marker). Needs a\n"
         "table with some texture around the marker. Frames with the marker keep\n"
         "their camera; the summary counts the bridged frames. The points are\n"
         "placed from sharp frames only, and once they agree with the plane\n"
         "markedly worse than at first (points off it, seen from elsewhere), no\n"
         "frame is bridged until the marker is seen again.",
         [&t](const std::string&) { return t.bridge = true; }},
        {"--follow", "",
         "where the marker is not found, or found smeared by motion, draw it as\n"
         "the camera would see it (its picture, border and white margin) along\n"
         "the motion over the shutter predicted from the frames before, and fit\n"
         "the pose and the motion so that the drawing matches the frame; a fit\n"
         "is taken only when it matches as a found marker does and is smeared\n"
         "less far than the marker is wide. A few frames lost before the marker\n"
         "is seen again are followed back into from the frames after. The\n"
         "report calls such frames followed.",
         [&t](const std::string&) { return t.follow = true; }},
        {"--transfer", "CURVE",
         "how the footage's levels encode light, for the smeared edges of\n"
         "--refine and for --follow: srgb (the default), rec709 or linear.",
         [&t](const std::string& value) { return transferCurveNamed(value.c_str(), &t.transfer); }},
        {"--report", "FILE",
         "write one CSV line per frame to FILE: frame, status (marker, bridged,\n"
         "held for a marker the detector holds from an earlier frame, followed,\n"
         "lost), the marker's confidence and four corners in the frame, the\n"
         "reprojection error in pixels and the number of points the camera was\n"
         "fitted to.",
         [&o](const std::string& value) { return !(o.report = value).empty(); }},
        {"--marker", "PATTERN,WIDTH",
         "a further marker of the set (repeatable): its pattern file and printed\n"
         "width. The markers' layout is learned from the footage in a first pass\n"
         "(or read with --layout), then each frame's camera is fitted to every\n"
         "marker in view; the first marker stays the origin.",
         [&o](const std::string& value) { return scanMarker(value, o); }},
        {"--layout-out", "FILE",
         "with --marker: write the learned layout to FILE (CSV: marker, pattern,\n"
         "width, frames, uncertainty in degrees and in the widths' unit, pose).",
         [&o](const std::string& value) { return !(o.layoutOut = value).empty(); }},
        {"--layout", "FILE",
         "with --marker: use the layout in FILE (as --layout-out writes it)\n"
         "instead of learning it: one pass over the footage.",
         [&o](const std::string& value) { return !(o.layoutIn = value).empty(); }},
        {"--range", "FIRST:LAST",
         "track only frames FIRST to LAST of a movie (frame numbers from 0, both\n"
         "included; for a picture sequence its own numbers); the rows of\n"
         "Lumeko.cm2 are numbered from 0. For shots longer than the 1500 frames\n"
         "one run can track. A FIRST after the movie's last frame is refused; a\n"
         "LAST after it ends with that frame, with a warning.",
         [&o](const std::string& value) { return scanRange(value.c_str(), o); }},
        {"--threads", "N",
         "decoding threads for a movie (1 to 64); 1 decodes on the tracking\n"
         "thread. The output is the same for any number.",
         [&o](const std::string& value) { return scanThreads(value.c_str(), o); }},
        {"--fps", "N",
         "the frame rate of a picture sequence (default 24; \"23.976\" and the\n"
         "like are taken). A movie keeps its own rate.",
         [&o](const std::string& value) { return scanFps(value.c_str(), o); }},
        {"--help", "", "print this text and end.",
         [&o](const std::string&) { return o.help = true; }},
        {"--version", "", "print the version and end.",
         [&o](const std::string&) { return o.version = true; }},
    };
}

}  // namespace

bool isOption(const char* argument) {
    RunOptions unused;
    return findOption(optionTable(unused), argument) != nullptr;
}

int parseOptions(int argc, char** argv, RunOptions* options, std::string* bad) {
    const OptionTable table = optionTable(*options);
    const ParsedArguments parsed = parseArguments(table, argc, argv, true);
    const Option* option = findOption(table, parsed.option);
    switch (parsed.problem) {
        case OptionProblem::None:
            return argc - static_cast<int>(parsed.positional.size());
        case OptionProblem::Unknown:
            *bad = "unknown option " + parsed.argument;
            break;
        case OptionProblem::UnwantedValue:
            *bad = parsed.option + " takes no value";
            break;
        case OptionProblem::MissingValue:
        case OptionProblem::BadValue:
            *bad = parsed.option + " needs a value " + option->valueName;
            break;
    }
    return -1;
}

std::string helpText(const char* version) {
    std::string text = std::string("Lumeko ver.") + version +
                       "\n\n"
                       "Usage: Lumeko [options] <pattern_file> <pattern_width> <cam_no> <kind> "
                       "<background_file>\n"
                       " cam_no 0:STD_CAMERA, 1:dolly#1, 2:dolly#2 ...\n"
                       " kind 'M':movie, 'I':image\n"
                       "\n"
                       "Tracks the marker of <pattern_file>, printed <pattern_width> wide, in a\n"
                       "movie or a JPEG or PNG still (kind I), with the camera of\n"
                       "./Data/camera_para.dat, and writes the camera's move to Lumeko.cm2 in\n"
                       "the working folder.\n"
                       "With kind M, <background_file> may also name a numbered picture\n"
                       "sequence (JPEG, PNG, TIFF, OpenEXR, DPX, ...): plate.%04d.exr or\n"
                       "plate.####.exr, from its lowest number to its highest; its first\n"
                       "number goes to Lumeko.cm2.plate for lumeko-export.\n"
                       "\n"
                       "Options (before the five arguments):\n";
    RunOptions unused;
    text += optionHelp(optionTable(unused), 0);
    text +=
        "\n"
        "On an error Lumeko prints the reason on the error stream and ends with\n"
        "status 1; when standard input is a terminal it first waits for the space\n"
        "bar (\"--- HIT SPACE KEY ---\"), otherwise it goes on at once.\n";
    return text;
}
