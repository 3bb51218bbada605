#include "track/frame_report.h"

#include <string>

const char* frameStatusName(FrameStatus status) {
    switch (status) {
        case FrameStatus::Marker:
            return "marker";
        case FrameStatus::Bridged:
            return "bridged";
        case FrameStatus::Held:
            return "held";
        case FrameStatus::Lost:
            break;
    }
    return "lost";
}

void putFrameReport(const FrameReport& report, std::FILE* file) {
    std::fputs("frame,status,confidence,x0,y0,x1,y1,x2,y2,x3,y3,error,points\n", file);
    for (int i = 0; i < report.count; i++) {
        const FrameRecord& row = report.rows[i];
        std::fprintf(file, "%d,%s,", i, frameStatusName(row.status));
        const bool marker = row.status == FrameStatus::Marker || row.status == FrameStatus::Held;
        if (marker) {
            std::fprintf(file, "%.4f", row.confidence);
            for (const ImagePoint& corner : row.corners)
                std::fprintf(file, ",%.2f,%.2f", corner.x, corner.y);
        } else {
            std::fputs(",,,,,,,,", file);
        }
        if (row.status == FrameStatus::Lost)
            std::fprintf(file, ",,%d\n", row.points);
        else
            std::fprintf(file, ",%.3f,%d\n", row.error, row.points);
    }
}

FileResult writeFrameReport(const FrameReport& report, const char* name) {
    return replaceFile(name, [&](std::FILE* file) {
        putFrameReport(report, file);
        return true;
    });
}
