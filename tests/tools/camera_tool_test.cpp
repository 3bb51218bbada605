#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

TEST(CameraTool, WritesWhatLumekoReadsBackAndRefusesNonsense) {
    lumeko_test::TempDir dir;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), std::string(LUMEKO_TOOLS_DIR) + "/lumeko-camera");
        return lumeko_test::runProcess(dir.path(), args);
    };
    // A 90 degree field of view: the focal length is half the width.
    ASSERT_EQ(run({"write", "cam.dat", "--size", "640x480", "--hfov", "90", "--centre",
                   "321.5,238.25", "--distortion", "12.5,0.995"})
                  .status,
              0);
    EXPECT_EQ(run({"print", "cam.dat"}).out,
              "--------------------------------------\n"
              "SIZE = 640, 480\n"
              "Distortion factor = 321.500000 238.250000 12.500000 0.995000\n"
              "320.00000 0.00000 321.50000 0.00000 \n"
              "0.00000 320.00000 238.25000 0.00000 \n"
              "0.00000 0.00000 1.00000 0.00000 \n"
              "--------------------------------------\n");
    EXPECT_EQ(run({"print", "missing.dat"}).status, 1);

    for (const char* nonsense :
         {"--size 0x480 --hfov 60", "--focal -5,500", "--focal 500,0", "--hfov 60 --distortion 1,0",
          "--hfov 180", "--focal nan,500", ""}) {
        std::vector<std::string> args = {"write", "bad.dat", "--size", "640x480"};
        std::istringstream words(nonsense);
        args.insert(args.end(), std::istream_iterator<std::string>(words), {});
        const auto refused = run(args);
        EXPECT_EQ(refused.status, 1) << nonsense;
        EXPECT_FALSE(refused.err.empty()) << nonsense;
        EXPECT_FALSE(lumeko_test::fileExists(dir.file("bad.dat"))) << nonsense;
    }
}

}  // namespace
