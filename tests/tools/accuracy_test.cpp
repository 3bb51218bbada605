// Tracking accuracy: footage rendered by lumeko-render along known camera paths, tracked
// by the real Lumeko, its Lumeko.cm2 compared frame by frame with the true key values.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numeric>

#include "camera/camera_param.h"
#include "marker/detector.h"
#include "media/movie_reader.h"
#include "tests/support/test_support.h"
#include "tests/tools/truth_table.h"
#include "track/camera_motion_reader.h"
#include "track/tracker.h"

namespace {

using namespace lumeko_test;

// Detection takes dark regions up to 100,000 pixels; the border is 3/4 of the square.
constexpr double LARGEST_TRACKABLE_AREA = 0.95 * 100000.0 / 0.75;

struct Footage {
    const char* size;
    const char* path;                         // a camera path of lumeko-render, or "stills"
    int frames, leastTrackable, leastHidden;  // the least the path promises, so checks bite
    const char *noise, *blur;                 // lumeko-render's --noise and --blur
    // Set a little above what the tracker achieved (see the README), so that a loss of
    // accuracy fails: position errors as a fraction of the distance, angles in degrees.
    double worstPosition, meanPosition, worstAngle, meanAngle;
};

// Stills: azimuth, elevation, distance in marker widths, roll.
constexpr double VIEWS[][4] = {{0, 60, 5, 0},    {45, 45, 4, 10},  {100, 70, 6, -20},
                               {150, 40, 3, 5},  {200, 55, 7, 30}, {250, 80, 5, -45},
                               {300, 35, 4, 90}, {340, 65, 9, 180}};

void PrintTo(const Footage& footage, std::ostream* out) {
    *out << footage.path << " at " << footage.size;
}

class Accuracy : public testing::TestWithParam<Footage> {};

TEST_P(Accuracy, FindsEveryTrackableFrameAndStaysWithinTheBars) {
    const Footage& footage = GetParam();
    const bool stills = std::string(footage.path) == "stills";
    std::vector<std::vector<std::string>> shots;  // lumeko-render's options for each run
    for (size_t n = 0; stills && n < std::size(VIEWS); ++n) {
        const double* v = VIEWS[n];
        const double d = v[2] * 80.0, deg = M_PI / 180.0, ground = d * std::cos(v[1] * deg);
        shots.push_back({"--path", "still", "--roll", std::to_string(v[3]), "--position",
                         std::to_string(ground * std::sin(v[0] * deg)) + "," +
                             std::to_string(-ground * std::cos(v[0] * deg)) + "," +
                             std::to_string(d * std::sin(v[1] * deg))});
    }
    if (!stills)
        shots.push_back({"--path", footage.path, "--frames", std::to_string(footage.frames)});
    TempDir dir;
    // Lumeko reads Data/camera_para.dat: a 60 degree horizontal field of view.
    std::filesystem::create_directory(dir.file("Data"));
    mustRun(dir.path(), cameraCommand("Data/camera_para.dat", footage.size));
    const std::string output = stills ? "shot.jpg" : "shot.avi";
    std::vector<TruthRow> truth;
    std::vector<KeyRow> got;
    for (const std::vector<std::string>& shot : shots) {
        std::vector<std::string> render = renderCommand(
            "Data/camera_para.dat",
            {"--size", footage.size, "--noise", footage.noise, "--blur", footage.blur});
        render.insert(render.end(), shot.begin(), shot.end());
        render.insert(render.end(), {"--output", output});
        mustRun(dir.path(), render);
        const std::vector<TruthRow> rows = readTruthTable(dir.file("shot.csv"));
        truth.insert(truth.end(), rows.begin(), rows.end());
        mustRun(dir.path(), {LUMEKO_BINARY, LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern", "80",
                             "0", stills ? "I" : "M", output});
        CameraMotion motion;
        std::string error;
        ASSERT_EQ(readCameraMotion(dir.file("Lumeko.cm2"), motion, error), 0) << error;
        got.insert(got.end(), motion.rows.begin(), motion.rows.end());
        ASSERT_EQ(got.size(), truth.size());
    }

    int trackable = 0, trackableFound = 0, hidden = 0, hiddenFound = 0;
    std::vector<double> position, angle;  // errors of the frames measured
    for (size_t i = 0; i < truth.size(); ++i) {
        const TruthRow& t = truth[i];
        const bool found = got[i].found == 1;
        hidden += t.visible == 0;
        hiddenFound += t.visible == 0 && found && !heldAfterLoss(truth, i);
        if (t.visible != 0 && t.minSide >= 40.0 && t.area <= LARGEST_TRACKABLE_AREA) {
            ++trackable;
            trackableFound += found;
        }
        if (t.visible != 0 && found) {
            position.push_back(positionError(t.keys, keysOf(got[i])));
            angle.push_back(orientationError(t.keys, keysOf(got[i])));
        }
    }
    ASSERT_FALSE(position.empty());
    const auto worst = [](const auto& v) { return *std::max_element(v.begin(), v.end()); };
    const auto mean = [](const auto& v) { return std::reduce(v.begin(), v.end()) / v.size(); };
    std::printf(
        "[accuracy] %s %s: found %d of %d trackable; position %.4f / %.4f; angle %.3f / "
        "%.3f (mean / worst)\n",
        footage.path, footage.size, trackableFound, trackable, mean(position), worst(position),
        mean(angle), worst(angle));
    EXPECT_GE(trackable, footage.leastTrackable);
    EXPECT_GE(hidden, footage.leastHidden);
    EXPECT_EQ(trackableFound, trackable);
    EXPECT_EQ(hiddenFound, 0);
    EXPECT_LE(worst(position), footage.worstPosition);
    EXPECT_LE(mean(position), footage.meanPosition);
    EXPECT_LE(worst(angle), footage.worstAngle);
    EXPECT_LE(mean(angle), footage.meanAngle);
}

INSTANTIATE_TEST_SUITE_P(
    Footage, Accuracy,
    testing::Values(Footage{"640x480", "stills", 8, 8, 0, "0", "0", 0.027, 0.017, 0.75, 0.32},
                    Footage{"640x480", "orbit", 60, 60, 0, "0", "0", 0.034, 0.019, 2.0, 0.85},
                    Footage{"640x480", "approach", 60, 58, 0, "0", "0", 0.041, 0.022, 1.0, 0.46},
                    Footage{"640x480", "shake", 60, 60, 0, "3", "0.7", 0.025, 0.019, 1.65, 0.9},
                    Footage{"640x480", "exit", 60, 26, 34, "0", "0", 0.039, 0.021, 3.7, 1.6},
                    Footage{"1920x1080", "stills", 8, 7, 0, "0", "0", 0.009, 0.006, 0.22, 0.11},
                    Footage{"1920x1080", "orbit", 60, 60, 0, "0", "0", 0.024, 0.012, 1.5, 0.45},
                    Footage{"1920x1080", "shake", 20, 20, 0, "3", "1.5", 0.015, 0.010, 1.65, 0.72}),
    [](const testing::TestParamInfo<Footage>& info) {
        return std::string(info.param.path) + "_" + info.param.size;
    });

// Both modes on the same footage, tracked in-process frame by frame: the
// plain fit and the refined one (Tracker::setRefine: sub-pixel edges and the
// converged pose in ideal coordinates). Keys are compared before smoothing.
struct RefineFootage {
    const char* name;
    const char* size;
    const char* path;
    int frames;
    const char* distortion;  // lumeko-camera --distortion F,S; "0,1" is none
    const char* distance;    // lumeko-render --distance, "" for its default
    double noise, blur;
    // Bars for the refined mode's medians (position as a fraction of the distance, angle in
    // degrees); its corners must lie within CORNER_MEDIAN_MAX (median) and CORNER_95_MAX
    // (95th percentile) pixels of the true ones.
    double medianPosition, medianAngle;
};

void PrintTo(const RefineFootage& footage, std::ostream* out) {
    *out << footage.name;
}

constexpr double CORNER_MEDIAN_MAX = 0.05;
constexpr double CORNER_95_MAX = 0.3;

// What one mode gave for every frame.
struct ModeErrors {
    std::vector<int> found;
    std::vector<double> position, angle;  // of the found frames in view, in frame order
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

// Ideal image of the printed square's corners (80 units, centred on the
// origin) for the marker-to-camera pose of a truth row.
std::array<ImagePoint, 4> trueCorners(const CameraParam& camera, const TruthRow& row) {
    std::array<ImagePoint, 4> corners;
    for (int k = 0; k < 4; ++k) {
        const double x = (k == 0 || k == 3 ? -40.0 : 40.0), y = (k < 2 ? 40.0 : -40.0);
        double X[4] = {0, 0, 0, 1}, h[3] = {};
        for (int j = 0; j < 3; ++j)
            X[j] = row.pose[j][0] * x + row.pose[j][1] * y + row.pose[j][3];
        for (int j = 0; j < 12; ++j)
            h[j / 4] += camera.mat[j / 4][j % 4] * X[j % 4];
        corners[k] = {h[0] / h[2], h[1] / h[2]};
    }
    return corners;
}

class RefineAccuracy : public testing::TestWithParam<RefineFootage> {};

TEST_P(RefineAccuracy, RefinedModeFindsTheSameFramesAndMeetsItsBars) {
    const RefineFootage& footage = GetParam();
    TempDir dir;
    mustRun(dir.path(),
            cameraCommand("camera.dat", footage.size, {"--distortion", footage.distortion}));
    std::vector<std::string> render = renderCommand(
        "camera.dat", {"--size", footage.size, "--noise", std::to_string(footage.noise), "--blur",
                       std::to_string(footage.blur), "--path", footage.path, "--frames",
                       std::to_string(footage.frames), "--output", "shot.avi"});
    if (*footage.distance != '\0')
        render.insert(render.end(), {"--distance", footage.distance});
    mustRun(dir.path(), render);
    const std::vector<TruthRow> truth = readTruthTable(dir.file("shot.csv"));
    ASSERT_EQ(truth.size(), static_cast<size_t>(footage.frames));

    MovieReader reader;
    ASSERT_EQ(reader.open(dir.file("shot.avi").c_str()), InputFailure::None);
    CameraParam loaded, camera;
    ASSERT_EQ(arLoadCameraParam(dir.file("camera.dat").c_str(), 1, &loaded), 0);
    arResizeCameraParam(loaded, reader.info().width, reader.info().height, camera);
    ASSERT_EQ(reader.prepare(), InputFailure::None);
    std::unique_ptr<Tracker> trackers[2] = {Tracker::create(camera, 80.0),
                                            Tracker::create(camera, 80.0)};
    std::unique_ptr<Detector> detector = Detector::create(camera);  // for the corners
    ASSERT_TRUE(trackers[0] && trackers[1] && detector);
    trackers[1]->setRefine(true);
    detector->setRefineEdges(true);
    const std::string pattern = LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern";
    PatternLoadError error;
    for (auto& tracker : trackers)
        ASSERT_EQ(tracker->loadPattern(pattern.c_str(), &error), 0);
    ASSERT_EQ(detector->loadPattern(pattern.c_str(), &error), 0);
    std::vector<double> cornerErrors;
    const FrameImage* frame = nullptr;
    for (size_t n = 0; reader.next(&frame) == ReadResult::Frame; ++n) {
        ASSERT_LT(n, truth.size());
        for (auto& tracker : trackers)
            ASSERT_EQ(tracker->track(*frame), TrackStatus::Tracked);
        const MarkerInfo* markers = nullptr;
        int count = 0;
        ASSERT_EQ(detector->detect(*frame, &markers, &count), 0);
        const int chosen = chooseMarker(markers, count, 0);
        if (chosen < 0 || truth[n].visible == 0)
            continue;
        // Each refined corner against the nearest true one.
        for (const ImagePoint& v : markers[chosen].vertices) {
            double nearest = 1e9;
            for (const ImagePoint& c : trueCorners(camera, truth[n]))
                nearest = std::min(nearest, std::hypot(v.x - c.x, v.y - c.y));
            cornerErrors.push_back(nearest);
        }
    }
    ModeErrors modes[2];
    for (int m = 0; m < 2; ++m) {
        const KeyTable& keys = trackers[m]->keys();
        ASSERT_EQ(keys.count, footage.frames);
        for (int n = 0; n < keys.count; ++n) {
            modes[m].found.push_back(keys.rows[n].found);
            if (keys.rows[n].found == 0 || truth[n].visible == 0)
                continue;
            modes[m].position.push_back(positionError(truth[n].keys, keysOf(keys.rows[n])));
            modes[m].angle.push_back(orientationError(truth[n].keys, keysOf(keys.rows[n])));
        }
    }
    std::sort(cornerErrors.begin(), cornerErrors.end());
    ASSERT_FALSE(cornerErrors.empty());
    const double corner90 = cornerErrors[cornerErrors.size() * 90 / 100];
    const double corner95 = cornerErrors[cornerErrors.size() * 95 / 100];
    std::printf(
        "[accuracy] %s: found %d of %d; median position %.5f plain, %.5f refined; median angle "
        "%.3f plain, %.3f refined (degrees); refined corners median %.3f, 90%% %.3f, 95%% %.3f, "
        "worst %.3f px\n",
        footage.name, static_cast<int>(modes[1].position.size()), footage.frames,
        median(modes[0].position), median(modes[1].position), median(modes[0].angle),
        median(modes[1].angle), median(cornerErrors), corner90, corner95, cornerErrors.back());

    // The same frames found, and no frame more than 1 % of its distance worse.
    EXPECT_EQ(modes[1].found, modes[0].found);
    ASSERT_EQ(modes[1].position.size(), modes[0].position.size());
    for (size_t i = 0; i < modes[0].position.size(); ++i)
        EXPECT_LE(modes[1].position[i], modes[0].position[i] + 0.01) << "frame " << i;
    EXPECT_LE(median(modes[1].position), footage.medianPosition);
    EXPECT_LE(median(modes[1].angle), footage.medianAngle);
    EXPECT_LE(median(cornerErrors), CORNER_MEDIAN_MAX);
    EXPECT_LE(corner95, CORNER_95_MAX);
}

INSTANTIATE_TEST_SUITE_P(
    Footage, RefineAccuracy,
    testing::Values(
        RefineFootage{"orbit_640x480", "640x480", "orbit", 20, "0,1", "", 2.0, 0.6, 0.003, 0.2},
        // From 40 pixels wide to about 190.
        RefineFootage{"approach_640x480", "640x480", "approach", 30, "0,1", "455", 1.5, 0.5, 0.003,
                      0.2},
        // A pan that takes the marker to the picture's edges, through a plain lens and one
        // that moves the frame's corners by about 10 pixels.
        RefineFootage{"exit_640x480", "640x480", "exit", 30, "0,1", "", 2.0, 0.7, 0.003, 0.2},
        RefineFootage{"exit_distorted_640x480", "640x480", "exit", 30, "15,1", "", 2.0, 0.7, 0.003,
                      0.2},
        RefineFootage{"orbit_1920x1080", "1920x1080", "orbit", 10, "0,1", "", 2.0, 0.6, 0.0015,
                      0.1}),
    [](const testing::TestParamInfo<RefineFootage>& info) { return info.param.name; });

}  // namespace
