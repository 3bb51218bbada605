#include "media/movie_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Errors the decoder may still report for damaged frames while it hands
// back the frames it holds at the end of the movie.
constexpr int DRAIN_ERRORS_MAX = 64;
// Decoders refuse (as damaged) pictures of more pixels than this, so that a
// file claiming a huge picture cannot make them allocate it.
constexpr int64_t MAX_PICTURE_PIXELS = int64_t{MAX_FRAME_SIDE} * MAX_FRAME_SIDE;
// The I/O buffer of a movie read from memory, as libavformat's own file I/O uses.
constexpr int MEMORY_BUFFER_SIZE = 32768;

// libavformat's reads of a movie in memory: the next bytes, or the end.
int readMemory(void* opaque, uint8_t* buffer, int size) {
    MemorySource& source = *static_cast<MemorySource*>(opaque);
    const size_t left = source.size - source.position;
    const size_t count = std::min(left, static_cast<size_t>(size > 0 ? size : 0));
    if (count == 0)
        return AVERROR_EOF;
    std::memcpy(buffer, source.data + source.position, count);
    source.position += count;
    return static_cast<int>(count);
}

// libavformat's seeks in a movie in memory: from the start, the position or
// the end, anywhere up to the end; AVSEEK_SIZE asks for the size.
int64_t seekMemory(void* opaque, int64_t offset, int whence) {
    MemorySource& source = *static_cast<MemorySource*>(opaque);
    const int64_t size = static_cast<int64_t>(source.size);
    int64_t base;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size;
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = static_cast<int64_t>(source.position);
            break;
        case SEEK_END:
            base = size;
            break;
        default:
            return AVERROR(EINVAL);
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0 || target > size)
        return AVERROR(EINVAL);
    source.position = static_cast<size_t>(target);
    return target;
}

bool isUsableRate(AVRational rate) {
    return rate.num > 0 && rate.den > 0;
}

// Frame number of a stream time: time since the stream's start in frames,
// rounded; false when the time is too far out to subtract.
bool frameNumberAt(MovieState& movie, int64_t time, long long& number) {
    int64_t sinceStart;
    if (__builtin_sub_overflow(time, movie.startTime, &sinceStart))
        return false;
    const FrameRate rate = movie.info.rate.value_or(FrameRate{});
    const AVRational frameDuration = {static_cast<int>(rate.scale), static_cast<int>(rate.rate)};
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

// Frame number of an empty packet: its presentation or decoding time, else
// the one after the packet before it.
long long packetNumber(MovieState& movie, const AVPacket* packet) {
    long long number;
    if (packet->pts != AV_NOPTS_VALUE && frameNumberAt(movie, packet->pts, number))
        return number;
    if (packet->dts != AV_NOPTS_VALUE && frameNumberAt(movie, packet->dts, number))
        return number;
    return movie.lastPacketNumber + 1;
}

// Notes the empty chunks `first` to `last`, joining them to the run before.
void noteEmptyChunks(MovieState& movie, long long first, long long last) {
    const int count = movie.emptyRunCount;
    if (count > 0 && movie.emptyRuns[count - 1][1] + 1 == first) {
        movie.emptyRuns[count - 1][1] = last;
        return;
    }
    constexpr int capacity = sizeof movie.emptyRuns / sizeof movie.emptyRuns[0];
    if (count == capacity)
        return;  // more separate runs than any decoder holds pictures back: not reached
    movie.emptyRuns[count][0] = first;
    movie.emptyRuns[count][1] = last;
    movie.emptyRunCount++;
}

// Takes the oldest empty packet noted.
long long takeEmptyChunk(MovieState& movie) {
    long long(&first)[2] = movie.emptyRuns[0];
    const long long number = first[0];
    if (first[0] < first[1]) {
        first[0]++;
        return number;
    }
    for (int i = 1; i < movie.emptyRunCount; i++) {
        movie.emptyRuns[i - 1][0] = movie.emptyRuns[i][0];
        movie.emptyRuns[i - 1][1] = movie.emptyRuns[i][1];
    }
    movie.emptyRunCount--;
    return number;
}

// Hands the decoder the next packet of the stream, or the end of the stream.
// Empty packets are noted, not sent: the decoder would refuse them.
void feedDecoder(MovieState& movie) {
    for (;;) {
        const int read = av_read_frame(movie.container, movie.packet);
        if (read == AVERROR(ENOMEM)) {
            movie.outOfMemory = true;
            return;
        }
        if (read < 0) {
            avcodec_send_packet(movie.decoder, nullptr);
            movie.draining = true;
            return;
        }
        const bool ours = movie.packet->stream_index == movie.stream->index;
        if (ours) {
            const long long number = packetNumber(movie, movie.packet);
            // FFmpeg's AVI reader passes over empty chunks but counts them in
            // the times of the packets after them.
            if (movie.countsEmptyChunks && number > movie.lastPacketNumber + 1)
                noteEmptyChunks(movie, movie.lastPacketNumber + 1, number - 1);
            movie.lastPacketNumber = std::max(movie.lastPacketNumber, number);
            if (movie.packet->size == 0)
                noteEmptyChunks(movie, number, number);
            else if (avcodec_send_packet(movie.decoder, movie.packet) == AVERROR(ENOMEM))
                movie.outOfMemory = true;
            // (any other packet the decoder rejects is lost, as damaged)
        }
        av_packet_unref(movie.packet);
        if (ours)
            return;
    }
}

// FFmpeg's frame-threaded H.264 decoder can abort (a failed assertion) when
// it is freed after one of its threads ran out of memory mid-picture. After
// running out of memory such a decoder is kept here, still reachable, instead:
// the run is ending, and its memory goes with the process. What FFmpeg needs
// of the process, so it is the process's, for movies closed on any thread.
class KeptDecoders {
  public:
    static void keep(AVCodecContext*& decoder) {
        static KeptDecoders kept;
        std::lock_guard<std::mutex> guard(kept.lock);
        if (kept.count == CAPACITY) {
            avcodec_free_context(&decoder);
            return;
        }
        kept.decoders[kept.count++] = decoder;
        decoder = nullptr;
    }

  private:
    static constexpr int CAPACITY = 16;
    std::mutex lock;
    AVCodecContext* decoders[CAPACITY]{};
    int count = 0;
};

InputProblem outOfMemory() {
    return {InputFailure::OutOfMemory};
}

}  // namespace

