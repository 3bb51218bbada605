#pragma once

#include "camera/camera_param.h"
#include "tools/common/image_io.h"
#include "tools/render/camera_path.h"

// What the renderer draws: a printed marker of `markerWidth` (the black
// square) centred on the origin of the z = 0 plane, its `picture` in the
// central half (top row towards +y), on a sheet of white paper reaching
// `paperMargin` beyond the square, lying on a textured table that fills the
// rest of the plane.
struct Scene {
    RgbImage picture;
    double markerWidth = 80.0;
    double paperMargin = 20.0;
};

// Renders one frame of camera.xsize x camera.ysize pixels into `frame`
// (resized when needed). Each pixel is the mean of supersample x supersample
// samples spread evenly over it; pixel (x, y) is centred on observed image
// coordinates (x, y). Each sample is taken back through the camera's
// distortion (observed to ideal) and projection to the marker plane.
void renderFrame(const Scene& scene, const CameraParam& camera, const CameraPose& pose,
                 int supersample, RgbImage& frame);

// Gaussian blur with standard deviation `sigma` pixels (nothing for sigma <= 0).
void blurImage(RgbImage& image, double sigma);

// Adds nearly Gaussian noise of standard deviation `sigma` to every byte,
// from a generator seeded with `seed`; the same on every platform.
void addNoise(RgbImage& image, double sigma, unsigned seed);

// A printed chessboard lying in the z = 0 plane: `columns` x `rows` inner
// corners (so columns + 1 by rows + 1 squares of side `square`), centred on
// the origin, inner corner (i, j) at ((i - (columns - 1) / 2) * square,
// ((rows - 1) / 2 - j) * square), the square at the top left black, on white
// paper reaching `margin` beyond the squares, on a plain grey table.
struct Chessboard {
    int columns = 9;
    int rows = 6;
    double square = 30.0;
    double margin = 30.0;
};

// Renders the chessboard as seen through the camera's projection and
// distortion, in grey (the same value in all three channels), the same way as
// renderFrame but supersampling only the pixels that an edge crosses: a pixel
// whose four corners see the same surface takes that surface's colour.
void renderChessboard(const Chessboard& board, const CameraParam& camera, const CameraPose& pose,
                      int supersample, RgbImage& frame);

// Exposure and picture profile: every byte v becomes black + (255 - black) *
// gain * v / 255, so gain < 1 dims the picture and black > 0 lifts its
// blacks as a flat (log) profile does. Nothing changes for gain 1, black 0.
void applyExposure(RgbImage& image, double gain, double black);
