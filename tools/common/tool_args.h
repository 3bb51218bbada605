#pragma once

#include <string>

// Parsing of command-line values for the helper programs. Each returns true
// only when the whole text is a valid number (or list) and leaves `value`
// unchanged otherwise.

bool parseDouble(const std::string& text, double& value);
bool parseInt(const std::string& text, int& value);
// "a,b,c": exactly `count` comma-separated numbers.
bool parseDoubleList(const std::string& text, int count, double* values);
// "640x480".
bool parseSize(const std::string& text, int& width, int& height);

// A lone "--help" or "-h" prints `usage` and `help` on standard output, a
// lone "--version" prints "<tool> <version>"; true when one of them was
// answered, and the tool then ends with status 0.
bool answerHelpOrVersion(int argc, char** argv, const char* tool, const char* usage,
                         const char* help);

// A tool's error: "<tool>: <message>" on the error stream. Returns 1, the
// status every tool ends with on an error.
int toolError(const char* tool, const std::string& message);

// The command-line errors every tool reports alike, through toolError: an
// option it does not know (its usage follows), an option without its value,
// a value the option cannot take.
int unknownOption(const char* tool, const std::string& option, const char* usage);
int missingValue(const char* tool, const std::string& option);
int badValue(const char* tool, const std::string& option, const std::string& value);

// Walks an argument list of options ("--name value" or "--name=value") and
// positional arguments: ArgWalker{argc, argv} walks argv[1] .. argv[argc - 1].
struct ArgWalker {
    int argc = 0;
    char** argv = nullptr;
    int index = 1;
    std::string name{};  // the current option's name including "--", or "" for a positional
    std::string inlineValue{};
    bool hasInlineValue = false;
};

// Moves to the next argument; false at the end. After it, `name` is set for
// an option and empty for a positional argument (then read it with `argument`).
bool nextArg(ArgWalker& walker);
std::string argument(const ArgWalker& walker);
// Takes the option's value (inline or the next argument); false when missing.
bool optionValue(ArgWalker& walker, std::string& value);
