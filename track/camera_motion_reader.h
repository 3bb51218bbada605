#pragma once

#include <istream>
#include <string>
#include <vector>

#include "track/key_table.h"

// Reads a camera-motion file as writeCameraMotion writes it ("Lumeko.cm2"):
// the camera's name, the focal key and one key row per frame. Strict: any line
// that does not belong to the layout is refused, with its line number.

struct CameraMotion {
    std::string cameraName;  // "STD_CAMERA", or the dolly camera's name
    double focal = 0.0;      // the focal channel's single key
    // One row per frame, frame i at index i. `found` is derived: a row holding
    // exactly the fixed values of a frame without the marker has found 0.
    std::vector<KeyRow> rows;
    int rowCount() const { return static_cast<int>(rows.size()); }
    int foundCount() const;
};

// True when the row's six values are those written for a frame without the
// marker: rotateZ 0, rotateX -45, rotateY 0, translateZ -0, translateY
// -9.999999, translateX 0.
bool isNotFoundRow(const KeyRow& row);

// Parses a camera-motion file as it is read, a line at a time: it stops at
// the first line that does not belong (or that is longer than any line of
// the layout), and holds no more rows than the keys read so far. 0, or -1
// with `error` set to "line N: what is wrong"; `motion` is then unspecified.
int parseCameraMotion(std::istream& in, CameraMotion& motion, std::string& error);
int parseCameraMotion(const std::string& text, CameraMotion& motion, std::string& error);

// Reads and parses the file. 0, or -1 with `error` naming the file and
// saying why: the system's reason it cannot be opened, or for a malformed
// file the line.
int readCameraMotion(const std::string& path, CameraMotion& motion, std::string& error);
