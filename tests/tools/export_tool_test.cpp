// lumeko-export on a tracked orbit: glTF read back with the library, .chan and
// CSV read back as text, all against the renderer's true poses.

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "tests/tools/tracked_orbit.h"

namespace {

using lumeko_test::ProcessResult;
using lumeko_test::Rotation;

// A camera of the export's Y-up world: the frame, its position and its axes
// (columns right, up, backward).
struct Shot {
    int frame;
    double position[3];
    Rotation r;
};

// The worst error of the shots against the truth (frames from `first`). In
// the marker's coordinates (columns x right, y down, z forward) X = x, Y = z, Z = -y.
PoseError worstAgainstTruth(const TrackedOrbit& orbit, const std::vector<Shot>& shots, int first) {
    PoseError worst{0.0, 0.0};
    for (const Shot& s : shots) {
        const double sign[3] = {1.0, -1.0, -1.0};
        double c[3][4] = {
            {0, 0, 0, s.position[0]}, {0, 0, 0, -s.position[2]}, {0, 0, 0, s.position[1]}};
        for (int k = 0; k < 3; ++k) {
            c[0][k] = sign[k] * s.r[0][k];
            c[1][k] = -sign[k] * s.r[2][k];
            c[2][k] = sign[k] * s.r[1][k];
        }
        const PoseError e = poseError(c, orbit.truth.at(s.frame - first).pose);
        worst = {std::max(worst.position, e.position), std::max(worst.angle, e.angle)};
    }
    return worst;
}

template <typename T>
std::vector<T> accessorValues(const tinygltf::Model& model, int index) {
    const tinygltf::Accessor& accessor = model.accessors.at(index);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const T* values = reinterpret_cast<const T*>(model.buffers.at(view.buffer).data.data() +
                                                 view.byteOffset + accessor.byteOffset);
    return std::vector<T>(values,
                          values + accessor.count * tinygltf::GetNumComponentsInType(
                                                        static_cast<uint32_t>(accessor.type)));
}

// The glTF's lens, marker and one key a frame (at 30 frames a second, in metres).
std::vector<Shot> readGltf(const std::string& path) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string error, warning;
    const bool loaded = path.ends_with(".glb")
                            ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                            : loader.LoadASCIIFromFile(&model, &error, &warning, path);
    EXPECT_TRUE(loaded) << error;
    if (!loaded)
        return {};
    EXPECT_EQ(model.cameras.at(0).type, "perspective");
    EXPECT_NEAR(model.cameras[0].perspective.yfov, 2.0 * std::atan(0.75 * std::tan(M_PI / 6)),
                1e-9);
    EXPECT_NEAR(model.cameras[0].perspective.aspectRatio, 4.0 / 3.0, 1e-9);
    const tinygltf::Accessor& corners =
        model.accessors.at(model.meshes.at(0).primitives.at(0).attributes.at("POSITION"));
    EXPECT_NEAR(corners.maxValues.at(0) - corners.minValues.at(0), 0.08, 1e-6);  // 80 mm
    const tinygltf::Animation& animation = model.animations.at(0);
    EXPECT_EQ(animation.channels.size(), 2u);
    std::vector<float> times, moves, turns;
    for (const tinygltf::AnimationChannel& channel : animation.channels) {
        const tinygltf::AnimationSampler& sampler = animation.samplers.at(channel.sampler);
        EXPECT_EQ(sampler.interpolation, "LINEAR");
        EXPECT_EQ(model.nodes.at(channel.target_node).camera, 0);
        times = accessorValues<float>(model, sampler.input);
        (channel.target_path == "translation" ? moves : turns) =
            accessorValues<float>(model, sampler.output);
    }
    EXPECT_EQ(moves.size(), 3 * times.size());
    EXPECT_EQ(turns.size(), 4 * times.size());
    std::vector<Shot> shots;
    for (size_t n = 0; n < times.size() && 4 * n + 3 < turns.size() && 3 * n + 2 < moves.size();
         ++n) {
        const float* q = &turns[4 * n];  // x, y, z, w
        shots.push_back({static_cast<int>(std::lround(times[n] * 30.0)),
                         {moves[3 * n] / 0.001, moves[3 * n + 1] / 0.001, moves[3 * n + 2] / 0.001},
                         lumeko_test::quaternionRotation(q[3], q[0], q[1], q[2])});
    }
    return shots;
}

// Every line of a text file split at `separator`.
std::vector<std::vector<std::string>> cells(const std::string& text, char separator) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string>& row = rows.emplace_back();
        std::istringstream split(line);
        for (std::string cell; std::getline(split, cell, separator);)
            row.push_back(cell);
    }
    return rows;
}

}  // namespace

