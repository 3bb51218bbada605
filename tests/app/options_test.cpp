#include <gtest/gtest.h>

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
        for (const bool on : {t.refine, t.autoThreshold, t.largeMarkers, t.adaptiveThreshold,
                              t.strictHistory, t.robustSides, t.bridge, t.noSmoothing})
            EXPECT_EQ(on, best);
    }
}

}  // namespace
