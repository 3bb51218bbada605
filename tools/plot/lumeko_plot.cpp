// lumeko-plot: the key curves and the camera path of Lumeko.cm2 on one page.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "tools/common/image_io.h"
#include "tools/common/track_range.h"
#include "tools/plot/track_plot.h"
#include "track/camera_motion_reader.h"

namespace {

const char* const TOOL = "lumeko-plot";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-plot Lumeko.cm2 OUTPUT.png|svg|pdf [--width W] [--size WxH] [--report FILE]\n"
    "  lumeko-plot --help\n",
    "\n"
    "Draws a camera-motion file on one page: the six key curves (translateX,\n"
    "translateY, translateZ, rotateY, rotateX, rotateZ) against the frame\n"
    "number with the frames without the marker shaded, and a top and a side\n"
    "view of the camera path (in the unit of the marker width, key / 0.005)\n"
    "with the marker at the origin.\n"
    "\n",
    "Exit status: 0 on success, 1 on any error.\n",
    17,
};

struct Options {
    double markerWidth = 80.0;
    int width = 1200, height = 900;
    std::string report;
};

OptionTable optionTable(Options& o) {
    return {
        doubleOption("--width", "W", "marker width in the path views (default 80).", o.markerWidth,
                     positive),
        {"--size", "WxH", "page size in pixels (points for SVG and PDF; default 1200x900).",
         [&o](const std::string& value) {
             return parseSize(value, o.width, o.height) && o.width >= 200 && o.height >= 150 &&
                    o.width <= 10000 && o.height <= 10000;
         }},
        textOption("--report", "FILE",
                   "the report Lumeko --report wrote for the track: its bridged\n"
                   "frames are shaded blue, apart from the lost ones (red).",
                   o.report),
    };
}

int plot(const Options& o, const std::vector<std::string>& positional) {
    if (positional.size() != 2)
        return toolError(TOOL, std::string("give one Lumeko.cm2 and one OUTPUT\n") + TEXT.usage);
    const std::string &track = positional[0], &output = positional[1];
    if (refuseClash(TOOL, {output}, {track, o.report}) != 0)
        return 1;
    if (!hasSuffix(output, {".png", ".svg", ".pdf"}))
        return toolError(TOOL, output + ": the output must end in .png, .svg or .pdf");
    CameraMotion motion;
    std::string error;
    if (readCameraMotion(track, motion, error) != 0)
        return toolError(TOOL, error);
    if (const std::string beyond = rowBeyondDrawing(motion); !beyond.empty())
        return toolError(TOOL, track + ": " + beyond);
    std::vector<bool> bridged;
    if (!o.report.empty() && readBridgedRows(o.report, motion.rowCount(), bridged, error) != 0)
        return toolError(TOOL, error);
    if (writePlot(output, motion, o.markerWidth, o.width, o.height, error, bridged) != 0)
        return toolError(TOOL, error);
    const long bridgedCount = std::count(bridged.begin(), bridged.end(), true);
    std::printf("wrote %s: %d frames, %ld with the marker", output.c_str(), motion.rowCount(),
                motion.foundCount() - bridgedCount);
    if (!o.report.empty())
        std::printf(", %ld bridged", bridgedCount);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    return runTool(
        TEXT, optionTable(options), argc, argv,
        [&](const std::vector<std::string>& positional) { return plot(options, positional); });
}
