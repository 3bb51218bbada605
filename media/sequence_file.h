#pragma once

#include <string>
#include <vector>

#include "image/frame_image.h"
#include "media/frame_convert.h"
#include "media/movie_file.h"
#include "media/sequence_name.h"
#include "media/wide_picture.h"

// The decoder of a numbered picture sequence: each file's bytes are one
// packet for an FFmpeg picture decoder (the codec probed from the first
// file), so that consecutive files decode in parallel on the decoder's
// threads as a movie's frames do. A file's position is its number less the
// sequence's first number. Pictures of more than 8 bits a sample are
// converted by WidePictureConverter, others as movie pictures are.
class SequenceFile {
  public:
    SequenceFile() = default;
    SequenceFile(const SequenceFile&) = delete;
    SequenceFile& operator=(const SequenceFile&) = delete;
    ~SequenceFile();

    // The files to decode: `numbers` (ascending) of `pattern`, positioned
    // from `firstNumber`.
    void setFiles(const SequencePattern& pattern, std::vector<long long> numbers,
                  long long firstNumber);

    // Opens the decoder for the format of the first file that can be read;
    // threadCount as for a movie. 0; -1 when no file is a picture FFmpeg
    // can decode; -2 when memory runs out.
    int openDecoder(int threadCount);

    // The size of file `number`'s picture: from its header where the format
    // allows, else by decoding it (before decodePicture() is first called).
    // False when it cannot be read.
    bool pictureSize(long long number, int& width, int& height);

    // From here on a picture of another size counts as one that does not decode.
    void setFrameSize(int width, int height);

    // As MovieFile's: the next picture in order and its position; files
    // that cannot be read or decoded are passed over, so the positions show
    // the gaps. Never EmptyChunk.
    MovieFile::Found decodePicture(long long& position);
    bool convertPicture(const FrameImage& frame);
    void dropPicture();
    bool outOfMemory() const { return ranOut; }

  private:
    bool feedDecoder();
    bool readFile(long long number);

    SequencePattern pattern;
    std::vector<long long> numbers;
    long long firstNumber = 0;
    size_t nextFile = 0;  // the next of `numbers` to feed the decoder
    int frameWidth = 0;
    int frameHeight = 0;

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
