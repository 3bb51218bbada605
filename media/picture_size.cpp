#include "media/picture_size.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// JPEG segments and EXR attributes passed over before giving up.
constexpr int MAX_HEADER_ITEMS = 4096;

// A file read at given places, numbers taken in its byte order.
struct HeaderFile {
    std::FILE* file;
    bool bigEndian = true;

    bool read(long offset, unsigned char* bytes, size_t count) const {
        return std::fseek(file, offset, SEEK_SET) == 0 &&
               std::fread(bytes, 1, count, file) == count;
    }
    uint32_t number(const unsigned char* bytes, int size) const {
        uint32_t value = 0;
        for (int i = 0; i < size; i++)
            value |= static_cast<uint32_t>(bytes[bigEndian ? i : size - 1 - i])
                     << (8 * (size - 1 - i));
        return value;
    }
};

bool setSize(int64_t w, int64_t h, int& width, int& height) {
    if (w <= 0 || h <= 0 || w > 0x7fffffff || h > 0x7fffffff)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

// The IHDR chunk, always first.
bool pngSize(const HeaderFile& f, int& width, int& height) {
    unsigned char ihdr[16];
    if (!f.read(8, ihdr, sizeof ihdr) || std::memcmp(ihdr + 4, "IHDR", 4) != 0)
        return false;
    return setSize(f.number(ihdr + 8, 4), f.number(ihdr + 12, 4), width, height);
}

// The first start-of-frame segment (any coding process).
bool jpegSize(const HeaderFile& f, int& width, int& height) {
    long at = 2;
    for (int item = 0; item < MAX_HEADER_ITEMS; item++) {
        unsigned char marker[2];
        do {  // (fill bytes before a marker)
            if (!f.read(at++, marker, 1))
                return false;
        } while (marker[0] == 0xFF);
        if (!f.read(at - 2, marker, 2) || marker[0] != 0xFF)
            return false;
        const int code = marker[1];
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7))
            continue;  // no length
        unsigned char segment[7];
        if (code == 0xD9 || code == 0xDA || !f.read(at, segment, sizeof segment))
            return false;
        const bool startOfFrame =
            code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (startOfFrame)
            return setSize(f.number(segment + 5, 2), f.number(segment + 3, 2), width, height);
        at += f.number(segment, 2);
    }
    return false;
}

// ImageWidth and ImageLength of the first image file directory.
bool tiffSize(HeaderFile& f, int& width, int& height) {
    unsigned char header[8];
    if (!f.read(0, header, sizeof header))
        return false;
    f.bigEndian = header[0] == 'M';
    const long directory = f.number(header + 4, 4);
    unsigned char count[2];
    if (!f.read(directory, count, 2))
        return false;
    uint32_t w = 0, h = 0;
    for (uint32_t i = 0; i < f.number(count, 2); i++) {
        unsigned char entry[12];
        if (!f.read(directory + 2 + 12 * static_cast<long>(i), entry, sizeof entry))
            return false;
        const uint32_t tag = f.number(entry, 2), type = f.number(entry + 2, 2);
        const uint32_t value = type == 3 ? f.number(entry + 8, 2) : f.number(entry + 8, 4);
        if (type != 3 && type != 4)
            continue;
        if (tag == 256)
            w = value;
        if (tag == 257)
            h = value;
    }
    return setSize(w, h, width, height);
}

// The displayWindow attribute (a box2i: xMin, yMin, xMax, yMax).
bool exrSize(HeaderFile& f, int& width, int& height) {
    f.bigEndian = false;
    long at = 8;
    for (int item = 0; item < MAX_HEADER_ITEMS; item++) {
        char text[64];  // name, NUL, type, NUL: each at most 31 bytes (255 with long names)
        unsigned char bytes[sizeof text + 4];
        const size_t got =
            std::fseek(f.file, at, SEEK_SET) == 0 ? std::fread(bytes, 1, sizeof bytes, f.file) : 0;
        if (got == 0 || bytes[0] == 0)
            return false;  // the header's end, without a display window
        std::memcpy(text, bytes, sizeof text);
        const size_t nameLength = strnlen(text, sizeof text);
        if (nameLength + 1 >= sizeof text)
            return false;
        const size_t typeLength = strnlen(text + nameLength + 1, sizeof text - nameLength - 1);
        const size_t sizeAt = nameLength + 1 + typeLength + 1;
        if (sizeAt + 4 > got)
            return false;
        const uint32_t size = f.number(bytes + sizeAt, 4);
        const long valueAt = at + static_cast<long>(sizeAt) + 4;
        if (std::strcmp(text, "displayWindow") == 0) {
            unsigned char box[16];
            if (size != 16 || !f.read(valueAt, box, sizeof box))
                return false;
            const int64_t xMin = static_cast<int32_t>(f.number(box, 4));
            const int64_t yMin = static_cast<int32_t>(f.number(box + 4, 4));
            const int64_t xMax = static_cast<int32_t>(f.number(box + 8, 4));
            const int64_t yMax = static_cast<int32_t>(f.number(box + 12, 4));
            return setSize(xMax - xMin + 1, yMax - yMin + 1, width, height);
        }
        at = valueAt + static_cast<long>(size);
    }
    return false;
}

// Pixels per line and lines per element of the image information header.
bool dpxSize(HeaderFile& f, int& width, int& height) {
    unsigned char magic[4], size[8];
    if (!f.read(0, magic, 4) || !f.read(772, size, sizeof size))
        return false;
    f.bigEndian = magic[0] == 'S';
    return setSize(f.number(size, 4), f.number(size + 4, 4), width, height);
}

}  // namespace

std::optional<FrameSize> readPictureSize(const char* path) {
    HeaderFile f{std::fopen(path, "rb")};
    if (f.file == nullptr)
        return std::nullopt;
    int width = 0, height = 0;
    unsigned char magic[8] = {};
    bool known = false;
    if (f.read(0, magic, sizeof magic)) {
        if (std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0)
            known = pngSize(f, width, height);
        else if (magic[0] == 0xFF && magic[1] == 0xD8)
            known = jpegSize(f, width, height);
        else if (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0)
            known = tiffSize(f, width, height);
        else if (std::memcmp(magic, "\x76\x2f\x31\x01", 4) == 0)
            known = exrSize(f, width, height);
        else if (std::memcmp(magic, "SDPX", 4) == 0 || std::memcmp(magic, "XPDS", 4) == 0)
            known = dpxSize(f, width, height);
    }
    std::fclose(f.file);
    if (!known)
        return std::nullopt;
    return FrameSize{width, height};
}
