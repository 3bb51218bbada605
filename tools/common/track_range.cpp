#include "tools/common/track_range.h"

#include <cmath>
#include <cstdio>

#include "track/camera_key.h"

std::string rowBeyondDrawing(const CameraMotion& motion) {
    for (int i = 0; i < motion.rowCount(); i++) {
        const KeyRow& row = motion.rows[i];
        if (row.found != 1)
            continue;
        const CameraKey key = cameraKeyOfRow(row);
        const std::pair<const char*, double> values[] = {
            {"translateX", row.translateX},
            {"translateY", row.translateY},
            {"translateZ", row.translateZ},
            {"rotateY", row.rotateY},
            {"rotateX", row.rotateX},
            {"rotateZ", row.rotateZ},
            {"camera x", key.x / TRANSLATION_SCALE},
            {"camera y", key.y / TRANSLATION_SCALE},
            {"camera z", key.z / TRANSLATION_SCALE},
        };
        for (const auto& [channel, value] : values) {
            if (std::isfinite(4.0 * value))
                continue;
            char text[64];
            std::snprintf(text, sizeof text, "%g", value);
            return "row " + std::to_string(i) + ", channel " + channel + ": the value " + text +
                   " is too large to draw";
        }
    }
    return "";
}
