#include "tests/support/media_fixtures.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include <jpeglib.h>

#include "tests/support/test_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace lumeko_test {

void writeJpeg(const std::string& path, const unsigned char* pixels, int width, int height,
               JpegColour colour, int quality) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("can not create " + path);
    jpeg_compress_struct encoder;
    jpeg_error_mgr errors;
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);
    jpeg_stdio_dest(&encoder, file);
    encoder.image_width = static_cast<JDIMENSION>(width);
    encoder.image_height = static_cast<JDIMENSION>(height);
    static const int COMPONENTS[] = {1, 3, 4};
    static const J_COLOR_SPACE SPACES[] = {JCS_GRAYSCALE, JCS_RGB, JCS_CMYK};
    encoder.input_components = COMPONENTS[static_cast<int>(colour)];
    encoder.in_color_space = SPACES[static_cast<int>(colour)];
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, quality, TRUE);
    jpeg_start_compress(&encoder, TRUE);
    const size_t rowBytes = static_cast<size_t>(width) * encoder.input_components;
    while (encoder.next_scanline < encoder.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + encoder.next_scanline * rowBytes);
        jpeg_write_scanlines(&encoder, &row, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    if (std::fclose(file) != 0)
        throw std::runtime_error("can not write " + path);
}

namespace {

void check(int result, const char* what) {
    if (result < 0)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

// Everything a movie being written holds, released however the writing ends.
struct MovieParts {
    AVFormatContext* container = nullptr;
    AVCodecContext* encoder = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* converter = nullptr;
    ~MovieParts() {
        sws_freeContext(converter);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&encoder);
        if (container != nullptr) {
            avio_closep(&container->pb);
            avformat_free_context(container);
        }
    }
    void encode(const AVFrame* input) {
        check(avcodec_send_frame(encoder, input), "encoding");
        int received;
        while ((received = avcodec_receive_packet(encoder, packet)) >= 0) {
            av_packet_rescale_ts(packet, encoder->time_base, container->streams[0]->time_base);
            check(av_interleaved_write_frame(container, packet), "writing a frame");
        }
        if (received != AVERROR(EAGAIN) && received != AVERROR_EOF)
            check(received, "encoding");
    }
};

}  // namespace

