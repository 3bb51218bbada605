// lumeko-compare: how a Lumeko.cm2 measures up against the truth lumeko-render
// wrote for the footage.

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "tools/compare/track_score.h"
#include "track/camera_motion_reader.h"

namespace {

const char* const TOOL = "lumeko-compare";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-compare TRUTH.csv Lumeko.cm2 [--from F] [--rows]\n"
    "  lumeko-compare --help\n",
    "\n"
    "Compares the camera of every row of Lumeko.cm2 with the truth lumeko-render\n"
    "wrote for the footage (the key values before smoothing), row i with truth\n"
    "frame F + i (--from F, default 0: for a track made with --range F:LAST).\n"
    "\n"
    "Prints one `key value` line each:\n"
    "  frames             rows compared\n"
    "  visible            of them, frames with the whole marker in the picture\n"
    "  found              rows with the marker found\n"
    "  right              found, the marker in view and the camera within 20\n"
    "                     degrees and 20 % of the distance of the truth\n"
    "  held               found in one of the two frames after the marker left\n"
    "                     the picture (Lumeko holds a lost marker that long), the\n"
    "                     camera within those bounds\n"
    "  false              false finds: found with the marker out of view (and not\n"
    "                     held), or with the camera beyond those bounds\n"
    "  out_of_view_right  of the false finds, those out of view with the camera\n"
    "                     within the bounds\n"
    "  rotation_median, rotation_worst\n"
    "                     over the found rows: the angle between the true and the\n"
    "                     found camera orientation, degrees\n"
    "  position_median, position_worst\n"
    "                     over the found rows: the distance between the true and\n"
    "                     the found camera position, as a fraction of the true\n"
    "                     camera's distance from the marker\n"
    "An error without any found row is `-`.\n"
    "\n",
    "\n"
    "Exit status: 0 on success, 1 on any error.\n",
};

struct Options {
    int from = 0;
    bool rows = false;
};

OptionTable optionTable(Options& o) {
    return {
        intOption("--from", "F", "compare row i with truth frame F + i.", o.from, 0, INT_MAX),
        flag("--rows",
             "first print a CSV line a row: frame (in the truth), visible,\n"
             "found, verdict (right, held, false, missed: in view but not found,\n"
             "none: out of view and not found), rotation_deg, position,\n"
             "border_covered, blur_px.",
             o.rows),
    };
}

void printError(const char* key, double value) {
    if (std::isnan(value)) {
        std::printf("%s -\n", key);
    } else {
        std::printf("%s %.6g\n", key, value);
    }
}

int compare(const Options& o, const std::vector<std::string>& files) {
    if (files.size() != 2) {
        return toolError(TOOL, std::string("give the truth table and the track\n") + TEXT.usage);
    }
    std::vector<TruthRow> truth;
    CameraMotion motion;
    std::string error;
    if (readTruthTable(files[0], truth, error) != 0 ||
        readCameraMotion(files[1], motion, error) != 0) {
        return toolError(TOOL, error);
    }
    std::vector<FrameScore> frames;
    ClipScore clip;
    if (scoreTrack(truth, motion.rows, o.from, frames, clip, error) != 0) {
        return toolError(TOOL, files[1] + ": " + error);
    }
    if (o.rows) {
        std::printf("frame,visible,found,verdict,rotation_deg,position,border_covered,blur_px\n");
        for (const FrameScore& f : frames) {
            const TruthRow& t = truth[f.frame];
            const bool found = !std::isnan(f.rotation);
            std::printf("%d,%d,%d,%s,", f.frame, t.visible, found ? 1 : 0, verdictName(f.verdict));
            if (found) {
                std::printf("%.4f,%.5f", f.rotation, f.position);
            } else {
                std::printf(",");
            }
            std::printf(",%.4f,%.2f\n", t.borderCovered, t.blurPx);
        }
    }
    std::printf("frames %d\nvisible %d\nfound %d\nright %d\nheld %d\nfalse %d\n", clip.frames,
                clip.visible, clip.found, clip.right, clip.held, clip.falseFinds);
    std::printf("out_of_view_right %d\n", clip.outOfViewRight);
    printError("rotation_median", clip.rotationMedian);
    printError("rotation_worst", clip.rotationWorst);
    printError("position_median", clip.positionMedian);
    printError("position_worst", clip.positionWorst);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    return runTool(TEXT, optionTable(options), argc, argv,
                   [&](const std::vector<std::string>& files) { return compare(options, files); });
}
