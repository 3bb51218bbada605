#include "tests/support/media_fixtures.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace lumeko_test {

// ---- JPEG stills ----

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
    switch (colour) {
        case JpegColour::Grey:
            encoder.input_components = 1;
            encoder.in_color_space = JCS_GRAYSCALE;
            break;
        case JpegColour::Rgb:
            encoder.input_components = 3;
            encoder.in_color_space = JCS_RGB;
            break;
        case JpegColour::Cmyk:
            encoder.input_components = 4;
            encoder.in_color_space = JCS_CMYK;
            break;
    }
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

// ---- Movies ----

namespace {

struct CodecChoice {
    const char* encoderName;
    AVPixelFormat pixelFormat;
};

CodecChoice codecChoice(MovieCodec codec) {
    switch (codec) {
        case MovieCodec::RawBgr24:
            return {"rawvideo", AV_PIX_FMT_BGR24};
        case MovieCodec::Mjpeg:
            return {"mjpeg", AV_PIX_FMT_YUVJ420P};
        case MovieCodec::Mpeg4:
            return {"mpeg4", AV_PIX_FMT_YUV420P};
        case MovieCodec::MsMpeg4v3:
            return {"msmpeg4", AV_PIX_FMT_YUV420P};
        case MovieCodec::Cinepak:
            return {"cinepak", AV_PIX_FMT_RGB24};
        case MovieCodec::H264:
            return {"libx264", AV_PIX_FMT_YUV420P};
    }
    throw std::logic_error("unknown codec");
}

void check(int result, const char* what) {
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        av_strerror(result, text, sizeof text);
        throw std::runtime_error(std::string(what) + ": " + text);
    }
}

}  // namespace

struct MovieWriter::State {
    MovieFormat format{};
    AVFormatContext* container = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* encoder = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* converter = nullptr;
    int converterInputBytes = 0;
    bool flipRows = false;  // bottom-up raw bitmaps in AVI
    long long nextPosition = 0;
    bool finished = false;

