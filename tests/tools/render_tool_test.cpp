#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "media/movie_file.h"
#include "tests/support/test_support.h"
#include "tools/common/camera_file.h"
#include "tools/common/image_io.h"
#include "tools/compare/truth_table.h"
#include "tools/render/camera_path.h"
#include "tools/render/pose_truth.h"
#include "tools/render/scene_render.h"
#include "tools/render/shot_render.h"

namespace {

// Numbered stills and a raw movie (odd width: padded rows), read by Lumeko's reader, agree;
// the picture may be a PNG.
TEST(RenderTool, CommandLineStillsAndRawMovieShowTheSameFrames) {
    lumeko_test::TempDir dir;
    const std::string tools = LUMEKO_TOOLS_DIR;
    std::string error;
    ASSERT_EQ(writeImage(dir.file("picture.png"), makeRgbImage(2, 2, 200, 0, 0), 90, error), 0);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {tools + "/lumeko-render", "--camera", "cam.dat", "--picture",
                                   "picture.png", "--path", "approach", "--frames", "3"});
        return lumeko_test::runProcess(dir.path(), args).status;
    };
    lumeko_test::mustRun(dir.path(), lumeko_test::words(tools + "/lumeko-camera write cam.dat "
                                                                "--size 161x121 --hfov 60"));
    ASSERT_EQ(run({"--output", "f_%03d.jpg"}), 0);
    ASSERT_EQ(run({"--output", "raw.avi", "--raw"}), 0);
    const std::string truth = lumeko_test::readFile(dir.file("truth.csv"));
    EXPECT_EQ(std::count(truth.begin(), truth.end(), '\n'), 4);
    EXPECT_EQ(lumeko_test::readFile(dir.file("raw.csv")), truth);
    MovieFile movie;
    ASSERT_TRUE(movie.open(dir.file("raw.avi").c_str()).ok());
    ASSERT_TRUE(movie.openVideoStream().ok());
    EXPECT_EQ(movie.info().length, 3);
    ASSERT_TRUE(movie.openDecoder(1).ok());
    std::vector<unsigned char> pixels(161 * 121 * 4 + FRAME_CONVERT_SLACK);
    const FrameImage frame{pixels.data(), 161, 121};
    for (int i = 0; i < 3; ++i) {
        RgbImage still;
        ASSERT_TRUE(readPicture(dir.file("f_00" + std::to_string(i) + ".jpg"), still).ok());
        const Decoded decoded = movie.decodePicture();
        ASSERT_EQ(decoded.kind, PictureKind::Picture);
        EXPECT_EQ(decoded.number, i);
        ASSERT_TRUE(movie.convertPicture(frame).ok());
        double mean = 0.0;  // of |movie - still|; the frame holds blue, green, red, 255
        for (int k = 0; k < 161 * 121 * 3; ++k) {
            const int got = pixels[k / 3 * 4 + k % 3];
            mean += std::abs(got - still.rgb[k - k % 3 + 2 - k % 3]) / (161.0 * 121 * 3);
        }
        EXPECT_LT(mean, 2.0) << "frame " << i;  // the stills' JPEG loss
    }
    EXPECT_EQ(run({"--output", "f.jpg"}), 1);  // more than one frame needs a number field
}

// Whether the ray from `eye` to plane point p passes within r of the segment a-b held
// at some height from z0 to z1 (followed in steps).
bool passesNear(const double p[2], const double eye[3], const double ab[4], double r, double z0,
                double z1) {
    for (int k = 0; k <= 16; ++k) {
        const double f = (z0 + (z1 - z0) * k / 16) / eye[2], dx = ab[2] - ab[0], dy = ab[3] - ab[1];
        const double qx = p[0] + f * (eye[0] - p[0]) - ab[0],
                     qy = p[1] + f * (eye[1] - p[1]) - ab[1];
        const double t =
            dx || dy ? std::clamp((qx * dx + qy * dy) / (dx * dx + dy * dy), 0., 1.) : 0.;
        if (std::hypot(qx - t * dx, qy - t * dy) < r)
            return true;
    }
    return false;
}

struct SceneOption {
    const char* name;
    std::vector<std::string> options;
    // Whether plane point p, seen from `eye`, may change.
    std::function<bool(const double p[2], const double eye[3])> mayChange;
    bool covers;  // hides some of the border
};

