#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "track/camera_motion_reader.h"

// Which rows of a Lumeko.cm2 text found the marker.
inline std::vector<bool> foundRows(const std::string& file) {
    CameraMotion motion;
    const TrackResult parsed = parseCameraMotion(file, motion);
    EXPECT_TRUE(parsed.ok()) << lineFailureText(parsed);
    std::vector<bool> found;
    for (const KeyRow& row : motion.rows)
        found.push_back(row.found != 0);
    return found;
}
