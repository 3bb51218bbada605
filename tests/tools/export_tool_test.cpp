// lumeko-export on a tracked orbit: glTF read back with the library, .chan and
// CSV read back as text, against the renderer's true poses (in Blender:
// blender_test.cpp).

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "tests/tools/tracked_orbit.h"
#include "tools/common/utf8_text.h"
#include "tools/render/pose_truth.h"
#include "track/camera_key.h"
#include "track/plate_file.h"

namespace {

using namespace lumeko_test;

// A camera in the Y-up world (position, columns right / up / backward) in the
// marker's coordinates (columns x right, y down, z forward): X = x, Y = z, Z = -y.
void markerCameraOfWorld(const double position[3], const Rotation& r, double c[3][4]) {
    const double sign[3] = {1.0, -1.0, -1.0};
    for (int k = 0; k < 3; ++k) {
        c[0][k] = sign[k] * r[0][k];
        c[1][k] = -sign[k] * r[2][k];
        c[2][k] = sign[k] * r[1][k];
    }
    c[0][3] = position[0];
    c[1][3] = -position[2];
    c[2][3] = position[1];
}

template <typename T>
std::vector<T> accessorValues(const tinygltf::Model& model, int index) {
    const tinygltf::Accessor& accessor = model.accessors.at(index);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const unsigned char* start =
        model.buffers.at(view.buffer).data.data() + view.byteOffset + accessor.byteOffset;
    const size_t count =
        accessor.count * tinygltf::GetNumComponentsInType(static_cast<uint32_t>(accessor.type));
    const T* values = reinterpret_cast<const T*>(start);
    return std::vector<T>(values, values + count);
}

struct Worst {
    double position = 0.0, angle = 0.0;
    void add(const PoseError& e) {
        position = std::max(position, e.position);
        angle = std::max(angle, e.angle);
    }
};

// Reads the glTF back: the camera's lens, the marker's size (its corner nodes,
// and its mesh when asked for) and one key per frame (row r at
// (firstFrame + r) / fps seconds), compared with the truth.
Worst gltfAgainstTruth(const TrackedOrbit& orbit, const std::string& path, bool binary,
                       int firstFrame, double fps, bool mesh) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string error, warning;
    const bool loaded = binary ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                               : loader.LoadASCIIFromFile(&model, &error, &warning, path);
    EXPECT_TRUE(loaded) << error;
    Worst worst;
    if (!loaded)
        return worst;
    EXPECT_EQ(model.cameras.at(0).type, "perspective");
    EXPECT_NEAR(model.cameras[0].perspective.yfov, 2.0 * std::atan(0.75 * std::tan(M_PI / 6)),
                1e-9);
    EXPECT_NEAR(model.cameras[0].perspective.aspectRatio, 4.0 / 3.0, 1e-9);
    const std::vector<int>& corners = model.nodes.at(1).children;
    EXPECT_EQ(corners.size(), 4u);
    EXPECT_NEAR(model.nodes.at(corners.at(1)).translation.at(0) -
                    model.nodes.at(corners.at(0)).translation.at(0),
                0.08, 1e-6);  // 80 mm
    EXPECT_EQ(model.meshes.size(), mesh ? 1u : 0u);
    EXPECT_EQ(model.scenes.at(0).nodes.size(), mesh ? 3u : 2u);
    if (mesh) {
        const tinygltf::Node& set = model.nodes.at(6);  // after the marker's corners
        EXPECT_EQ(set.name, "marker 2");
        EXPECT_EQ(set.translation, (std::vector<double>{0.1, 0.03, -0.2}));
        // A quarter turn about +x: (x, w) = +-(sin, cos) of 45 degrees.
        EXPECT_NEAR(set.rotation.at(0) * set.rotation.at(3), 0.5, 1e-9);
        EXPECT_NEAR(model.nodes.at(set.children.at(1)).translation.at(0) -
                        model.nodes.at(set.children.at(0)).translation.at(0),
                    0.04, 1e-6);
        const tinygltf::Accessor& points =
            model.accessors.at(model.meshes[0].primitives.at(0).attributes.at("POSITION"));
        EXPECT_NEAR(points.maxValues.at(0) - points.minValues.at(0), 0.08, 1e-6);
    }
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
    EXPECT_EQ(times.size(), orbit.truth.size());
    EXPECT_EQ(moves.size(), 3 * times.size());
    EXPECT_EQ(turns.size(), 4 * times.size());
    for (size_t n = 0; n < times.size() && 4 * n + 3 < turns.size() && 3 * n + 2 < moves.size();
         ++n) {
        const int frame = static_cast<int>(std::lround(times[n] * fps)) - firstFrame;
        const double position[3] = {moves[3 * n] / 0.001, moves[3 * n + 1] / 0.001,
                                    moves[3 * n + 2] / 0.001};
        const float* q = &turns[4 * n];  // x, y, z, w
        double camera[3][4];
        markerCameraOfWorld(position, quaternionRotation(q[3], q[0], q[1], q[2]), camera);
        worst.add(poseError(camera, orbit.truth.at(frame).pose));
    }
    return worst;
}

