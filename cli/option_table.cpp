#include "cli/option_table.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

Option heading(const char* text) {
    return {"", "", text, nullptr};
}

Option flag(const char* name, const char* help, bool& target) {
    return {name, "", help, [&target](const std::string&) { return target = true; }};
}

Option textOption(const char* name, const char* valueName, const char* help, std::string& target,
                  bool nonEmpty) {
    return {name, valueName, help, [&target, nonEmpty](const std::string& value) {
                target = value;
                return !nonEmpty || !value.empty();
            }};
}

Option intOption(const char* name, const char* valueName, const char* help, int& target, int least,
                 int most) {
    return {name, valueName, help, [&target, least, most](const std::string& value) {
                int number = 0;
                if (!parseInt(value, number) || number < least || number > most)
                    return false;
                target = number;
                return true;
            }};
}

Option doubleOption(const char* name, const char* valueName, const char* help, double& target,
                    bool (*check)(double)) {
    return {name, valueName, help, [&target, check](const std::string& value) {
                double number = 0.0;
                if (!parseDouble(value, number) || (check != nullptr && !check(number)))
                    return false;
                target = number;
                return true;
            }};
}

bool parseDouble(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(number))
        return false;
    value = number;
    return true;
}

bool parseInt(const std::string& text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || number < INT_MIN || number > INT_MAX)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool parseNumbers(const std::string& text, size_t least, size_t most, double* values, size_t& count,
                  char separator) {
    std::vector<double> parsed;
    for (size_t start = 0; start <= text.size() && parsed.size() <= most;) {
        const size_t end = std::min(text.find(separator, start), text.size());
        if (!parseDouble(text.substr(start, end - start), parsed.emplace_back()))
            return false;
        start = end + 1;
    }
    if (parsed.size() < least || parsed.size() > most)
        return false;
    std::copy(parsed.begin(), parsed.end(), values);
    count = parsed.size();
    return true;
}

bool parseDoubleList(const std::string& text, int count, double* values) {
    size_t parsed = 0;
    return count > 0 && parseNumbers(text, static_cast<size_t>(count), static_cast<size_t>(count),
                                     values, parsed);
}

bool positive(double value) {
    return value > 0.0;
}

bool notNegative(double value) {
    return value >= 0.0;
}

bool parseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    int w = 0, h = 0;
    if (x == std::string::npos || !parseInt(text.substr(0, x), w) ||
        !parseInt(text.substr(x + 1), h))
        return false;
    width = w;
    height = h;
    return true;
}

const Option* findOption(const OptionTable& table, const std::string& argument) {
    const std::string name = argument.substr(0, argument.find('='));
    for (const Option& option : table)
        if (!option.name.empty() && option.name == name)
            return &option;
    return nullptr;
}

namespace {

// Takes the option argv[i] names, and its value; false with the problem set.
bool takeOption(const OptionTable& table, int argc, char** argv, int& i, ParsedArguments& parsed) {
    parsed.argument = argv[i++];
    const size_t equals = parsed.argument.find('=');
    parsed.option = parsed.argument.substr(0, equals);
    const Option* option = findOption(table, parsed.argument);
    if (option == nullptr) {
        parsed.problem = OptionProblem::Unknown;
        return false;
    }
    if (option->valueName.empty()) {
        parsed.problem =
            equals != std::string::npos ? OptionProblem::UnwantedValue : OptionProblem::None;
        return equals == std::string::npos && option->take("");
    }
    if (equals != std::string::npos) {
        parsed.value = parsed.argument.substr(equals + 1);
    } else if (i < argc) {
        parsed.value = argv[i++];
    } else {
        parsed.problem = OptionProblem::MissingValue;
        return false;
    }
    parsed.problem = option->take(parsed.value) ? OptionProblem::None : OptionProblem::BadValue;
    return parsed.problem == OptionProblem::None;
}

}  // namespace

ParsedArguments parseArguments(const OptionTable& table, int argc, char** argv, bool leadingOnly) {
    ParsedArguments parsed;
    int i = 1;
    while (i < argc) {
        const std::string argument = argv[i];
        const bool option = argument.size() > 2 && argument.compare(0, 2, "--") == 0;
        if (leadingOnly && argument == "--") {
            i++;
            break;
        }
        if (leadingOnly && !option)
            break;
        if (!option) {
            parsed.positional.push_back(argument);
            i++;
        } else if (!takeOption(table, argc, argv, i, parsed)) {
            return parsed;
        }
    }
    for (; i < argc; i++)
        parsed.positional.emplace_back(argv[i]);
    parsed.option.clear();
    parsed.argument.clear();
    parsed.value.clear();
    return parsed;
}

std::string optionHelp(const OptionTable& table, size_t column) {
    std::string text;
    for (const Option& option : table) {
        std::string head = option.name.empty() ? "" : "  " + option.name;
        if (!option.valueName.empty())
            head += " " + option.valueName;
        const std::string indent(column == 0 ? 6 : column, ' ');
        bool first = true;
        if (option.name.empty() || column == 0 || head.size() + 1 > column) {
            text += option.name.empty() ? option.help + "\n" : head + "\n";
            if (option.name.empty())
                continue;
            first = false;
        }
        for (size_t start = 0; start < option.help.size();) {
            const size_t end = std::min(option.help.find('\n', start), option.help.size());
            text += (first ? head + std::string(column - head.size(), ' ') : indent) +
                    option.help.substr(start, end - start) + "\n";
            first = false;
            start = end + 1;
        }
    }
    return text;
}
