#include "app/camera_motion.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/test_support.h"

namespace {

// "ドリーカメラ" in UTF-8.
const std::string DOLLY =
    "\xE3\x83\x89\xE3\x83\xAA\xE3\x83\xBC\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9";

const char* const EMPTY_TABLE_FOR_CAMERA_0 =
    "{\n"
    "\n"
    "version\n"
    "\t{\n"
    "\tnumber 7\n"
    "\t}\n"
    "\n"
    "clearFigureKeys 0\n"
    "\n"
    "camera STD_CAMERA\n"
    "\t{\n"
    "\tchannels\n"
    "\t\t{\n"
    "\t\tfocal focal\n"
    "\t\t\t{\n"
    "\t\t\tkeys\n"
    "\t\t\t\t{\n"
    "\t\t\t\tk  0  30.000000\n"
    "\t\t\t\tsl  1\n"
    "\t\t\t\tcon\n"
    "\t\t\t\tsm\n"
    "\t\t\t\t}\n"
    "\t\t\t}\n"
    "\t\trotateZ roll\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n\t\t\t\t}\n\t\t\t}\n"
    "\t\trotateX pitch\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n\t\t\t\t}\n\t\t\t}\n"
    "\t\trotateY yaw\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n\t\t\t\t}\n\t\t\t}\n"
    "\t\ttranslateZ dollyZ\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n\t\t\t\t}\n"
    "\t\t\ttrackingScaleMult 1.000000\n\t\t\t}\n"
    "\t\ttranslateY dollyY\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n\t\t\t\t}\n"
    "\t\t\ttrackingScaleMult 1.000000\n\t\t\t}\n"
    "\t\ttranslateX dollyX\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n\t\t\t\t}\n"
    "\t\t\ttrackingScaleMult 1\n\t\t\t}\n"
    "\t\t}\n"
    "\tcameraModel real\n"
    "\tuserCreated 0\n"
    "\t}\n"
    "\n"
    "doc\n"
    "\t{\n"
    "\tuseCamera STD_CAMERA\n"
    "\t}\n"
    "}\n";

// Two rows: a found one, then one without the marker.
std::string keys(const char* first, const char* second) {
    return std::string("\t\t\t\t{\n\t\t\t\tk  0  ") + first +
           "\n\t\t\t\tsl  1\n\t\t\t\tcon\n\t\t\t\tsm\n\t\t\t\tk  1  " + second +
           "\n\t\t\t\tsl  1\n\t\t\t\tcon\n\t\t\t\tsm\n\t\t\t\t}\n";
}

std::string twoRowFile(const std::string& name, const char* const channelNames[6], int user) {
    return "{\n\nversion\n\t{\n\tnumber 7\n\t}\n\nclearFigureKeys 2\n\ncamera " + name +
           "\n\t{\n\tchannels\n\t\t{\n\t\tfocal focal\n\t\t\t{\n\t\t\tkeys\n\t\t\t\t{\n"
           "\t\t\t\tk  0  30.000000\n\t\t\t\tsl  1\n\t\t\t\tcon\n\t\t\t\tsm\n\t\t\t\t}\n\t\t\t}\n"
           "\t\trotateZ " +
           channelNames[0] + "\n\t\t\t{\n\t\t\tkeys\n" + keys("-3.500000", "0.000000") +
           "\t\t\t}\n\t\trotateX " + channelNames[1] + "\n\t\t\t{\n\t\t\tkeys\n" +
           keys("1234567.125000", "-45.000000") + "\t\t\t}\n\t\trotateY " + channelNames[2] +
           "\n\t\t\t{\n\t\t\tkeys\n" + keys("0.000001", "0.000000") + "\t\t\t}\n\t\ttranslateZ " +
           channelNames[3] + "\n\t\t\t{\n\t\t\tkeys\n" + keys("-0.000000", "-0.000000") +
           "\t\t\ttrackingScaleMult 1.000000\n\t\t\t}\n\t\ttranslateY " + channelNames[4] +
           "\n\t\t\t{\n\t\t\tkeys\n" + keys("100000000000000000000.000000", "-9.999999") +
           "\t\t\ttrackingScaleMult 1.000000\n\t\t\t}\n\t\ttranslateX " + channelNames[5] +
           "\n\t\t\t{\n\t\t\tkeys\n" + keys("2.000000", "0.000000") +
           "\t\t\ttrackingScaleMult 1\n\t\t\t}\n\t\t}\n\tcameraModel real\n\tuserCreated " +
           std::to_string(user) + "\n\t}\n\ndoc\n\t{\n\tuseCamera " + name + "\n\t}\n}\n";
}

const char* const STANDARD_CHANNELS[6] = {"roll", "pitch", "yaw", "dollyZ", "dollyY", "dollyX"};
const char* const DOLLY_CHANNELS[6] = {"zrot", "xrot", "yrot", "ztran", "ytran", "xtran"};

std::unique_ptr<KeyTable> twoRowTable() {
    auto table = std::make_unique<KeyTable>();
    // y = -0.0000001 is stored negated and prints as -0.000000 after rounding.
    appendKeyRow(*table, 1, 2.0, 0.0000001, 1e20, 0.0000006, 1234567.125, -3.5);
    appendKeyRow(*table, 0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0);
    return table;
}

// Runs the writer in a fresh directory and hands back what it wrote.
class CameraMotionFile : public testing::Test {
  protected:
    std::string write(const KeyTable& table, int camNo) {
        std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        writeCameraMotion(table, camNo);
        std::filesystem::current_path(previous);
        return lumeko_test::readFile(dir.file("Lumeko.cm2"));
    }
    int entryCount() const {
        int n = 0;
        for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path()))
            n++;
        return n;
    }
    lumeko_test::TempDir dir;
};