void writeMovie(const std::string& path, const MovieFormat& format,
                const std::vector<std::vector<unsigned char>>& frames,
                const std::vector<size_t>& skipped) {
    static const char* const ENCODERS[] = {"rawvideo", "mjpeg",   "mpeg4",
                                           "msmpeg4",  "cinepak", "libx264"};
    static const AVPixelFormat PIXELS[] = {AV_PIX_FMT_BGR24,   AV_PIX_FMT_YUVJ420P,
                                           AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P,
                                           AV_PIX_FMT_RGB24,   AV_PIX_FMT_YUV420P};
    const int codecIndex = static_cast<int>(format.codec);
    av_log_set_level(AV_LOG_ERROR);
    MovieParts m;
    check(avformat_alloc_output_context2(&m.container, nullptr, nullptr, path.c_str()),
          "choosing the container");
    const AVCodec* codec = avcodec_find_encoder_by_name(ENCODERS[codecIndex]);
    AVStream* stream = avformat_new_stream(m.container, nullptr);
    if (codec == nullptr || stream == nullptr || m.frame == nullptr || m.packet == nullptr ||
        (m.encoder = avcodec_alloc_context3(codec)) == nullptr)
        throw std::runtime_error("no encoder " + std::string(ENCODERS[codecIndex]));
    AVCodecContext* encoder = m.encoder;
    encoder->width = m.frame->width = format.width;
    encoder->height = m.frame->height = format.height;
    encoder->pix_fmt = PIXELS[codecIndex];
    m.frame->format = encoder->pix_fmt;
    encoder->time_base = AVRational{format.scale, format.rate};
    encoder->framerate = AVRational{format.rate, format.scale};
    encoder->thread_count = 1;  // the same bytes on every machine
    encoder->gop_size = 12;
    encoder->max_b_frames = format.codec == MovieCodec::Mpeg4 ? 2 : encoder->max_b_frames;
    if (format.codec == MovieCodec::Mjpeg || format.codec == MovieCodec::Mpeg4 ||
        format.codec == MovieCodec::MsMpeg4v3) {
        encoder->flags |= AV_CODEC_FLAG_QSCALE;  // near-lossless: quantiser 2
        encoder->global_quality = FF_QP2LAMBDA * 2;
    }
    if (m.container->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (format.codec == MovieCodec::H264)
        av_dict_set(&options, "crf", "18", 0);
    const int opened = avcodec_open2(encoder, codec, &options);
    av_dict_free(&options);
    check(opened, "opening the encoder");
    check(avcodec_parameters_from_context(stream->codecpar, encoder), "codec parameters");
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;
    check(av_frame_get_buffer(m.frame, 0), "frame buffer");
    check(avio_open(&m.container->pb, path.c_str(), AVIO_FLAG_WRITE), "creating the file");

    // Raw AVI rows go bottom-up: the muxer writes them as they come, so feed them flipped.
    const bool flip =
        format.codec == MovieCodec::RawBgr24 && std::strcmp(m.container->oformat->name, "avi") == 0;
    AVDictionary* muxerOptions = nullptr;
    if (flip)
        av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0);
    const int written = avformat_write_header(m.container, &muxerOptions);
    av_dict_free(&muxerOptions);
    check(written, "writing the header");
    m.converter = sws_getContext(
        format.width, format.height, AV_PIX_FMT_BGR24, format.width, format.height,
        encoder->pix_fmt, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
    const int stride = format.width * 3;
    for (size_t i = 0; i < frames.size(); i++) {
        if (std::find(skipped.begin(), skipped.end(), i) != skipped.end())
            continue;
        const uint8_t* source[4] = {frames[i].data() + (flip ? (format.height - 1) * stride : 0)};
        const int sourceStride[4] = {flip ? -stride : stride};
        check(av_frame_make_writable(m.frame), "frame not writable");
        sws_scale(m.converter, source, sourceStride, 0, format.height, m.frame->data,
                  m.frame->linesize);
        m.frame->pts = static_cast<int64_t>(i);
        m.encode(m.frame);
    }
    m.encode(nullptr);
    check(av_write_trailer(m.container), "finishing the file");
    check(avio_closep(&m.container->pb), "closing the file");
}

void writePicture(const std::string& path, PictureFormat format,
                  const std::vector<unsigned char>& frame, int width, int height) {
    static const char* const ENCODERS[] = {"png", "tiff", "exr", "dpx", "bmp"};
    static const AVPixelFormat PIXELS[] = {AV_PIX_FMT_RGB48BE, AV_PIX_FMT_RGB48LE,
                                           AV_PIX_FMT_GBRPF32LE, AV_PIX_FMT_GBRP10LE,
                                           AV_PIX_FMT_BGR24};
    const int index = static_cast<int>(format);
    MovieParts m;
    const AVCodec* codec = avcodec_find_encoder_by_name(ENCODERS[index]);
    if (codec == nullptr || (m.encoder = avcodec_alloc_context3(codec)) == nullptr)
        throw std::runtime_error("no encoder " + std::string(ENCODERS[index]));
    m.encoder->width = m.frame->width = width;
    m.encoder->height = m.frame->height = height;
    m.encoder->pix_fmt = PIXELS[index];
    m.frame->format = PIXELS[index];
    m.encoder->time_base = {1, 24};
    if (format == PictureFormat::ExrHalf)
        av_opt_set(m.encoder->priv_data, "format", "half", 0);  // zip-compressed scanlines
    if (format == PictureFormat::ExrHalf)
        av_opt_set(m.encoder->priv_data, "compression", "zip1", 0);
    check(avcodec_open2(m.encoder, codec, nullptr), "opening the encoder");
    check(av_frame_get_buffer(m.frame, 0), "frame buffer");
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(PIXELS[index]);
    for (int i = 0; i < width * height * 3; i++) {
        const int v = frame[i], x = i / 3 % width, y = i / 3 / width;
        const AVComponentDescriptor& k = d->comp[2 - i % 3];  // (red, green, blue)
        unsigned char* at =
            m.frame->data[k.plane] + y * m.frame->linesize[k.plane] + x * k.step + k.offset;
        const double level = v / 255.0;
        const uint32_t value =
            format == PictureFormat::ExrHalf
                ? std::bit_cast<uint32_t>(static_cast<float>(
                      level <= 0.04045 ? level / 12.92 : std::pow((level + 0.055) / 1.055, 2.4)))
            : format == PictureFormat::Dpx10 ? static_cast<uint32_t>((v * 1023 + 127) / 255)
            : format == PictureFormat::Bmp   ? static_cast<uint32_t>(v)
                                             : static_cast<uint32_t>(v * 257);
        const int bytes = format == PictureFormat::Bmp ? 1 : k.step == 4 ? 4 : 2;
        for (int b = 0; b < bytes; b++)  // (little-endian, but PNG's big-endian words)
            at[format == PictureFormat::Png16 ? bytes - 1 - b : b] =
                static_cast<unsigned char>(value >> (8 * b));
    }
    check(avcodec_send_frame(m.encoder, m.frame), "encoding");
    check(avcodec_send_frame(m.encoder, nullptr), "encoding");
    check(avcodec_receive_packet(m.encoder, m.packet), "encoding");
    writeFile(path, std::string(m.packet->data, m.packet->data + m.packet->size));
}

void damageAviFrame(const std::string& path, int index) {
    std::string bytes = readFile(path);
    size_t at = bytes.find("movi");
    for (int seen = 0; (at = bytes.find("00dc", at + 4)) != std::string::npos; seen++) {
        auto byte = [&](size_t i) { return uint32_t{static_cast<unsigned char>(bytes[at + i])}; };
        const uint32_t size = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
        if (seen == index && at + 8 + size <= bytes.size()) {
            std::memset(&bytes[at + 8], 0, size);
            return writeFile(path, bytes);
        }
        at += 4 + size;
    }
    throw std::runtime_error("no video chunk " + std::to_string(index) + " in " + path);
}

void claimAviFrameSize(const std::string& path, int width, int height) {
    std::string bytes = readFile(path);
    auto put = [&](size_t at, int value) {
        for (int i = 0; i < 4; i++)
            bytes[at + i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i) & 0xFF);
    };
    const size_t mainHeader = bytes.find("avih");
    const size_t streamFormat = bytes.find("strf");
    if (mainHeader == std::string::npos || streamFormat == std::string::npos)
        throw std::runtime_error("no AVI headers in " + path);
    put(mainHeader + 8 + 32, width);  // dwWidth, dwHeight
    put(mainHeader + 8 + 36, height);
    put(streamFormat + 8 + 4, width);  // biWidth, biHeight
    put(streamFormat + 8 + 8, height);
    writeFile(path, bytes);
}

