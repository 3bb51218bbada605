#pragma once

#include <istream>
#include <string>
#include <vector>

#include "track/key_table.h"
#include "track/track_result.h"

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
// the layout), and holds no more rows than the keys read so far. Malformed
// with the line and what is wrong there; `motion` is then unspecified.
TrackResult parseCameraMotion(std::istream& in, CameraMotion& motion);
TrackResult parseCameraMotion(const std::string& text, CameraMotion& motion);

// Reads and parses the file: CannotRead with the errno when it cannot be
// opened (EISDIR for a folder) or read, else as parseCameraMotion.
TrackResult readCameraMotion(const std::string& path, CameraMotion& motion);

// What went wrong reading `path`, in one line: "<path>: cannot open: <the
// system's reason>", "<path>: cannot read", or "<path>: not a camera-motion
// file: line N: <what is wrong>".
std::string readFailureText(const std::string& path, const TrackResult& read);

// "line N: <what is wrong>" of a Malformed file.
std::string lineFailureText(const TrackResult& read);