TEST_F(CameraMotionFile, EmptyTableGivesTheCompleteSkeleton) {
    KeyTable table{};
    EXPECT_EQ(write(table, 0), EMPTY_TABLE_FOR_CAMERA_0);
    EXPECT_EQ(entryCount(), 1) << "no temporary file may remain";
}

TEST_F(CameraMotionFile, RowsUnderEveryKindOfCameraNumber) {
    auto table = twoRowTable();
    EXPECT_EQ(write(*table, 0), twoRowFile("STD_CAMERA", STANDARD_CHANNELS, 0));
    EXPECT_EQ(write(*table, 1), twoRowFile(DOLLY, DOLLY_CHANNELS, 1));
    EXPECT_EQ(write(*table, 3), twoRowFile(DOLLY + " 2", DOLLY_CHANNELS, 1));
    EXPECT_EQ(write(*table, -5), twoRowFile(DOLLY, DOLLY_CHANNELS, 1));
    EXPECT_EQ(write(*table, 2147483647), twoRowFile(DOLLY + " 2147483646", DOLLY_CHANNELS, 1));
    EXPECT_EQ(entryCount(), 1);
}

TEST_F(CameraMotionFile, DecimalPointIsAFullStopInEveryLocale) {
    const char* selected = nullptr;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE", "fr_FR"}) {
        if ((selected = std::setlocale(LC_NUMERIC, name)) != nullptr)
            break;
    }
    if (selected == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    auto table = twoRowTable();
    std::string text = write(*table, 0);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, twoRowFile("STD_CAMERA", STANDARD_CHANNELS, 0));
}

TEST_F(CameraMotionFile, KeyIndexRestartsInEveryBlock) {
    auto table = std::make_unique<KeyTable>();
    for (int i = 0; i < 1500; i++)
        appendKeyRow(*table, i % 3 != 0, i, i * 0.5, -i, i, i, i);
    std::string text = write(*table, 1);
    size_t lines = 0, lastKeys = 0;
    for (size_t at = 0; (at = text.find("\t\t\t\tk  1499  ", at)) != std::string::npos; at++) {
        lastKeys++;
    }
    for (char c : text)
        lines += c == '\n';
    EXPECT_EQ(lastKeys, 6u);
    EXPECT_EQ(lines, 33u + 6u * 6u + 3u + 6u * 4u * 1500u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("\t\t\t\tk  1499  -749.500000\n"), std::string::npos);
}

TEST_F(CameraMotionFile, ReplacesThePreviousFileWithItsPermissions) {
    lumeko_test::writeFile(dir.file("Lumeko.cm2"), "old track");
    std::filesystem::permissions(dir.file("Lumeko.cm2"), std::filesystem::perms(0640));
    KeyTable table{};
    EXPECT_EQ(write(table, 0), EMPTY_TABLE_FOR_CAMERA_0);
    EXPECT_EQ(std::filesystem::status(dir.file("Lumeko.cm2")).permissions(),
              std::filesystem::perms(0640));
}

// A write that fails part-way (here the file size limit, which holds for root
// too) is reported at the close and leaves the previous file as it was.
TEST_F(CameraMotionFile, FailedWriteKeepsThePreviousFile) {
    lumeko_test::writeFile(dir.file("Lumeko.cm2"), "old track");
    auto table = twoRowTable();
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 200;
    EXPECT_EXIT(
        {
            std::freopen("/dev/null", "r", stdin);
            std::signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
            if (chdir(dir.path().c_str()) == 0)
                writeCameraMotion(*table, 0);
        },
        testing::ExitedWithCode(1), "^can not close Lumeko.cm2\n$");
    EXPECT_EQ(lumeko_test::readFile(dir.file("Lumeko.cm2")), "old track");
    EXPECT_EQ(entryCount(), 1) << "the temporary file must be removed";
}

// A "Lumeko.cm2" that cannot be replaced is reported like a file that cannot be opened.
TEST_F(CameraMotionFile, UnreplaceableTargetIsReportedAndCleanedUp) {
    std::filesystem::create_directory(dir.file("Lumeko.cm2"));
    lumeko_test::writeFile(dir.file("Lumeko.cm2/keep"), "x");
    KeyTable table{};
    EXPECT_EXIT(
        {
            std::freopen("/dev/null", "r", stdin);
            if (chdir(dir.path().c_str()) == 0)
                writeCameraMotion(table, 0);
        },
        testing::ExitedWithCode(1), "^can not open Lumeko.cm2\n$");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Lumeko.cm2")));
    EXPECT_EQ(entryCount(), 1) << "the temporary file must be removed";
}

}  // namespace
