#pragma once

#include <memory>
#include <vector>

#include "camera/camera_param.h"
#include "tools/common/image_io.h"
#include "tools/render/camera_path.h"
#include "tools/render/scene_objects.h"
#include "tools/render/table_texture.h"

// The light on the plane and on everything on it, by the point's place in
// marker coordinates (x, y); each surface's colour is multiplied by it.
struct Lighting {
    // Brightness falling linearly from 1 to `gradientFloor` over
    // `gradientSpan` units along the direction `gradientDegrees` (0: +x,
    // 90: +y), centred on the marker, constant beyond; 1 means no gradient.
    double gradientFloor = 1.0, gradientDegrees = 0.0, gradientSpan = 1.0;
    // A shadow: the half-plane of points p with p . (cos, sin)(shadowDegrees)
    // beyond `shadowOffset` is multiplied by `shadowFactor`, the edge ramping
    // over `shadowSoftness` units about the line (0: a hard edge).
    bool shadow = false;
    double shadowDegrees = 0.0, shadowOffset = 0.0, shadowFactor = 1.0, shadowSoftness = 0.0;
};

// A further printed marker of a set, anywhere in the scene: `toWorld` takes
// its own coordinates (its square centred on its origin in its z = 0 plane,
// x right and y up on the print, z out of it) to the scene's, the first
// marker's. Drawn like the first: its `picture` in the central half of the
// black square `width` wide, on paper reaching a quarter of the width beyond.
struct Sheet {
    RgbImage picture;
    double width = 80.0;
    Pose toWorld{};
};

// What the renderer draws: a printed marker of `markerWidth` (the black
// square) centred on the origin of the z = 0 plane, its `picture` in the
// central half (top row towards +y), on a sheet of white paper reaching
// `paperMargin` beyond the square, lying on a table that fills the rest of
// the plane: a light blotchy wood, or the picture `table` tiled over it.
// Discs and boxes may lie or stand on it and hide what is behind them.
struct Scene {
    RgbImage picture;
    double markerWidth = 80.0;
    double paperMargin = 20.0;
    Lighting light = {};
    std::shared_ptr<const TableTexture> table = {};
    std::vector<Disc> discs = {};
    std::vector<Box> boxes = {};
    std::vector<Sheet> sheets = {};  // the further markers of a set, over everything else
};

// Renders one frame of camera.xsize x camera.ysize pixels into `frame`
// (resized when needed). Each pixel is the mean of supersample x supersample
// samples spread evenly over it: on a square grid, or with `jitter` each at a
// place of its own in its cell of that grid, drawn from the pixel's and the
// cell's numbers (the same in every run), so that a side lying along the rows
// or columns is not drawn with the same steps in every pixel along it and
// its place averages out over them, as in a renderer that scatters its
// samples; pixel (x, y) is centred on observed image
// coordinates (x, y), the samples shifted by (offsetX, offsetY) pixels. Each
// sample is taken back through the camera's distortion (observed to ideal)
// and projection to the nearest disc or box it meets or to the marker plane.
void renderFrame(const Scene& scene, const CameraParam& camera, const CameraPose& pose,
                 int supersample, RgbImage& frame, double offsetX = 0.0, double offsetY = 0.0,
                 bool jitter = false);

// The plane point (x, y) seen at observed pixel (ox, oy); false when the
// pixel looks past the plane.
bool planePointSeen(const CameraParam& camera, const CameraPose& pose, double ox, double oy,
                    double& x, double& y);

// The fraction of the marker's black border that discs and boxes hide from
// the camera (measured on a grid of points over the border).
double borderCovered(const Scene& scene, const CameraParam& camera, const CameraPose& pose);

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
