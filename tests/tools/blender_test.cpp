// What Lumeko makes for Blender, in Debian's Blender run headless, one run of
// it for everything (blender_checks.py): the add-on installed from its zip
// tracking a rendered orbit, failing and cancelled without touching the
// scene; the glTF export imported; the scene script of the true keys; and a
// distorted lens, whose render through the compositor's Movie Distortion
// node lies where the camera file's lens model puts it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/support/blender.h"
#include "tests/tools/tracked_orbit.h"
#include "tools/export/track_export.h"
#include "tools/render/pose_truth.h"

namespace {

using namespace lumeko_test;

constexpr int FRAMES = 24;
const std::string SAMPLE = LUMEKO_SOURCE_DIR "/Data/sample_marker";

// The lines of Blender's output that begin with `tag`, split into words after it.
std::vector<std::vector<std::string>> found(const std::string& out, const std::string& tag) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(tag + " "))
            continue;
        lines.push_back(words(line.substr(tag.size() + 1)));
    }
    return lines;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

CameraParam loadCamera(const std::string& path) {
    CameraParam camera{};
    EXPECT_TRUE(arLoadCameraParam(path.c_str(), 1, &camera).ok()) << path;
    return camera;
}

// The "corner FRAME x y" lines of `tag` against where the true pose puts the
// marker's corners through `camera` (first frame 1): the largest distance.
double worstCorner(const std::string& out, const std::string& tag, const TrackedOrbit& clip,
                   const CameraParam& camera, int& count) {
    double worst = 0.0;
    count = 0;
    for (const auto& words : found(out, tag + " corner")) {
        const int frame = std::stoi(words.at(0)), k = count++ % 4;
        CameraPose pose;
        std::copy(&clip.truth.at(frame - 1).pose[0][0], &clip.truth[frame - 1].pose[0][0] + 12,
                  &pose.m[0][0]);
        const ProjectedPoint seen =
            projectMarkerPoint(camera, pose, k == 0 || k == 3 ? -40 : 40, k < 2 ? 40 : -40);
        worst =
            std::max(worst, std::hypot(std::stod(words[1]) - seen.x, std::stod(words[2]) - seen.y));
    }
    return worst;
}

// The add-on: a missing pattern file gives Lumeko's message and a cancelled
// run ends its program, and neither changes the scene; two tracks leave one
// camera, whose view of the marker lies on the truth in every frame.
void checkAddOn(const std::string& out, const TrackedOrbit& clip) {
    EXPECT_EQ(found(out, "addon installed").at(0),
              (std::vector<std::string>{"lumeko", "1", "0", "0"}));
    EXPECT_EQ(joined(found(out, "addon programs").at(0)),
              "Lumeko 1.0.0 and its tools, as the add-on");
    const std::string failed = joined(found(out, "addon failed:").at(0));
    EXPECT_NE(failed.find("can not load pattern <"), std::string::npos) << failed;
    EXPECT_NE(failed.find("absent.pattern: No such file or directory"), std::string::npos)
        << failed;
    EXPECT_EQ(joined(found(out, "addon failed unchanged").at(0)), "1");
    EXPECT_EQ(joined(found(out, "addon progress").at(0)), "Tracking True");
    EXPECT_EQ(joined(found(out, "addon cancelled").at(0)), "cancelled ['CANCELLED'] 1 1 1");
    auto tracked = found(out, "addon tracked");
    ASSERT_EQ(tracked.size(), 2u);
    tracked[0][0] = tracked[1][0];  // the round
    EXPECT_EQ(tracked[0], tracked[1]) << "the second track replaces the first";
    EXPECT_EQ(joined(found(out, "addon scene").at(0)), "1 24 30 STD_CAMERA orbit.avi");
    int count = 0;
    const double worst = worstCorner(out, "addon", clip, loadCamera(clip.camera()), count);
    std::printf("[blender] add-on: the marker's corners within %.3f px of the truth\n", worst);
    EXPECT_EQ(count, 4 * FRAMES);
    EXPECT_LE(worst, 0.1);
}

