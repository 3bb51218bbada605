#pragma once

#include "camera/camera_param.h"

// The camera file's lens as Blender holds it, for frames of the file's own
// size: a pinhole scene camera, through which CG is rendered, and the movie
// clip's tracking camera, whose lens distortion the Movie Distortion node
// applies to that render to lay it on the footage.
//
// Our model moves an ideal point p radially about the distortion centre c0:
// observed = c0 + s (p - c0) (1 - k s^2 |p - c0|^2), k = f x 1e-8. Rendered
// through a pinhole s times as long with its principal point at
// c0 + s (c - c0), a point lies at q = c0 + s (p - c0), and the footage has it
// at c0 + (q - c0) (1 - k |q - c0|^2). Blender's polynomial model, centred on
// the tracking camera's principal point c0, moves q to c0 + (q - c0) (1 + k1
// r^2 + k2 r^4 + k3 r^6), r^2 = (dx / F)^2 + (dy / (F a))^2, F its focal
// length and a its pixel aspect: with a = 1 (whatever the camera file's
// fy / fx, which is the render's) and k1 = -k F^2 it is ours, exactly.
struct BlenderLens {
    double focal;          // F, in pixels of the frame's width (the render's and the clip's)
    double pixelAspect;    // the render's fy / fx (the tracking camera's is 1)
    double centre[2];      // the render's principal point, pixels (x right, y down)
    double distortion[2];  // the tracking camera's principal point c0, the same pixels
    double k[3];           // Blender's polynomial k1, k2, k3
    double worst;          // the largest distance between Blender's and ours over the frame, pixels
};

// Blender's lens for `camera` (a camera the camera checks accept), measured
// against it over the frame.
BlenderLens blenderLensOf(const CameraParam& camera);

// The largest distance in pixels Blender's lens may lie from the camera
// file's for the scene to say that it matches.
inline constexpr double BLENDER_LENS_CLAIM = 0.1;