// Each scene option changes the frames only where what it adds is seen (with a margin), leaves
// the pose and keys of the truth as they were, and reports the border it hides (the shutter's
// smear: TheShutterAveragesLightNotLevels).
TEST(RenderTool, SceneOptionsChangeTheFramesOnlyWhereTheyShouldAndKeepTheTruth) {
    constexpr double FINGER[4] = {0, -40, 0, -70}, DISC[4] = {40, 40, 40, 40},
                     BOX[4] = {90, 0, 90, 0};
    const std::vector<SceneOption> cases = {
        {"gradient", {"--gradient", "0.4,0"}, [](auto p, auto) { return p[0] > -43; }, false},
        {"shadow", {"--shadow", "90,10,0.5"}, [](auto p, auto) { return p[1] > 7; }, false},
        {"disc",
         {"--occluder", "40,40,10"},
         [&](auto p, auto eye) { return passesNear(p, eye, DISC, 13, 0, 0); },
         true},
        {"finger",
         {"--occluder", "0,-40,6,20,colour=220:170:140,length=30:-90"},
         [&](auto p, auto eye) { return passesNear(p, eye, FINGER, 9, 20, 20); },
         true},
        {"box",
         {"--box", "90,0,30,30,30"},
         [&](auto p, auto eye) { return passesNear(p, eye, BOX, 24, 0, 30); },
         false},
        {"table",
         {"--table", "table.png", "--table-tile", "50"},
         [](auto p, auto) { return std::max(std::fabs(p[0]), std::fabs(p[1])) > 57; },
         false}};
    lumeko_test::TempDir dir;
    CameraParam camera;
    std::string error;
    ASSERT_TRUE(makeCameraParam({200, 150, 173.2, 173.2, 100, 75, 0, 1}, camera).ok());
    ASSERT_EQ(writeCameraFile(dir.file("cam.dat"), &camera, 1, error), 0);
    RgbImage table = makeRgbImage(4, 4, 40, 200, 90);
    std::fill(table.rgb.begin(), table.rgb.begin() + 24, 250);
    ASSERT_EQ(writeImage(dir.file("table.png"), table, 90, error), 0);
    const auto render = [&](const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(),
                       {LUMEKO_TOOLS_DIR "/lumeko-render", "--camera", "cam.dat", "--picture",
                        "table.png", "--path", "exit", "--frames", "3", "--output",
                        name + "_%d.png", "--truth", name + ".csv"});
        const lumeko_test::ProcessResult run = lumeko_test::runProcess(dir.path(), options);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<TruthRow> truth;
        EXPECT_EQ(readTruthTable(dir.file(name + ".csv"), truth, error), 0) << error;
        std::vector<RgbImage> frames(truth.size());
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_TRUE(
                readPicture(dir.file(name + "_" + std::to_string(i) + ".png"), frames[i]).ok());
        return std::pair{truth, frames};
    };
    const auto [plainTruth, plain] = render("plain", {});
    ASSERT_EQ(plain.size(), 3u);
    for (const SceneOption& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [truth, frames] = render(c.name, c.options);
        ASSERT_EQ(frames.size(), 3u);
        int changed = 0, covered = 0, wrong = 0;
        std::string where;
        for (size_t n = 0; n < 3; ++n) {
            const auto& pose = truth[n].pose;
            for (int k = 0; k < 18; ++k)  // the pose and the keys, as without the option
                EXPECT_EQ(k < 12 ? pose[k / 4][k % 4] : truth[n].keys[k - 12],
                          k < 12 ? plainTruth[n].pose[k / 4][k % 4] : plainTruth[n].keys[k - 12]);
            EXPECT_EQ(truth[n].blurPx, 0.0);
            covered += truth[n].borderCovered > 0;
            const double eye[3] = {
                -(pose[0][0] * pose[0][3] + pose[1][0] * pose[1][3] + pose[2][0] * pose[2][3]),
                -(pose[0][1] * pose[0][3] + pose[1][1] * pose[1][3] + pose[2][1] * pose[2][3]),
                -(pose[0][2] * pose[0][3] + pose[1][2] * pose[1][3] + pose[2][2] * pose[2][3])};
            CameraPose cameraPose;
            std::copy(&pose[0][0], &pose[0][0] + 12, &cameraPose.m[0][0]);
            const auto differs = [](const RgbImage& a, const RgbImage& b, int i, int j) {
                for (int k = 0; k < 3; ++k)
                    if (std::abs(a.rgb[i * 3 + k] - b.rgb[j * 3 + k]) > 3)
                        return true;
                return false;
            };
            for (int i = 0; i < 200 * 150; ++i) {
                if (!differs(plain[n], frames[n], i, i))
                    continue;
                ++changed;
                double p[2];
                const bool allowed =
                    planePointSeen(camera, cameraPose, i % 200, i / 200, p[0], p[1]) &&
                    c.mayChange(p, eye);
                if (!allowed && wrong++ == 0)
                    where = "frame " + std::to_string(n) + " pixel " + std::to_string(i);
            }
        }
        EXPECT_EQ(wrong, 0) << "changed where it should not, first at " << where;
        EXPECT_GE(changed, 40);
        EXPECT_EQ(covered > 0, c.covers);
    }
}

}  // namespace

