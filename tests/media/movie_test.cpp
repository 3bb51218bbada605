// The movie path: conversion into frames, empty chunks, the length check, the
// frame size limit and the decode thread, each through the real program.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "media/frame_convert.h"
#include "media/movie_reader.h"
#include "tests/support/found_rows.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

namespace {

using namespace lumeko_test;
using Frame = std::vector<unsigned char>;

// Pictures of one colour, each plane's rows filled with its byte pattern, and
// the frame pixel (blue, green, red) they stand for: limited and full range
// grey and red, and packed pictures byte for byte.
struct Uniform {
    AVPixelFormat format;
    std::vector<std::string> planes;
    int blue, green, red;
};

// Every pixel of every row written (also the last pixels of rows whose width
// is no multiple of 8, which libswscale's fast path leaves out), alpha 255,
// nothing written past the frame's slack (rows of 1080 pixels, 8 more than a
// multiple of 16, run 32 bytes past the frame; tiny pictures 8).
TEST(FrameConverter, WritesWholeUnpaddedFramesOfTheRightColour) {
    const Uniform pictures[] = {
        {AV_PIX_FMT_YUV420P, {"\x7e", "\x80", "\x80"}, 128, 128, 128},
        {AV_PIX_FMT_YUV420P, {"\x51", "\x5a", "\xf0"}, 0, 0, 255},
        {AV_PIX_FMT_YUVJ420P, {"\x7e", "\x80", "\x80"}, 126, 126, 126},
        {AV_PIX_FMT_YUVJ422P, {"\x4c", "\x55", "\xff"}, 0, 0, 254},
        {AV_PIX_FMT_YUV422P, {"\x51", "\x5a", "\xf0"}, 0, 0, 255},
        {AV_PIX_FMT_YUV444P, {"\x51", "\x5a", "\xf0"}, 0, 0, 255},
        {AV_PIX_FMT_RGB24, {"\xc8\x64\x32"}, 50, 100, 200},
        {AV_PIX_FMT_BGR24, {"\x32\x64\xc8"}, 50, 100, 200},
        {AV_PIX_FMT_BGRA, {std::string("\x32\x64\xc8\x07", 4)}, 50, 100, 200},
        {AV_PIX_FMT_GRAY8, {"\x5a"}, 90, 90, 90},
    };
    const int sizes[][2] = {{161, 120}, {166, 120}, {162, 2}, {2, 3}, {640, 481}, {1080, 2}};
    for (const Uniform& u : pictures) {
        for (const auto [width, height] : sizes) {
            SCOPED_TRACE(std::string(av_get_pix_fmt_name(u.format)) + " " + std::to_string(width) +
                         "x" + std::to_string(height));
            AVFrame* picture = av_frame_alloc();
            picture->format = u.format;
            picture->width = width;
            picture->height = height;
            ASSERT_EQ(av_frame_get_buffer(picture, 0), 0);
            const int chromaRows =
                AV_CEIL_RSHIFT(height, av_pix_fmt_desc_get(u.format)->log2_chroma_h);
            for (size_t p = 0; p < u.planes.size(); p++)
                for (int i = 0; i < picture->linesize[p] * (p == 0 ? height : chromaRows); i++)
                    picture->data[p][i] =
                        u.planes[p][i % picture->linesize[p] % u.planes[p].size()];
            const size_t bytes = static_cast<size_t>(width) * height * 4;
            Frame pixels(bytes + 256, 0xAB);
            FrameConverter converter;
            const bool full = u.format == AV_PIX_FMT_YUVJ420P || u.format == AV_PIX_FMT_YUVJ422P;
            ASSERT_TRUE(converter.convert(picture->data, picture->linesize,
                                          {width, height, u.format, AVCOL_SPC_BT470BG, full},
                                          {pixels.data(), width, height}));
            const int packed = u.planes[0].size() > 1 ? 0 : 3;  // packed pictures: exactly
            for (size_t i = 0; i < bytes; i++) {
                const int expected = i % 4 == 3 ? 255 : std::array{u.blue, u.green, u.red}[i % 4];
                ASSERT_NEAR(pixels[i], expected, i % 4 == 3 ? 0 : packed) << "byte " << i;
            }
            for (size_t i = bytes + FRAME_CONVERT_SLACK; i < pixels.size(); i++)
                ASSERT_EQ(pixels[i], 0xAB) << "written past the slack at " << i - bytes;
            av_frame_free(&picture);
        }
    }
}

// Every frame a reader delivers, with its size, or "failed" / "refused".
std::vector<Frame> readAll(MovieReader& reader, InputFailure opened) {
    if (opened != InputFailure::None || reader.prepare() != InputFailure::None)
        return {Frame{'r'}};
    std::vector<Frame> frames;
    const FrameImage* frame = nullptr;
    for (ReadResult read; (read = reader.next(&frame)) != ReadResult::End;) {
        if (read == ReadResult::Failed)
            return {Frame{'f'}};
        Frame& copy = frames.emplace_back(frame->pixels,
                                          frame->pixels + size_t{4} * frame->width * frame->height);
        copy.push_back(static_cast<unsigned char>(frame->width));
    }
    return frames;
}

// A movie read from memory gives the frames, size, rate and length the same
// file gives (a container that seeks and one that is read straight through),
// and bytes that are no movie are refused as the file is.
TEST(MovieFromMemory, GivesWhatTheFileGives) {
    TempDir dir;
    const std::vector<Frame> scenes = markerScenes({true, false, true}, 160);
    writeMovie(dir.file("mjpeg.avi"), {160, SCENE_HEIGHT, 25, 1, MovieCodec::Mjpeg}, scenes, {1});
    writeMovie(dir.file("h264.mkv"), {160, SCENE_HEIGHT, 30, 1, MovieCodec::H264}, scenes);
    writeFile(dir.file("text.avi"), "RIFF, but not a movie\n");
    for (const auto& [name, count] :
         {std::pair{"mjpeg.avi", 3}, {"h264.mkv", 3}, {"text.avi", 1}}) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(dir.file(name));
        MovieReader fromFile, fromMemory;
        fromFile.setThreads(1);
        const std::vector<Frame> expected =
            readAll(fromFile, fromFile.open(dir.file(name).c_str()));
        const std::vector<Frame> frames = readAll(
            fromMemory,
            fromMemory.openMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        EXPECT_EQ(expected.size(), static_cast<size_t>(count));
        EXPECT_TRUE(frames == expected);
        EXPECT_EQ(std::tuple(fromMemory.info().width, fromMemory.info().rate,
                             fromMemory.info().length, fromMemory.repeatedFrames()),
                  std::tuple(fromFile.info().width, fromFile.info().rate, fromFile.info().length,
                             fromFile.repeatedFrames()));
    }
    // A list naming another movie opens from the file, but a movie in memory
    // opens nothing more, not even from the working folder.
    writeFile(dir.file("list.ffconcat"), "ffconcat version 1.0\nfile mjpeg.avi\n");
    const std::string list = readFile(dir.file("list.ffconcat"));
    const std::filesystem::path working = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    MovieReader fromFile, fromMemory;
    EXPECT_EQ(fromFile.open("list.ffconcat"), InputFailure::None);
    EXPECT_EQ(fromMemory.openMemory(reinterpret_cast<const uint8_t*>(list.data()), list.size()),
              InputFailure::CannotOpen);
    std::filesystem::current_path(working);
}

// Memory that runs out while a prepared movie is read or decoded (FFmpeg's
// allocations capped after the first frame; FFmpeg answers ENOMEM) fails the
// reader with OutOfMemory, on the calling thread and on the decode thread,
// instead of turning the rest into undecodable frames.
TEST(MovieReaderMemory, RunningOutWhileDecodingFailsTheReader) {
    TempDir dir;
    const std::vector<Frame> scenes = markerScenes({true, true, true, true}, 160);
    writeMovie(dir.file("mjpeg.avi"), {160, SCENE_HEIGHT, 25, 1, MovieCodec::Mjpeg}, scenes);
    writeMovie(dir.file("h264.mkv"), {160, SCENE_HEIGHT, 25, 1, MovieCodec::H264}, scenes);
    for (const char* name : {"mjpeg.avi", "h264.mkv"}) {
        for (int threads : {1, 0}) {
            SCOPED_TRACE(std::string(name) + " threads " + std::to_string(threads));
            MovieReader reader;
            reader.setThreads(threads);
            ASSERT_EQ(reader.open(dir.file(name).c_str()), InputFailure::None);
            ASSERT_EQ(reader.prepare(), InputFailure::None);
            const FrameImage* frame = nullptr;
            ASSERT_EQ(reader.next(&frame), ReadResult::Frame);
            av_max_alloc(16);
            ReadResult read = ReadResult::Frame;
            for (int i = 0; i < 4 && read == ReadResult::Frame; i++)
                read = reader.next(&frame);
            av_max_alloc(INT_MAX);
            EXPECT_EQ(read, ReadResult::Failed);
            EXPECT_EQ(reader.failure(), InputFailure::OutOfMemory);
            EXPECT_EQ(reader.lostFrames(), 0);
        }
    }
}

// The real program in a fresh directory with the scene's camera and pattern.
class MovieRun : public ::testing::Test {
  protected:
    void SetUp() override { writeSceneFiles(dir.path()); }
    // Lumeko with `options` before the positionals, and --threads as given
    // (nullptr: the reader's own choice).
    ProcessResult track(const std::string& movie, const char* threads = nullptr,
                        std::vector<std::string> options = {}) {
        std::vector<std::string> argv{LUMEKO_BINARY};
        if (threads != nullptr)
            argv.insert(argv.end(), {"--threads", threads});
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"marker.pat", "80", "0", "M", movie});
        return runProcess(dir.path(), argv);
    }
    std::string output() {
        return fileExists(dir.file("Lumeko.cm2")) ? readFile(dir.file("Lumeko.cm2")) : "";
    }
    TempDir dir;
};

