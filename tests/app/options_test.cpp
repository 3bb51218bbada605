#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "app/options.h"

namespace {

// --best turns on every improvement for real footage, each of which stays
// off without it; the options end at the first positional.
TEST(Options, BestTurnsOnEveryImprovement) {
    for (const bool best : {false, true}) {
        char program[] = "Lumeko", option[] = "--best", pattern[] = "marker.pat";
        char* argv[] = {program, best ? option : pattern, pattern};
        RunOptions options;
        std::string bad;
        EXPECT_EQ(parseOptions(3, argv, &options, &bad), best ? 2 : 1);
        const TrackerSettings& t = options.tracker;
        for (const bool on :
             {t.detection.refineEdges, t.pose.refine, t.detection.thresholdRetry,
              t.detection.largeMarkers, t.detection.localRetry, t.detection.strictHistory,
              t.detection.robustSides, t.detection.paperRetry, t.bridge, t.noSmoothing, t.follow})
            EXPECT_EQ(on, best);
    }
}

// The Blender add-on offers, beside Best, each option --best turns on, and
// the footage's transfer curve.
TEST(Options, TheAddOnOffersEveryOptionOfBest) {
    const std::string help = helpText("0");
    const size_t from = help.find("every improvement at once (");
    ASSERT_NE(from, std::string::npos);
    const std::string best = help.substr(from, help.find(')', from) - from);
    std::ifstream file(LUMEKO_SOURCE_DIR "/blender/lumeko/ui.py");
    const std::string addon{std::istreambuf_iterator<char>(file), {}};
    const std::regex flag("--[a-z-]+");
    int named = 0;
    for (auto m = std::sregex_iterator(best.begin(), best.end(), flag); m != std::sregex_iterator();
         ++m, named++)
        EXPECT_NE(addon.find('"' + m->str() + '"'), std::string::npos) << m->str();
    EXPECT_EQ(named, 11);
    EXPECT_NE(addon.find("\"--transfer\""), std::string::npos);
}

}  // namespace
