#pragma once

#include <string>
#include <vector>

#include "math/matrix.h"

// A set of further markers placed around the first (`lumeko-render --set`):
// one line each, "PICTURE WIDTH X Y Z RX RY RZ", the marker's picture file,
// the width of its black square, its centre in the first marker's
// coordinates and its axes turned RX degrees about x, then RY about y, then
// RZ about z (a wall facing -y: RX 90). Blank lines and lines beginning
// with # are skipped.
struct SetMarker {
    std::string picture;
    double width = 0.0;
    Pose toWorld{};
};

// Reads the set file; false with `error` naming the line that is wrong.
bool readMarkerSet(const std::string& path, std::vector<SetMarker>& markers, std::string& error);

// The pose of a marker centred on (x, y, z), turned as a set line says.
Pose placedPose(double x, double y, double z, double rxDegrees, double ryDegrees, double rzDegrees);

// The true layout as Lumeko's layout file holds it: a header, then a line
// per marker (the first at the origin) with its picture, width, the frames
// in which it was fully in view, no uncertainty and its pose row by row.
std::string layoutTruthCsv(const std::string& firstPicture, double firstWidth,
                           const std::vector<SetMarker>& markers, const std::vector<int>& frames);