// Frame storage follows what the movie holds, not what its header claims: a
// header claiming 16000 x 16000 over 161 x 120 pictures tracks them at their
// size within 1 GiB of address space.
TEST_F(MovieRun, FrameStorageFollowsThePicturesNotTheHeader) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more than the limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer reserves more than the limit";
#endif
#endif
    auto limited = [&](const std::string& movie) {
        return runProcess(
            dir.path(), {"/bin/sh", "-c",
                         "ulimit -v 1048576 && exec " LUMEKO_BINARY " marker.pat 80 0 M " + movie});
    };
    writeMovie(dir.file("claims.avi"), {SCENE_WIDTH, SCENE_HEIGHT, 25, 1, MovieCodec::Mjpeg},
               markerScenes({true, true}));
    claimAviFrameSize(dir.file("claims.avi"), 16000, 16000);
    ProcessResult result = limited("claims.avi");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("SIZE = 161, 120\n"), std::string::npos) << result.out;
    EXPECT_EQ(foundRows(output()), (std::vector<bool>{true, true}));
    // Uncompressed pictures too small for the claimed size never decode:
    // the claim is all there is, and it is refused.
    writeMovie(dir.file("raw.avi"), {SCENE_WIDTH, SCENE_HEIGHT, 25, 1, MovieCodec::RawBgr24},
               markerScenes({true, true}));
    claimAviFrameSize(dir.file("raw.avi"), 16000, 16000);
    result = limited("raw.avi");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "can not track <raw.avi>: its frames are 16000 x 16000 pixels, more than 8192 on a "
              "side\n");
}

