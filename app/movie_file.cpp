#include "app/movie_file.h"

#include <climits>
#include <cstdint>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// Row buffers are aligned for the converter's vector code; the tail gives
// it room to write whole vectors at the end of the last row.
constexpr int ROW_ALIGNMENT = 32;
constexpr int BUFFER_TAIL = 64;
// Errors the decoder may still report for damaged frames while it hands
// back the frames it holds at the end of the movie.
constexpr int DRAIN_ERRORS_MAX = 64;
// Same conversion on every machine: exact rounding, no approximate vector
// code, full chroma resolution.
constexpr int CONVERT_FLAGS = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT | SWS_FULL_CHR_H_INT;

bool isUsableRate(AVRational rate) {
    return rate.num > 0 && rate.den > 0;
}

bool isRgbFormat(int format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

bool isFullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

// Converts with the colour matrix and range the stream declares, so that
// high-definition and full-range video keep their true colours.
void setConverterColours(MovieState& movie, const ConverterSource& source) {
    if (isRgbFormat(source.format))
        return;
    int* inverseTable;
    int* table;
    int sourceRange, destRange, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(movie.converter, &inverseTable, &sourceRange, &table, &destRange,
                                 &brightness, &contrast, &saturation) < 0) {
        return;
    }
    sws_setColorspaceDetails(movie.converter, sws_getCoefficients(source.colourSpace),
                             source.fullRange, table, destRange, brightness, contrast, saturation);
}

// Makes (or keeps) the converter from `source` to blue-green-red rows at the
// movie's frame size. 0, or -1 when that conversion is not possible.
int prepareConverter(MovieState& movie, const ConverterSource& source) {
    const ConverterSource& current = movie.converterSource;
    if (movie.converter != nullptr && current.width == source.width &&
        current.height == source.height && current.format == source.format &&
        current.colourSpace == source.colourSpace && current.fullRange == source.fullRange) {
        return 0;
    }
    sws_freeContext(movie.converter);
    movie.converter = sws_getContext(
        source.width, source.height, static_cast<AVPixelFormat>(source.format), movie.info.width,
        movie.info.height, AV_PIX_FMT_BGR24, CONVERT_FLAGS, nullptr, nullptr, nullptr);
    if (movie.converter == nullptr)
        return -1;
    movie.converterSource = source;
    setConverterColours(movie, source);
    return 0;
}

ConverterSource pictureSource(const AVFrame* picture) {
    return {picture->width, picture->height, picture->format, picture->colorspace,
            picture->color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(picture->format)};
}