InputProblem MovieFile::open(const char* fileName) {
    close();
    return openContainer(fileName);
}

InputProblem MovieFile::openMemory(const uint8_t* data, size_t size) {
    close();
    movie.memory = {data, size, 0};
    unsigned char* buffer = static_cast<unsigned char*>(av_malloc(MEMORY_BUFFER_SIZE));
    if (buffer == nullptr)
        return outOfMemory();
    movie.io = avio_alloc_context(buffer, MEMORY_BUFFER_SIZE, 0, &movie.memory, readMemory, nullptr,
                                  seekMemory);
    if (movie.io == nullptr) {
        av_free(buffer);
        return outOfMemory();
    }
    movie.container = avformat_alloc_context();
    if (movie.container == nullptr) {
        close();
        return outOfMemory();
    }
    movie.container->pb = movie.io;
    return openContainer(nullptr);
}

// Opens the container, by name or (`url` null) through the I/O context
// already set on it, and probes its streams.
InputProblem MovieFile::openContainer(const char* url) {
    av_log_set_level(AV_LOG_QUIET);
    // Only the times the container stores: guessed presentation times of
    // reordered frames in AVI files are off by the reordering depth.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "fflags", "nofillin", 0);
    // A movie in memory is all its bytes: formats that would open more (a
    // playlist's segments, a list's files, wherever they point) may not.
    if (url == nullptr)
        av_dict_set(&options, "protocol_whitelist", "", 0);
    const int opened = avformat_open_input(&movie.container, url, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        close();  // (the container is freed on failure; the I/O context is ours)
        return {InputFailure::CannotOpen};
    }
    // The decoders that probe the streams get the same picture size limit;
    // one refuses the size the header claims, if it is beyond it, and leaves
    // none, so the claim is kept for the report.
    const unsigned streams = movie.container->nb_streams;
    for (unsigned i = 0; i < streams; i++) {
        const AVCodecParameters* parameters = movie.container->streams[i]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
            movie.claimedStream = static_cast<int>(i);
            movie.claimedWidth = parameters->width;
            movie.claimedHeight = parameters->height;
            break;
        }
    }
    AVDictionary** probeOptions =
        static_cast<AVDictionary**>(av_calloc(streams > 0 ? streams : 1, sizeof(AVDictionary*)));
    if (probeOptions == nullptr) {
        close();
        return outOfMemory();
    }
    for (unsigned i = 0; i < streams; i++)
        av_dict_set_int(&probeOptions[i], "max_pixels", MAX_PICTURE_PIXELS, 0);
    const int found = avformat_find_stream_info(movie.container, probeOptions);
    for (unsigned i = 0; i < streams; i++)
        av_dict_free(&probeOptions[i]);
    av_free(probeOptions);
    if (found < 0) {
        close();
        return {InputFailure::CannotOpen};
    }
    return {};
}