// Scenes with the marker moving right a pixel a frame and back.
std::vector<Frame> movingScenes(int count) {
    const Frame scene = markerScenes({true}, 160)[0];
    std::vector<Frame> frames;
    for (int i = 0; i < count; i++) {
        const int shift = i % 40 < 20 ? i % 40 : 40 - i % 40;
        Frame& frame = frames.emplace_back(scene.size(), 255);
        for (int y = 0; y < SCENE_HEIGHT; y++)
            std::copy_n(&scene[y * 160 * 3], (160 - 20) * 3, &frame[(y * 160 + shift) * 3]);
    }
    return frames;
}

// The keys of one channel of a camera-motion file, in frame order.
std::vector<double> keys(const std::string& file, const std::string& channel) {
    std::istringstream lines(file.substr(file.find("\t\t" + channel + " ")));
    std::vector<double> values;
    for (std::string line; std::getline(lines, line) && line != "\t\t\t}";)
        if (line.starts_with("\t\t\t\tk  "))
            values.push_back(std::stod(line.substr(line.rfind(' '))));
    return values;
}

// --range tracks part of a movie, rows from 0, and lets a movie longer than
// the key table be tracked in parts. The pose continuity and the smoothing
// start afresh at the range's first frame, so rows are compared a few frames
// in from either end of the part: there they agree with the whole run's.
TEST_F(MovieRun, RangeTracksPartOfAMovieAsTheWholeRunDoes) {
    writeMovie(dir.file("moving.avi"), {160, SCENE_HEIGHT, 25, 1, MovieCodec::Mjpeg},
               movingScenes(120));
    ASSERT_EQ(track("moving.avi").status, 0);
    const std::string whole = output();
    ProcessResult result = track("moving.avi", nullptr, {"--range", "30:89"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string ranged = output();
    for (const char* channel :
         {"translateX", "translateY", "translateZ", "rotateX", "rotateY", "rotateZ"}) {
        SCOPED_TRACE(channel);
        const std::vector<double> all = keys(whole, channel), part = keys(output(), channel);
        ASSERT_EQ(all.size(), 120u);
        ASSERT_EQ(part.size(), 60u);
        for (int row = 5; row < 55; row++)
            EXPECT_NEAR(part[row], all[30 + row], 1e-3 * (1 + std::abs(all[30 + row])))
                << "row " << row;
    }
    // A range past the end stops at the end.
    ASSERT_EQ(track("moving.avi", nullptr, {"--range", "100:200"}).status, 0);
    EXPECT_EQ(keys(output(), "rotateX").size(), 20u);
    // Both options together give the same rows.
    ASSERT_EQ(track("moving.avi", "1", {"--threads", "3", "--range", "30:89"}).status, 0);
    EXPECT_TRUE(output() == ranged) << "--threads with --range";

    // A long movie in parts, one thread or several alike.
    std::vector<Frame> scenes = movingScenes(1600);
    writeMovie(dir.file("long.avi"), {160, SCENE_HEIGHT, 25, 1, MovieCodec::Mjpeg}, scenes);
    result = track("long.avi", "1", {"--range", "100:1599"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string part = output();
    EXPECT_EQ(keys(part, "rotateX").size(), 1500u);
    const ProcessResult threaded = track("long.avi", "3", {"--range", "100:1599"});
    EXPECT_EQ(threaded.out, result.out);
    EXPECT_EQ(threaded.err, result.err);
    EXPECT_TRUE(output() == part) << "Lumeko.cm2 differs between thread counts";
}

}  // namespace
