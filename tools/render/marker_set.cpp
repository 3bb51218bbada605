#include "tools/render/marker_set.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr double DEG = M_PI / 180.0;

// Rotation by `degrees` about axis 0, 1 or 2.
void axisRotation(int axis, double degrees, double R[3][3]) {
    const double c = std::cos(degrees * DEG), s = std::sin(degrees * DEG);
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            R[i][j] = i == j ? 1.0 : 0.0;
    R[a][a] = c;
    R[a][b] = -s;
    R[b][a] = s;
    R[b][b] = c;
}

void appendPose(std::string& line, const Pose& pose) {
    char buffer[64];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) {
            std::snprintf(buffer, sizeof buffer, ",%.9g", pose.m[i][j]);
            line += buffer;
        }
}

std::string layoutLine(int index, const std::string& picture, double width, int frames,
                       const Pose& pose) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, ",%.9g,%d,0,0", width, frames);
    std::string line = std::to_string(index) + "," + picture + buffer;
    appendPose(line, pose);
    return line + "\n";
}

}  // namespace

Pose placedPose(double x, double y, double z, double rxDegrees, double ryDegrees,
                double rzDegrees) {
    double X[3][3], Y[3][3], Z[3][3], ZY[3][3] = {}, R[3][3] = {};
    axisRotation(0, rxDegrees, X);
    axisRotation(1, ryDegrees, Y);
    axisRotation(2, rzDegrees, Z);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                ZY[i][j] += Z[i][k] * Y[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                R[i][j] += ZY[i][k] * X[k][j];
    const double t[3] = {x, y, z};
    return arPoseOf(R, t);
}

bool readMarkerSet(const std::string& path, std::vector<SetMarker>& markers, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "can not read the set file " + path;
        return false;
    }
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        std::istringstream line(text);
        SetMarker marker;
        double v[6];
        std::string rest;
        if (!(line >> marker.picture) || marker.picture[0] == '#')
            continue;
        if (!(line >> marker.width >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5]) ||
            (line >> rest) || !(marker.width > 0.0) || !std::isfinite(marker.width)) {
            error = path + " line " + std::to_string(number) +
                    ": a marker is PICTURE WIDTH X Y Z RX RY RZ, the width above 0";
            return false;
        }
        marker.toWorld = placedPose(v[0], v[1], v[2], v[3], v[4], v[5]);
        markers.push_back(marker);
    }
    return true;
}

std::string layoutTruthCsv(const std::string& firstPicture, double firstWidth,
                           const std::vector<SetMarker>& markers, const std::vector<int>& frames) {
    std::string csv =
        "marker,pattern,width,frames,sigma_deg,sigma_pos,"
        "r00,r01,r02,t0,r10,r11,r12,t1,r20,r21,r22,t2\n";
    csv += layoutLine(0, firstPicture, firstWidth, frames[0], placedPose(0, 0, 0, 0, 0, 0));
    for (size_t i = 0; i < markers.size(); ++i)
        csv += layoutLine(static_cast<int>(i) + 1, markers[i].picture, markers[i].width,
                          frames[i + 1], markers[i].toWorld);
    return csv;
}
