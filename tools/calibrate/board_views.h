#pragma once

#include <string>
#include <vector>

namespace cv {
class Mat;
}

// A printed chessboard: `columns` x `rows` inner corners, squares of side
// `square` in the unit the camera positions come out in.
struct BoardGeometry {
    int columns = 0;
    int rows = 0;
    double square = 0.0;
};

struct BoardCorner {
    double x, y;
};

// Finds the board's inner corners, to a fraction of a pixel, in an 8-bit grey
// picture: `corners` gets columns x rows points, row by row in the order the
// detector walks the board. `edgeWidth` gets the mean width in pixels of the
// black-to-white transitions (10 % to 90 %), a measure of blur. False when the
// whole board was not found.
bool findBoardCorners(const cv::Mat& grey, const BoardGeometry& board,
                      std::vector<BoardCorner>& corners, double& edgeWidth);

// Mean distance in pixels between corners of the same index in two views.
double meanCornerDistance(const std::vector<BoardCorner>& a, const std::vector<BoardCorner>& b);

// The corners of a width x height frame ("top left", "top right", "bottom
// left", "bottom right") in whose quarter-by-quarter region no corner of any view lies.
std::vector<std::string> uncoveredFrameCorners(const std::vector<std::vector<BoardCorner>>& views,
                                               int width, int height);

// A printable picture of the board: its squares `squarePixels` wide, the top
// left one black, on a white margin one square wide.
cv::Mat boardPicture(const BoardGeometry& board, int squarePixels);
