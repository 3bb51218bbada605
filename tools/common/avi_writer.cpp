#include "tools/common/avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr unsigned AVIF_HASINDEX = 0x10;
constexpr unsigned AVIIF_KEYFRAME = 0x10;
// RIFF header, the "hdrl" list (main header, one stream header and format)
// and the start of the "movi" list.
constexpr long HEADER_SIZE = 12 + 8 + 192 + 12;
constexpr unsigned long long AVI_SIZE_LIMIT = 0xFFFFFFF0ull;

void put32(std::vector<unsigned char>& out, unsigned value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}
void put16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}
void putCode(std::vector<unsigned char>& out, const char* code) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(code[i]));
    }
}

const char* chunkId(const AviWriter& writer) {
    return writer.motionJpeg ? "00dc" : "00db";
}

unsigned rawRowBytes(int width) {
    return (static_cast<unsigned>(width) * 3 + 3) & ~3u;
}

std::vector<unsigned char> headerBytes(const AviWriter& w, unsigned moviSize) {
    const unsigned frames = static_cast<unsigned>(w.frameSizes.size());
    const unsigned idxSize = 16 * frames;
    std::vector<unsigned char> h;
    putCode(h, "RIFF");
    put32(h, 4 + (8 + 192) + (8 + moviSize) + (8 + idxSize));
    putCode(h, "AVI ");
    putCode(h, "LIST");
    put32(h, 192);
    putCode(h, "hdrl");
    putCode(h, "avih");
    put32(h, 56);
    put32(h, 1000000u / static_cast<unsigned>(w.fps));
    put32(h, w.largestFrame * static_cast<unsigned>(w.fps));
    put32(h, 0);
    put32(h, AVIF_HASINDEX);
    put32(h, frames);
    put32(h, 0);
    put32(h, 1);
    put32(h, w.largestFrame);
    put32(h, static_cast<unsigned>(w.width));
    put32(h, static_cast<unsigned>(w.height));
    for (int i = 0; i < 4; ++i) {
        put32(h, 0);
    }
    putCode(h, "LIST");
    put32(h, 116);
    putCode(h, "strl");
    putCode(h, "strh");
    put32(h, 56);
    putCode(h, "vids");
    putCode(h, w.motionJpeg ? "MJPG" : "DIB ");
    put32(h, 0);                             // flags
    put16(h, 0);                             // priority
    put16(h, 0);                             // language
    put32(h, 0);                             // initial frames
    put32(h, 1);                             // scale
    put32(h, static_cast<unsigned>(w.fps));  // rate: rate / scale frames per second
    put32(h, 0);                             // start
    put32(h, frames);
    put32(h, w.largestFrame);
    put32(h, 0xFFFFFFFFu);  // quality: default
    put32(h, 0);            // sample size: varies
    put16(h, 0);
    put16(h, 0);
    put16(h, static_cast<unsigned>(w.width));
    put16(h, static_cast<unsigned>(w.height));
    putCode(h, "strf");
    put32(h, 40);
    put32(h, 40);
    put32(h, static_cast<unsigned>(w.width));
    put32(h, static_cast<unsigned>(w.height));  // positive: rows bottom-up
    put16(h, 1);
    put16(h, 24);
    if (w.motionJpeg) {
        putCode(h, "MJPG");
    } else {
        put32(h, 0);  // BI_RGB
    }
    put32(h, rawRowBytes(w.width) * static_cast<unsigned>(w.height));
    put32(h, 0);
    put32(h, 0);
    put32(h, 0);
    put32(h, 0);
    putCode(h, "LIST");
    put32(h, moviSize);
    putCode(h, "movi");
    return h;
}

int writeBytes(AviWriter& writer, const unsigned char* bytes, size_t count, std::string& error) {
    if (std::fwrite(bytes, 1, count, writer.file) != count) {
        error = std::string("cannot write the movie: ") + std::strerror(errno);
        return -1;
    }
    return 0;
}

