#include "media/sequence_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "media/picture_size.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// Errors the decoder may still report for damaged files while it hands back
// the pictures it holds at the end.
constexpr int DRAIN_ERRORS_MAX = 64;
constexpr int64_t MAX_PICTURE_PIXELS = int64_t{MAX_FRAME_SIDE} * MAX_FRAME_SIDE;

// The codec of a picture file as FFmpeg's probing sees it (its contents,
// else its extension), without decoding it.
AVCodecID probeCodec(const std::string& path) {
    AVFormatContext* container = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "pattern_type", "none", 0);  // the name is the file's, '%' and all
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&container, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return AV_CODEC_ID_NONE;
    AVCodecID codec = AV_CODEC_ID_NONE;
    if (container->nb_streams > 0 &&
        container->streams[0]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        codec = container->streams[0]->codecpar->codec_id;
    avformat_close_input(&container);
    return codec;
}

}  // namespace

void SequenceFile::setFiles(const SequencePattern& filePattern, std::vector<long long> present,
                            long long first) {
    pattern = filePattern;
    numbers = std::move(present);
    firstNumber = first;
    nextFile = 0;
}

InputProblem SequenceFile::openDecoder(int threadCount) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = nullptr;
    for (size_t i = 0; i < numbers.size() && codec == nullptr; i++) {
        const AVCodecID id = probeCodec(sequenceFileName(pattern, numbers[i]));
        if (id != AV_CODEC_ID_NONE)
            codec = avcodec_find_decoder(id);
    }
    if (codec == nullptr)
        return {InputFailure::CannotOpen};
    decoder = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    picture = av_frame_alloc();
    if (decoder == nullptr || packet == nullptr || picture == nullptr)
        return {InputFailure::OutOfMemory};
    decoder->thread_count = threadCount;
    decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    decoder->max_pixels = MAX_PICTURE_PIXELS;
    const int opened = avcodec_open2(decoder, codec, nullptr);
    if (opened == AVERROR(ENOMEM))
        return {InputFailure::OutOfMemory};
    if (opened < 0)
        return {InputFailure::CannotOpen};
    return {};
}

// Reads file `number` into the packet, stamped with its position. False
// when it cannot be read (or memory ran out).
bool SequenceFile::readFile(long long number) {
    const int descriptor = ::open(sequenceFileName(pattern, number).c_str(), O_RDONLY);
    if (descriptor < 0)
        return false;
    struct stat status {};
    bool read = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
                status.st_size <= INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE;
    if (read && av_new_packet(packet, static_cast<int>(status.st_size)) < 0) {
        ranOut = true;
        read = false;
    }
    for (ssize_t done = 0; read && done < packet->size;) {
        const ssize_t got = ::read(descriptor, packet->data + done, packet->size - done);
        read = got > 0;
        done += got;
    }
    close(descriptor);
    if (!read) {
        av_packet_unref(packet);
        return false;
    }
    packet->pts = packet->dts = number - firstNumber;
    packet->flags |= AV_PKT_FLAG_KEY;  // (else the PNG decoder adds the picture before)
    return true;
}

std::optional<FrameSize> SequenceFile::pictureSize(long long number) {
    const std::optional<FrameSize> header =
        readPictureSize(sequenceFileName(pattern, number).c_str());
    if (header || decoder == nullptr || !readFile(number))
        return header;
    bool decoded = avcodec_send_packet(decoder, packet) >= 0;
    av_packet_unref(packet);
    decoded = decoded && avcodec_send_packet(decoder, nullptr) >= 0 &&
              avcodec_receive_frame(decoder, picture) >= 0;
    const FrameSize size{picture->width, picture->height};
    av_frame_unref(picture);
    avcodec_flush_buffers(decoder);
    if (!decoded || size.width <= 0 || size.height <= 0)
        return std::nullopt;
    return size;
}

// Hands the decoder the next file that can be read, or the end.
bool SequenceFile::feedDecoder() {
    while (nextFile < numbers.size()) {
        if (!readFile(numbers[nextFile++])) {
            if (ranOut)
                return false;
            continue;  // (a file that cannot be read is a gap)
        }
        if (avcodec_send_packet(decoder, packet) == AVERROR(ENOMEM))
            ranOut = true;
        av_packet_unref(packet);
        return true;
    }
    avcodec_send_packet(decoder, nullptr);
    draining = true;
    return true;
}

Decoded SequenceFile::decodePicture() {
    while (!holding && !ended && !ranOut) {
        const int received = avcodec_receive_frame(decoder, picture);
        if (received == AVERROR(ENOMEM)) {
            ranOut = true;
        } else if (received == 0) {
            holding = picture->width == frameSize.width && picture->height == frameSize.height &&
                      picture->pts != AV_NOPTS_VALUE;
            if (!holding)
                av_frame_unref(picture);  // another size than the sequence's: not tracked
        } else if (received == AVERROR_EOF || (draining && (received == AVERROR(EAGAIN) ||
                                                            ++drainErrors > DRAIN_ERRORS_MAX))) {
            ended = true;
        } else if (!draining) {
            feedDecoder();
        }
    }
    if (ranOut)
        return {PictureKind::Failed, 0, {InputFailure::OutOfMemory}};
    if (!holding)
        return {PictureKind::End};
    return {PictureKind::Picture, picture->pts};
}

InputProblem SequenceFile::convertPicture(const FrameImage& frame) {
    InputProblem converted =
        WidePictureConverter::takes(picture->format)
            ? wide.convert(picture->data, picture->linesize, picture->format, frame)
            : converter.convert(picture->data, picture->linesize, pictureLayout(picture), frame);
    dropPicture();
    return converted;
}

void SequenceFile::dropPicture() {
    av_frame_unref(picture);
    holding = false;
}

SequenceFile::~SequenceFile() {
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
}
