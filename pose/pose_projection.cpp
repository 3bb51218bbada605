#include "pose/pose_projection.h"

#include "camera/distortion.h"

void arProjectCameraPoint(const double P[3][4], const double c[3], double h[3]) {
    for (int i = 0; i < 3; i++) {
        h[i] = P[i][0] * c[0] + P[i][1] * c[1] + P[i][2] * c[2] + P[i][3];
    }
}

void arPoseProjection(const double P[3][4], const Pose& pose, double M[3][4]) {
    const double(&m)[3][4] = pose.m;
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 3; k++) {
            M[j][k] = P[j][0] * m[0][k] + P[j][1] * m[1][k] + P[j][2] * m[2][k];
        }
        M[j][3] = P[j][0] * m[0][3] + P[j][1] * m[1][3] + P[j][2] * m[2][3] + P[j][3];
    }
}

void arPlaneHomography(const double P[3][4], const Pose& pose, double H[3][3]) {
    double M[3][4];
    arPoseProjection(P, pose, M);
    for (int j = 0; j < 3; j++) {
        H[j][0] = M[j][0];
        H[j][1] = M[j][1];
        H[j][2] = M[j][3];
    }
}

MarkerPointView arViewMarkerPoint(const CameraParam& camera, const Pose& pose,
                                  const double point[3]) {
    double c[3];
    double h[3];
    arPoseApply(pose, point, c);
    arProjectCameraPoint(camera.mat, c, h);
    MarkerPointView view;
    view.depth = c[2];
    view.w = h[2];
    view.ideal = {h[0] / h[2], h[1] / h[2]};
    arIdealToObserved(camera.distFactor, view.ideal.x, view.ideal.y, &view.observed.x,
                      &view.observed.y);
    return view;
}