// The glTF export of the true keys, imported with the importer's defaults:
// its camera moves as the keys say, and the marker's corners are there.
void checkGltf(const std::string& out, const TrackedOrbit& clip) {
    CameraMotion truth;
    ASSERT_TRUE(readCameraMotion(clip.dir.file("truth.cm2"), truth).ok());
    EXPECT_EQ(joined(found(out, "gltf cameras").at(0)), "1");
    const auto cameras = found(out, "gltf camera");
    EXPECT_EQ(cameras.size(), static_cast<size_t>(FRAMES));
    for (const auto& words : cameras) {
        // Blender is Z-up: its x, y, z are the export's X, -Z, Y, in metres.
        const int frame = std::stoi(words.at(0));
        const WorldCamera want = worldCameraOfRow(truth.rows.at(frame));
        for (int r = 0, from[3] = {0, 2, 1}; r < 3; r++) {
            const double sign = r == 1 ? -1.0 : 1.0;
            EXPECT_NEAR(std::stod(words.at(1 + 4 * r + 3)), sign * want.position[from[r]] * 0.001,
                        1e-5)
                << frame;
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(std::stod(words.at(1 + 4 * r + c)), sign * want.rotation[from[r]][c],
                            1e-4)
                    << frame;
        }
    }
    int corners = 0;
    for (const auto& words : found(out, "gltf empty"))
        corners += std::abs(std::abs(std::stod(words.at(0))) - 0.04) +
                       std::abs(std::abs(std::stod(words.at(1))) - 0.04) +
                       std::abs(std::stod(words.at(2))) <
                   1e-6;
    EXPECT_EQ(corners, 4);
}

// The scene script of the true keys: its settings, its camera puts the
// marker's corners where the footage has them, and a set's marker lies where
// its layout says.
void checkScene(const std::string& out, const TrackedOrbit& clip) {
    EXPECT_EQ(joined(found(out, "scene").at(0)), "1 24 30 640 480");
    EXPECT_EQ(joined(found(out, "scene clip").at(0)), "MOVIE 1");
    int count = 0;
    EXPECT_LE(worstCorner(out, "scene", clip, loadCamera(clip.camera()), count), 0.05);
    EXPECT_EQ(count, 12);
    // The set's marker 2 where the layout puts it, in metres.
    const std::vector<std::string> set = found(out, "scene set").at(0);
    const double expected[14] = {2, 0.04, 1, 0, 0, 0.1, 0, 0, -1, 0.2, 0, 1, 0, 0.03};
    ASSERT_EQ(set.size(), 14u);
    for (int k = 0; k < 14; k++)
        EXPECT_NEAR(std::stod(set[k]), expected[k], 1e-6) << k;
}

// The distorted lens: each bright square of the render laid on the footage by
// the Movie Distortion node, against where the camera file's lens model
// shows it from Blender's camera. Squares whose picture is cut by the frame's
// edge, in the render or once distorted, are left out.
void checkLens(const std::string& out, const CameraParam& lens) {
    EXPECT_EQ(joined(found(out, "lens node").at(0)), "orbit.avi");
    const auto camera = found(out, "lens camera").at(0);
    // Blender's camera (x right, y up, z backward) in metres, as the marker's
    // pose in our camera (x right, y down, z forward) in millimetres.
    double m[3][4];
    for (int k = 0; k < 12; ++k)
        m[k / 4][k % 4] = std::stod(camera.at(k));
    CameraPose pose;
    for (int r = 0; r < 3; ++r) {
        const double sign = r == 0 ? 1.0 : -1.0;
        pose.m[r][3] = 0.0;
        for (int c = 0; c < 3; ++c) {
            pose.m[r][c] = sign * m[c][r];
            pose.m[r][3] -= sign * m[c][r] * m[c][3] / 0.001;
        }
    }
    std::vector<std::pair<double, double>> spots;
    for (const auto& words : found(out, "lens spot"))
        spots.emplace_back(std::stod(words.at(0)), std::stod(words.at(1)));
    const double margin = 8.0;
    const auto inside = [&](double x, double y) {
        return x > margin && y > margin && x < lens.xsize - 1 - margin &&
               y < lens.ysize - 1 - margin;
    };
    CameraParam pinhole = lens;
    pinhole.distFactor[2] = 0.0;
    int measured = 0;
    double worst = 0.0;
    for (const auto& words : found(out, "lens square")) {
        const double x = std::stod(words.at(0)) / 0.001, y = std::stod(words.at(1)) / 0.001;
        const ProjectedPoint seen = projectMarkerPoint(lens, pose, x, y);
        const ProjectedPoint rendered = projectMarkerPoint(pinhole, pose, x, y);
        if (seen.depth <= 0.0 || !inside(seen.x, seen.y) || !inside(rendered.x, rendered.y))
            continue;
        double nearest = INFINITY;
        for (const auto& [sx, sy] : spots)
            nearest = std::min(nearest, std::hypot(sx - seen.x, sy - seen.y));
        worst = std::max(worst, nearest);
        ++measured;
    }
    std::printf("[blender] lens: %d squares within %.3f px of the camera file's model\n", measured,
                worst);
    EXPECT_GE(measured, 100);
    EXPECT_LE(worst, 0.2);
}

