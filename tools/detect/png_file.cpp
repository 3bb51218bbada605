#include "tools/detect/png_file.h"

#include <cstdint>
#include <vector>

namespace {

uint32_t crc32(const unsigned char* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int k = 0; k < 8; k++) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void putBigEndian(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void putChunk(std::vector<unsigned char>& out, const char* type,
              const std::vector<unsigned char>& data) {
    putBigEndian(out, static_cast<uint32_t>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    putBigEndian(out, crc32(body.data(), body.size()));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<unsigned char> storedZlib(const std::vector<unsigned char>& raw) {
    std::vector<unsigned char> out{0x78, 0x01};
    size_t at = 0;
    do {
        const size_t size = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + size == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<unsigned char>(size & 0xFF));
        out.push_back(static_cast<unsigned char>(size >> 8));
        out.push_back(static_cast<unsigned char>(~size & 0xFF));
        out.push_back(static_cast<unsigned char>((~size >> 8) & 0xFF));
        out.insert(out.end(), raw.begin() + at, raw.begin() + at + size);
        at += size;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian(out, (b << 16) | a);
    return out;
}

}  // namespace

int writePng(const std::string& path, const RgbImage& image, std::string& error) {
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(image.height) * (image.width * 3 + 1));
    for (int y = 0; y < image.height; y++) {
        raw.push_back(0);  // no filter
        const unsigned char* row = &image.rgb[static_cast<size_t>(y) * image.width * 3];
        raw.insert(raw.end(), row, row + image.width * 3);
    }
    std::vector<unsigned char> header;
    putBigEndian(header, static_cast<uint32_t>(image.width));
    putBigEndian(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
    std::vector<unsigned char> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", storedZlib(raw));
    putChunk(file, "IEND", {});
    return writeFileBytes(path, file.data(), file.size(), error);
}
