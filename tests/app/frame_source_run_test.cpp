// The real Lumeko program on stills and movies made here, in a fresh working
// directory with its own camera and pattern files.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::MovieCodec;
using lumeko_test::MovieFormat;
using lumeko_test::ProcessResult;
using Frame = std::vector<unsigned char>;

constexpr int WIDTH = 161;  // rows of 483 bytes: padded in uncompressed AVI files
constexpr int HEIGHT = 120;
constexpr const char* PAUSE_PROMPT = "--- HIT SPACE KEY ---";

// The marker's picture: 16 x 16 cells, the top-left quarter dark, so that
// each quarter turn looks different.
int cellBrightness(int row, int column) {
    return row < 8 && column < 8 ? 0 : 255;
}

// Pattern file: block d is the picture turned d quarter turns
// counter-clockwise; each block has three equal planes.
std::string patternText() {
    std::ostringstream text;
    for (int turns = 0; turns < 4; turns++) {
        for (int plane = 0; plane < 3; plane++) {
            for (int r = 0; r < 16; r++) {
                for (int c = 0; c < 16; c++) {
                    int row = r, column = c;
                    for (int t = 0; t < turns; t++) {  // undo one counter-clockwise turn
                        const int previousRow = column;
                        column = 15 - row;
                        row = previousRow;
                    }
                    text << cellBrightness(row, column) << (c == 15 ? "\n" : " ");
                }
            }
        }
    }
    return text.str();
}

// A white frame (blue, green, red) with, when asked, an upright marker 64
// pixels wide: a black border a quarter of its side wide around the picture.
Frame sceneFrame(bool withMarker) {
    Frame frame(WIDTH * HEIGHT * 3, 255);
    if (!withMarker)
        return frame;
    const int left = 48, top = 28, side = 64;
    for (int y = 0; y < side; y++) {
        for (int x = 0; x < side; x++) {
            const bool inside =
                x >= side / 4 && x < side * 3 / 4 && y >= side / 4 && y < side * 3 / 4;
            const int value = inside ? cellBrightness((y - side / 4) * 16 / (side / 2),
                                                      (x - side / 4) * 16 / (side / 2))
                                     : 0;
            unsigned char* pixel = &frame[((top + y) * WIDTH + left + x) * 3];
            pixel[0] = pixel[1] = pixel[2] = static_cast<unsigned char>(value);
        }
    }
    return frame;
}

Frame toRgb(const Frame& bgr) {
    Frame rgb = bgr;
    for (size_t i = 0; i < rgb.size(); i += 3)
        std::swap(rgb[i], rgb[i + 2]);
    return rgb;
}

// The values of one channel's keys in the camera-motion file, in order.
std::vector<std::string> channelKeys(const std::string& file, const std::string& channel) {
    std::vector<std::string> keys;
    std::istringstream lines(file.substr(file.find("\t\t" + channel + " ")));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line != "\t\t\t}") {
        if (line.rfind("\t\t\t\tk  ", 0) == 0)
            keys.push_back(line.substr(line.rfind(' ') + 1));
    }
    return keys;
}

// Which rows were found: a row without the marker has rotateX -45.
std::vector<bool> foundRows(const std::string& file) {
    std::vector<bool> found;
    for (const std::string& key : channelKeys(file, "rotateX"))
        found.push_back(key != "-45.000000");
    return found;
}

class FrameSourceRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir.file("Data"));
        CameraParam camera{
            WIDTH, HEIGHT, {{160, 0, 80, 0}, {0, 160, 60, 0}, {0, 0, 1, 0}}, {80, 60, 0, 1}};
        unsigned char record[CAMERA_PARAM_RECORD_SIZE];
        arEncodeCameraParam(camera, record);
        lumeko_test::writeFile(dir.file("Data/camera_para.dat"),
                               std::string(reinterpret_cast<char*>(record), sizeof record));
        lumeko_test::writeFile(dir.file("marker.pat"), patternText());
    }

    ProcessResult run(const char* kind, const std::string& input) {
        return lumeko_test::runProcess(dir.path(),
                                       {LUMEKO_BINARY, "marker.pat", "80", "0", kind, input});
    }

    void writeMovie(const std::string& name, const MovieFormat& format,
                    const std::vector<bool>& markerFrames) {
        lumeko_test::MovieWriter writer(dir.file(name), format);
        for (bool marker : markerFrames)
            writer.write(sceneFrame(marker).data(), 3);
        writer.finish();
    }

    std::string output() { return lumeko_test::readFile(dir.file("Lumeko.cm2")); }
    bool outputExists() { return lumeko_test::fileExists(dir.file("Lumeko.cm2")); }

    lumeko_test::TempDir dir;
};

TEST_F(FrameSourceRunTest, ColourAndGreyscaleStillsGiveOneFoundKey) {
    const Frame rgb = toRgb(sceneFrame(true));
    lumeko_test::writeJpeg(dir.file("colour.jpg"), rgb.data(), WIDTH, HEIGHT,
                           lumeko_test::JpegColour::Rgb);
    Frame grey(WIDTH * HEIGHT);
    for (size_t i = 0; i < grey.size(); i++)
        grey[i] = rgb[i * 3];
    lumeko_test::writeJpeg(dir.file("grey.jpg"), grey.data(), WIDTH, HEIGHT,
                           lumeko_test::JpegColour::Grey);

    // Damage inside the picture data is repaired by the decoder with a warning.
    const std::string whole = lumeko_test::readFile(dir.file("colour.jpg"));
    lumeko_test::writeFile(dir.file("cut.jpg"), whole.substr(0, whole.size() * 4 / 5));

    for (const char* name : {"colour.jpg", "grey.jpg", "cut.jpg"}) {
        SCOPED_TRACE(name);
        const ProcessResult result = run("I", name);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("SIZE = 161, 120\n"), std::string::npos);
        EXPECT_EQ(foundRows(output()), std::vector<bool>{true});
        EXPECT_EQ(result.err, name == std::string("cut.jpg") ? "Premature end of JPEG file\n" : "");
    }
}