// The frame as bottom-up BGR rows padded to four bytes.
void packRawFrame(const RgbImage& frame, std::vector<unsigned char>& out) {
    const unsigned row = rawRowBytes(frame.width);
    out.assign(static_cast<size_t>(row) * frame.height, 0);
    for (int y = 0; y < frame.height; ++y) {
        const unsigned char* src = &frame.rgb[static_cast<size_t>(y) * frame.width * 3];
        unsigned char* dst = &out[static_cast<size_t>(frame.height - 1 - y) * row];
        for (int x = 0; x < frame.width; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
}

}  // namespace

int aviOpen(AviWriter& writer, const std::string& path, int width, int height, int fps,
            bool motionJpeg, int quality, std::string& error) {
    writer = AviWriter{};
    writer.motionJpeg = motionJpeg;
    writer.width = width;
    writer.height = height;
    writer.fps = fps;
    writer.quality = quality;
    writer.file = std::fopen(path.c_str(), "wb");
    if (writer.file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return -1;
    }
    std::vector<unsigned char> header = headerBytes(writer, 4);
    return writeBytes(writer, header.data(), header.size(), error);
}

int aviWriteFrame(AviWriter& writer, const RgbImage& frame, std::string& error) {
    if (frame.width != writer.width || frame.height != writer.height) {
        error = "frame size differs from the movie's";
        return -1;
    }
    if (writer.motionJpeg) {
        if (encodeJpeg(frame, writer.quality, writer.scratch, error) != 0) {
            return -1;
        }
    } else {
        packRawFrame(frame, writer.scratch);
    }
    const unsigned size = static_cast<unsigned>(writer.scratch.size());
    const unsigned long long offset =
        writer.frameOffsets.empty() ? 4ull
                                    : writer.frameOffsets.back() + 8ull + writer.frameSizes.back() +
                                          (writer.frameSizes.back() & 1u);
    if (HEADER_SIZE + offset + 8ull + size + 16ull * (writer.frameSizes.size() + 1) >
        AVI_SIZE_LIMIT) {
        error = "the movie would exceed 4 GiB; render fewer or smaller frames";
        return -1;
    }
    std::vector<unsigned char> chunk;
    putCode(chunk, chunkId(writer));
    put32(chunk, size);
    if (writeBytes(writer, chunk.data(), chunk.size(), error) != 0 ||
        writeBytes(writer, writer.scratch.data(), size, error) != 0) {
        return -1;
    }
    if (size & 1u) {
        const unsigned char pad = 0;
        if (writeBytes(writer, &pad, 1, error) != 0) {
            return -1;
        }
    }
    writer.frameOffsets.push_back(static_cast<unsigned>(offset));
    writer.frameSizes.push_back(size);
    writer.largestFrame = std::max(writer.largestFrame, size);
    return 0;
}

int aviClose(AviWriter& writer, std::string& error) {
    std::vector<unsigned char> index;
    putCode(index, "idx1");
    put32(index, 16 * static_cast<unsigned>(writer.frameSizes.size()));
    for (size_t i = 0; i < writer.frameSizes.size(); ++i) {
        putCode(index, chunkId(writer));
        put32(index, AVIIF_KEYFRAME);
        put32(index, writer.frameOffsets[i]);
        put32(index, writer.frameSizes[i]);
    }
    unsigned moviSize = 4;
    if (!writer.frameSizes.empty()) {
        moviSize = writer.frameOffsets.back() + 8 + writer.frameSizes.back() +
                   (writer.frameSizes.back() & 1u);
    }
    int result = writeBytes(writer, index.data(), index.size(), error);
    if (result == 0) {
        std::vector<unsigned char> header = headerBytes(writer, moviSize);
        if (std::fseek(writer.file, 0, SEEK_SET) != 0) {
            error = "cannot rewind the movie to finish its header";
            result = -1;
        } else {
            result = writeBytes(writer, header.data(), header.size(), error);
        }
    }
    if (std::fclose(writer.file) != 0 && result == 0) {
        error = std::string("cannot finish the movie: ") + std::strerror(errno);
        result = -1;
    }
    writer.file = nullptr;
    return result;
}
