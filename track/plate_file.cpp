#include "track/plate_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

struct Fingerprint {
    unsigned long long bytes = 0;
    uint64_t hash = 0;
};

// The length and FNV-1a hash of a file's bytes; false when it cannot be read.
bool fingerprintOf(const std::string& path, Fingerprint& print) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    print = {0, 0xcbf29ce484222325ULL};
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); i++)
            print.hash = (print.hash ^ static_cast<unsigned char>(buffer[i])) * 0x100000001b3ULL;
        print.bytes += static_cast<unsigned long long>(in.gcount());
    }
    return !in.bad();
}

std::string plateName(const std::string& trackPath) {
    return trackPath + PLATE_FILE_SUFFIX;
}

}  // namespace

FileResult writePlateFile(const std::string& trackPath, const PlateFrames& plate) {
    Fingerprint print;
    errno = 0;
    if (!fingerprintOf(trackPath, print))
        return {FileStatus::CannotCreate, errno != 0 ? errno : EIO};
    return replaceFile(plateName(trackPath), [&](std::FILE* file) {
        std::fprintf(file,
                     "lumeko plate 1\nfirst_frame %lld\nfps %.10g\ntrack_bytes %llu\n"
                     "track_fnv1a64 %016" PRIx64 "\n",
                     plate.firstFrame, plate.fps, print.bytes, print.hash);
        return true;
    });
}

void removePlateFile(const std::string& trackPath) {
    unlink(plateName(trackPath).c_str());
}

PlateStatus readPlateFile(const std::string& trackPath, PlateFrames& plate) {
    std::ifstream in(plateName(trackPath), std::ios::binary);
    if (!in)
        return PlateStatus::Absent;
    std::string key[5];
    std::string word, version;
    PlateFrames read;
    Fingerprint claimed;
    std::string hash;
    in >> key[0] >> word >> version >> key[1] >> read.firstFrame >> key[2] >> read.fps >> key[3] >>
        claimed.bytes >> key[4] >> hash;
    const bool wellFormed = in && key[0] == "lumeko" && word == "plate" && version == "1" &&
                            key[1] == "first_frame" && key[2] == "fps" && key[3] == "track_bytes" &&
                            key[4] == "track_fnv1a64" && read.firstFrame >= 0 &&
                            std::isfinite(read.fps) && read.fps > 0.0 && hash.size() == 16 &&
                            std::sscanf(hash.c_str(), "%16" SCNx64, &claimed.hash) == 1;
    if (!wellFormed)
        return PlateStatus::Malformed;
    Fingerprint actual;
    if (!fingerprintOf(trackPath, actual) || actual.bytes != claimed.bytes ||
        actual.hash != claimed.hash)
        return PlateStatus::OtherTrack;
    plate = read;
    return PlateStatus::Found;
}
