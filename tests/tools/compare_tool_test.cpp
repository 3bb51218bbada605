#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "tests/support/test_support.h"
#include "tools/compare/truth_table.h"
#include "track/camera_motion.h"

namespace {

// lumeko-compare's summary as key -> value.
std::map<std::string, std::string> summary(const std::string& out) {
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    for (std::string key, value; lines >> key >> value;)
        values[key] = value;
    return values;
}

// The truth of a short exit clip (the marker in view in frames 0-1, 5-6 and 10-11) and tracks
// made from it by hand, frame by frame: k the true keys, . not found, t the camera turned 30
// degrees, p its position half as far again.
TEST(CompareTool, TellsRightHeldFalseAndMissedRowsApart) {
    lumeko_test::TempDir dir;
    const std::string tools = LUMEKO_TOOLS_DIR;
    const auto run = [&](std::vector<std::string> args) {
        return lumeko_test::runProcess(dir.path(), args);
    };
    lumeko_test::mustRun(dir.path(), lumeko_test::words(tools + "/lumeko-camera write c.dat --size "
                                                                "160x120 --hfov 60"));
    lumeko_test::writeFile(dir.file("p.ppm"), "P3 1 1 255 0 0 0\n");
    lumeko_test::mustRun(dir.path(),
                         lumeko_test::words(tools + "/lumeko-render --camera c.dat --picture p.ppm "
                                                    "--path exit --frames 12 --supersample 1 "
                                                    "--output t.avi"));
    std::vector<TruthRow> truth;
    std::string error;
    ASSERT_EQ(readTruthTable(dir.file("t.csv"), truth, error), 0) << error;
    const auto track = [&](const std::string& name, const std::string& plan, int from) {
        auto table = std::make_unique<KeyTable>();
        for (size_t i = 0; i < plan.size(); ++i) {
            const Keys& k = truth.at(from + i).keys;
            const double scale = plan[i] == 'p' ? 1.5 : 1.0, turn = plan[i] == 't' ? 30.0 : 0.0;
            appendKeyRow(*table, {plan[i] != '.', k[0] * scale, k[1] * scale, k[2] * scale,
                                  k[3] + turn, k[4], k[5]});
        }
        const std::filesystem::path home = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        writeCameraMotion(*table, 0);
        std::filesystem::current_path(home);
        std::filesystem::rename(dir.file("Lumeko.cm2"), dir.file(name));
    };
    track("all.cm2", "ktk.k.p...kk", 0);
    const lumeko_test::ProcessResult all = run({tools + "/lumeko-compare", "t.csv", "all.cm2"});
    ASSERT_EQ(all.status, 0) << all.err;
    std::map<std::string, std::string> got = summary(all.out);
    const std::map<std::string, std::string> expected = {
        {"frames", "12"}, {"visible", "6"},          {"found", "7"}, {"right", "3"}, {"held", "1"},
        {"false", "3"},   {"out_of_view_right", "1"}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(got[key], value) << key;
    EXPECT_NEAR(std::stod(got["rotation_worst"]), 30.0, 0.1);
    EXPECT_NEAR(std::stod(got["position_worst"]), 0.5, 0.001);
    EXPECT_LT(std::stod(got["rotation_median"]), 0.01);

    // From frame 5 on, row by row; a track longer than the truth is refused.
    track("late.cm2", ".p...kk", 5);
    const lumeko_test::ProcessResult late =
        run({tools + "/lumeko-compare", "t.csv", "late.cm2", "--from", "5", "--rows"});
    ASSERT_EQ(late.status, 0) << late.err;
    const std::string rows =
        "\n5,1,0,missed,,,0.0000,0.00\n6,1,1,false,0.0000,0.50000,0.0000,0.00\n7,0,0,none";
    EXPECT_EQ(late.out.substr(late.out.find("\n5,"), rows.size()), rows);
    EXPECT_EQ(summary(late.out.substr(late.out.find("frames")))["right"], "2");
    EXPECT_EQ(run({tools + "/lumeko-compare", "t.csv", "all.cm2", "--from", "1"}).status, 1);
}

}  // namespace