void checkExports(const TrackedOrbit& orbit) {
    // glTF from the true keys, where only the file's precision counts, and from
    // Lumeko's, held to the tracker's own bars (see accuracy_tests).
    writeTruthTrack(orbit, "truth.cm2");
    for (const char* output : {"truth.glb", "truth.gltf", "tracked.glb"}) {
        SCOPED_TRACE(output);
        const bool truth = std::string(output).starts_with("truth");
        const ProcessResult result =
            runTool(orbit, "lumeko-export",
                    {truth ? "truth.cm2" : "Lumeko.cm2", output, "--camera", orbit.camera()});
        ASSERT_EQ(result.status, 0) << result.err;
        const std::vector<Shot> shots = readGltf(orbit.dir.file(output));
        EXPECT_EQ(shots.size(), orbit.truth.size());
        const PoseError worst = worstAgainstTruth(orbit, shots, 0);
        EXPECT_LE(worst.position, truth ? 1e-5 : 0.034);
        EXPECT_LE(worst.angle, truth ? 1.0 : 2.0);
    }
    // .chan and CSV: the keys within the printed precision (six decimals;
    // positions are the keys / 0.005), the poses against the truth.
    const std::vector<KeyRow>& rows = orbit.motion.rows;
    for (const char* output : {"track.chan", "track.csv"})
        ASSERT_EQ(runTool(orbit, "lumeko-export",
                          {"Lumeko.cm2", output, "--camera", orbit.camera(), "--first-frame", "1"})
                      .status,
                  0);
    const auto chan = cells(lumeko_test::readFile(orbit.dir.file("track.chan")), ' ');
    const auto csv = cells(lumeko_test::readFile(orbit.dir.file("track.csv")), ',');
    ASSERT_EQ(chan.size(), rows.size());
    ASSERT_EQ(csv.size(), rows.size() + 1);
    EXPECT_EQ(csv[0].size(), 24u);
    std::vector<Shot> chanShots, csvShots;
    const double d = M_PI / 180.0;
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(chan[i].size(), 8u);
        ASSERT_EQ(csv[i + 1].size(), 24u);
        EXPECT_EQ(chan[i][0], std::to_string(i + 1));
        EXPECT_EQ(csv[i + 1][0] + csv[i + 1][1], std::to_string(i + 1) + "1");
        double v[7], m[22];
        for (int k = 0; k < 7; ++k)
            v[k] = std::stod(chan[i][k + 1]);
        for (int k = 0; k < 22; ++k)
            m[k] = std::stod(csv[i + 1][k + 2]);
        const double keys[6] = {rows[i].translateX, rows[i].translateY, rows[i].translateZ,
                                rows[i].rotateY,    rows[i].rotateX,    rows[i].rotateZ};
        const double chanKeys[6] = {v[0] * 0.005, v[1] * 0.005, v[2] * 0.005, v[4], v[3], v[5]};
        for (int k = 0; k < 6; ++k) {
            EXPECT_NEAR(chanKeys[k], keys[k], k < 3 ? 3e-9 : 5e-7);
            EXPECT_NEAR(m[k], keys[k], 5e-7);
        }
        EXPECT_NEAR(v[6], 2.0 * std::atan(0.75 * std::tan(M_PI / 6)) / d, 5e-7);
        // .chan: Ry Rx Rz of the angles in degrees; CSV: the 4 x 4 matrix.
        chanShots.push_back(
            {static_cast<int>(i + 1),
             {v[0], v[1], v[2]},
             lumeko_test::axisRotation(1, v[4] * d) * lumeko_test::axisRotation(0, v[3] * d) *
                 lumeko_test::axisRotation(2, v[5] * d)});
        Shot& s = csvShots.emplace_back(Shot{static_cast<int>(i + 1), {m[9], m[13], m[17]}, {}});
        for (int k = 0; k < 9; ++k)
            s.r[k / 3][k % 3] = m[6 + k / 3 * 4 + k % 3];
        EXPECT_EQ(m[21], 1.0);
    }
    for (const auto& shots : {chanShots, csvShots}) {
        const PoseError worst = worstAgainstTruth(orbit, shots, 1);
        EXPECT_LE(worst.position, 0.034);
        EXPECT_LE(worst.angle, 2.0);
    }
}

TEST(ExportTool, RefusesBadInputWithAMessage) {
    TrackedOrbit orbit;  // only its directory: no footage needed
    lumeko_test::writeFile(orbit.dir.file("bad.cm2"), "{\n\nversion\n");
    writeTruthTrack(orbit, "empty.cm2", 0);
    lumeko_test::writeFile(orbit.dir.file("camera.dat"), "short");
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"absent.cm2", "out.csv"}, "absent.cm2: cannot open"},
        {{"bad.cm2", "out.csv"}, "bad.cm2: not a camera-motion file: line 4: the file ends"},
        {{"empty.cm2", "out.gltf", "--camera", "camera.dat"}, "camera.dat: not a readable"},
        {{"empty.cm2", "out.glb"}, "Data/camera_para.dat: not a readable"},
        {{"empty.cm2", "out.txt"}, "must end in .gltf, .glb, .chan or .csv"},
        {{"empty.cm2", "out.csv", "--fps", "0"}, "bad value for --fps"},
        {{"empty.cm2"}, "give one Lumeko.cm2 and one OUTPUT"},
    };
    for (const auto& [args, message] : cases) {
        const ProcessResult result = runTool(orbit, "lumeko-export", args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(orbit.dir.file("out.txt")));
    }
    EXPECT_EQ(runTool(orbit, "lumeko-export", {"empty.cm2", "--summary"}).out,
              "frames 0 found 0\n");
}
