#pragma once

#include <string>
#include <vector>

#include "camera/camera_param.h"

// Writers for the inputs Lumeko reads: JPEG stills (libjpeg) and movies
// (libavformat / libavcodec), so that tests make their own media instead of
// shipping files. Failures throw std::runtime_error.

namespace lumeko_test {

enum class JpegColour { Grey, Rgb, Cmyk };  // 1, 3 (red, green, blue) or 4 bytes a pixel

// Encodes `height` rows of `width` pixels, top row first and unpadded, as a
// baseline JPEG file (CMYK as an Adobe file).
void writeJpeg(const std::string& path, const unsigned char* pixels, int width, int height,
               JpegColour colour, int quality = 95);

enum class MovieCodec { RawBgr24, Mjpeg, Mpeg4, MsMpeg4v3, Cinepak, H264 };

// Frames per second = rate / scale. Uncompressed AVI stores bottom-up rows
// padded to 4 bytes; MPEG-4 and H.264 use B-frames.
struct MovieFormat {
    int width;
    int height;
    int rate;
    int scale;
    MovieCodec codec;
};

// Writes one frame after another into a movie whose container follows the
// file name's extension. Each frame is `height` rows of `width` pixels, top
// row first and packed, each pixel blue, green, red. The frames whose
// indexes are in `skipped` are not encoded: the AVI muxer writes an empty
// chunk in their place.
void writeMovie(const std::string& path, const MovieFormat& format,
                const std::vector<std::vector<unsigned char>>& frames,
                const std::vector<size_t>& skipped = {});

// One picture file of a sequence, from `height` rows of `width` pixels
// (blue, green, red): PNG of 16-bit and TIFF of 16-bit samples (v x 257),
// half-float OpenEXR (zip-compressed) of the linear light the sRGB levels
// stand for, DPX of
// 10-bit samples (v x 1023 / 255, rounded) and 8-bit BMP.
enum class PictureFormat { Png16, Tiff16, ExrHalf, Dpx10, Bmp };
void writePicture(const std::string& path, PictureFormat format,
                  const std::vector<unsigned char>& frame, int width, int height);

// Makes an AVI file claim a frame size of `width` x `height` in its main and
// stream headers, whatever its frames hold.
void claimAviFrameSize(const std::string& path, int width, int height);

// Zeroes the payload of the `index`-th "00dc" chunk of an AVI file, keeping
// every size: the file stays readable and only that frame is damaged.
void damageAviFrame(const std::string& path, int index);

// A small scene that tracks: white frames of `width` x 120 pixels with, where
// asked, an upright marker 64 pixels wide at (48, 28). The marker's picture is
// four blocks; blue and green are dark top left, red bottom right, so that
// exchanged channels turn the marker. Frames are blue, green, red a pixel.
constexpr int SCENE_WIDTH = 161, SCENE_HEIGHT = 120;  // rows of 483 bytes: padded in raw AVI
std::vector<std::vector<unsigned char>> markerScenes(const std::vector<bool>& markers,
                                                     int width = SCENE_WIDTH);

// The pattern file text that identifies the scene's marker.
std::string markerScenePattern();

// The scene's camera: focal length 160, principal point and distortion
// centre in the middle, no distortion.
CameraParam sceneCamera();

// The camera file's bytes for `camera`.
std::string cameraFileBytes(const CameraParam& camera);

// `folder` made ready for Lumeko on the scene: Data/camera_para.dat holding
// `camera` and marker.pat the scene's pattern.
void writeSceneFiles(const std::string& folder, const CameraParam& camera = sceneCamera());

// One scene with the marker as a JPEG still (grey: the green bytes).
void writeMarkerStill(const std::string& path, JpegColour colour);

}  // namespace lumeko_test
