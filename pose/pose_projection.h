#pragma once

#include "camera/camera_param.h"
#include "math/image_point.h"
#include "math/matrix.h"

// How the camera sees the marker's space under a marker pose: the camera
// matrix P composed with the pose, the homography of the marker's plane, and
// where a marker point lands in the frame.

// P (c, 1): camera point c as a homogeneous ideal image point h, the ideal
// point being (h[0] / h[2], h[1] / h[2]).
void arProjectCameraPoint(const double P[3][4], const double c[3], double h[3]);

// M = P [R | t]: marker point (x, y, z, 1) to homogeneous ideal image point.
void arPoseProjection(const double P[3][4], const Pose& pose, double M[3][4]);

// The homography of the marker's plane: point (x, y, 1) of the plane z = 0 to
// homogeneous ideal image point; the columns of arPoseProjection for x, y and
// the origin.
void arPlaneHomography(const double P[3][4], const Pose& pose, double H[3][3]);

// Where a marker point lands.
struct MarkerPointView {
    double depth;         // its camera z: in front of the camera when above 0
    double w;             // h[2] of its image: the ideal point is finite when w is not 0
    ImagePoint ideal;     // (h[0] / w, h[1] / w)
    ImagePoint observed;  // the ideal point through the camera's lens model
};

// Marker point (x, y, z) under `pose`, seen by `camera`.
MarkerPointView arViewMarkerPoint(const CameraParam& camera, const Pose& pose,
                                  const double point[3]);