TEST_F(FrameSourceRunTest, MovieFramesBecomeRowsInOrderAfterTheFrameRateLine) {
    // Frames 0-2 without the marker (1 damaged), 3-4 with it: a source that
    // counted decoded frames would find the marker one row early.
    writeMovie("damaged.avi", {WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               {false, true, false, true, true});
    lumeko_test::damageAviFrame(dir.file("damaged.avi"), 1);
    ProcessResult result = run("M", "damaged.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("frame rate: 25\n--------", 0), 0u) << result.out;
    EXPECT_EQ(foundRows(output()), (std::vector<bool>{false, false, false, true, true}));
    EXPECT_EQ(result.err,
              "1 frame(s) of <damaged.avi> could not be decoded and count as not found\n");

    writeMovie("ntsc.avi", {WIDTH, HEIGHT, 30000, 1001, MovieCodec::RawBgr24}, {false, true, true});
    result = run("M", "ntsc.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("frame rate: 29\n--------", 0), 0u) << result.out;
    EXPECT_EQ(foundRows(output()), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(result.err, "");
}

TEST_F(FrameSourceRunTest, EmptyMovieWritesAFileWithoutKeys) {
    writeMovie("empty.avi", {WIDTH, HEIGHT, 25, 1, MovieCodec::RawBgr24}, {});
    const ProcessResult result = run("M", "empty.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(output().find("clearFigureKeys 0\n"), std::string::npos);
    EXPECT_TRUE(channelKeys(output(), "translateX").empty());
}

TEST_F(FrameSourceRunTest, FailingInputsEndWithStatusOneAndLeaveNoNewFile) {
    lumeko_test::writeFile(dir.file("notes.avi"), "a text file, not a movie\n");
    const Frame rgb = toRgb(sceneFrame(true));
    lumeko_test::writeJpeg(dir.file("cut.jpg"), rgb.data(), WIDTH, HEIGHT,
                           lumeko_test::JpegColour::Rgb);
    lumeko_test::writeFile(dir.file("cut.jpg"),
                           lumeko_test::readFile(dir.file("cut.jpg")).substr(0, 150));
    Frame cmyk(WIDTH * HEIGHT * 4, 30);
    lumeko_test::writeJpeg(dir.file("print.jpg"), cmyk.data(), WIDTH, HEIGHT,
                           lumeko_test::JpegColour::Cmyk);

    struct Case {
        const char* kind;
        const char* input;
        const char* message;  // start of the error stream
        bool pauses;
    };
    const Case cases[] = {
        {"M", "absent.avi", "can not AVIFileOpen <absent.avi>\n", true},
        {"M", "notes.avi", "can not AVIFile", true},
        {"I", "absent.jpg", "can not open absent.jpg\n", true},
        {"I", "print.jpg", "can not track print.jpg", true},
        {"I", "cut.jpg", "Premature end of JPEG file\n", false},  // libjpeg's own messages
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const ProcessResult result = run(c.kind, c.input);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err.rfind(c.message, 0), 0u) << result.err;
        EXPECT_FALSE(result.err.empty());
        EXPECT_EQ(result.out.find(PAUSE_PROMPT) != std::string::npos, c.pauses) << result.out;
        EXPECT_EQ(result.out.find("SIZE ="), std::string::npos) << "set up before the failure";
        EXPECT_FALSE(outputExists());
    }
}

TEST_F(FrameSourceRunTest, MovieLongerThanTheKeyTableEndsAtRow1501AndKeepsTheOldFile) {
    lumeko_test::writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    lumeko_test::MovieWriter writer(dir.file("long.avi"), {16, 16, 25, 1, MovieCodec::RawBgr24});
    const Frame white(16 * 16 * 3, 255);
    for (int i = 0; i < 1501; i++)
        writer.write(white.data(), 3);
    writer.finish();

    const ProcessResult result = run("M", "long.avi");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "rec_tbl_idx over\n");
    EXPECT_EQ(output(), "earlier track\n");
}

TEST_F(FrameSourceRunTest, TruncatedMovieEndsCleanly) {
    writeMovie("whole.avi", {WIDTH, HEIGHT, 25, 1, MovieCodec::Mjpeg},
               {true, true, true, true, true, true});
    const std::string bytes = lumeko_test::readFile(dir.file("whole.avi"));
    const size_t frameData = bytes.find("movi"), index = bytes.find("idx1");
    ASSERT_LT(frameData, index);
    lumeko_test::writeFile(dir.file("cut.avi"), bytes.substr(0, (frameData + index) / 2));
    const ProcessResult result = run("M", "cut.avi");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<bool> found = foundRows(output());
    ASSERT_EQ(found.size(), 6u);
    EXPECT_TRUE(found[0]);
    EXPECT_NE(result.err.find("could not be decoded"), std::string::npos) << result.err;
}

}  // namespace
