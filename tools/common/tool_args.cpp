#include "tools/common/tool_args.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool parseDouble(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    value = v;
    return true;
}

bool parseInt(const std::string& text, int& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

bool parseDoubleList(const std::string& text, int count, double* values) {
    double parsed[16];
    if (count < 1 || count > 16) {
        return false;
    }
    size_t start = 0;
    for (int i = 0; i < count; ++i) {
        size_t comma = text.find(',', start);
        bool last = i == count - 1;
        if (last != (comma == std::string::npos)) {
            return false;
        }
        std::string part = text.substr(start, last ? std::string::npos : comma - start);
        if (!parseDouble(part, parsed[i])) {
            return false;
        }
        start = comma + 1;
    }
    for (int i = 0; i < count; ++i) {
        values[i] = parsed[i];
    }
    return true;
}

bool parseSize(const std::string& text, int& width, int& height) {
    size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    int w = 0, h = 0;
    if (!parseInt(text.substr(0, x), w) || !parseInt(text.substr(x + 1), h)) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

bool nextArg(ArgWalker& walker) {
    if (walker.index >= walker.argc) {
        return false;
    }
    std::string arg = walker.argv[walker.index++];
    walker.name.clear();
    walker.inlineValue.clear();
    walker.hasInlineValue = false;
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
        size_t equals = arg.find('=');
        walker.name = arg.substr(0, equals);
        if (equals != std::string::npos) {
            walker.inlineValue = arg.substr(equals + 1);
            walker.hasInlineValue = true;
        }
    } else if (arg == "-h") {
        walker.name = "--help";
    }
    return true;
}

std::string argument(const ArgWalker& walker) {
    return walker.argv[walker.index - 1];
}

bool optionValue(ArgWalker& walker, std::string& value) {
    if (walker.hasInlineValue) {
        value = walker.inlineValue;
        return true;
    }
    if (walker.index >= walker.argc) {
        return false;
    }
    value = walker.argv[walker.index++];
    return true;
}

bool answerHelpOrVersion(int argc, char** argv, const char* tool, const char* usage,
                         const char* help) {
    if (argc != 2)
        return false;
    const std::string only = argv[1];
    if (only == "--version") {
        std::printf("%s %s\n", tool, LUMEKO_VERSION);
        return true;
    }
    if (only != "--help" && only != "-h")
        return false;
    std::fputs(usage, stdout);
    std::fputs(help, stdout);
    return true;
}

int toolError(const char* tool, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return 1;
}

int unknownOption(const char* tool, const std::string& option, const char* usage) {
    return toolError(tool, "unknown option " + option + "\n" + usage);
}

int missingValue(const char* tool, const std::string& option) {
    return toolError(tool, option + " needs a value");
}

int badValue(const char* tool, const std::string& option, const std::string& value) {
    return toolError(tool, "bad value for " + option + ": " + value);
}