// glTF from the true keys and from Lumeko's: the poses read back with the
// library. Lumeko's track is taken as frames 1001 on of a 24-frame plate by
// its plate file; a plate file that belongs to another track is not believed.
void checkGltf(const TrackedOrbit& orbit) {
    writeTruthTrack(orbit, "truth.cm2");
    ASSERT_TRUE(writePlateFile(orbit.track(), {1001, 24.0}).ok());
    std::filesystem::copy_file(orbit.track() + ".plate", orbit.dir.file("truth.cm2.plate"),
                               std::filesystem::copy_options::overwrite_existing);
    for (const char* output : {"truth.glb", "truth.gltf", "tracked.glb"}) {
        SCOPED_TRACE(output);
        const bool truth = std::string(output).starts_with("truth");
        const bool mesh = std::string(output) == "truth.gltf";
        std::vector<std::string> args = {truth ? "truth.cm2" : "Lumeko.cm2", output, "--camera",
                                         orbit.camera()};
        if (mesh) {
            // A set's marker 2, 40 wide, at (100, 200, 30) on a wall facing -y.
            writeFile(orbit.dir.file("set.csv"),
                      "marker,pattern,width,frames,sigma_deg,sigma_pos,r00,r01,r02,t0,r10,r11,"
                      "r12,t1,r20,r21,r22,t2\n0,a,80,9,0,0,1,0,0,0,0,1,0,0,0,0,1,0\n"
                      "2,b,40,9,0,0,1,0,0,100,0,0,-1,200,0,1,0,30\n");
            args.insert(args.end(), {"--marker-mesh", "--layout", "set.csv"});
        }
        const ProcessResult result = runTool(orbit, "lumeko-export", args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err.find("belongs to an earlier track") != std::string::npos, truth);
        const Worst worst =
            gltfAgainstTruth(orbit, orbit.dir.file(output), std::string(output).ends_with("glb"),
                             truth ? 0 : 1001, truth ? 30.0 : 24.0, mesh);
        // From the true keys only the file's precision counts; the tracked orbit
        // is held to the tracker's own bars (see accuracy_tests).
        EXPECT_LE(worst.position, truth ? 1e-5 : 0.034);
        EXPECT_LE(worst.angle, truth ? 1.0 : 2.0);
    }
}

// Every line of a text file split at spaces or commas (empty cells kept as "").
std::vector<std::vector<std::string>> cells(const std::string& text, char separator) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string>& row = rows.emplace_back();
        std::istringstream split(line);
        for (std::string cell; std::getline(split, cell, separator);)
            row.push_back(cell);
        if (!line.empty() && line.back() == separator)
            row.push_back("");
    }
    return rows;
}

