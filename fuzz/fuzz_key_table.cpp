// The key table, its smoothing and the camera-motion writer: rows of any
// values (NaN, infinities, huge angles) are appended until the table is full,
// smoothed (which must end and leave non-finite values as they were) and
// written; the file is parsed back and every key equals its row's value as
// "%f" prints it.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "track/camera_motion.h"
#include "track/key_table.h"

namespace {

// The values of every "k  <index>  <value>" line, channel after channel.
std::vector<std::string> keyValues(const std::string& text) {
    std::vector<std::string> values;
    size_t at = 0;
    while ((at = text.find("\t\t\t\tk  ", at)) != std::string::npos) {
        at += 7;
        const size_t gap = text.find("  ", at);
        const size_t end = text.find('\n', at);
        fuzz::require(gap != std::string::npos && end != std::string::npos && gap < end,
                      "a key line holds an index and a value");
        values.push_back(text.substr(gap + 2, end - gap - 2));
        at = end;
    }
    return values;
}

std::string fixed(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string dir = fuzz::scratchPath("cm2");
    std::string command = "mkdir -p " + dir;
    fuzz::require(std::system(command.c_str()) == 0 && chdir(dir.c_str()) == 0,
                  "a working folder for Lumeko.cm2");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    static auto table = std::make_unique<KeyTable>();
    static auto before = std::make_unique<KeyTable>();
    *table = KeyTable{};
    const int camNo = static_cast<int>(in.u32());
    // Each row: a flag byte, then six values, each either raw bits or a
    // small angle-like number (the flag's bits choose), so that both
    // wrapped angles and broken values turn up.
    while (in.left() > 0) {
        const uint8_t flags = in.byte();
        double v[6];
        for (int c = 0; c < 6; c++)
            v[c] = (flags >> (c + 1)) & 1 ? in.raw() : in.between(-1000.0, 1000.0);
        const int appended = appendKeyRow(*table, flags & 1, v[0], v[1], v[2], v[3], v[4], v[5]);
        if (appended != 0) {
            fuzz::require(table->count == KEY_TABLE_SIZE, "only a full table refuses a row");
            break;
        }
    }
    std::memcpy(before.get(), table.get(), sizeof(KeyTable));
    smoothKeyTable(*table);
    const double KeyRow::*columns[] = {&KeyRow::translateX, &KeyRow::translateY,
                                       &KeyRow::translateZ, &KeyRow::rotateY,
                                       &KeyRow::rotateX,    &KeyRow::rotateZ};
    for (int i = 0; i < table->count; i++) {
        const KeyRow& row = table->rows[i];
        const KeyRow& old = before->rows[i];
        fuzz::require(row.found == old.found, "smoothing keeps the flags");
        for (auto column : columns) {
            if (!std::isfinite(old.*column))
                fuzz::require(sameBits(row.*column, old.*column), "non-finite values stay");
            if (old.found == 0 || i < 2 || i > table->count - 3)
                fuzz::require(sameBits(row.*column, old.*column), "unsmoothed rows stay");
        }
    }

    fuzz::require(writeCameraMotion(*table, camNo).ok(), "the camera-motion file is written");
    std::FILE* file = std::fopen(CAMERA_MOTION_FILE, "rb");
    fuzz::require(file != nullptr, "the file is there");
    std::string text;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    fuzz::require(
        text.find("clearFigureKeys " + std::to_string(table->count) + "\n") != std::string::npos,
        "the key count");
    const std::vector<std::string> values = keyValues(text);
    // The focal key, then six channels of one key per row: rotateZ, rotateX,
    // rotateY, translateZ, translateY, translateX.
    fuzz::require(values.size() == 1 + 6 * static_cast<size_t>(table->count), "every key");
    const double KeyRow::*order[] = {&KeyRow::rotateZ,    &KeyRow::rotateX,    &KeyRow::rotateY,
                                     &KeyRow::translateZ, &KeyRow::translateY, &KeyRow::translateX};
    for (int c = 0; c < 6; c++) {
        for (int i = 0; i < table->count; i++) {
            const std::string& written = values[1 + static_cast<size_t>(c) * table->count + i];
            const double value = table->rows[i].*order[c];
            const double parsed = std::strtod(written.c_str(), nullptr);
            fuzz::require(written == fixed(value) || (std::isnan(value) && std::isnan(parsed)),
                          "each key parses back to its value");
        }
    }
    return 0;
}
