// The camera-motion file written from the key table (the table's smoothing:
// key_smoothing_test.cpp; its size: the tracker tests).

#include "app/key_table.h"
#include "app/camera_motion.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Keys = std::array<const char*, 6>;  // one row's values, rotateZ to translateX

const std::string DOLLY =  // "ドリーカメラ" in UTF-8
    "\xE3\x83\x89\xE3\x83\xAA\xE3\x83\xBC\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9";
const Keys STANDARD_NAMES = {"roll", "pitch", "yaw", "dollyZ", "dollyY", "dollyX"};
const Keys DOLLY_NAMES = {"zrot", "xrot", "yrot", "ztran", "ytran", "xtran"};

// The whole camera-motion file, byte for byte.
std::string expectedFile(const std::string& camera, const Keys& names, int userCreated,
                         const std::vector<Keys>& rows) {
    const Keys channels = {"rotateZ",    "rotateX",    "rotateY",
                           "translateZ", "translateY", "translateX"};
    auto key = [](size_t i, const char* value) {
        return "\t\t\t\tk  " + std::to_string(i) + "  " + value +
               "\n\t\t\t\tsl  1\n\t\t\t\tcon\n\t\t\t\tsm\n";
    };
    std::string text =
        "{\n\nversion\n\t{\n\tnumber 7\n\t}\n\nclearFigureKeys " + std::to_string(rows.size()) +
        "\n\ncamera " + camera +
        "\n\t{\n\tchannels\n\t\t{\n\t\tfocal focal\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n" +
        key(0, "30.000000") + "\t\t\t\t}\n\t\t\t}\n";
    for (int c = 0; c < 6; c++) {
        text += std::string("\t\t") + channels[c] + " " + names[c] +
                "\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n";
        for (size_t i = 0; i < rows.size(); i++)
            text += key(i, rows[i][c]);
        text += "\t\t\t\t}\n";
        if (c >= 3)
            text += c < 5 ? "\t\t\ttrackingScaleMult 1.000000\n" : "\t\t\ttrackingScaleMult 1\n";
        text += "\t\t\t}\n";
    }
    return text + "\t\t}\n\tcameraModel real\n\tuserCreated " + std::to_string(userCreated) +
           "\n\t}\n\ndoc\n\t{\n\tuseCamera " + camera + "\n\t}\n}\n";
}

const std::vector<Keys> TWO_ROWS = {
    {"-3.500000", "1234567.125000", "0.000001", "-0.000000", "100000000000000000000.000000",
     "2.000000"},
    {"0.000000", "-45.000000", "0.000000", "-0.000000", "-9.999999", "0.000000"}};

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

// Each write replaces the earlier file, keeping its permissions.
TEST_F(CameraMotionFile, EveryKindOfCameraNumberAndAnEmptyTable) {
    fs::permissions(dir.file("Lumeko.cm2"), fs::perms(0640));
    EXPECT_EQ(write(0), expectedFile("STD_CAMERA", STANDARD_NAMES, 0, TWO_ROWS));
    EXPECT_EQ(write(1), expectedFile(DOLLY, DOLLY_NAMES, 1, TWO_ROWS));
    EXPECT_EQ(write(3), expectedFile(DOLLY + " 2", DOLLY_NAMES, 1, TWO_ROWS));
    EXPECT_EQ(write(-5), expectedFile(DOLLY, DOLLY_NAMES, 1, TWO_ROWS));
    EXPECT_EQ(write(2147483647), expectedFile(DOLLY + " 2147483646", DOLLY_NAMES, 1, TWO_ROWS));
    table->count = 0;
    EXPECT_EQ(write(0), expectedFile("STD_CAMERA", STANDARD_NAMES, 0, {}));
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
