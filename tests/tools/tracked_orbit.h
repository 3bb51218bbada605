#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/truth_table.h"
#include "track/camera_motion_reader.h"

// A short orbit (640 x 480, 60 frames, the sample marker 80 units wide, the
// camera 60 degrees wide) rendered by lumeko-render and tracked by Lumeko in a
// fresh directory, for the tools that read Lumeko.cm2.
struct TrackedOrbit {
    static constexpr int FRAMES = 60;
    static constexpr double MARKER_WIDTH = 80.0;
    lumeko_test::TempDir dir;
    std::vector<TruthRow> truth;
    CameraMotion motion;  // what Lumeko wrote
    std::string camera() const { return dir.file("Data/camera_para.dat"); }
    std::string track() const { return dir.file("Lumeko.cm2"); }
    std::string movie() const { return dir.file("orbit.avi"); }
};

// Renders and tracks; fails the test (fatally) when a step fails.
void makeTrackedOrbit(TrackedOrbit& orbit);

// Runs one of the tools in the orbit's directory, input at /dev/null.
lumeko_test::ProcessResult runTool(const TrackedOrbit& orbit, const std::string& tool,
                                   const std::vector<std::string>& args);

// Writes `name` in the orbit's directory as Lumeko would for the true keys
// (unsmoothed): the first `rows` frames (all when negative), those in `lost`
// as not found.
void writeTruthTrack(const TrackedOrbit& orbit, const std::string& name, int rows = -1,
                     const std::vector<int>& lost = {});

// How far a camera is from the truth: the position error as a fraction of the
// true distance, and the angle between the orientations in degrees. The
// camera is given in the marker's coordinates: position and axes (columns x
// right, y down, z forward).
struct PoseError {
    double position;
    double angle;
};
PoseError poseError(const double cameraInMarker[3][4], const double truthPose[3][4]);

// The checks of lumeko-export, lumeko-overlay and lumeko-plot on the orbit
// (export_tool_test.cpp, overlay_tool_test.cpp, plot_tool_test.cpp).
void checkExports(const TrackedOrbit& orbit);
void checkOverlay(const TrackedOrbit& orbit);
void checkPlot(const TrackedOrbit& orbit);
