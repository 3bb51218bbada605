#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/frame_sources.h"
#include "app/movie_file.h"
#include "tests/app/recording_tracker.h"
#include "tests/support/media_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::MovieCodec;
using lumeko_test::MovieFormat;
using lumeko_test::TempDir;
using Frame = std::vector<unsigned char>;

// A frame of one colour whose blue, green and red differ, and differ from
// frame to frame, so that order and channel mix-ups show.
Frame colourFrame(int width, int height, int index) {
    Frame frame(width * height * 3);
    for (size_t i = 0; i < frame.size(); i += 3) {
        frame[i] = static_cast<unsigned char>(30 + 20 * index);
        frame[i + 1] = static_cast<unsigned char>(200 - 15 * index);
        frame[i + 2] = 110;
    }
    return frame;
}

void writeColourMovie(const std::string& path, const MovieFormat& format,
                      const std::vector<long long>& positions) {
    lumeko_test::MovieWriter writer(path, format);
    for (size_t i = 0; i < positions.size(); i++) {
        writer.write(colourFrame(format.width, format.height, static_cast<int>(i)).data(), 3, 0,
                     positions[i]);
    }
    writer.finish();
}

// Mean of one channel of a tracked (4 bytes a pixel) frame.
double channelMean(const Frame& frame, int channel) {
    double sum = 0;
    for (size_t i = channel; i < frame.size(); i += 4)
        sum += frame[i];
    return sum / static_cast<double>(frame.size() / 4);
}

bool isBlank(const Frame& frame) {
    for (unsigned char byte : frame) {
        if (byte != 255)
            return false;
    }
    return true;
}

class MovieSourceTest : public ::testing::Test {
  protected:
    void SetUp() override { recording::reset(); }
    void TearDown() override { closeMovieFile(); }

    // Runs the movie source; returns the error stream.
    std::string track(const std::string& path, int expectedStatus = 0) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(trackMovie("p", 1.0, path.c_str()), expectedStatus);
        return testing::internal::GetCapturedStderr();
    }

    TempDir dir;
};

TEST_F(MovieSourceTest, UncompressedFramesArriveExactlyWithOddWidthsAndBottomUpRows) {
    const MovieFormat format{13, 7, 25, 1, MovieCodec::RawBgr24};
    std::mt19937 random(5);
    std::vector<Frame> written;
    const std::string path = dir.file("raw.avi");
    {
        lumeko_test::MovieWriter writer(path, format);
        for (int i = 0; i < 3; i++) {
            Frame frame(13 * 7 * 4);
            for (unsigned char& byte : frame)
                byte = static_cast<unsigned char>(random());
            writer.write(frame.data(), 4);
            written.push_back(frame);
        }
    }
    EXPECT_EQ(track(path), "");
    const recording::Record& seen = recording::record();
    ASSERT_EQ(seen.setups.size(), 1u);
    EXPECT_EQ(seen.setups[0].width, 13);
    EXPECT_EQ(seen.setups[0].height, 7);
    ASSERT_EQ(seen.frames.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        for (size_t p = 0; p < written[i].size(); p += 4) {
            ASSERT_EQ(seen.frames[i][p], written[i][p]) << "frame " << i << " byte " << p;
            ASSERT_EQ(seen.frames[i][p + 1], written[i][p + 1]);
            ASSERT_EQ(seen.frames[i][p + 2], written[i][p + 2]);
            ASSERT_EQ(seen.frames[i][p + 3], 255);
        }
    }
}

TEST_F(MovieSourceTest, EveryCodecAndContainerDeliversItsFramesInOrder) {
    struct Case {
        const char* name;
        MovieCodec codec;
    };
    const Case cases[] = {{"mjpeg.avi", MovieCodec::Mjpeg},    {"mpeg4.avi", MovieCodec::Mpeg4},
                          {"div3.avi", MovieCodec::MsMpeg4v3}, {"cinepak.avi", MovieCodec::Cinepak},
                          {"h264.avi", MovieCodec::H264},      {"h264.mp4", MovieCodec::H264},
                          {"h264.mkv", MovieCodec::H264},      {"mjpeg.mov", MovieCodec::Mjpeg}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recording::reset();
        const std::string path = dir.file(c.name);
        writeColourMovie(path, {32, 24, 30000, 1001, c.codec}, {0, 1, 2, 3, 4, 5, 6});
        EXPECT_EQ(track(path), "");
        const recording::Record& seen = recording::record();
        ASSERT_EQ(seen.frames.size(), 7u);
        for (int i = 0; i < 7; i++) {
            const Frame expected = colourFrame(1, 1, i);
            EXPECT_NEAR(channelMean(seen.frames[i], 0), expected[0], 8) << "frame " << i;
            EXPECT_NEAR(channelMean(seen.frames[i], 1), expected[1], 8) << "frame " << i;
            EXPECT_NEAR(channelMean(seen.frames[i], 2), expected[2], 8) << "frame " << i;
            EXPECT_EQ(channelMean(seen.frames[i], 3), 255.0);
        }
    }
}

