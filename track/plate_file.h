#pragma once

#include "files/replace_file.h"

#include <string>

// The plate file: a small text file beside a camera-motion file tracked from
// a numbered picture sequence, named after it with ".plate" added
// ("Lumeko.cm2.plate"), saying which frame of the plate the track's first
// row is and at what rate the plate runs, so that the exports put the keys
// on the plate's frames. It names the track it belongs to by its length in
// bytes and a 64-bit FNV-1a hash of them; a plate file whose track has since
// been replaced is not believed. The lines, in this order:
//
//   lumeko plate 1
//   first_frame 1001
//   fps 24
//   track_bytes 123456
//   track_fnv1a64 0123456789abcdef

inline constexpr const char* PLATE_FILE_SUFFIX = ".plate";

struct PlateFrames {
    long long firstFrame = 0;  // the plate's number of the track's row 0
    double fps = 24.0;
};

// Writes the plate file of the camera-motion file at `trackPath` (which is
// read for its fingerprint), replacing any earlier one only by a complete
// new one.
FileResult writePlateFile(const std::string& trackPath, const PlateFrames& plate);

// Removes the plate file of `trackPath`, if there is one.
void removePlateFile(const std::string& trackPath);

enum class PlateStatus {
    Found,       // `plate` holds what the file says
    Absent,      // there is no plate file
    OtherTrack,  // the plate file belongs to another track: not believed
    Malformed,   // not a plate file
};
PlateStatus readPlateFile(const std::string& trackPath, PlateFrames& plate);
