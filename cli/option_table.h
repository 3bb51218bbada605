#pragma once

#include <functional>
#include <string>
#include <vector>

// One option of a command line: its name ("--output"), the name of its value
// ("FILE"; empty for a flag), what it does (lines separated by '\n', for the
// help text) and how its value is taken (false: a value it cannot take; a
// flag's is called with ""). An entry without a name is a heading of the help.
struct Option {
    std::string name;
    std::string valueName;
    std::string help;
    std::function<bool(const std::string& value)> take;
};
using OptionTable = std::vector<Option>;

Option heading(const char* text);
Option flag(const char* name, const char* help, bool& target);
// Any value, or with `nonEmpty` any but "".
Option textOption(const char* name, const char* valueName, const char* help, std::string& target,
                  bool nonEmpty = false);
// A whole number from `least` to `most`.
Option intOption(const char* name, const char* valueName, const char* help, int& target, int least,
                 int most);
// A finite number that `check` (when given) accepts.
Option doubleOption(const char* name, const char* valueName, const char* help, double& target,
                    bool (*check)(double) = nullptr);

// Values of options and arguments. Each is true only when the whole text is
// a valid value and leaves its target unchanged otherwise.
bool parseDouble(const std::string& text, double& value);  // finite
bool parseInt(const std::string& text, int& value);
// "a,b,c": exactly `count` comma-separated numbers.
bool parseDoubleList(const std::string& text, int count, double* values);
// "a,b[,c...]": from `least` to `most` numbers split at `separator` into
// `values`, their number into `count`.
bool parseNumbers(const std::string& text, size_t least, size_t most, double* values, size_t& count,
                  char separator = ',');
// Checks for doubleOption.
bool positive(double value);
bool notNegative(double value);
// "640x480".
bool parseSize(const std::string& text, int& width, int& height);

// What is wrong with a command line's options.
enum class OptionProblem {
    None,
    Unknown,        // no option of that name
    MissingValue,   // the option's value is missing
    BadValue,       // the option cannot take its value
    UnwantedValue,  // a flag given a value with '='
};

// A command line read against a table: the positional arguments, and the
// first problem (then `option` is its name and `argument` the whole
// argument, `value` the value it was given).
struct ParsedArguments {
    std::vector<std::string> positional;
    OptionProblem problem = OptionProblem::None;
    std::string option, argument, value;
};

// Reads argv[1] .. argv[argc - 1]: "--name value" or "--name=value" options,
// taken as they come, and positional arguments. With `leadingOnly` options
// come first: the first argument not beginning with "--" and all after it
// are positional, and a lone "--" ends the options (and is dropped);
// otherwise options and positionals mix and "--" alone is positional.
ParsedArguments parseArguments(const OptionTable& table, int argc, char** argv, bool leadingOnly);

// The option an argument names ("--name" or "--name=value"), or nullptr.
const Option* findOption(const OptionTable& table, const std::string& argument);

// The help text of a table, a line for each option and each line of its help.
// With `column` 0 the option's line stands alone and its help follows
// indented by six; otherwise the help starts at that column beside it (on
// the next line when the option reaches it).
std::string optionHelp(const OptionTable& table, size_t column);
