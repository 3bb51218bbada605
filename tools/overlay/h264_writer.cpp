#include "tools/overlay/h264_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

struct H264WriterState {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    SwsContext* convert = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int width = 0;
    int height = 0;
    long long next = 0;
    bool headerWritten = false;
};

namespace {

const AVCodec* findEncoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    return codec != nullptr ? codec : avcodec_find_encoder(AV_CODEC_ID_H264);
}

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Sends `frame` (null to flush) and writes every packet the encoder returns.
int encode(H264WriterState& s, AVFrame* frame, std::string& error) {
    int code = avcodec_send_frame(s.codec, frame);
    while (code >= 0) {
        code = avcodec_receive_packet(s.codec, s.packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return 0;
        if (code < 0)
            break;
        // Every frame lasts one frame time. The encoder leaves the duration out, and
        // the MP4 muxer would then end the movie at the last frame's start and cut it off.
        if (s.packet->duration == 0)
            s.packet->duration = 1;
        av_packet_rescale_ts(s.packet, s.codec->time_base, s.stream->time_base);
        s.packet->stream_index = s.stream->index;
        code = av_interleaved_write_frame(s.format, s.packet);
    }
    error = "encoding failed: " + ffmpegError(code);
    return -1;
}

void release(H264WriterState* s) {
    if (s == nullptr)
        return;
    if (s->format != nullptr && !(s->format->oformat->flags & AVFMT_NOFILE))
        avio_closep(&s->format->pb);
    avformat_free_context(s->format);
    avcodec_free_context(&s->codec);
    sws_freeContext(s->convert);
    av_frame_free(&s->frame);
    av_packet_free(&s->packet);
    delete s;
}

}  // namespace

bool h264Available() {
    return findEncoder() != nullptr;
}

int h264Open(H264Writer& writer, const std::string& path, int width, int height, int rate,
             int scale, std::string& error) {
    const AVCodec* encoder = findEncoder();
    if (encoder == nullptr) {
        error = "this FFmpeg has no H.264 encoder: write an .avi (Motion JPEG) instead";
        return -1;
    }
    auto* s = new H264WriterState;
    writer.state = s;
    s->width = width & ~1;
    s->height = height & ~1;
    if (s->width < 2 || s->height < 2) {
        error = "the frames are too small for H.264";
        return -1;
    }
    int code = avformat_alloc_output_context2(&s->format, nullptr, nullptr, path.c_str());
    if (code < 0 || s->format == nullptr) {
        error = path + ": no container for this name (use .mp4, .mkv or .mov)";
        return -1;
    }
    s->stream = avformat_new_stream(s->format, nullptr);
    s->codec = avcodec_alloc_context3(encoder);
    s->frame = av_frame_alloc();
    s->packet = av_packet_alloc();
    if (s->stream == nullptr || s->codec == nullptr || s->frame == nullptr ||
        s->packet == nullptr) {
        error = "out of memory";
        return -1;
    }
    s->codec->width = s->width;
    s->codec->height = s->height;
    s->codec->pix_fmt = AV_PIX_FMT_YUV420P;
    s->codec->time_base = AVRational{scale, rate};
    s->codec->framerate = AVRational{rate, scale};
    s->codec->gop_size = 30;
    if (s->format->oformat->flags & AVFMT_GLOBALHEADER)
        s->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(s->codec->priv_data, "preset", "veryfast", 0);
    av_opt_set(s->codec->priv_data, "crf", "18", 0);
    code = avcodec_open2(s->codec, encoder, nullptr);
    if (code < 0) {
        error = std::string("cannot open the H.264 encoder: ") + ffmpegError(code);
        return -1;
    }
    avcodec_parameters_from_context(s->stream->codecpar, s->codec);
    s->stream->time_base = s->codec->time_base;
    s->frame->format = AV_PIX_FMT_YUV420P;
    s->frame->width = s->width;
    s->frame->height = s->height;
    if (av_frame_get_buffer(s->frame, 0) < 0) {
        error = "out of memory";
        return -1;
    }
    s->convert = sws_getContext(s->width, s->height, AV_PIX_FMT_RGB24, s->width, s->height,
                                AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (s->convert == nullptr) {
        error = "cannot convert the frames to yuv420p";
        return -1;
    }
    if (!(s->format->oformat->flags & AVFMT_NOFILE) &&
        (code = avio_open(&s->format->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
        error = path + ": cannot create: " + ffmpegError(code);
        return -1;
    }
    if ((code = avformat_write_header(s->format, nullptr)) < 0) {
        error = path + ": cannot write the header: " + ffmpegError(code);
        return -1;
    }
    s->headerWritten = true;
    return 0;
}

int h264WriteFrame(H264Writer& writer, const RgbImage& image, std::string& error) {
    H264WriterState& s = *writer.state;
    if (av_frame_make_writable(s.frame) < 0) {
        error = "out of memory";
        return -1;
    }
    const uint8_t* rows[1] = {image.rgb.data()};
    const int strides[1] = {3 * image.width};
    sws_scale(s.convert, rows, strides, 0, s.height, s.frame->data, s.frame->linesize);
    s.frame->pts = s.next++;
    return encode(s, s.frame, error);
}

int h264Close(H264Writer& writer, std::string& error) {
    H264WriterState* s = writer.state;
    writer.state = nullptr;
    int status = 0;
    if (s != nullptr && s->headerWritten) {
        if (encode(*s, nullptr, error) != 0)
            status = -1;
        const int code = av_write_trailer(s->format);
        if (code < 0 && status == 0) {
            error = "cannot finish the movie: " + ffmpegError(code);
            status = -1;
        }
    }
    release(s);
    return status;
}
