#include "track/frame_report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

void putFrameReport(const FrameReport& report, std::FILE* file) {
    std::fputs("frame,status,confidence,x0,y0,x1,y1,x2,y2,x3,y3,error,points\n", file);
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
            std::fprintf(file, ",,%d\n", row.points);
        else
            std::fprintf(file, ",%.3f,%d\n", row.error, row.points);
    }
}

int writeFrameReport(const FrameReport& report, const char* name) {
    std::string temp = std::string(name) + ".XXXXXX";
    const int descriptor = mkstemp(temp.data());
    if (descriptor < 0)
        return errno;
    // The permissions opening the file by name would have given.
    const mode_t mask = umask(0);
    umask(mask);
    std::FILE* file = fchmod(descriptor, 0666 & ~mask) == 0 ? fdopen(descriptor, "w") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        close(descriptor);
        unlink(temp.c_str());
        return error;
    }
    errno = 0;
    putFrameReport(report, file);
    int error = std::fflush(file) != 0 || std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
    if (std::fclose(file) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error == 0 && std::rename(temp.c_str(), name) != 0)
        error = errno;
    if (error != 0)
        unlink(temp.c_str());
    return error;
}