namespace {

// Dark cells of the scene marker's picture turned `turns` times counter-clockwise.
bool sceneDark(int turns, int channel, int row, int column) {
    const int quarter = row < 8 ? (column < 8 ? 0 : 3) : (column < 8 ? 1 : 2);  // turning order
    return quarter == (turns + (channel == 2 ? 2 : 0)) % 4;
}

}  // namespace

std::vector<std::vector<unsigned char>> markerScenes(const std::vector<bool>& markers, int width) {
    std::vector<std::vector<unsigned char>> frames;
    for (bool marker : markers) {
        std::vector<unsigned char>& frame = frames.emplace_back(width * SCENE_HEIGHT * 3, 255);
        for (int i = 0; i < 64 * 64 * 3 && marker; i++) {
            const int y = i / 192, x = i / 3 % 64, c = i % 3;
            const bool border = x < 16 || x >= 48 || y < 16 || y >= 48;
            frame[((28 + y) * width + 48 + x) * 3 + c] =
                border || sceneDark(0, c, (y - 16) / 2, (x - 16) / 2) ? 0 : 255;
        }
    }
    return frames;
}

std::string markerScenePattern() {
    std::ostringstream pattern;
    for (int i = 0; i < 4 * 3 * 256; i++)  // block (turns), plane, row, column
        pattern << (sceneDark(i / 768, i / 256 % 3, i % 256 / 16, i % 16) ? 0 : 255)
                << (i % 16 == 15 ? "\n" : " ");
    return pattern.str();
}

void writeMarkerStill(const std::string& path, JpegColour colour) {
    const std::vector<unsigned char> scene = markerScenes({true})[0];
    const int components = colour == JpegColour::Grey ? 1 : colour == JpegColour::Rgb ? 3 : 4;
    std::vector<unsigned char> pixels(SCENE_WIDTH * SCENE_HEIGHT * components);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = components == 1 ? scene[i * 3 + 1] : scene[i / components * 3 + 2 - i % 3];
    writeJpeg(path, pixels.data(), SCENE_WIDTH, SCENE_HEIGHT, colour);
}

CameraParam sceneCamera() {
    return {SCENE_WIDTH,
            SCENE_HEIGHT,
            {{160, 0, 80, 0}, {0, 160, 60, 0}, {0, 0, 1, 0}},
            {80, 60, 0, 1}};
}

std::string cameraFileBytes(const CameraParam& camera) {
    unsigned char record[CAMERA_PARAM_RECORD_SIZE];
    arEncodeCameraParam(camera, record);
    return std::string(record, record + sizeof record);
}

void writeSceneFiles(const std::string& folder, const CameraParam& camera) {
    std::filesystem::create_directories(folder + "/Data");
    writeFile(folder + "/Data/camera_para.dat", cameraFileBytes(camera));
    writeFile(folder + "/marker.pat", markerScenePattern());
}

}  // namespace lumeko_test
