// What Lumeko and the tools do with their outputs: a full disk leaves every
// earlier output as it was, and an output named like one of the inputs is
// refused before anything is written.

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// The inputs every row may use: the scene's camera file and pattern, a still
// of the marker, its picture, a track of the still and its report, a picture
// sequence's plate file.
class Outputs : public testing::Test {
  protected:
    void SetUp() override {
        lumeko_test::writeSceneFiles(dir.path());
        lumeko_test::writeMarkerStill(dir.file("in.jpg"), lumeko_test::JpegColour::Rgb);
        fs::copy_file(LUMEKO_SOURCE_DIR "/Data/sample_marker_picture.ppm", dir.file("pic.ppm"));
        fs::copy_file(dir.file("Data/camera_para.dat"), dir.file("cam.dat"));
        lumeko_test::mustRun(dir.path(), {LUMEKO_BINARY, "--report", "track.csv", "marker.pat",
                                          "80", "0", "I", "in.jpg"});
        fs::rename(dir.file("Lumeko.cm2"), dir.file("track.cm2"));
        lumeko_test::writeFile(dir.file("track.cm2.plate"), "not a plate file\n");
    }

    // Runs a command line ("tool arg ..."; Lumeko by its name) in the folder,
    // the files it writes limited to `fileSize` bytes when that is not
    // negative (its messages then come through a pipe, which has no limit).
    lumeko_test::ProcessResult run(const std::string& command, long fileSize = -1) const {
        std::vector<std::string> argv;
        if (fileSize >= 0)
            argv = {"/bin/bash", "-c",
                    "set -o pipefail; prlimit --fsize=" + std::to_string(fileSize) +
                        " -- \"$@\" 2>&1 | cat",
                    "bash"};
        std::istringstream words(command);
        for (std::string word; words >> word;)
            argv.push_back(argv.size() == (fileSize >= 0 ? 4u : 0u)
                               ? (word == "Lumeko" ? LUMEKO_BINARY : LUMEKO_TOOLS_DIR "/" + word)
                               : word);
        return lumeko_test::runProcess(dir.path(), argv);
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    lumeko_test::TempDir dir;
};

// One row for each kind of output: written on a disk with no room left, the
// run fails with the system's reason, and the earlier file is byte for byte
// as it was, with no temporary file left beside it.
TEST_F(Outputs, AFullDiskLeavesTheEarlierFile) {
    // A write beyond the limit fails with EFBIG instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    const struct {
        std::string command;
        std::string output;
    } rows[] = {
        {"Lumeko marker.pat 80 0 I in.jpg", "Lumeko.cm2"},
        {"Lumeko --report r.csv marker.pat 80 0 I in.jpg", "r.csv"},
        {"lumeko-camera write c.dat --size 64x48 --hfov 60", "c.dat"},
        {"lumeko-pattern pic.ppm --inner --pattern p.pat", "p.pat"},
        {"lumeko-pattern pic.ppm --inner --print p.png", "p.png"},
        {"lumeko-render --camera cam.dat --picture pic.ppm --frames 2 --output m.avi", "m.avi"},
        {"lumeko-render --camera cam.dat --picture pic.ppm --frames 1 --output f.jpg", "f.jpg"},
        {"lumeko-detect in.jpg d.ppm --camera cam.dat --pattern marker.pat", "d.ppm"},
        {"lumeko-calibrate --board 4x3 --print-board b.png", "b.png"},
        {"lumeko-overlay in.jpg track.cm2 o.jpg --width 80", "o.jpg"},
        {"lumeko-overlay in.jpg track.cm2 o.mp4 --width 80", "o.mp4"},
        {"lumeko-overlay in.jpg track.cm2 o.avi --width 80", "o.avi"},
        {"lumeko-plot track.cm2 p.svg", "p.svg"},
        {"lumeko-plot track.cm2 p.pdf", "p.pdf"},
        {"lumeko-export track.cm2 e.glb --camera cam.dat", "e.glb"},
        {"lumeko-export track.cm2 e.gltf --camera cam.dat", "e.gltf"},
        {"lumeko-export track.cm2 e.chan --camera cam.dat", "e.chan"},
        {"lumeko-export track.cm2 e.csv", "e.csv"},
        {"lumeko-export track.cm2 e.py --camera cam.dat", "e.py"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command);
        lumeko_test::writeFile(dir.file(row.output), "an earlier file\n");
        const std::vector<std::string> before = entries();
        const lumeko_test::ProcessResult result = run(row.command, 0);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.out.find("File too large"), std::string::npos) << result.out;
        EXPECT_EQ(lumeko_test::readFile(dir.file(row.output)), "an earlier file\n");
        EXPECT_EQ(entries(), before);
        // With room the same command replaces it.
        EXPECT_EQ(run(row.command).status, 0);
        EXPECT_NE(lumeko_test::readFile(dir.file(row.output)), "an earlier file\n");
    }
}