// Frame number of a stream time: time since the stream's start in frames,
// rounded; false when the time is too far out to subtract.
bool frameNumberAt(MovieState& movie, int64_t time, long long& number) {
    int64_t sinceStart;
    if (__builtin_sub_overflow(time, movie.startTime, &sinceStart))
        return false;
    const AVRational frameDuration = {static_cast<int>(movie.info.scale),
                                      static_cast<int>(movie.info.rate)};
    number = av_rescale_q_rnd(sinceStart, movie.stream->time_base, frameDuration,
                              static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    return true;
}

// Frame number of a decoded picture from its presentation time. Containers
// without presentation times (AVI) give the decoding time of the packet that
// let the picture out, which runs ahead by the decoder's reordering depth.
// A picture with neither follows the previous one.
long long pictureNumber(MovieState& movie, const AVFrame* picture) {
    long long number;
    if (picture->pts != AV_NOPTS_VALUE && frameNumberAt(movie, picture->pts, number))
        return number;
    if (picture->pkt_dts != AV_NOPTS_VALUE && frameNumberAt(movie, picture->pkt_dts, number)) {
        return number - movie.decoder->has_b_frames;
    }
    return movie.lastNumber + 1;
}

// Converts the decoded picture into the row buffer. False when it cannot be.
bool convertPicture(MovieState& movie, MovieFrame& frame) {
    const AVFrame* picture = movie.picture;
    if (picture->width <= 0 || picture->height <= 0 ||
        prepareConverter(movie, pictureSource(picture)) != 0) {
        return false;
    }
    uint8_t* dest[4] = {movie.rows, nullptr, nullptr, nullptr};
    const int destStride[4] = {movie.stride, 0, 0, 0};
    sws_scale(movie.converter, picture->data, picture->linesize, 0, picture->height, dest,
              destStride);
    frame.number = pictureNumber(movie, picture);
    frame.rows = movie.rows;
    frame.stride = movie.stride;
    movie.lastNumber = frame.number;
    return true;
}

// Hands the decoder the next packet of the stream, or the end of the stream.
void feedDecoder(MovieState& movie) {
    for (;;) {
        if (av_read_frame(movie.container, movie.packet) < 0) {
            avcodec_send_packet(movie.decoder, nullptr);
            movie.draining = true;
            return;
        }
        const bool ours = movie.packet->stream_index == movie.stream->index;
        if (ours)
            avcodec_send_packet(movie.decoder, movie.packet);  // a rejected packet is lost
        av_packet_unref(movie.packet);
        if (ours)
            return;
    }
}

unsigned clampToUnsigned(int64_t value) {
    if (value <= 0)
        return 0;
    return value > UINT_MAX ? UINT_MAX : static_cast<unsigned>(value);
}

// Size of the buffer FFmpeg reads a movie in memory through.
constexpr int MEMORY_READ_BUFFER = 4096;

int readMemory(void* opaque, uint8_t* buffer, int size) {
    MemoryInput& input = *static_cast<MemoryInput*>(opaque);
    const size_t left = input.size - input.position;
    const size_t count = left < static_cast<size_t>(size) ? left : static_cast<size_t>(size);
    if (count == 0)
        return AVERROR_EOF;
    std::memcpy(buffer, input.data + input.position, count);
    input.position += count;
    return static_cast<int>(count);
}

int64_t seekMemory(void* opaque, int64_t offset, int whence) {
    MemoryInput& input = *static_cast<MemoryInput*>(opaque);
    if ((whence & AVSEEK_SIZE) != 0)
        return static_cast<int64_t>(input.size);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = static_cast<int64_t>(input.position);
            break;
        case SEEK_END:
            base = static_cast<int64_t>(input.size);
            break;
        default:
            return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0 ||
        target > static_cast<int64_t>(input.size)) {
        return -1;
    }
    input.position = static_cast<size_t>(target);
    return target;
}

// Opens the container (already given its input in `movie.container`, or
// named by `fileName`) and reads its streams.
int openContainer(MovieState& movie, const char* fileName) {
    av_log_set_level(AV_LOG_QUIET);
    // Only the times the container stores: guessed presentation times of
    // reordered frames in AVI files are off by the reordering depth.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "fflags", "nofillin", 0);
    const int opened = avformat_open_input(&movie.container, fileName, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return -1;
    return avformat_find_stream_info(movie.container, nullptr) < 0 ? -1 : 0;
}

}  // namespace

int MovieFile::open(const char* fileName) {
    close();
    if (openContainer(movie, fileName) != 0) {
        close();
        return -1;
    }
    return 0;
}

int MovieFile::openMemory(const unsigned char* data, size_t size) {
    close();
    movie.memory = {data, size, 0};
    unsigned char* buffer = static_cast<unsigned char*>(av_malloc(MEMORY_READ_BUFFER));
    movie.container = avformat_alloc_context();
    if (buffer != nullptr)
        movie.io = avio_alloc_context(buffer, MEMORY_READ_BUFFER, 0, &movie.memory, readMemory,
                                      nullptr, seekMemory);
    if (movie.io == nullptr || movie.container == nullptr) {
        if (movie.io == nullptr)
            av_free(buffer);
        close();
        return -1;
    }
    movie.container->pb = movie.io;
    movie.container->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (openContainer(movie, "") != 0) {
        close();
        return -1;
    }
    return 0;
}

