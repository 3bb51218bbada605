// The documented pose entry points without a camera argument: thin wrappers
// that hand the current camera (arSetCameraParam) to the explicit versions.

#include "pose/marker_pose.h"

double arMarkerPose(const MarkerSquare& marker, ImagePoint centre, double width,
                    double pose[3][4]) {
    return arMarkerPose(arCurrentCameraParam(), marker, centre, width, pose);
}

double arMarkerPoseCont(const MarkerSquare& marker, const double previousPose[3][4],
                        ImagePoint centre, double width, double pose[3][4]) {
    return arMarkerPoseCont(arCurrentCameraParam(), marker, previousPose, centre, width, pose);
}