TEST(Blender, TheAddOnTracksTheExportsImportAndTheLensLiesOnTheFootage) {
    if (blenderPath().empty()) {
        if (std::getenv("LUMEKO_REQUIRE_BLENDER") != nullptr)
            FAIL() << "no Blender that runs headless (scripts/install-deps tests installs it)";
        GTEST_SKIP() << "Blender is not installed: apt-get install blender python3-numpy";
    }
    // A short orbit near the marker, finely sampled: the add-on's track is
    // held to a tenth of a pixel.
    TrackedOrbit clip;
    const std::string& dir = clip.dir.path();
    std::filesystem::create_directory(clip.dir.file("Data"));
    std::filesystem::create_directory(clip.dir.file("scripts"));
    mustRun(dir, cameraCommand("Data/camera_para.dat", "640x480"));
    mustRun(dir, cameraCommand("lens.dat", "640x480",
                               {"--centre", "328,236", "--distortion", "30,1.02"}));
    mustRun(dir, renderCommand(
                     "Data/camera_para.dat",
                     {"--size", "640x480", "--path", "orbit", "--frames", std::to_string(FRAMES),
                      "--distance", "260", "--supersample", "4", "--output", "orbit.avi"}));
    clip.truth = readTruthTable(clip.dir.file("orbit.csv"));
    mustRun(dir, renderCommand("Data/camera_para.dat",
                               {"--size", "320x240", "--frames", "400", "--output", "long.avi"}));
    writeTruthTrack(clip, "truth.cm2");
    const std::string picture = SAMPLE + "_picture.ppm";
    // A set's marker 2, 40 wide, on a wall 200 along y, 30 up.
    lumeko_test::writeFile(clip.dir.file("set.csv"),
                           "marker,pattern,width,frames,sigma_deg,sigma_pos,r00,r01,r02,t0,r10,"
                           "r11,r12,t1,r20,r21,r22,t2\n0,a,80,9,0,0,1,0,0,0,0,1,0,0,0,0,1,0\n"
                           "2," +
                               SAMPLE + ".pattern,40,9,0,0,1,0,0,100,0,0,-1,200,0,1,0,30\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"truth.cm2", "truth.glb", "--camera", clip.camera()},
          {"truth.cm2", "scene.py", "--camera", clip.camera(), "--footage", "orbit.avi",
           "--picture", picture, "--layout", "set.csv"},
          {"truth.cm2", "lens.py", "--camera", "lens.dat", "--footage", "orbit.avi"}}) {
        const ProcessResult exported = runTool(clip, "lumeko-export", args);
        ASSERT_EQ(exported.status, 0) << exported.err;
    }
    const ProcessResult run = runBlender(
        dir, LUMEKO_SOURCE_DIR "/tests/tools/blender_checks.py",
        {"ADDON=" LUMEKO_ADDON_ZIP, "SCRIPTS=" + clip.dir.file("scripts"),
         "TOOLS=" LUMEKO_TOOLS_DIR,
         "APP=" + std::filesystem::path(LUMEKO_BINARY).parent_path().string(),
         "CLIP=" + clip.movie(), "PATTERN=" + SAMPLE + ".pattern", "CAMERA=" + clip.camera(),
         "GLTF=truth.glb", "FRAMES=" + std::to_string(FRAMES), "SCENE=" + clip.dir.file("scene.py"),
         "SCENE_FRAMES=1,12,20", "LENS=" + clip.dir.file("lens.py"), "LENS_FRAME=10",
         "LONG_CLIP=" + clip.dir.file("long.avi"), "RESULTS=" + clip.dir.file("results.txt")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string results = lumeko_test::readFile(clip.dir.file("results.txt"));
    {
        SCOPED_TRACE("the add-on");
        checkAddOn(results, clip);
    }
    {
        SCOPED_TRACE("glTF");
        checkGltf(results, clip);
    }
    {
        SCOPED_TRACE("the scene script");
        checkScene(results, clip);
    }
    SCOPED_TRACE("the lens");
    checkLens(results, loadCamera(clip.dir.file("lens.dat")));
}

}  // namespace
