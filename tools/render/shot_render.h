#pragma once

#include <functional>
#include <vector>

#include "camera/camera_param.h"
#include "image/transfer_curve.h"
#include "tools/render/pose_truth.h"
#include "tools/render/scene_render.h"

// A clip being rendered: the scene, the occluders over the clip, the
// camera's path and how long the shutter stays open.
struct Shot {
    Scene scene;  // its discs are set from `occluders` for each moment rendered
    std::vector<Occluder> occluders;
    std::function<CameraPose(double)> poseAt;  // the camera at a (fractional) frame
    int frameCount = 1;
    double shutter = 0.0;        // fraction of a frame's interval the shutter is open; 0: sharp
    int shutterSamples = 0;      // moments averaged for a blurred frame; 0: from the motion
    bool jitterSamples = false;  // each sample at a place of its own in its cell
};

// Working storage of renderShotFrame, kept from frame to frame.
struct ShotStorage {
    RgbImage moment;
    std::vector<float> sum;  // linear light summed over the moments
    LinearLevels light{};
    bool lightFilled = false;
};

// Renders frame `frame` of the shot into `out`: the scene at the frame's
// time, or with a shutter the mean of renders at moments spread evenly over
// the time it is open, centred on the frame's time. The moments are averaged
// in linear light and the mean encoded again (sRGB), as a camera's sensor
// gathers light before its picture is encoded. The moments' samples are
// shifted within the pixel, each moment differently, so that together they
// sample the pixel more finely. Returns what the truth records of the scene
// at the frame's time.
SceneTruth renderShotFrame(Shot& shot, const CameraParam& camera, int frame, int supersample,
                           RgbImage& out, ShotStorage& storage);
