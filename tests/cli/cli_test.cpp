#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "cli/option_table.h"
#include "cli/tool.h"

namespace {

struct Settings {
    bool flag = false;
    int count = 0;
    std::string name;
};

OptionTable table(Settings& s) {
    return {heading("Group:"), flag("--flag", "a flag", s.flag),
            intOption("--count", "N", "a count\nof 1 to 9", s.count, 1, 9),
            textOption("--a-long-option-name", "FILE", "a name", s.name)};
}

ParsedArguments parse(Settings& s, std::vector<std::string> words, bool leadingOnly) {
    std::vector<char*> argv;
    words.insert(words.begin(), "program");
    for (std::string& word : words)
        argv.push_back(word.data());
    return parseArguments(table(s), static_cast<int>(argv.size()), argv.data(), leadingOnly);
}

// Options as the tools take them (mixed with positionals) and as Lumeko does
// (first, "--" ending them), and each problem with the option it names.
TEST(OptionTable, ReadsOptionsAndNamesTheFirstProblem) {
    const struct {
        std::vector<std::string> words;
        bool leadingOnly;
        OptionProblem problem;
        std::string option, value;
        std::vector<std::string> positional;
        int count = 0;
    } cases[] = {
        {{"a", "--count", "3", "b", "--flag"}, false, OptionProblem::None, "", "", {"a", "b"}, 3},
        {{"--count=3", "--flag", "a", "--flag", "--"},
         true,
         OptionProblem::None,
         "",
         "",
         {"a", "--flag", "--"},
         3},
        {{"--", "--flag"}, true, OptionProblem::None, "", "", {"--flag"}},
        {{"a", "--", "b"}, false, OptionProblem::None, "", "", {"a", "--", "b"}},
        {{"--bogus=1", "a"}, false, OptionProblem::Unknown, "--bogus", "", {}},
        {{"--count"}, false, OptionProblem::MissingValue, "--count", "", {}},
        {{"--count", "10"}, false, OptionProblem::BadValue, "--count", "10", {}},
        {{"--count=x1"}, true, OptionProblem::BadValue, "--count", "x1", {}},
        {{"--flag=1"}, false, OptionProblem::UnwantedValue, "--flag", "", {}},
    };
    for (const auto& c : cases) {
        Settings s;
        const ParsedArguments parsed = parse(s, c.words, c.leadingOnly);
        EXPECT_EQ(parsed.problem, c.problem) << c.words[0];
        EXPECT_EQ(parsed.option, c.option) << c.words[0];
        EXPECT_EQ(parsed.value, c.value) << c.words[0];
        if (c.problem == OptionProblem::None) {
            EXPECT_EQ(parsed.positional, c.positional) << c.words[0];
            EXPECT_EQ(s.count, c.count) << c.words[0];
        }
    }
}

// The help beside a column, an option too long for it on a line of its own;
// or below each option, indented by six.
TEST(OptionTable, MakesTheHelpText) {
    Settings s;
    EXPECT_EQ(optionHelp(table(s), 16),
              "Group:\n"
              "  --flag        a flag\n"
              "  --count N     a count\n"
              "                of 1 to 9\n"
              "  --a-long-option-name FILE\n"
              "                a name\n");
    EXPECT_EQ(optionHelp({flag("--flag", "a flag\nmore", s.flag)}, 0),
              "  --flag\n      a flag\n      more\n");
}

// Whatever a tool's work throws ends it with a message and status 1.
TEST(Tool, EndsWithAMessageWhateverItsWorkThrows) {
    char name[] = "tool", argument[] = "x";
    char* argv[] = {name, argument};
    const ToolText text = {"tool", "Usage: tool X\n", "", ""};
    const struct {
        std::function<int(const std::vector<std::string>&)> body;
        std::string message;
    } cases[] = {
        {[](const std::vector<std::string>&) -> int { throw std::bad_alloc(); },
         "tool: out of memory\n"},
        {[](const std::vector<std::string>&) -> int { throw std::runtime_error("it broke"); },
         "tool: stopped by a failure in a library: it broke\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(runTool(text, {}, 2, argv, c.body), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    }
}

}  // namespace