// .chan and CSV read back as text: the key rows within the printed precision,
// and the poses against the truth. --first-frame wins over the plate file's.
void checkChanAndCsv(const TrackedOrbit& orbit) {
    const std::vector<KeyRow>& rows = orbit.motion.rows;
    // The CSV's run writes the set's layout (checkGltf's) in the same world too.
    for (const char* output : {"track.chan", "track.csv"}) {
        std::vector<std::string> args = {"Lumeko.cm2",   output,          "--camera",
                                         orbit.camera(), "--first-frame", "1"};
        if (std::string(output) == "track.csv")
            args.insert(args.end(), {"--layout", "set.csv", "--layout-csv", "world.csv"});
        ASSERT_EQ(runTool(orbit, "lumeko-export", args).status, 0);
    }
    EXPECT_EQ(cells(readFile(orbit.dir.file("world.csv")), '\n').at(2).at(0),
              "2,b,40,9,1.000000000,0.000000000,0.000000000,100.000000,0.000000000,0.000000000,"
              "-1.000000000,30.000000,0.000000000,1.000000000,0.000000000,-200.000000,0,0,0,1");
    const auto chan = cells(readFile(orbit.dir.file("track.chan")), ' ');
    ASSERT_EQ(chan.size(), rows.size());
    Worst chanWorst;
    for (size_t i = 0; i < chan.size(); ++i) {
        ASSERT_EQ(chan[i].size(), 8u);
        EXPECT_EQ(std::stoi(chan[i][0]), static_cast<int>(i) + 1);
        double v[7];
        for (int k = 0; k < 7; ++k)
            v[k] = std::stod(chan[i][k + 1]);
        // Printed to six decimals: positions are the keys / 0.005, angles the keys.
        EXPECT_NEAR(v[0] * 0.005, rows[i].translateX, 3e-9);
        EXPECT_NEAR(v[1] * 0.005, rows[i].translateY, 3e-9);
        EXPECT_NEAR(v[2] * 0.005, rows[i].translateZ, 3e-9);
        EXPECT_NEAR(v[3], rows[i].rotateX, 5e-7);
        EXPECT_NEAR(v[4], rows[i].rotateY, 5e-7);
        EXPECT_NEAR(v[5], rows[i].rotateZ, 5e-7);
        EXPECT_NEAR(v[6], 2.0 * std::atan(0.75 * std::tan(M_PI / 6)) * 180.0 / M_PI, 5e-7);
        // Ry Rx Rz of the angles in degrees.
        const double d = M_PI / 180.0;
        double camera[3][4];
        markerCameraOfWorld(
            v, axisRotation(1, v[4] * d) * axisRotation(0, v[3] * d) * axisRotation(2, v[5] * d),
            camera);
        chanWorst.add(poseError(camera, orbit.truth[i].pose));
    }
    const auto csv = cells(readFile(orbit.dir.file("track.csv")), ',');
    ASSERT_EQ(csv.size(), rows.size() + 1);
    EXPECT_EQ(csv[0][0], "frame");
    EXPECT_EQ(csv[0].size(), 24u);
    Worst csvWorst;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& c = csv[i + 1];
        ASSERT_EQ(c.size(), 24u);
        EXPECT_EQ(c[1], "1");
        const double keys[6] = {rows[i].translateX, rows[i].translateY, rows[i].translateZ,
                                rows[i].rotateY,    rows[i].rotateX,    rows[i].rotateZ};
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(std::stod(c[2 + k]), keys[k], 5e-7);
        double m[4][4];
        for (int k = 0; k < 16; ++k)
            m[k / 4][k % 4] = std::stod(c[8 + k]);
        EXPECT_EQ(m[3][3], 1.0);
        const double position[3] = {m[0][3], m[1][3], m[2][3]};
        Rotation r;
        for (int k = 0; k < 9; ++k)
            r[k / 3][k % 3] = m[k / 3][k % 3];
        double camera[3][4];
        markerCameraOfWorld(position, r, camera);
        csvWorst.add(poseError(camera, orbit.truth[i].pose));
    }
    for (const Worst& w : {chanWorst, csvWorst}) {
        EXPECT_LE(w.position, 0.034);
        EXPECT_LE(w.angle, 2.0);
    }
}

