// lumeko-pattern: makes a pattern file and a printable marker from a picture.

#include <cstdio>
#include <string>

#include "cli/tool.h"
#include "tools/common/image_io.h"
#include "tools/common/marker_picture.h"

namespace {

const char* const TOOL = "lumeko-pattern";

const ToolText TEXT = {
    TOOL,
    "Usage:\n"
    "  lumeko-pattern PICTURE [--inner] [--pattern FILE] [--print IMAGE]\n"
    "                 [--print-size PIXELS] [--margin PIXELS] [--quality Q]\n"
    "  lumeko-pattern --help\n",
    "\n"
    "PICTURE is a JPEG, PNG or PPM image. By default it shows the whole marker:\n"
    "the black square, straight and upright, perhaps with a white margin around;\n"
    "the marker's picture is the central half of the square, found automatically.\n"
    "With --inner, PICTURE is the marker's picture alone.\n"
    "\n",
    "\n"
    "At least one of --pattern and --print is needed.\n"
    "Exit status: 0 on success, 1 on any error.\n",
    20,
};

struct Options {
    std::string patternPath;
    std::string printPath;
    bool inner = false;
    int printSize = 512;
    int margin = -1;
    int quality = 95;
};

OptionTable optionTable(Options& o) {
    return {
        flag("--inner", "PICTURE is the marker's picture alone.", o.inner),
        textOption("--pattern", "FILE",
                   "write the pattern file for Lumeko: the picture averaged to\n"
                   "16 x 16 colour cells, as 3072 integers (four directions,\n"
                   "each the blue, green and red planes of 16 rows of 16).\n"
                   "Direction d is the picture turned d x 90 degrees\n"
                   "counter-clockwise.",
                   o.patternPath),
        textOption("--print", "IMAGE",
                   "write a printable marker (.jpg, .jpeg, .png or .ppm): a\n"
                   "black square with the picture in its central half, on\n"
                   "white.",
                   o.printPath),
        intOption("--print-size", "N", "width of the black square in pixels (default 512).",
                  o.printSize, 32, 20000),
        intOption("--margin", "M", "white margin around the square in pixels (default N/4).",
                  o.margin, 0, 20000),
        intOption("--quality", "Q", "JPEG quality 1..100 (default 95).", o.quality, 1, 100),
    };
}

int makePattern(const Options& options, const std::vector<std::string>& positional) {
    if (positional.size() > 1) {
        return toolError(TOOL, "more than one picture given: " + positional[1]);
    }
    if (positional.empty()) {
        return toolError(TOOL, std::string("no picture given\n") + TEXT.usage);
    }
    const std::string& input = positional[0];
    if (options.patternPath.empty() && options.printPath.empty()) {
        return toolError(TOOL, "nothing to do: give --pattern FILE and/or --print IMAGE");
    }
    if (refuseClash(TOOL, {options.patternPath, options.printPath}, {input}) != 0)
        return 1;
    RgbImage picture;
    std::string error;
    if (readPicture(input, picture, error) != 0) {
        return toolError(TOOL, error);
    }
    PictureRect rect = wholePicture(picture);
    if (!options.inner && findInnerPicture(picture, rect, error) != 0) {
        return toolError(
            TOOL, input + ": " + error + " (give the marker's inner picture alone with --inner)");
    }

    if (!options.patternPath.empty()) {
        RgbImage cells = averageDown(picture, rect, PATTERN_CELLS, PATTERN_CELLS);
        std::string text = formatPatternFile(cells);
        if (writeTextFile(options.patternPath, text, error) != 0) {
            return toolError(TOOL, error);
        }
        std::printf("wrote pattern %s\n", options.patternPath.c_str());
    }
    if (!options.printPath.empty()) {
        int margin = options.margin >= 0 ? options.margin : options.printSize / 4;
        RgbImage print = composePrintableMarker(picture, rect, options.printSize, margin);
        if (writeImage(options.printPath, print, options.quality, error) != 0) {
            return toolError(TOOL, error);
        }
        std::printf("wrote printable marker %s (%d x %d pixels, black square %d pixels)\n",
                    options.printPath.c_str(), print.width, print.height, options.printSize);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    return runTool(TEXT, optionTable(options), argc, argv,
                   [&](const std::vector<std::string>& positional) {
                       return makePattern(options, positional);
                   });
}
