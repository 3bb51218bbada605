#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using lumeko_test::words;

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
    // Millimetres: fx = F x W / S, fy = F x H / sensor height (by default square pixels).
    for (const auto& [sensor, rows] :
         {std::pair{"36", "622.22222 0.00000 320.00000 0.00000 \n0.00000 622.22222 "},
          std::pair{"36 --sensor-height 24",
                    "622.22222 0.00000 320.00000 0.00000 \n0.00000 700.00000 "}}) {
        const auto args = words("write mm.dat --size 640x480 --focal-mm 35 --sensor-width " +
                                std::string(sensor));
        EXPECT_NE(run(args).out.find(rows), std::string::npos) << sensor;
    }
    EXPECT_EQ(run({"print", "missing.dat"}).status, 1);
    // A text file in place of a camera file: refused with Lumeko's message and a reason.
    std::string text;
    for (int line = 0; line < 20; line++)
        text += "fx 554.256 fy 554.256 cx 320 cy 240\n";
    lumeko_test::writeFile(dir.file("text.dat"), text);
    const auto textRun = run({"print", "text.dat"});
    EXPECT_EQ(textRun.status, 1);
    EXPECT_EQ(textRun.out, "");
    EXPECT_EQ(textRun.err.rfind("lumeko-camera: can not load camera parameter <text.dat>\n"
                                "text.dat: record 1 of 5: the third row of the projection matrix",
                                0),
              0u)
        << textRun.err;

    for (const char* nonsense :
         {"--size 0x480 --hfov 60", "--focal -5,500", "--focal 500,0", "--hfov 60 --distortion 1,0",
          "--hfov 180", "--focal nan,500", "", "--hfov 60 --centre 641,240",
          "--hfov 60 --distortion 1e156,1", "--hfov 60 --distortion 93,1", "--focal-mm 35",
          "--hfov 60 --focal-mm 35 --sensor-width 36"}) {
        const auto refused = run(words("write bad.dat --size 640x480 " + std::string(nonsense)));
        EXPECT_EQ(refused.status, 1) << nonsense;
        EXPECT_FALSE(refused.err.empty()) << nonsense;
        EXPECT_FALSE(lumeko_test::fileExists(dir.file("bad.dat"))) << nonsense;
    }
}

}  // namespace
