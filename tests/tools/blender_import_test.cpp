// The default glTF export of a tracked orbit in the real Blender, headless:
// imported with the importer's default settings, its camera moves exactly as
// the track says, and the marker's corners are there.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/blender.h"
#include "tests/tools/tracked_orbit.h"
#include "tools/export/track_export.h"

namespace {

TEST(BlenderImport, TheDefaultExportGivesTheTrackedCamera) {
    if (lumeko_test::blenderPath().empty()) {
        if (std::getenv("LUMEKO_REQUIRE_BLENDER") != nullptr)
            FAIL() << "no Blender that runs headless (scripts/install-deps tests installs it)";
        GTEST_SKIP() << "Blender is not installed: apt-get install blender python3-numpy";
    }
    TrackedOrbit orbit;
    ASSERT_NO_FATAL_FAILURE(makeTrackedOrbit(orbit));
    ASSERT_EQ(runTool(orbit, "lumeko-export", {"Lumeko.cm2", "track.glb"}).status, 0);
    const lumeko_test::ProcessResult result = lumeko_test::runBlender(
        orbit.dir.path(), LUMEKO_SOURCE_DIR "/tests/tools/blender_camera.py",
        {"track.glb", "30", std::to_string(TrackedOrbit::FRAMES)});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    // Blender is Z-up: its x, y, z are the export's X, -Z, Y, in metres.
    std::istringstream lines(result.out.substr(result.out.find("cameras 1\n")));
    int frames = 0, corners = 0;
    for (std::string kind; lines >> kind;) {
        double m[3][4];
        if (kind == "empty" && lines >> m[0][0] >> m[0][1] >> m[0][2])
            corners += std::abs(std::abs(m[0][0]) - 0.04) + std::abs(std::abs(m[0][1]) - 0.04) +
                           std::abs(m[0][2]) <
                       1e-6;
        int frame = -1;
        if (kind != "camera" || !(lines >> frame))
            continue;
        for (auto& row : m)
            for (double& v : row)
                lines >> v;
        const WorldCamera want = worldCameraOfRow(orbit.motion.rows.at(frames++));
        for (int r = 0, from[3] = {0, 2, 1}; r < 3; r++) {
            const double sign = r == 1 ? -1.0 : 1.0;
            EXPECT_NEAR(m[r][3], sign * want.position[from[r]] * 0.001, 1e-5) << frame;
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(m[r][c], sign * want.rotation[from[r]][c], 1e-4) << frame;
        }
    }
    EXPECT_EQ(frames, TrackedOrbit::FRAMES) << result.out;
    EXPECT_EQ(corners, 4) << result.out;
}

}  // namespace
