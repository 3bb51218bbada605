// lumeko-pattern: makes a pattern file and a printable marker from a picture.

#include <cstdio>
#include <string>

#include "tools/common/image_io.h"
#include "tools/common/tool_args.h"
#include "tools/pattern/marker_picture.h"

namespace {

const char* const USAGE =
    "Usage:\n"
    "  lumeko-pattern PICTURE [--inner] [--pattern FILE] [--print IMAGE]\n"
    "                 [--print-size PIXELS] [--margin PIXELS] [--quality Q]\n"
    "  lumeko-pattern --help\n";

const char* const HELP =
    "\n"
    "PICTURE is a JPEG, PNG or PPM image. By default it shows the whole marker:\n"
    "the black square, straight and upright, perhaps with a white margin around;\n"
    "the marker's picture is the central half of the square, found automatically.\n"
    "With --inner, PICTURE is the marker's picture alone.\n"
    "\n"
    "--pattern FILE    write the pattern file for Lumeko: the picture averaged to\n"
    "                  16 x 16 colour cells, as 3072 integers (four directions,\n"
    "                  each the blue, green and red planes of 16 rows of 16).\n"
    "                  Direction d is the picture turned d x 90 degrees\n"
    "                  counter-clockwise.\n"
    "--print IMAGE     write a printable marker (.jpg, .jpeg, .png or .ppm): a\n"
    "                  black square with the picture in its central half, on\n"
    "                  white.\n"
    "--print-size N    width of the black square in pixels (default 512).\n"
    "--margin M        white margin around the square in pixels (default N/4).\n"
    "--quality Q       JPEG quality 1..100 (default 95).\n"
    "\n"
    "At least one of --pattern and --print is needed.\n"
    "Exit status: 0 on success, 1 on any error.\n";

const char* const TOOL = "lumeko-pattern";

struct PatternOptions {
    std::string input;
    std::string patternPath;
    std::string printPath;
    bool inner = false;
    int printSize = 512;
    int margin = -1;
    int quality = 95;
};

int readOptions(ArgWalker& walker, PatternOptions& options) {
    while (nextArg(walker)) {
        if (walker.name.empty()) {
            if (!options.input.empty()) {
                return toolError(TOOL, "more than one picture given: " + argument(walker));
            }
            options.input = argument(walker);
            continue;
        }
        if (walker.name == "--inner") {
            options.inner = true;
            continue;
        }
        std::string value;
        if (!optionValue(walker, value)) {
            return missingValue(TOOL, walker.name);
        }
        bool ok = true;
        if (walker.name == "--pattern") {
            options.patternPath = value;
        } else if (walker.name == "--print") {
            options.printPath = value;
        } else if (walker.name == "--print-size") {
            ok = parseInt(value, options.printSize) && options.printSize >= 32 &&
                 options.printSize <= 20000;
        } else if (walker.name == "--margin") {
            ok = parseInt(value, options.margin) && options.margin >= 0 && options.margin <= 20000;
        } else if (walker.name == "--quality") {
            ok = parseInt(value, options.quality) && options.quality >= 1 && options.quality <= 100;
        } else {
            return unknownOption(TOOL, walker.name, USAGE);
        }
        if (!ok) {
            return badValue(TOOL, walker.name, value);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ArgWalker walker{argc, argv};
    PatternOptions options;
    if (answerHelpOrVersion(argc, argv, TOOL, USAGE, HELP))
        return 0;
    if (readOptions(walker, options) != 0) {
        return 1;
    }
    if (options.input.empty()) {
        return toolError(TOOL, std::string("no picture given\n") + USAGE);
    }
    if (options.patternPath.empty() && options.printPath.empty()) {
        return toolError(TOOL, "nothing to do: give --pattern FILE and/or --print IMAGE");
    }

    RgbImage picture;
    std::string error;
    if (readImage(options.input, picture, error) != 0) {
        return toolError(TOOL, error);
    }
    PictureRect rect = wholePicture(picture);
    if (!options.inner && findInnerPicture(picture, rect, error) != 0) {
        return toolError(TOOL, options.input + ": " + error +
                                   " (give the marker's inner picture alone with --inner)");
    }

    if (!options.patternPath.empty()) {
        RgbImage cells = averageDown(picture, rect, PATTERN_CELLS, PATTERN_CELLS);
        std::string text = formatPatternFile(cells);
        if (writeFileBytes(options.patternPath, reinterpret_cast<const unsigned char*>(text.data()),
                           text.size(), error) != 0) {
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