    ~State() {
        sws_freeContext(converter);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&encoder);
        if (container != nullptr) {
            if (container->pb != nullptr)
                avio_closep(&container->pb);
            avformat_free_context(container);
        }
    }

    void open(const std::string& path) {
        check(avformat_alloc_output_context2(&container, nullptr, nullptr, path.c_str()),
              "no container for the file name");
        const CodecChoice choice = codecChoice(format.codec);
        const AVCodec* codec = avcodec_find_encoder_by_name(choice.encoderName);
        if (codec == nullptr)
            throw std::runtime_error("no encoder " + std::string(choice.encoderName));
        stream = avformat_new_stream(container, nullptr);
        encoder = avcodec_alloc_context3(codec);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (stream == nullptr || encoder == nullptr || frame == nullptr || packet == nullptr) {
            throw std::runtime_error("out of memory");
        }
        setUpEncoder(choice.pixelFormat);
        if (container->oformat->flags & AVFMT_GLOBALHEADER) {
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* options = nullptr;
        if (format.codec == MovieCodec::H264)
            av_dict_set(&options, "crf", "18", 0);
        const int opened = avcodec_open2(encoder, codec, &options);
        av_dict_free(&options);
        check(opened, "can not open the encoder");
        check(avcodec_parameters_from_context(stream->codecpar, encoder), "codec parameters");
        stream->time_base = encoder->time_base;
        stream->avg_frame_rate = encoder->framerate;

        frame->format = encoder->pix_fmt;
        frame->width = format.width;
        frame->height = format.height;
        check(av_frame_get_buffer(frame, 0), "frame buffer");

        check(avio_open(&container->pb, path.c_str(), AVIO_FLAG_WRITE), "can not create the file");
        AVDictionary* muxerOptions = nullptr;
        const bool avi = std::strcmp(container->oformat->name, "avi") == 0;
        flipRows = avi && format.codec == MovieCodec::RawBgr24;
        if (flipRows)
            av_dict_set(&muxerOptions, "flipped_raw_rgb", "1", 0);
        const int written = avformat_write_header(container, &muxerOptions);
        av_dict_free(&muxerOptions);
        check(written, "can not write the header");
    }

    void setUpEncoder(AVPixelFormat pixelFormat) {
        encoder->width = format.width;
        encoder->height = format.height;
        encoder->pix_fmt = pixelFormat;
        encoder->time_base = AVRational{format.scale, format.rate};
        encoder->framerate = AVRational{format.rate, format.scale};
        encoder->thread_count = 1;  // the same bytes on every machine
        encoder->gop_size = 12;
        if (format.codec == MovieCodec::Mpeg4)
            encoder->max_b_frames = 2;
        if (format.codec != MovieCodec::H264 && format.codec != MovieCodec::RawBgr24 &&
            format.codec != MovieCodec::Cinepak) {
            encoder->flags |= AV_CODEC_FLAG_QSCALE;  // near-lossless: quantiser 2
            encoder->global_quality = FF_QP2LAMBDA * 2;
        }
    }

    void convertInto(const unsigned char* pixels, int bytesPerPixel, int stride) {
        if (bytesPerPixel != 3 && bytesPerPixel != 4)
            throw std::invalid_argument("bytes a pixel");
        if (converter == nullptr || converterInputBytes != bytesPerPixel) {
            sws_freeContext(converter);
            const AVPixelFormat input = bytesPerPixel == 3 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGR0;
            converter = sws_getContext(
                format.width, format.height, input, format.width, format.height, encoder->pix_fmt,
                SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
            if (converter == nullptr)
                throw std::runtime_error("no pixel converter");
            converterInputBytes = bytesPerPixel;
        }
        if (stride == 0)
            stride = format.width * bytesPerPixel;
        const uint8_t* source[4] = {pixels, nullptr, nullptr, nullptr};
        int sourceStride[4] = {stride, 0, 0, 0};
        if (flipRows) {
            source[0] = pixels + static_cast<size_t>(format.height - 1) * stride;
            sourceStride[0] = -stride;
        }
        check(av_frame_make_writable(frame), "frame not writable");
        sws_scale(converter, source, sourceStride, 0, format.height, frame->data, frame->linesize);
    }

    void encode(const AVFrame* input) {
        check(avcodec_send_frame(encoder, input), "can not encode");
        for (;;) {
            const int received = avcodec_receive_packet(encoder, packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            check(received, "can not encode");
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(container, packet), "can not write a frame");
        }
    }
};

MovieWriter::MovieWriter(const std::string& path, const MovieFormat& format) : state_(new State) {
    av_log_set_level(AV_LOG_ERROR);
    state_->format = format;
    try {
        state_->open(path);
    } catch (...) {
        delete state_;
        throw;
    }
}

MovieWriter::~MovieWriter() {
    try {
        finish();
    } catch (...) {
    }
    delete state_;
}

void MovieWriter::write(const unsigned char* pixels, int bytesPerPixel, int stride,
                        long long position) {
    if (state_->finished)
        throw std::logic_error("movie already finished");
    state_->convertInto(pixels, bytesPerPixel, stride);
    if (position < 0)
        position = state_->nextPosition;
    state_->frame->pts = position;
    state_->nextPosition = position + 1;
    state_->encode(state_->frame);
}

void MovieWriter::finish() {
    if (state_->finished)
        return;
    state_->finished = true;
    state_->encode(nullptr);
    check(av_write_trailer(state_->container), "can not finish the file");
    check(avio_closep(&state_->container->pb), "can not close the file");
}

// ---- Damage ----

namespace {

uint32_t readLittle32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

}  // namespace

void damageAviFrame(const std::string& path, int index) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t movi = bytes.find("movi");
    if (movi == std::string::npos || movi < 8)
        throw std::runtime_error("no movi list in " + path);
    const size_t end = movi + readLittle32(bytes, movi - 4);
    int seen = 0;
    size_t at = movi + 4;
    while (at + 8 <= end && at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = readLittle32(bytes, at + 4);
        if (id == "LIST") {  // a "rec " list: walk into it
            at += 12;
            continue;
        }
        if (id == "00dc" || id == "00db") {
            if (seen++ == index) {
                if (at + 8 + size > bytes.size())
                    throw std::runtime_error("chunk past the end");
                std::memset(bytes.data() + at + 8, 0, size);
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                return;
            }
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error("no video chunk " + std::to_string(index) + " in " + path);
}

}  // namespace lumeko_test