namespace {

// A smeared frame is the mean of its moments in light, encoded again: what a
// camera's sensor gathers, not the mean of the moments' levels.
TEST(RenderTool, TheShutterAveragesLightNotLevels) {
    CameraParam camera;
    ASSERT_TRUE(makeCameraParam({200, 150, 173.2, 173.2, 100, 75, 0, 1}, camera).ok());
    Shot shot;
    shot.scene.picture = makeRgbImage(16, 16, 255, 255, 255);
    shot.poseAt = [](double t) { return pathPose(PathKind::Exit, t, 3, 80.0, 400.0); };
    shot.frameCount = 3;
    shot.shutter = 1.0;
    shot.shutterSamples = 2;
    RgbImage smeared, moments[2];
    ShotStorage storage;
    renderShotFrame(shot, camera, 1, 1, smeared, storage);
    for (int k = 0; k < 2; k++) {
        // The moments' times and their samples' shifts within the pixel.
        const double dx = std::fmod(0.5 + 0.7548776662466927 * k, 1.0) - 0.5;
        const double dy = std::fmod(0.5 + 0.5698402909980532 * k, 1.0) - 0.5;
        renderFrame(shot.scene, camera, shot.poseAt(0.75 + 0.5 * k), 1, moments[k], dx, dy);
    }
    int mixed = 0;
    for (size_t i = 0; i < smeared.rgb.size(); i++) {
        const double light = 0.5 * (transferDecode(TransferCurve::Srgb, moments[0].rgb[i] / 255.0) +
                                    transferDecode(TransferCurve::Srgb, moments[1].rgb[i] / 255.0));
        ASSERT_EQ(smeared.rgb[i], std::lround(255.0 * transferEncode(TransferCurve::Srgb, light)));
        mixed += std::abs(moments[0].rgb[i] - moments[1].rgb[i]) > 100;
    }
    EXPECT_GT(mixed, 100);
}

}  // namespace

namespace {

// Jittered samples draw a side lying along the columns in its place on
// average over the rows: the square grid puts it on the nearest step of its
// samples in every row alike.
TEST(RenderTool, JitteredSamplesPlaceASideAlongTheColumnsOnAverage) {
    CameraParam camera;
    ASSERT_TRUE(makeCameraParam({200, 150, 173.2, 173.2, 100, 75, 0, 1}, camera).ok());
    Scene scene;
    scene.picture = makeRgbImage(16, 16, 255, 255, 255);
    // The border's left side at x = 100 - 173.2 x 40 / 400 = 82.68 pixels,
    // black up to x = 91.3; rows 66 to 84 cross it clear of its corners.
    const CameraPose pose = lookAt({0.0, 0.0, 400.0}, {0.0, 0.0, 0.0}, 0.0);
    RgbImage frame;
    for (const bool jitter : {false, true}) {
        double worst = 0.0;
        for (const double shift : {0.0, 0.15, 0.3, 0.45}) {
            renderFrame(scene, camera, pose, 4, frame, shift, 0.0, jitter);
            double sum = 0.0;
            for (int y = 66; y <= 84; y++) {
                const auto level = [&](int x) { return frame.rgb[(y * 200 + x) * 3]; };
                const double paper = level(78), ink = level(88);
                for (int x = 80; x <= 86; x++)
                    sum += (paper - level(x)) / (paper - ink);
            }
            // The samples shifted right by `shift` see the side as far left.
            const double inked = 86.5 - (82.68 - shift);
            worst = std::max(worst, std::fabs(sum / 19.0 - inked));
        }
        if (jitter)
            EXPECT_LT(worst, 0.025);
        else
            EXPECT_GT(worst, 0.06);
    }
}

}  // namespace