TEST(ExportTool, RefusesBadInputWithAMessage) {
    TrackedOrbit orbit;  // only its directory: no footage needed
    writeFile(orbit.dir.file("bad.cm2"), "{\n\nversion\n");
    writeTruthTrack(orbit, "empty.cm2", 0);
    orbit.truth.resize(2);  // two found frames, the second with a key beyond any position
    writeTruthTrack(orbit, "two.cm2");
    orbit.truth[1].keys[0] = 1e308;
    writeTruthTrack(orbit, "huge.cm2");
    writeFile(orbit.dir.file("camera.dat"), "short");
    mustRun(orbit.dir.path(), cameraCommand("good.dat", "640x480"));
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"absent.cm2", "out.csv"}, "absent.cm2: cannot open: No such file or directory"},
        {{".", "out.csv"}, ".: cannot open: Is a folder, not a file"},
        {{"bad.cm2", "out.csv"}, "bad.cm2: not a camera-motion file: line 4: the file ends"},
        {{"empty.cm2", "out.gltf", "--camera", "camera.dat"}, "camera.dat: the file ends 5 bytes"},
        {{"empty.cm2", "out.txt"}, "must end in .gltf, .glb, .chan, .csv or .py"},
        {{"empty.cm2", "out.py", "--camera", "camera.dat"}, "camera.dat: the file ends 5 bytes"},
        {{"empty.cm2", "out.csv", "--fps", "0"}, "bad value for --fps"},
        {{"empty.cm2"}, "give one Lumeko.cm2 and one OUTPUT"},
        {{"two.cm2", "out.csv", "--layout-csv", "w.csv"}, "--layout-csv needs --layout"},
        // Every format refuses a track without a found frame, and a value
        // or frame number that the conversion takes out of range.
        {{"empty.cm2", "out.csv"}, "no frame of the track has the marker"},
        {{"huge.cm2", "out.csv"}, "row 1, channel m03: the value is inf once converted"},
        {{"huge.cm2", "out.py", "--camera", "good.dat"}, "row 1, channel location x: the value"},
        {{"two.cm2", "out.csv", "--first-frame", "2147483647"},
         "row 1: the frame number 2147483648 (--first-frame 2147483647) is beyond 2147483647"},
    };
    for (const auto& [args, message] : cases) {
        const ProcessResult result = runTool(orbit, "lumeko-export", args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(orbit.dir.file(args.size() > 1 ? args[1] : "out")));
    }
    EXPECT_EQ(runTool(orbit, "lumeko-export", {"empty.cm2", "--summary"}).out,
              "frames 0 found 0\n");
    const ProcessResult noCamera = runTool(orbit, "lumeko-export", {"empty.cm2", "out.glb"});
    EXPECT_EQ(noCamera.status, 1);
    EXPECT_NE(noCamera.err.find("Data/camera_para.dat: No such file"), std::string::npos);
}

