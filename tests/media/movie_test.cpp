// The movie path: conversion into frames, the frame size limit, the decode
// thread, ranges and picture sequences, each through the real program.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <tuple>

#include "media/frame_convert.h"
#include "media/movie_reader.h"
#include "media/sequence_name.h"
#include "media/sequence_reader.h"
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
            ASSERT_TRUE(converter
                            .convert(picture->data, picture->linesize,
                                     {width, height, u.format, AVCOL_SPC_BT470BG, full},
                                     {pixels.data(), width, height})
                            .ok());
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

MovieSettings onThreads(int threads) {
    MovieSettings settings;
    settings.threads = threads;
    return settings;
}

// Every frame a reader delivers, with its size, or "failed" / "refused".
std::vector<Frame> readAll(FrameSource& reader, const InputProblem& opened) {
    if (!opened.ok() || !reader.prepare().ok())
        return {Frame{'r'}};
    std::vector<Frame> frames;
    for (Delivery read = reader.next(); read.arrival != Arrival::End; read = reader.next()) {
        if (read.arrival == Arrival::Failed)
            return {Frame{'f'}};
        if (read.arrival != Arrival::Picture) {
            frames.push_back(Frame{'n'});
            continue;
        }
        const FrameImage* frame = read.frame;
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
    // Raw pictures too small for the size claimed never decode: three
    // positions without a picture, and no frame of 8192 x 8192 allocated.
    writeMovie(dir.file("claims.avi"), {SCENE_WIDTH, SCENE_HEIGHT, 25, 1, MovieCodec::RawBgr24},
               markerScenes({true, false, true}));
    claimAviFrameSize(dir.file("claims.avi"), 8192, 8192);
    writeFile(dir.file("text.avi"), "RIFF, but not a movie\n");
    for (const auto& [name, count] :
         {std::pair{"mjpeg.avi", 3}, {"h264.mkv", 3}, {"claims.avi", 3}, {"text.avi", 1}}) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(dir.file(name));
        MovieReader fromFile(onThreads(1)), fromMemory;
        const std::vector<Frame> expected =
            readAll(fromFile, fromFile.open(dir.file(name).c_str()));
        const std::vector<Frame> frames = readAll(
            fromMemory,
            fromMemory.openMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        EXPECT_EQ(expected.size(), static_cast<size_t>(count));
        EXPECT_TRUE(frames == expected);
        EXPECT_EQ(name == std::string("claims.avi"), frames[0] == Frame{'n'});
        EXPECT_EQ(std::tuple(fromMemory.size().width, fromMemory.rate().has_value(),
                             fromMemory.length(), fromMemory.end().repeated),
                  std::tuple(fromFile.size().width, fromFile.rate().has_value(), fromFile.length(),
                             fromFile.end().repeated));
    }
    // A list naming another movie opens from the file, but a movie in memory
    // opens nothing more, not even from the working folder.
    writeFile(dir.file("list.ffconcat"), "ffconcat version 1.0\nfile mjpeg.avi\n");
    const std::string list = readFile(dir.file("list.ffconcat"));
    const std::filesystem::path working = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    MovieReader fromFile, fromMemory;
    EXPECT_TRUE(fromFile.open("list.ffconcat").ok());
    EXPECT_EQ(
        fromMemory.openMemory(reinterpret_cast<const uint8_t*>(list.data()), list.size()).failure,
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
            MovieReader reader(onThreads(threads));
            ASSERT_TRUE(reader.open(dir.file(name).c_str()).ok());
            ASSERT_TRUE(reader.prepare().ok());
            ASSERT_EQ(reader.next().arrival, Arrival::Picture);
            av_max_alloc(16);
            Delivery read = reader.next();
            for (int i = 0; i < 3 && read.arrival == Arrival::Picture; i++)
                read = reader.next();
            av_max_alloc(INT_MAX);
            EXPECT_EQ(read.arrival, Arrival::Failed);
            EXPECT_EQ(read.problem.failure, InputFailure::OutOfMemory);
            EXPECT_EQ(reader.end().undecoded, 0);
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
    if (lumeko_test::UNDER_ADDRESS_SANITIZER)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
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
    // A range that ends on the last frame, or past it (clipped, with a
    // warning), or starts after it (refused, the earlier file kept); a
    // malformed one is a usage error.
    const std::tuple<const char*, const char*, size_t> ranges[] = {
        {"119:119", "", 1},
        {"100:200",
         "warning: --range 100:200 goes past the end of <moving.avi>: tracked frames 100 to 119\n",
         20},
        {"120:121",
         "--range 120:121 starts after the end of <moving.avi>: it has 120 frames, 0 to 119\n", 20},
    };
    for (const auto& [range, says, rows] : ranges) {
        result = track("moving.avi", nullptr, {"--range", range});
        EXPECT_EQ(result.status, *says == '-' ? 1 : 0) << range;
        EXPECT_EQ(result.err.substr(0, result.err.find("Lumeko.cm2:")), says);
        EXPECT_EQ(keys(output(), "rotateX").size(), rows) << range;
    }
    ASSERT_EQ(track("moving.avi", nullptr, {"--range", "40:40"}).status, 0);
    EXPECT_EQ(keys(output(), "rotateX"), std::vector<double>{keys(ranged, "rotateX")[10]});
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

// Every 8-bit level written at a higher depth (or as the linear light it
// stands for) comes back as that level, in each colour.
TEST(PictureSequence, HighBitDepthSamplesComeBackAtTheirLevels) {
    TempDir dir;
    Frame levels(256 * 3);  // blue x, green 255 - x, red 7x
    for (int x = 0; x < 256; x++)
        levels[3 * x] = x, levels[3 * x + 1] = 255 - x, levels[3 * x + 2] = 7 * x % 256;
    using enum PictureFormat;
    for (PictureFormat format : {Png16, Tiff16, ExrHalf, Dpx10, Bmp}) {
        SCOPED_TRACE(static_cast<int>(format));
        const std::string name = dir.file("ramp" + std::to_string(static_cast<int>(format)));
        writePicture(name + ".1", format, levels, 256, 1);
        SequenceReader reader;
        ASSERT_TRUE(reader.open((name + ".%d").c_str()).ok());
        ASSERT_TRUE(reader.prepare().ok());
        const Delivery read = reader.next();
        ASSERT_EQ(read.arrival, Arrival::Picture);
        const FrameImage* frame = read.frame;
        for (int i = 0; i < 256 * 3; i++)
            ASSERT_EQ(frame->pixels[i / 3 * 4 + i % 3], levels[i]) << "sample " << i;
    }
}

// A picture sequence tracks as the movie of the same frames: numbered from
// any start, in either notation, at 8 bits a sample or more (high-bit-depth
// samples scaled, float ones through the sRGB curve, back to the same levels),
// JPEG within its rounding. A missing number is a not-found row in its place;
// --range counts in the sequence's numbers; the first number goes to the
// plate file, which a movie's run removes.
TEST_F(MovieRun, PictureSequencesTrackAsTheMovieOfTheirFrames) {
    const std::vector<Frame> scenes = movingScenes(16);
    writeMovie(dir.file("movie.avi"), {160, SCENE_HEIGHT, 25, 1, MovieCodec::RawBgr24}, scenes);
    ASSERT_EQ(track("movie.avi").status, 0);
    const std::string movie = output();
    ASSERT_EQ(track("movie.avi", nullptr, {"--range", "2:9"}).status, 0);
    const std::string movieRange = output();
    struct Sequence {
        const char* name;
        std::optional<PictureFormat> format;  // none: JPEG
        long long start;
        std::vector<int> gaps;  // rows without a file
        std::vector<std::string> options;
    };
    using enum PictureFormat;
    const Sequence sequences[] = {
        {"a/plate.%04d.png", Png16, 1001, {}, {}},
        {"a/plate.%04d.png", Png16, 1003, {}, {"--range", "1003:1010"}},
        {"b/plate.####.tif", Tiff16, 0, {}, {"--threads", "1"}},
        {"c/p_#.dpx", Dpx10, 7, {}, {}},
        {"d/plate.%d.bmp", Bmp, 0, {}, {}},
        {"e/plate.####.exr", ExrHalf, 1001, {4, 5, 6}, {}},
        {"f/shot_####.jpg", std::nullopt, 1001, {10}, {"--fps", "23.976"}},
    };
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        const SequencePattern pattern = parseSequencePattern(dir.file(sequence.name)).value();
        std::filesystem::create_directories(pattern.folder);
        const bool written = fileExists(sequenceFileName(pattern, sequence.start));
        for (int row = 0; row < 16 && !written; row++) {
            if (std::find(sequence.gaps.begin(), sequence.gaps.end(), row) != sequence.gaps.end())
                continue;
            const std::string file = sequenceFileName(pattern, sequence.start + row);
            Frame rgb = scenes[row];
            for (size_t i = 0; i < rgb.size(); i += 3)
                std::swap(rgb[i], rgb[i + 2]);
            if (sequence.format.has_value())
                writePicture(file, *sequence.format, scenes[row], 160, SCENE_HEIGHT);
            else
                writeJpeg(file, rgb.data(), 160, SCENE_HEIGHT, JpegColour::Rgb);
        }
        const ProcessResult result = track(sequence.name, nullptr, sequence.options);
        ASSERT_EQ(result.status, 0) << result.err;
        const bool ntsc = sequence.options == std::vector<std::string>{"--fps", "23.976"};
        EXPECT_TRUE(result.out.starts_with(ntsc ? "frame rate: 23\n" : "frame rate: 24\n"))
            << result.out;
        EXPECT_TRUE(readFile(dir.file("Lumeko.cm2.plate"))
                        .starts_with("lumeko plate 1\nfirst_frame " +
                                     std::to_string(sequence.start) + "\nfps " +
                                     (ntsc ? "23.976" : "24") + "\n"));
        const std::string& expected = sequence.start == 1003 ? movieRange : movie;
        if (sequence.gaps.empty() && sequence.format.has_value()) {
            EXPECT_TRUE(output() == expected) << "Lumeko.cm2 differs from the movie's";
            continue;
        }
        std::vector<bool> found(16, true);
        for (int row : sequence.gaps)
            found[row] = false;
        EXPECT_EQ(foundRows(output()), found);
        EXPECT_NE(result.err.find(std::to_string(sequence.gaps.size()) + " frame(s) of <" +
                                  sequence.name + "> are missing from the sequence"),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("could not be decoded"), std::string::npos) << result.err;
        // Rows away from a gap (the smoothing's reach) keep the movie's values.
        for (const char* channel : {"translateX", "translateZ", "rotateX", "rotateZ"}) {
            const std::vector<double> want = keys(expected, channel), got = keys(output(), channel);
            for (int row = 0; row < 16; row++) {
                if (std::any_of(sequence.gaps.begin(), sequence.gaps.end(),
                                [&](int gap) { return std::abs(gap - row) <= 2; }))
                    continue;
                EXPECT_NEAR(got[row], want[row], 0.01 * (1 + std::abs(want[row])))
                    << channel << " row " << row;
            }
        }
    }
    ASSERT_EQ(track("movie.avi").status, 0);
    EXPECT_FALSE(fileExists(dir.file("Lumeko.cm2.plate"))) << "a plate file outlived its track";
}

// A sequence that cannot be tracked is refused before anything is tracked,
// naming the folder and pattern, or the first file of another size; the
// earlier Lumeko.cm2 stays.
TEST_F(MovieRun, PictureSequenceErrorsLeaveTheEarlierTrack) {
    std::filesystem::create_directories(dir.file("s"));
    const Frame scene = markerScenes({true}, 160)[0];
    for (const char* name : {"s/plate.0001.png", "s/plate.0002.png", "s/f.1.png", "s/f.1600.png"})
        writePicture(dir.file(name), PictureFormat::Png16, scene, 160, SCENE_HEIGHT);
    writePicture(dir.file("s/plate.0003.png"), PictureFormat::Png16, Frame(80 * 60 * 3, 255), 80,
                 60);
    writeFile(dir.file("Lumeko.cm2"), "earlier track\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"s/none.%04d.png"},
         "can not AVIFileOpen <s/none.%04d.png>\ns/none.%04d.png: No file in the folder s/ "
         "matches the pattern none.%04d.png\n"},
        {{"--range", "5:9", "s/plate.####.png"},
         "can not AVIFileOpen <s/plate.####.png>\ns/plate.####.png: No file in the folder s/ "
         "matches the pattern plate.####.png with a number from 5 to 9\n"},
        {{"gone/plate.%04d.png"},
         "can not AVIFileOpen <gone/plate.%04d.png>\ngone/: No such file "
         "or directory\n"},
        {{"s/plate.####.png"},
         "can not track <s/plate.####.png>: its pictures are not all one size\ns/plate.0003.png: "
         "80 x 60 pixels, not 160 x 120 as s/plate.0001.png\n"},
        {{"s/f.%d.png"},
         "rec_tbl_idx over\n<s/f.%d.png> has 1600 frames to track; one run tracks at most 1500 "
         "(track it in parts with --range FIRST:LAST)\n"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> options(args.begin(), args.end() - 1);
        const ProcessResult result = track(args.back(), nullptr, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, message);
        EXPECT_EQ(output(), "earlier track\n");
    }
}

}  // namespace