InputProblem MovieFile::openVideoStream() {
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
        return {InputFailure::NoVideoStream};

    const AVCodecParameters* parameters = movie.stream->codecpar;
    const AVRational rate = av_guess_frame_rate(movie.container, movie.stream, nullptr);
    movie.info.size = {parameters->width, parameters->height};
    if (movie.stream->index == movie.claimedStream &&
        (parameters->width <= 0 || parameters->height <= 0))
        movie.info.size = {movie.claimedWidth, movie.claimedHeight};
    movie.info.rate = std::nullopt;
    if (isUsableRate(rate))
        movie.info.rate =
            FrameRate{static_cast<unsigned>(rate.num), static_cast<unsigned>(rate.den)};
    movie.info.length = std::nullopt;
    if (movie.stream->nb_frames > 0)
        movie.info.length = movie.stream->nb_frames;
    movie.startTime = movie.stream->start_time == AV_NOPTS_VALUE ? 0 : movie.stream->start_time;
    movie.countsEmptyChunks = std::strcmp(movie.container->iformat->name, "avi") == 0;
    return {};
}

InputProblem MovieFile::openDecoder(int threadCount) {
    const AVCodecParameters* parameters = movie.stream->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr)
        return {InputFailure::NoDecoder};
    movie.decoder = avcodec_alloc_context3(codec);
    if (movie.decoder == nullptr)
        return outOfMemory();
    if (avcodec_parameters_to_context(movie.decoder, parameters) < 0)
        return {InputFailure::NoDecoder};
    movie.decoder->thread_count = threadCount;
    movie.decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    movie.decoder->pkt_timebase = movie.stream->time_base;
    movie.decoder->max_pixels = MAX_PICTURE_PIXELS;
    const int opened = avcodec_open2(movie.decoder, codec, nullptr);
    if (opened == AVERROR(ENOMEM))
        return outOfMemory();
    if (opened < 0)
        return {InputFailure::NoDecoder};
    movie.packet = av_packet_alloc();
    movie.picture = av_frame_alloc();
    if (movie.packet == nullptr || movie.picture == nullptr)
        return outOfMemory();
    movie.lastNumber = -1;
    movie.lastPacketNumber = -1;
    if (fillPicture())
        firstSize = FrameSize{movie.picture->width, movie.picture->height};
    return movie.outOfMemory ? outOfMemory() : InputProblem{};
}

// Decodes until a picture is held or the decoder has given its last one.
bool MovieFile::fillPicture() {
    while (!movie.holding && !movie.ended && !movie.outOfMemory) {
        const int received = avcodec_receive_frame(movie.decoder, movie.picture);
        if (received == AVERROR(ENOMEM)) {
            movie.outOfMemory = true;
        } else if (received == 0) {
            if (movie.picture->width > 0 && movie.picture->height > 0) {
                movie.lastNumber = pictureNumber(movie, movie.picture);
                movie.holding = true;
            } else {
                av_frame_unref(movie.picture);
            }
        } else if (received == AVERROR_EOF ||
                   (movie.draining &&
                    (received == AVERROR(EAGAIN) || ++movie.drainErrors > DRAIN_ERRORS_MAX))) {
            movie.ended = true;
        } else if (!movie.draining) {
            feedDecoder(movie);
        }
        // else a damaged frame among those still held; the others follow.
    }
    return movie.holding;
}

Decoded MovieFile::decodePicture() {
    const bool holding = fillPicture();
    if (movie.outOfMemory)
        return {PictureKind::Failed, 0, outOfMemory()};
    if (movie.emptyRunCount > 0 && (!holding || movie.emptyRuns[0][0] < movie.lastNumber))
        return {PictureKind::EmptyChunk, takeEmptyChunk(movie)};
    if (!holding)
        return {PictureKind::End};
    return {PictureKind::Picture, movie.lastNumber};
}

InputProblem MovieFile::convertPicture(const FrameImage& frame) {
    const AVFrame* picture = movie.picture;
    InputProblem converted =
        converter.convert(picture->data, picture->linesize, pictureLayout(picture), frame);
    av_frame_unref(movie.picture);
    movie.holding = false;
    return converted;
}

void MovieFile::dropPicture() {
    av_frame_unref(movie.picture);
    movie.holding = false;
}

void MovieFile::close() {
    converter.reset();
    av_frame_free(&movie.picture);
    av_packet_free(&movie.packet);
    if (movie.outOfMemory && movie.decoder != nullptr &&
        (movie.decoder->active_thread_type & FF_THREAD_FRAME) != 0)
        KeptDecoders::keep(movie.decoder);
    avcodec_free_context(&movie.decoder);
    avformat_close_input(&movie.container);
    if (movie.io != nullptr) {
        av_freep(&movie.io->buffer);  // (libavformat may have replaced the one given)
        avio_context_free(&movie.io);
    }
    movie = MovieState{};
    firstSize = std::nullopt;
}

MovieFile::~MovieFile() {
    close();
}