// A track's camera name may hold any bytes; glTF's JSON and the Blender
// script hold UTF-8 only: each byte outside a well-formed sequence becomes
// '?' (the glTF writer threw on such a name, and lumeko-export aborted).
TEST(ExportTool, ACameraNameOfAnyBytesIsWrittenAsUtf8) {
    const std::pair<const char*, const char*> names[] = {
        {"STD_CAMERA", "STD_CAMERA"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
        {"STD_CA\xB0"
         "ERA",
         "STD_CA?ERA"},
        {"\xC0\xAF \xED\xA0\x80", "?? ???"},
        {"\xF4\x90\x80\x80 \xE2\x82", "???? ??"}};
    for (const auto& [name, written] : names)
        EXPECT_EQ(utf8Text(name), written) << name;
    TrackedOrbit orbit;  // only its directory
    orbit.truth.resize(2);
    writeTruthTrack(orbit, "t.cm2");
    std::string track = readFile(orbit.dir.file("t.cm2"));
    const std::string name =
        "STD_CA\xB0"
        "ERA";
    for (size_t at = track.find("STD_CAMERA"); at != std::string::npos;
         at = track.find("STD_CAMERA"))
        track.replace(at, 10, name);
    writeFile(orbit.dir.file("t.cm2"), track);
    mustRun(orbit.dir.path(), cameraCommand("cam.dat", "640x480"));
    for (const char* out : {"t.gltf", "t.py"}) {
        const ProcessResult result =
            runTool(orbit, "lumeko-export", {"t.cm2", out, "--camera", "cam.dat"});
        EXPECT_EQ(result.status, 0) << out << ": " << result.err;
        EXPECT_NE(readFile(orbit.dir.file(out)).find("STD_CA?ERA"), std::string::npos) << out;
    }
}

// The Blender scene's track data as Python reads it: the plate file's first
// frame 0 and rate 23.976 (row 0 lost: keys on frames 1 and 2), --first-frame
// over the plate's, a footage name holding a backslash and a quote, and a
// set's further marker only with --layout.
TEST(ExportTool, TheBlenderScenesKeysLieOnThePlatesFrames) {
    TrackedOrbit orbit;  // only its directory
    orbit.truth.resize(3);
    writeTruthTrack(orbit, "t.cm2", -1, {0});
    mustRun(orbit.dir.path(), cameraCommand("cam.dat", "640x480"));
    ASSERT_TRUE(writePlateFile(orbit.dir.file("t.cm2"), {0, 23.976}).ok());
    const std::string footage = "a\\b \"c\".####.png";
    // A set's marker 2, 40 wide, 200 along y: its place in metres.
    writeFile(orbit.dir.file("set.csv"),
              "marker,pattern,width,frames,sigma_deg,sigma_pos,r00,r01,r02,t0,r10,"
              "r11,r12,t1,r20,r21,r22,t2\n0,a,80,9,0,0,1,0,0,0,0,1,0,0,0,0,1,0\n"
              "2,b,40,9,0,0,1,0,0,100,0,0,-1,200,0,1,0,30\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "0 23.976 [1, 2] []"},
        {{"--first-frame", "1001"}, "1001 23.976 [1002, 1003] []"},
        {{"--layout", "set.csv"}, "0 23.976 [1, 2] [('marker 2', 0.04, 0.2, 0.03)]"}};
    for (const auto& [options, expected] : cases) {
        std::vector<std::string> args{"t.cm2", "s.py", "--camera", "cam.dat", "--footage", footage};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(runTool(orbit, "lumeko-export", args).status, 0);
        const ProcessResult read =
            runProcess(orbit.dir.path(),
                       {"/usr/bin/python3", "-c",
                        "import ast; s = open('s.py').read(); s = s[s.index('TRACK = ') + 8:]; "
                        "t = ast.literal_eval(s[:s.index('\\n}\\n') + 2]); "
                        "print(t['first_frame'], t['fps'], [k[0] for k in t['keys']], "
                        "[(m['name'], m['width'], m['matrix'][1][3], m['matrix'][2][3]) "
                        "for m in t.get('set', [])], t['footage'])"});
        EXPECT_EQ(read.out, expected + " " + orbit.dir.file(footage) + "\n") << read.err;
    }
}

}  // namespace

void checkExports(const TrackedOrbit& orbit) {
    {
        SCOPED_TRACE("glTF");
        checkGltf(orbit);
    }
    SCOPED_TRACE(".chan and CSV");
    checkChanAndCsv(orbit);
}
