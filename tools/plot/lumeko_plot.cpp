// lumeko-plot: the key curves and the camera path of Lumeko.cm2 on one page.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/image_io.h"
#include "tools/common/tool_args.h"
#include "tools/common/track_range.h"
#include "tools/plot/track_plot.h"
#include "track/camera_motion_reader.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-plot Lumeko.cm2 OUTPUT.png|svg|pdf [--width W] [--size WxH] [--report FILE]\n"
    "  lumeko-plot --help\n";

const char* const HELP =
    "\n"
    "Draws a camera-motion file on one page: the six key curves (translateX,\n"
    "translateY, translateZ, rotateY, rotateX, rotateZ) against the frame\n"
    "number with the frames without the marker shaded, and a top and a side\n"
    "view of the camera path (in the unit of the marker width, key / 0.005)\n"
    "with the marker at the origin.\n"
    "\n"
    "--width W     marker width in the path views (default 80).\n"
    "--size WxH    page size in pixels (points for SVG and PDF; default 1200x900).\n"
    "--report FILE the report Lumeko --report wrote for the track: its bridged\n"
    "              frames are shaded blue, apart from the lost ones (red).\n"
    "Exit status: 0 on success, 1 on any error.\n";

const char* const TOOL = "lumeko-plot";

}  // namespace

int main(int argc, char** argv) {
    if (answerHelpOrVersion(argc, argv, TOOL, USAGE, HELP))
        return 0;
    ArgWalker walker{argc, argv};
    std::vector<std::string> positional;
    double markerWidth = 80.0;
    int width = 1200, height = 900;
    std::string report;
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            positional.push_back(argument(walker));
            continue;
        }
        std::string value;
        if (walker.name != "--width" && walker.name != "--size" && walker.name != "--report")
            return unknownOption(TOOL, walker.name, USAGE);
        if (!optionValue(walker, value))
            return missingValue(TOOL, walker.name);
        if (walker.name == "--report") {
            report = value;
            continue;
        }
        const bool ok = walker.name == "--width"
                            ? parseDouble(value, markerWidth) && markerWidth > 0.0
                            : parseSize(value, width, height) && width >= 200 && height >= 150 &&
                                  width <= 10000 && height <= 10000;
        if (!ok)
            return badValue(TOOL, walker.name, value);
    }
    if (positional.size() != 2)
        return toolError(TOOL, std::string("give one Lumeko.cm2 and one OUTPUT\n") + USAGE);
    const std::string& output = positional[1];
    if (!hasSuffix(output, ".png") && !hasSuffix(output, ".svg") && !hasSuffix(output, ".pdf"))
        return toolError(TOOL, output + ": the output must end in .png, .svg or .pdf");
    CameraMotion motion;
    if (const TrackResult read = readCameraMotion(positional[0], motion); !read.ok())
        return toolError(TOOL, readFailureText(positional[0], read));
    std::string error;
    if (const std::string beyond = rowBeyondDrawing(motion); !beyond.empty())
        return toolError(TOOL, positional[0] + ": " + beyond);
    std::vector<bool> bridged;
    if (!report.empty() && readBridgedRows(report, motion.rowCount(), bridged, error) != 0)
        return toolError(TOOL, error);
    if (writePlot(output, motion, markerWidth, width, height, error, bridged) != 0)
        return toolError(TOOL, error);
    const long bridgedCount = std::count(bridged.begin(), bridged.end(), true);
    std::printf("wrote %s: %d frames, %ld with the marker", output.c_str(), motion.rowCount(),
                motion.foundCount() - bridgedCount);
    if (!report.empty())
        std::printf(", %ld bridged", bridgedCount);
    std::printf("\n");
    return 0;
}
