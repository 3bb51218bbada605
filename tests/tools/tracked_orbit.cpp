#include "tests/tools/tracked_orbit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "track/camera_motion.h"
#include "track/key_table.h"

void makeTrackedOrbit(TrackedOrbit& orbit) {
    std::filesystem::create_directory(orbit.dir.file("Data"));
    const std::string& dir = orbit.dir.path();
    lumeko_test::mustRun(dir, lumeko_test::cameraCommand("Data/camera_para.dat", "640x480"));
    lumeko_test::mustRun(
        dir, lumeko_test::renderCommand("Data/camera_para.dat",
                                        {"--size", "640x480", "--path", "orbit", "--frames",
                                         std::to_string(TrackedOrbit::FRAMES), "--output",
                                         "orbit.avi", "--truth", "orbit.csv"}));
    lumeko_test::mustRun(dir, {LUMEKO_BINARY, LUMEKO_SOURCE_DIR "/Data/sample_marker.pattern", "80",
                               "0", "M", "orbit.avi"});
    orbit.truth = lumeko_test::readTruthTable(orbit.dir.file("orbit.csv"));
    ASSERT_EQ(orbit.truth.size(), static_cast<size_t>(TrackedOrbit::FRAMES));
    const TrackResult read = readCameraMotion(orbit.track(), orbit.motion);
    ASSERT_TRUE(read.ok()) << readFailureText(orbit.track(), read);
    ASSERT_EQ(orbit.motion.rowCount(), TrackedOrbit::FRAMES);
    ASSERT_EQ(orbit.motion.foundCount(), TrackedOrbit::FRAMES);
}

lumeko_test::ProcessResult runTool(const TrackedOrbit& orbit, const std::string& tool,
                                   const std::vector<std::string>& args) {
    std::vector<std::string> argv = {std::string(LUMEKO_TOOLS_DIR) + "/" + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return lumeko_test::runProcess(orbit.dir.path(), argv);
}

void writeTruthTrack(const TrackedOrbit& orbit, const std::string& name, int rows,
                     const std::vector<int>& lost) {
    auto table = std::make_unique<KeyTable>();
    const int count = rows < 0 ? static_cast<int>(orbit.truth.size()) : rows;
    for (int i = 0; i < count; ++i) {
        const auto& k = orbit.truth.at(i).keys;  // the values of a key row, in its order
        const int found = std::find(lost.begin(), lost.end(), i) == lost.end() ? 1 : 0;
        appendKeyRow(*table, {found, k[0], k[1], k[2], k[3], k[4], k[5]});
    }
    // Written in a directory of its own, so that Lumeko's file stays.
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::create_directories(orbit.dir.file("truth"));
    std::filesystem::current_path(orbit.dir.file("truth"));
    writeCameraMotion(*table, 0);
    std::filesystem::current_path(home);
    std::filesystem::rename(orbit.dir.file("truth/Lumeko.cm2"), orbit.dir.file(name));
}

PoseError poseError(const double c[3][4], const double t[3][4]) {
    // The true camera: position -R^T t, axes the rows of R.
    double position[3], trace = 0.0;
    for (int j = 0; j < 3; ++j) {
        position[j] = -(t[0][j] * t[0][3] + t[1][j] * t[1][3] + t[2][j] * t[2][3]);
        for (int k = 0; k < 3; ++k)
            trace += c[j][k] * t[k][j];
    }
    const double distance = std::hypot(position[0], position[1], position[2]);
    const double off =
        std::hypot(c[0][3] - position[0], c[1][3] - position[1], c[2][3] - position[2]);
    const double angle = std::acos(std::clamp((trace - 1.0) / 2.0, -1.0, 1.0)) * 180.0 / M_PI;
    return {off / distance, angle};
}

// One orbit for every tool: rendering and tracking it is the slow part.
TEST(ViewTools, ExportOverlayAndPlotCarryTheTrackedOrbit) {
    TrackedOrbit orbit;
    ASSERT_NO_FATAL_FAILURE(makeTrackedOrbit(orbit));
    using Check = void (*)(const TrackedOrbit&);
    for (auto [tool, check] : {std::pair<const char*, Check>{"lumeko-export", checkExports},
                               {"lumeko-overlay", checkOverlay},
                               {"lumeko-plot", checkPlot}}) {
        SCOPED_TRACE(tool);
        check(orbit);
    }
}
