#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    int first;
    RunOptions options;
    std::string bad;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "Lumeko");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    Parsed parsed{0, {}, {}};
    parsed.first =
        parseOptions(static_cast<int>(argv.size()), argv.data(), &parsed.options, &parsed.bad);
    return parsed;
}

TEST(ParseOptions, OptionsBeforeThePositionalsAreTakenAndTheRestLeftAlone) {
    Parsed p = parse({"a.pat", "80", "0", "M", "m.avi"});
    EXPECT_EQ(p.first, 1);
    EXPECT_FALSE(p.options.autoThreshold || p.options.largeMarkers || p.options.refine ||
                 p.options.help || p.options.version);

    p = parse({"--auto-threshold", "--large-markers", "--refine", "a.pat", "80", "0", "M", "m"});
    EXPECT_EQ(p.first, 4);
    EXPECT_TRUE(p.options.autoThreshold && p.options.largeMarkers && p.options.refine);
    EXPECT_FALSE(p.options.help || p.options.version);

    // After the first positional, an option is a positional (the count then fails).
    p = parse({"a.pat", "--refine"});
    EXPECT_EQ(p.first, 1);
    EXPECT_FALSE(p.options.refine);

    // A lone "--" ends the options: a pattern file may begin with "--".
    p = parse({"--refine", "--", "--odd.pat", "80"});
    EXPECT_EQ(p.first, 3);
    EXPECT_TRUE(p.options.refine);

    // Single-dash arguments are positionals, as they always were.
    EXPECT_EQ(parse({"-x.pat", "80"}).first, 1);
    EXPECT_EQ(parse({"--help"}).first, 2);
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
}

TEST(ParseOptions, UnknownOrMalformedOptionsAreRefusedWithTheReason) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--auto", "a.pat"}, "unknown option --auto"},
        {{"--refine", "--Refine"}, "unknown option --Refine"},
        {{"--refine=yes", "a.pat"}, "--refine takes no value"},
        {{"---refine"}, "unknown option ---refine"},
        {{"--=x"}, "unknown option --=x"},
    };
    for (const auto& [args, reason] : cases) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.first, -1) << reason;
        EXPECT_EQ(p.bad, reason);
    }
}

}  // namespace
