// The camera-motion file written from the key table (the table's smoothing:
// key_smoothing_test.cpp; its size: the tracker tests).

#include "app/key_table.h"
#include "app/camera_motion.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The value printed for key `row` of `channel` (its name and the key line's third word).
std::string keyValue(const std::string& text, const std::string& channel, int row) {
    const std::string key = "k  " + std::to_string(row) + "  ";
    const size_t at = text.find(key, text.find("\t\t" + channel + " ")) + key.size();
    return text.substr(at, text.find('\n', at) - at);
}

class CameraMotionFile : public testing::Test {
  protected:
    void SetUp() override {
        // y = -0.0000001 is stored negated and prints as -0.000000.
        appendKeyRow(*table, 1, 2.0, 0.0000001, 1e20, 0.0000006, 1234567.125, -3.5);
        appendKeyRow(*table, 0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0);
        lumeko_test::writeFile(dir.file("Lumeko.cm2"), "old track");
        fs::current_path(dir.path());
    }
    void TearDown() override { fs::current_path(home); }
    std::string write(int camNo) {
        EXPECT_EQ(writeCameraMotion(*table, camNo), CameraMotionStatus::Written);
        return lumeko_test::readFile("Lumeko.cm2");
    }
    // In a child process, so that the file size limit stays there.
    void expectFailure(CameraMotionStatus expected, rlim_t fileSizeLimit) {
        const rlimit limit = {fileSizeLimit, fileSizeLimit};
        EXPECT_EXIT(
            {
                std::signal(SIGXFSZ, SIG_IGN);
                setrlimit(RLIMIT_FSIZE, &limit);
                std::exit(writeCameraMotion(*table, 0) == expected ? 0 : 1);
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
// "Lumeko.cm2" that cannot be replaced, leave the previous file and no other.
TEST_F(CameraMotionFile, FailedWritesKeepThePreviousFile) {
    expectFailure(CameraMotionStatus::CloseFailed, 200);
    EXPECT_EQ(lumeko_test::readFile(dir.file("Lumeko.cm2")), "old track");
    EXPECT_EQ(entryCount(), 1);
    fs::remove(dir.file("Lumeko.cm2"));
    fs::create_directories(dir.file("Lumeko.cm2/keep"));
    expectFailure(CameraMotionStatus::OpenFailed, RLIM_INFINITY);
    EXPECT_TRUE(fs::is_directory(dir.file("Lumeko.cm2/keep")));
    EXPECT_EQ(entryCount(), 1);
}

}  // namespace