int MovieFile::openVideoStream() {
    for (unsigned i = 0; i < movie.container->nb_streams; i++) {
        AVStream* stream = movie.container->streams[i];
        const bool video = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                           (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
        if (video && movie.stream == nullptr) {
            movie.stream = stream;
        } else {
            stream->discard = AVDISCARD_ALL;
        }
    }
    if (movie.stream == nullptr)
        return -1;

    const AVCodecParameters* parameters = movie.stream->codecpar;
    const AVRational rate = av_guess_frame_rate(movie.container, movie.stream, nullptr);
    movie.info.width = parameters->width;
    movie.info.height = parameters->height;
    movie.info.rate = isUsableRate(rate) ? static_cast<unsigned>(rate.num) : 0;
    movie.info.scale = isUsableRate(rate) ? static_cast<unsigned>(rate.den) : 0;
    movie.info.length = clampToUnsigned(movie.stream->nb_frames);
    movie.startTime = movie.stream->start_time == AV_NOPTS_VALUE ? 0 : movie.stream->start_time;
    return 0;
}

MovieInfo MovieFile::info() const {
    return movie.info;
}

int MovieFile::openDecoder(int threadCount) {
    const AVCodecParameters* parameters = movie.stream->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr || movie.info.width <= 0 || movie.info.height <= 0)
        return -1;
    movie.decoder = avcodec_alloc_context3(codec);
    if (movie.decoder == nullptr)
        return DECODER_OUT_OF_MEMORY;
    int result = avcodec_parameters_to_context(movie.decoder, parameters);
    if (result < 0)
        return result == AVERROR(ENOMEM) ? DECODER_OUT_OF_MEMORY : -1;
    movie.decoder->thread_count = threadCount;
    movie.decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    movie.decoder->pkt_timebase = movie.stream->time_base;
    result = avcodec_open2(movie.decoder, codec, nullptr);
    if (result < 0)
        return result == AVERROR(ENOMEM) ? DECODER_OUT_OF_MEMORY : -1;

    movie.packet = av_packet_alloc();
    movie.picture = av_frame_alloc();
    const size_t rowBytes = static_cast<size_t>(movie.info.width) * 3;
    const size_t stride = (rowBytes + ROW_ALIGNMENT - 1) / ROW_ALIGNMENT * ROW_ALIGNMENT;
    if (stride > INT_MAX)
        return -1;
    movie.stride = static_cast<int>(stride);
    movie.rows = static_cast<unsigned char*>(
        av_malloc(stride * static_cast<size_t>(movie.info.height) + BUFFER_TAIL));
    if (movie.packet == nullptr || movie.picture == nullptr || movie.rows == nullptr)
        return DECODER_OUT_OF_MEMORY;

    // Formats the converter cannot take are known before the first frame.
    if (movie.decoder->pix_fmt != AV_PIX_FMT_NONE) {
        const ConverterSource source = {movie.info.width, movie.info.height, movie.decoder->pix_fmt,
                                        movie.decoder->colorspace,
                                        movie.decoder->color_range == AVCOL_RANGE_JPEG ||
                                            isFullRangeFormat(movie.decoder->pix_fmt)};
        if (prepareConverter(movie, source) != 0) {
            // A format the converter takes failed for want of memory.
            return sws_isSupportedInput(movie.decoder->pix_fmt) > 0 ? DECODER_OUT_OF_MEMORY : -1;
        }
    }
    movie.lastNumber = -1;
    return 0;
}

int MovieFile::readFrame(MovieFrame& frame) {
    for (;;) {
        const int received = avcodec_receive_frame(movie.decoder, movie.picture);
        if (received == 0) {
            const bool converted = convertPicture(movie, frame);
            av_frame_unref(movie.picture);
            if (converted)
                return 1;
            continue;
        }
        if (received == AVERROR_EOF)
            return 0;
        if (movie.draining) {
            // A damaged frame among those still held; the others follow.
            if (received == AVERROR(EAGAIN) || ++movie.drainErrors > DRAIN_ERRORS_MAX)
                return 0;
            continue;
        }
        feedDecoder(movie);
    }
}

void MovieFile::close() {
    sws_freeContext(movie.converter);
    av_freep(&movie.rows);
    av_frame_free(&movie.picture);
    av_packet_free(&movie.packet);
    avcodec_free_context(&movie.decoder);
    avformat_close_input(&movie.container);
    if (movie.io != nullptr) {
        av_freep(&movie.io->buffer);
        avio_context_free(&movie.io);
    }
    movie = MovieState{};
}

MovieFile::~MovieFile() {
    close();
}
