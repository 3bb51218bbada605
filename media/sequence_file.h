#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/frame_image.h"
#include "media/frame_convert.h"
#include "media/frame_source.h"
#include "media/picture_decoder.h"
#include "media/sequence_name.h"
#include "media/wide_picture.h"

// The decoder of a numbered picture sequence: each file's bytes are one
// packet for an FFmpeg picture decoder (the codec probed from the first
// file), so that consecutive files decode in parallel on the decoder's
// threads as a movie's frames do. A file's position is its number less the
// sequence's first number. Pictures of more than 8 bits a sample are
// converted by WidePictureConverter, others as movie pictures are.
class SequenceFile : public PictureDecoder {
  public:
    SequenceFile() = default;
    SequenceFile(const SequenceFile&) = delete;
    SequenceFile& operator=(const SequenceFile&) = delete;
    ~SequenceFile() override;

    // The files to decode: `numbers` (ascending) of `pattern`, positioned
    // from `firstNumber`.
    void setFiles(const SequencePattern& pattern, std::vector<long long> numbers,
                  long long firstNumber);

    // Opens the decoder for the format of the first file that can be read;
    // threadCount as for a movie. CannotOpen when no file is a picture
    // FFmpeg can decode; OutOfMemory when memory runs out.
    InputProblem openDecoder(int threadCount);

    // The size of file `number`'s picture: from its header where the format
    // allows, else by decoding it (before decodePicture() is first called).
    // None when it cannot be read.
    std::optional<FrameSize> pictureSize(long long number);

    // From here on a picture of another size counts as one that does not decode.
    void setFrameSize(FrameSize size) { frameSize = size; }

    // As MovieFile's: the next picture in order and its position; files
    // that cannot be read or decoded are passed over, so the positions show
    // the gaps. Never EmptyChunk.
    Decoded decodePicture() override;
    InputProblem convertPicture(const FrameImage& frame) override;
    void dropPicture() override;

  private:
    bool feedDecoder();
    bool readFile(long long number);

    SequencePattern pattern;
    std::vector<long long> numbers;
    long long firstNumber = 0;
    size_t nextFile = 0;  // the next of `numbers` to feed the decoder
    FrameSize frameSize;

    struct AVCodecContext* decoder = nullptr;
    struct AVPacket* packet = nullptr;
    struct AVFrame* picture = nullptr;
    bool holding = false;
    bool draining = false;
    bool ended = false;
    bool ranOut = false;
    int drainErrors = 0;
    FrameConverter converter;
    WidePictureConverter wide;
};
