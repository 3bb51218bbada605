#include "marker/detect_marker.h"

#include <gtest/gtest.h>

#include <cmath>

#include "marker/detection_trace.h"
#include "marker/pattern.h"
#include "tests/marker/test_frames.h"
#include "tests/support/test_support.h"

namespace {

using lumeko_test::Picture;
using lumeko_test::TestFrame;

struct Pass {
    int status;
    const MarkerInfo* markers;
    int count;
};

Pass detect(TestFrame& frame) {
    Pass p{};
    p.status = arDetectMarker(frame.image(), 100, &p.markers, &p.count);
    return p;
}

class DetectionPass : public testing::Test {
  protected:
    void useFrameSize(int w, int h) {
        width = w;
        height = h;
        lumeko_test::useUndistortedCamera(w, h);
        // Markers remembered by earlier passes of this process are re-added
        // for two frames at most; three empty frames forget them.
        TestFrame empty(w, h);
        for (int i = 0; i < 3; i++) {
            detect(empty);
        }
        ASSERT_EQ(detect(empty).count, 0);
    }

    int loadPattern(const Picture& picture) {
        const std::string path = dir.file("marker.pat");
        lumeko_test::writeFile(path, lumeko_test::patternFileText(picture));
        return arLoadPattern(path.c_str());
    }

    lumeko_test::TempDir dir;
    int width = 0;
    int height = 0;
};

TEST_F(DetectionPass, LostMarkerIsReportedWithItsOldGeometryForTwoFramesThenDropped) {
    useFrameSize(640, 480);
    const Picture picture = lumeko_test::randomPicture(21);
    const int slot = loadPattern(picture);
    ASSERT_GE(slot, 0);
    TestFrame seen(640, 480);
    seen.drawMarker({250.5, 200.5}, 120, 0.2, picture);
    const Pass first = detect(seen);
    ASSERT_EQ(first.status, 0);
    ASSERT_EQ(first.count, 1);
    const MarkerInfo marker = first.markers[0];
    EXPECT_EQ(marker.id, slot);
    EXPECT_GT(marker.confidence, 0.9);

    TestFrame empty(640, 480);
    for (int frame = 1; frame <= 2; frame++) {
        const Pass p = detect(empty);
        ASSERT_EQ(p.count, 1) << frame;
        EXPECT_EQ(p.markers[0].id, marker.id);
        EXPECT_EQ(p.markers[0].direction, marker.direction);
        EXPECT_EQ(p.markers[0].confidence, marker.confidence);
        EXPECT_EQ(p.markers[0].centre.x, marker.centre.x);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(p.markers[0].vertices[i].x, marker.vertices[i].x);
            EXPECT_EQ(p.markers[0].edgeLines[i].c, marker.edgeLines[i].c);
        }
    }
    EXPECT_EQ(detect(empty).count, 0);
}

TEST_F(DetectionPass, MarkerWhosePatternReadsBadlyKeepsItsIdentity) {
    useFrameSize(640, 480);
    const Picture picture = lumeko_test::randomPicture(22);
    const int slot = loadPattern(picture);
    TestFrame seen(640, 480);
    seen.drawMarker({300.5, 250.5}, 140, 0.0, picture);
    const Pass first = detect(seen);
    ASSERT_EQ(first.count, 1);
    const MarkerInfo before = first.markers[0];
    ASSERT_EQ(before.id, slot);

    // Next frame: moved by two pixels, the picture smudged beyond recognition.
    TestFrame smudged(640, 480);
    smudged.drawMarker({302.5, 251.5}, 140, 0.0, lumeko_test::randomPicture(999));
    const Pass next = detect(smudged);
    ASSERT_EQ(next.count, 1);
    EXPECT_EQ(next.markers[0].id, slot);
    EXPECT_EQ(next.markers[0].confidence, before.confidence);
    EXPECT_EQ(next.markers[0].direction, before.direction);
    EXPECT_NEAR(next.markers[0].vertices[0].x, before.vertices[0].x + 2, 0.5);
}

TEST_F(DetectionPass, UnidentifiedSquaresAreReportedWithIdMinusOne) {
    useFrameSize(640, 480);
    const Picture picture = lumeko_test::randomPicture(23);
    const int slot = loadPattern(picture);
    TestFrame frame(640, 480);
    frame.drawMarker({120.5, 120.5}, 100, 0.0, picture);
    frame.drawMarker({400.5, 120.5}, 100, 0.0, lumeko_test::flatPicture(lumeko_test::WHITE));
    frame.drawMarker({260.5, 340.5}, 100, 0.4, lumeko_test::randomPicture(777));
    const Pass p = detect(frame);
    ASSERT_EQ(p.count, 3);
    // In the raster order of their regions.
    EXPECT_EQ(p.markers[0].id, slot);
    EXPECT_EQ(p.markers[1].id, -1);
    EXPECT_EQ(p.markers[1].confidence, -1.0);
    EXPECT_EQ(p.markers[2].id, -1);
    EXPECT_LT(p.markers[2].confidence, CONFIDENCE_MIN);

    const DetectionTrace& trace = arDetectionTrace();
    EXPECT_EQ(trace.candidateCount, 3);
    EXPECT_EQ(trace.identifiedCount, 3);
    ASSERT_NE(trace.labels, nullptr);
    EXPECT_GE(trace.labels->labelCount, 3);
    EXPECT_GE(trace.total, trace.labeling);
}

TEST_F(DetectionPass, CleanFullHdFrameIsDetected) {
    useFrameSize(1920, 1080);
    const Picture picture = lumeko_test::randomPicture(24);
    const int slot = loadPattern(picture);
    TestFrame frame(1920, 1080);
    frame.drawMarker({1500.5, 800.5}, 240, -0.35, picture);
    const Pass p = detect(frame);
    ASSERT_EQ(p.status, 0);
    ASSERT_EQ(p.count, 1);
    EXPECT_EQ(p.markers[0].id, slot);
    EXPECT_GT(p.markers[0].confidence, 0.9);
    const ImagePoint topLeft = lumeko_test::markerPoint({1500.5, 800.5}, 240, -0.35, -0.5, -0.5);
    const ImagePoint& first = p.markers[0].vertices[(4 - p.markers[0].direction) % 4];
    EXPECT_LT(std::hypot(first.x - topLeft.x, first.y - topLeft.y), 1.5);
}

TEST_F(DetectionPass, FailedLabelingOrAWrongFrameSizeFailsWithNoMarkers) {
    useFrameSize(640, 480);
    TestFrame wrongSize(320, 240);
    Pass p = detect(wrongSize);
    EXPECT_EQ(p.status, -1);
    EXPECT_EQ(p.count, 0);
    // More than LABEL_MAX isolated dark pixels.
    TestFrame dots(640, 480);
    for (int y = 1; y < 479; y += 2) {
        for (int x = 1; x < 639; x += 2) {
            dots.set(x, y, lumeko_test::BLACK);
        }
    }
    p = detect(dots);
    EXPECT_EQ(p.status, -1);
    EXPECT_EQ(p.count, 0);
    EXPECT_EQ(arDetectionTrace().labels, nullptr);
}

}  // namespace