TEST_F(MovieSourceTest, DecoderThreadsDoNotChangeTheFrames) {
    const std::string path = dir.file("threads.avi");
    lumeko_test::MovieWriter writer(path, {48, 32, 25, 1, MovieCodec::H264});
    std::mt19937 random(3);
    for (int i = 0; i < 12; i++) {
        Frame frame(48 * 32 * 3);
        for (unsigned char& byte : frame)
            byte = static_cast<unsigned char>(random() % 64 + i * 8);
        writer.write(frame.data(), 3);
    }
    writer.finish();

    std::vector<Frame> decodedBy[2];
    const int threadCounts[2] = {1, 4};
    for (int run = 0; run < 2; run++) {
        ASSERT_EQ(openMovieFile(path.c_str()), 0);
        ASSERT_EQ(openMovieVideoStream(), 0);
        ASSERT_EQ(openMovieDecoder(threadCounts[run]), 0);
        MovieFrame frame;
        while (readMovieFrame(frame) == 1) {
            EXPECT_EQ(frame.number, static_cast<long long>(decodedBy[run].size()));
            Frame copy(48 * 32 * 4);
            dibToFrame(frame.rows, frame.stride, copy.data(), 48, 32);
            decodedBy[run].push_back(copy);
        }
        closeMovieFile();
    }
    ASSERT_EQ(decodedBy[0].size(), 12u);
    EXPECT_TRUE(decodedBy[0] == decodedBy[1]);
}

TEST_F(MovieSourceTest, FramesArePlacedByTimestampAndMissingOnesBecomeBlankFrames) {
    const MovieFormat format{16, 16, 25, 1, MovieCodec::Mjpeg};
    const std::string gap = dir.file("gap.avi");
    writeColourMovie(gap, format, {0, 1, 2, 5, 6});
    const std::string damaged = dir.file("damaged.avi");
    writeColourMovie(damaged, format, {0, 1, 2, 3, 4});
    lumeko_test::damageAviFrame(damaged, 2);

    EXPECT_NE(track(gap).find("2 frame(s) of <" + gap + "> could not be decoded"),
              std::string::npos);
    const std::vector<bool> gapBlank = {false, false, false, true, true, false, false};
    ASSERT_EQ(recording::record().frames.size(), gapBlank.size());
    for (size_t i = 0; i < gapBlank.size(); i++) {
        EXPECT_EQ(isBlank(recording::record().frames[i]), gapBlank[i]) << "row " << i;
    }
    EXPECT_NEAR(channelMean(recording::record().frames[5], 0), colourFrame(1, 1, 3)[0], 8);

    recording::reset();
    EXPECT_NE(track(damaged).find("1 frame(s) of <"), std::string::npos);
    ASSERT_EQ(recording::record().frames.size(), 5u);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(isBlank(recording::record().frames[i]), i == 2);
    EXPECT_NEAR(channelMean(recording::record().frames[3], 0), colourFrame(1, 1, 3)[0], 8);
}

TEST_F(MovieSourceTest, MoviesCutAnywhereEndWithoutACrash) {
    const std::string whole = dir.file("whole.avi");
    writeColourMovie(whole, {16, 16, 25, 1, MovieCodec::Mjpeg}, {0, 1, 2, 3, 4, 5, 6, 7});
    const std::string bytes = lumeko_test::readFile(whole);
    for (size_t cut = 40; cut < bytes.size(); cut += bytes.size() / 16) {
        SCOPED_TRACE(cut);
        recording::reset();
        const std::string path = dir.file("cut.avi");
        lumeko_test::writeFile(path, bytes.substr(0, cut));
        testing::internal::CaptureStderr();
        const int status = trackMovie("p", 1.0, path.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        if (status == 0) {
            EXPECT_LE(recording::record().frames.size(), 8u);
        } else {
            EXPECT_NE(err.find("can not AVIFile"), std::string::npos) << err;
            EXPECT_EQ(recording::record().pauses, 1);
        }
    }
}

// Rewrites 4 bytes at `offset` after the first `tag` in the file.
void patchAfter(const std::string& path, const char* tag, size_t offset, const char* bytes) {
    std::string content = lumeko_test::readFile(path);
    content.replace(content.find(tag) + offset, 4, bytes, 4);
    lumeko_test::writeFile(path, content);
}

TEST_F(MovieSourceTest, StreamsWithoutAFrameSizeOrADecoderAreReportedWithAPause) {
    const std::string sizeless = dir.file("sizeless.avi");
    writeColourMovie(sizeless, {16, 16, 25, 1, MovieCodec::RawBgr24}, {0});
    patchAfter(sizeless, "strf", 12, "\0\0\0\0");  // bitmap width 0
    EXPECT_NE(track(sizeless, 1).find("frame size of <" + sizeless + ">"), std::string::npos);
    EXPECT_EQ(recording::record().pauses, 1);
    EXPECT_TRUE(recording::record().setups.empty());

    const std::string unknown = dir.file("unknown.avi");
    writeColourMovie(unknown, {16, 16, 25, 1, MovieCodec::Mjpeg}, {0});
    patchAfter(unknown, "strh", 12, "QQQQ");  // handler and compression: no such codec
    patchAfter(unknown, "strf", 24, "QQQQ");
    EXPECT_EQ(track(unknown, 1), "can not AVIStreamGetFrameOpen <" + unknown + ">\n");
    EXPECT_EQ(recording::record().pauses, 2);
    EXPECT_EQ(recording::record().setups.size(), 1u);
}

}  // namespace
