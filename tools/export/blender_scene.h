#pragma once

#include <string>
#include <vector>

#include "camera/camera_param.h"
#include "tools/common/image_io.h"
#include "tools/export/track_export.h"
#include "track/camera_motion_reader.h"

// A further marker of a set, for the scene: its number, width, pose relative
// to the first marker (in the width's unit) and its picture as printed.
struct BlenderSetMarker {
    int number = 0;
    double width = 0.0;
    Pose toWorld{};
    RgbImage texture;
};

// What the Blender script is made from besides the track.
struct BlenderSceneInput {
    CameraParam camera{};               // the camera file, for frames of its own size
    RgbImage markerTexture;             // the whole marker as printed, square, top row first
    std::string footage;                // absolute path of the movie or image sequence; "" for none
    bool fpsGiven = false;              // else the footage's rate, or 30
    std::string trackName;              // the camera-motion file, named in the script's header
    std::vector<BlenderSetMarker> set;  // a set's further markers (--layout); none for one
};

// A Python script for Blender (3.4 and later) that makes a scene named
// "Lumeko" in the open file: the track's data (TRACK), then the Lumeko
// add-on's scene module (blender/lumeko/scene.py), then the call that builds
// the scene with it. The data: the tracked camera with one key per found
// frame (at frame settings.firstFrame + row), the camera file's size and
// Blender's lens for it (BlenderLens: the render's pinhole and the clip's
// lens distortion, which the module resizes to the footage's width as Lumeko
// resizes the camera file), the footage, the frame range and rate, and the
// marker settings.markerWidth wide with its texture, and with a set's
// further markers ("set": each one's name, width, 3 x 4 matrix in the first
// marker's coordinates and texture; absent without them). Blender's world is Z-up
// in metres: X = the marker's x, Y = its y (up on the printed marker), Z = out
// of it; lengths are the marker width's unit times settings.metresPerUnit. The
// script uses bpy and mathutils alone (no add-on, no importer, no numpy). 0, or -1 with
// `error` set on the refusals every format makes (track_export.h).
int blenderSceneScript(const CameraMotion& motion, const BlenderSceneInput& input,
                       const ExportSettings& settings, std::string& script, std::string& error);
