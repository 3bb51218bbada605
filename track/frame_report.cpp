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
        case FrameStatus::Followed:
            return "followed";
        case FrameStatus::Lost:
            break;
    }
    return "lost";
}

namespace {

// The markers of a bit set by number, separated by spaces.
std::string markerNumbers(uint32_t bits) {
    std::string text;
    for (int m = 0; m < 32; m++)
        if (bits & (1u << m))
            text += (text.empty() ? "" : " ") + std::to_string(m);
    return text;
}

}  // namespace

void putFrameReport(const FrameReport& report, std::FILE* file) {
    std::fputs(
        report.markerSet
            ? "frame,status,confidence,x0,y0,x1,y1,x2,y2,x3,y3,error,points,markers,dropped\n"
            : "frame,status,confidence,x0,y0,x1,y1,x2,y2,x3,y3,error,points\n",
        file);
    for (int i = 0; i < report.count; i++) {
        const FrameRecord& row = report.rows[i];
        std::fprintf(file, "%d,%s,", i, frameStatusName(row.status));
        const bool marker = row.status == FrameStatus::Marker || row.status == FrameStatus::Held;
        if (marker || row.status == FrameStatus::Followed) {
            if (marker)
                std::fprintf(file, "%.4f", row.confidence);
            for (const ImagePoint& corner : row.corners)
                std::fprintf(file, ",%.2f,%.2f", corner.x, corner.y);
        } else {
            std::fputs(",,,,,,,,", file);
        }
        if (row.status == FrameStatus::Lost)
            std::fprintf(file, ",,%d", row.points);
        else
            std::fprintf(file, ",%.3f,%d", row.error, row.points);
        if (report.markerSet)
            std::fprintf(file, ",%s,%s", markerNumbers(row.markers).c_str(),
                         markerNumbers(row.dropped).c_str());
        std::fputc('\n', file);
    }
}

TrackResult writeFrameReport(const FrameReport& report, const char* name) {
    return trackResultOf(replaceFile(name, [&](std::FILE* file) {
        putFrameReport(report, file);
        return true;
    }));
}
