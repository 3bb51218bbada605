// The camera-motion file: the writer's odd values and failures, the reader
// against the writer and its refusals. (The keys' meaning: the golden runs and
// the export tests against the renderer's truth; the key table's size: the
// tracker tests.)

#include "track/camera_motion_reader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <tuple>

#include "tests/support/test_support.h"
#include "track/camera_key.h"
#include "track/camera_motion.h"

namespace {

namespace fs = std::filesystem;

// The text the real writer makes of `table`, written in a fresh directory.
std::string written(const KeyTable& table, int camNo) {
    lumeko_test::TempDir dir;
    const fs::path home = fs::current_path();
    fs::current_path(dir.path());
    writeCameraMotion(table, camNo);
    fs::current_path(home);
    return lumeko_test::readFile(dir.file("Lumeko.cm2"));
}

CameraMotion roundTrip(const KeyTable& table, int camNo) {
    CameraMotion motion;
    const TrackResult parsed = parseCameraMotion(written(table, camNo), motion);
    EXPECT_TRUE(parsed.ok()) << lineFailureText(parsed);
    return motion;
}

// The value printed for key `row` of `channel` (its name and the key line's third word).
std::string keyValue(const std::string& text, const std::string& channel, int row) {
    const std::string key = "k  " + std::to_string(row) + "  ";
    const size_t at = text.find(key, text.find("\t\t" + channel + " ")) + key.size();
    return text.substr(at, text.find('\n', at) - at);
}

class CameraMotionFile : public testing::Test {
  protected:
    void SetUp() override {
        // y = 0.0000001 is stored negated and prints as -0.000000.
        appendKeyRow(*table,
                     keyRowOfCameraKey({2.0, 0.0000001, 1e20, 0.0000006, 1234567.125, -3.5}));
        appendKeyRow(*table, {0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0});
        lumeko_test::writeFile(dir.file("Lumeko.cm2"), "old track");
        fs::current_path(dir.path());
    }
    void TearDown() override { fs::current_path(home); }
    std::string write(int camNo) {
        EXPECT_TRUE(writeCameraMotion(*table, camNo).ok());
        return lumeko_test::readFile("Lumeko.cm2");
    }
    // In a child process, so that the file size limit stays there.
    void expectFailure(TrackFailure expected, int error, rlim_t fileSizeLimit) {
        const rlimit limit = {fileSizeLimit, fileSizeLimit};
        EXPECT_EXIT(
            {
                std::signal(SIGXFSZ, SIG_IGN);
                setrlimit(RLIMIT_FSIZE, &limit);
                const TrackResult written = writeCameraMotion(*table, 0);
                std::exit(written.failure == expected && written.error == error ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
    long entryCount() const { return std::distance(fs::directory_iterator("."), {}); }
    std::unique_ptr<KeyTable> table = std::make_unique<KeyTable>();
    const fs::path home = fs::current_path();
    lumeko_test::TempDir dir;
};

// The layout and the names for camera numbers 0 to 3 and -5 are the golden
// runs'; here the printing of odd values, each in its channel, the largest
// camera number and an empty table. Each write replaces the earlier file,
// keeping its permissions.
TEST_F(CameraMotionFile, OddValuesLargestCameraNumberAndAnEmptyTable) {
    fs::permissions(dir.file("Lumeko.cm2"), fs::perms(0640));
    const std::string text = write(0);
    const std::tuple<const char*, int, const char*> keys[] = {
        {"rotateZ", 0, "-3.500000"},
        {"rotateX", 0, "1234567.125000"},
        {"rotateY", 0, "0.000001"},
        {"translateZ", 0, "-0.000000"},
        {"translateY", 0, "100000000000000000000.000000"},
        {"translateX", 0, "2.000000"},
        {"rotateX", 1, "-45.000000"},
        {"translateZ", 1, "-0.000000"},
        {"translateY", 1, "-9.999999"},
        {"focal", 0, "30.000000"}};
    for (const auto& [channel, row, value] : keys)
        EXPECT_EQ(keyValue(text, channel, row), value) << channel << " " << row;
    const std::string dolly =  // "ドリーカメラ" in UTF-8
        "\xE3\x83\x89\xE3\x83\xAA\xE3\x83\xBC\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9";
    const std::string largest = write(2147483647);
    EXPECT_NE(largest.find("\ncamera " + dolly + " 2147483646\n"), std::string::npos);
    EXPECT_NE(largest.find("\tuseCamera " + dolly + " 2147483646\n"), std::string::npos);
    table->count = 0;
    const std::string empty = write(0);
    EXPECT_NE(empty.find("\nclearFigureKeys 0\n"), std::string::npos);
    EXPECT_EQ(empty.find("k  0  -"), std::string::npos);
    EXPECT_EQ(fs::status(dir.file("Lumeko.cm2")).permissions(), fs::perms(0640));
    EXPECT_EQ(entryCount(), 1);
}

// A write failing part-way (the file size limit holds for root too), and a
// "Lumeko.cm2" that cannot be replaced, leave the previous file and no other,
// and say why as the failing call did (not as the clean-up after it).
TEST_F(CameraMotionFile, FailedWritesKeepThePreviousFile) {
    expectFailure(TrackFailure::CannotWrite, EFBIG, 200);
    EXPECT_EQ(lumeko_test::readFile(dir.file("Lumeko.cm2")), "old track");
    EXPECT_EQ(entryCount(), 1);
    fs::remove(dir.file("Lumeko.cm2"));
    fs::create_directories(dir.file("Lumeko.cm2/keep"));
    expectFailure(TrackFailure::CannotReplace, EISDIR, RLIM_INFINITY);
    EXPECT_TRUE(fs::is_directory(dir.file("Lumeko.cm2/keep")));
    EXPECT_EQ(entryCount(), 1);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

// The reader gives back what the writer wrote (six decimals) for every
// camera number and finds the not-found rows; a malformed file is refused
// naming the line.
TEST(CameraMotionReader, ReadsBackWhatTheWriterWroteAndRefusesMalformedFiles) {
    auto table = std::make_unique<KeyTable>();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-500.0, 500.0);
    for (int i = 0; i < 40; i++) {
        appendKeyRow(*table, {i % 7 == 3 ? 0 : 1, value(random), value(random), value(random),
                              value(random), value(random), value(random)});
    }
    for (int camNo : {0, 5}) {
        const CameraMotion motion = roundTrip(*table, camNo);
        ASSERT_EQ(motion.rowCount(), 40);
        EXPECT_EQ(motion.focal, 30.0);
        EXPECT_EQ(motion.cameraName.starts_with("STD_CAMERA"), camNo == 0) << motion.cameraName;
        EXPECT_EQ(motion.foundCount(), 34);
        for (int i = 0; i < 40; i++) {
            const KeyRow &got = motion.rows[i], &put = table->rows[i];
            EXPECT_EQ(got.found, put.found) << i;
            for (double KeyRow::*v : {&KeyRow::translateX, &KeyRow::translateY, &KeyRow::translateZ,
                                      &KeyRow::rotateY, &KeyRow::rotateX, &KeyRow::rotateZ})
                EXPECT_NEAR(got.*v, put.*v, 5e-7) << i;
        }
    }
    table->count = 2;
    const std::string good = written(*table, 0);
    const std::pair<std::string, std::string> cases[] = {
        {"", "line 1: the file ends"},
        {replaced(good, "number 7", "number 8"), "line 5: expected \"number 7\""},
        {replaced(good, "clearFigureKeys 2", "clearFigureKeys 3"),
         "rotateZ has 2 keys, clearFigureKeys 3"},
        {replaced(good, "clearFigureKeys 2", "clearFigureKeys 1"), "more keys than"},
        {replaced(good, "rotateX pitch", "rotateZ roll"), "a second rotateZ channel"},
        {replaced(good, "useCamera STD_CAMERA", "useCamera other"), "not the camera"},
        {good + "}\n", "text after the end"},
        // Read no further than a line longer than any of the layout's.
        {"{\n" + std::string(5000, '7') + "\n", "line 2: longer than 4096 characters"},
    };
    CameraMotion motion;
    for (const auto& [text, message] : cases) {
        const TrackResult parsed = parseCameraMotion(text, motion);
        EXPECT_EQ(parsed.failure, TrackFailure::Malformed) << message;
        EXPECT_NE(lineFailureText(parsed).find(message), std::string::npos)
            << lineFailureText(parsed);
    }
    for (const auto& [path, reason] :
         {std::pair{"/nonexistent/Lumeko.cm2", "No such file or directory"},
          std::pair{"/", "Is a folder, not a file"}}) {
        const TrackResult read = readCameraMotion(path, motion);
        EXPECT_EQ(read.failure, TrackFailure::CannotRead);
        EXPECT_EQ(readFailureText(path, read), std::string(path) + ": cannot open: " + reason);
    }
}

}  // namespace
