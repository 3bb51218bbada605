// Memory: running out during set-up or while decoding, and inputs claiming
// more than they hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using namespace lumeko_test;

// Lumeko in `dir` under an address-space limit, stdin /dev/null.
ProcessResult runWithin(const TempDir& dir, long kilobytes, const std::string& arguments) {
    const std::string command =
        "ulimit -v " + std::to_string(kilobytes) + "; exec " + LUMEKO_BINARY + " " + arguments;
    return runProcess(dir.path(), {"/bin/sh", "-c", command});
}

// Lumeko under an address-space limit that grows in steps of a megabyte
// across its set-up (detection storage, key table, frame, decoder): every run
// ends with status 0, or status 1 after "can not malloc" and the pause, and
// never with a signal (no std::bad_alloc escapes). Below the limit at which
// the program loads at all, the loader refuses it (127) before main.
TEST(OutOfMemory, SetUpFailsWithTheDocumentedMessageAndNeverAborts) {
    if (lumeko_test::UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
    TempDir dir;
    writeSceneFiles(
        dir.path(),
        {640, 480, {{554, 0, 320, 0}, {0, 554, 240, 0}, {0, 0, 1, 0}}, {320, 240, 0, 1}});
    const int width = 1920, height = 1080;
    const std::vector<unsigned char> white(size_t{width} * height * 3, 255);
    writeJpeg(dir.file("big.jpg"), white.data(), width, height, JpegColour::Rgb);
    writeMovie(dir.file("big.avi"), {width, height, 25, 1, MovieCodec::Mjpeg}, {white});

    auto run = [&](long kilobytes, const char* kind, const char* input) {
        return runWithin(dir, kilobytes, std::string("marker.pat 80 0 ") + kind + " " + input);
    };
    // The least limit at which the program starts, to the megabyte.
    long low = 16 * 1024, high = 2048 * 1024;
    while (high - low > 1024) {
        const long mid = (low + high) / 2;
        (run(mid, "I", "big.jpg").status == 127 ? low : high) = mid;
    }
    for (const auto& [kind, input] : {std::pair{"I", "big.jpg"}, std::pair{"M", "big.avi"}}) {
        int refused = 0;
        for (long kilobytes = high; kilobytes < high + 40 * 1024; kilobytes += 1024) {
            SCOPED_TRACE(std::string(input) + " within " + std::to_string(kilobytes) + " KB");
            const ProcessResult result = run(kilobytes, kind, input);
            ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status << result.err;
            if (result.status == 1) {
                // (after the warning that the camera file is of another shape)
                EXPECT_TRUE(result.err.ends_with("\ncan not malloc\n")) << result.err;
                EXPECT_TRUE(result.out.ends_with("--- HIT SPACE KEY ---\n")) << result.out;
                refused++;
            }
        }
        EXPECT_GT(refused, 0) << input << ": the limits never reached the set-up";
    }
}

// The scene's frames, `width` wide, over a textured table (blocks of grey
// levels around the marker), which the bridge can follow while the marker is lost.
std::vector<std::vector<unsigned char>> texturedScenes(const std::vector<bool>& markers,
                                                       int width) {
    std::vector<std::vector<unsigned char>> frames = markerScenes(markers, width);
    for (std::vector<unsigned char>& frame : frames)
        for (int y = 0; y < SCENE_HEIGHT; y++)
            for (int x = 0; x < width; x++) {
                const bool marker = x >= 40 && x < 120 && y >= 20 && y < 100;
                const unsigned level = (x / 6 * 2654435761u ^ y / 6 * 40503u) % 200 + 40;
                if (!marker)
                    std::fill_n(&frame[(static_cast<size_t>(y) * width + x) * 3], 3, level);
            }
    return frames;
}

// Whatever a library throws, a run ends with status 0 or 1, never with a
// signal: Lumeko --best (the bridge's OpenCV among them) on a small clip
// under address-space limits a megabyte apart, below the least at which the
// clip is tracked; where memory runs out, earlier outputs are kept.
TEST(OutOfMemory, BestOnAClipEndsWithAStatusUnderEveryLimit) {
    if (lumeko_test::UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
    TempDir dir;
    writeSceneFiles(dir.path());
    writeMovie(dir.file("clip.avi"), {320, SCENE_HEIGHT, 25, 1, MovieCodec::Mjpeg},
               texturedScenes({true, true, true, true, false, false, false, true}, 320));
    writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    auto run = [&](long kilobytes) {
        return runWithin(dir, kilobytes, "--best marker.pat 80 0 M clip.avi");
    };
    long low = 16 * 1024, high = 2048 * 1024;  // the least limit at which it tracks, to 1 MB
    while (high - low > 1024) {
        const long mid = (low + high) / 2;
        (run(mid).status == 0 ? high : low) = mid;
    }
    writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    int refused = 0;
    for (long kilobytes = high - 1024; kilobytes > high - 32 * 1024; kilobytes -= 1024) {
        SCOPED_TRACE(std::to_string(kilobytes) + " KB");
        const ProcessResult result = run(kilobytes);
        ASSERT_TRUE(result.status == 0 || result.status == 1 || result.status == 127)
            << result.status << result.err;
        if (result.status == 1) {
            EXPECT_EQ(readFile(dir.file("Lumeko.cm2")), "earlier track\n");
            refused++;
        } else {
            writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
        }
    }
    EXPECT_GT(refused, 0) << "the limits never reached the run";
}

// A tiny still whose header (SOF0) claims a picture beyond the side limit (a
// frame of 16384 x 16384 is 1 GiB) is refused from its header, within 512 MiB
// of address space: the message, the pause, status 1, the earlier track kept.
TEST(OutOfMemory, AStillClaimingAHugePictureIsRefusedBeforeAllocatingIt) {
    if (lumeko_test::UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
    TempDir dir;
    writeSceneFiles(dir.path());
    writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    const std::vector<unsigned char> grey(8 * 8, 90);
    writeJpeg(dir.file("small.jpg"), grey.data(), 8, 8, JpegColour::Grey);
    for (const auto& [width, height] : {std::pair{16384, 16384}, {46000, 46000}, {8193, 8}}) {
        std::string huge = readFile(dir.file("small.jpg"));
        const size_t frame = huge.find("\xFF\xC0");
        for (int i = 0; i < 4; i++)  // height, width: two bytes each, big-endian
            huge[frame + 5 + i] = static_cast<char>((i < 2 ? height : width) >> (i % 2 ? 0 : 8));
        writeFile(dir.file("huge.jpg"), huge);
        const ProcessResult result = runWithin(dir, 512 * 1024, "marker.pat 80 0 I huge.jpg");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "can not track huge.jpg: the picture is " + std::to_string(width) +
                                  " x " + std::to_string(height) +
                                  " pixels, more than 8192 on a side\n");
        EXPECT_EQ(result.out, "--- HIT SPACE KEY ---\n");
        EXPECT_EQ(readFile(dir.file("Lumeko.cm2")), "earlier track\n");
    }
}

}  // namespace