// Memory running out anywhere in lumeko-calibrate, the tool that leans on
// OpenCV, from too little to start its libraries to enough for the whole
// run: a message and status 1 (or 0), never a signal, and never a view
// rejected for want of memory.
TEST_F(Outputs, MemoryRunningOutEndsWithAMessage) {
    if (lumeko_test::UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
    lumeko_test::mustRun(dir.path(), {LUMEKO_TOOLS_DIR "/lumeko-render", "--camera", "cam.dat",
                                      "--size", "2400x1800", "--supersample", "1", "--chessboard",
                                      "6x4", "--path", "still", "--output", "board.png"});
    int outOfMemory = 0, fitted = 0;
    for (long megabytes = 200; megabytes <= 420; megabytes += 10) {
        const lumeko_test::ProcessResult result = lumeko_test::runProcess(
            dir.path(), {"/usr/bin/prlimit", "--as=" + std::to_string(megabytes << 20), "--",
                         LUMEKO_TOOLS_DIR "/lumeko-calibrate", "--board", "6x4", "--square", "10",
                         "--print-only", "board.png"});
        SCOPED_TRACE(std::to_string(megabytes) + " MB: " + result.err);
        // 127: the loader could not map the libraries, before the tool ran.
        EXPECT_TRUE(result.status == 1 || result.status == 127) << result.status;
        EXPECT_EQ(result.out.find("Insufficient memory"), std::string::npos) << result.out;
        outOfMemory += result.err == "lumeko-calibrate: out of memory\n";
        fitted += result.err.find("too few views: 1 usable") != std::string::npos;
    }
    EXPECT_GT(outOfMemory, 0);
    EXPECT_GT(fitted, 0);
}

// Every output of every tool named like each of the tool's inputs, spelled
// another way, through a symbolic link and through a hard link: refused
// with the line naming both, status 1, every file as it was.
TEST_F(Outputs, AnOutputNamedLikeAnInputIsRefused) {
    const struct {
        std::string command;  // "@" stands for the output
        std::string input;    // the input it is named like
    } rows[] = {
        {"lumeko-pattern pic.ppm --inner --pattern @", "pic.ppm"},
        {"lumeko-pattern pic.ppm --inner --print @", "pic.ppm"},
        {"lumeko-render --camera cam.dat --picture pic.ppm --frames 1 --output @", "pic.ppm"},
        {"lumeko-render --camera cam.dat --picture pic.ppm --frames 1 --output o.png --truth @",
         "cam.dat"},
        {"lumeko-render --camera cam.dat --picture pic.ppm --table in.jpg --frames 1 --output @",
         "in.jpg"},
        {"lumeko-detect in.jpg @ --camera cam.dat --pattern marker.pat", "in.jpg"},
        {"lumeko-detect in.jpg @ --camera cam.dat --pattern marker.pat", "cam.dat"},
        {"lumeko-detect in.jpg @ --camera cam.dat --pattern marker.pat", "marker.pat"},
        {"lumeko-calibrate --board 4x3 --square 1 --output @ in.jpg", "in.jpg"},
        {"lumeko-calibrate --marker marker.pat --width 80 --output @ in.jpg", "marker.pat"},
        {"lumeko-overlay in.jpg track.cm2 @ --width 80", "in.jpg"},
        {"lumeko-overlay in.jpg track.cm2 @ --width 80 --camera cam.dat", "cam.dat"},
        {"lumeko-overlay in.jpg track.cm2 @ --width 80", "track.cm2"},
        {"lumeko-plot track.cm2 @", "track.cm2"},
        {"lumeko-plot track.cm2 @ --report track.csv", "track.csv"},
        {"lumeko-export track.cm2 @", "track.cm2"},
        {"lumeko-export track.cm2 @ --camera cam.dat", "cam.dat"},
        {"lumeko-export track.cm2 @", "track.cm2.plate"},
        {"lumeko-export track.cm2 @ --picture pic.ppm", "pic.ppm"},
        {"lumeko-export track.cm2 @ --footage in.jpg", "in.jpg"},
    };
    fs::create_directory(dir.file("sub"));
    for (const auto& row : rows) {
        // The tools choose the format by the output's name: the links get a
        // name the tool writes, the input's own spelling keeps its own.
        const std::string kind = row.command.find("lumeko-plot") == 0      ? ".svg"
                                 : row.command.find("lumeko-export") == 0  ? ".csv"
                                 : row.command.find("lumeko-overlay") == 0 ? ".mp4"
                                                                           : ".png";
        fs::remove(dir.file("link" + kind));
        fs::remove(dir.file("hard" + kind));
        fs::create_symlink(row.input, dir.file("link" + kind));
        fs::create_hard_link(dir.file(row.input), dir.file("hard" + kind));
        const std::string bytes = lumeko_test::readFile(dir.file(row.input));
        for (const std::string& output :
             {"./sub/../" + row.input, std::string("link") + kind, std::string("hard") + kind}) {
            std::string command = row.command;
            command.replace(command.find('@'), 1, output);
            SCOPED_TRACE(command);
            const std::vector<std::string> before = entries();
            const lumeko_test::ProcessResult result = run(command);
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.err.find(": " + output + " is the same file as the input " +
                                      row.input + ": choose another name for the output\n"),
                      std::string::npos)
                << result.err;
            EXPECT_EQ(lumeko_test::readFile(dir.file(row.input)), bytes);
            EXPECT_EQ(entries(), before);
        }
    }
}

}  // namespace
