#include "tools/calibrate/board_views.h"

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Half the side of cornerSubPix's search window: about a third of the
// shortest distance between neighbouring corners, so that the window never
// reaches the next corner, and at least 2 and at most 10 pixels.
int refineRadius(const std::vector<cv::Point2f>& found, const cv::Size& pattern) {
    double shortest = INFINITY;
    for (int row = 0; row < pattern.height; ++row) {
        for (int column = 0; column < pattern.width; ++column) {
            const cv::Point2f& p = found[row * pattern.width + column];
            if (column + 1 < pattern.width) {
                shortest =
                    std::min(shortest, cv::norm(found[row * pattern.width + column + 1] - p));
            }
            if (row + 1 < pattern.height) {
                shortest =
                    std::min(shortest, cv::norm(found[(row + 1) * pattern.width + column] - p));
            }
        }
    }
    return std::clamp(static_cast<int>(shortest / 3.0), 2, 10);
}

}  // namespace

bool findBoardCorners(const cv::Mat& grey, const BoardGeometry& board,
                      std::vector<BoardCorner>& corners, double& edgeWidth) {
    corners.clear();
    edgeWidth = 0.0;
    const cv::Size pattern(board.columns, board.rows);
    const size_t count = static_cast<size_t>(board.columns) * board.rows;
    std::vector<cv::Point2f> found;
    // The quad-based detector, refined to a fraction of a pixel, is quick;
    // the slower sector-based one copes with what it misses (strong blur,
    // strong distortion, uneven light) and is precise by itself.
    if (cv::findChessboardCorners(grey, pattern, found,
                                  cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE |
                                      cv::CALIB_CB_FAST_CHECK) &&
        found.size() == count) {
        const int radius = refineRadius(found, pattern);
        cv::cornerSubPix(
            grey, found, cv::Size(radius, radius), cv::Size(-1, -1),
            cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 50, 0.001));
    } else if (!cv::findChessboardCornersSB(grey, pattern, found, cv::CALIB_CB_NORMALIZE_IMAGE) ||
               found.size() != count) {
        return false;
    }
    edgeWidth = cv::estimateChessboardSharpness(grey, pattern, found)[0];
    corners.reserve(found.size());
    for (const cv::Point2f& p : found) {
        corners.push_back({p.x, p.y});
    }
    return true;
}

double meanCornerDistance(const std::vector<BoardCorner>& a, const std::vector<BoardCorner>& b) {
    if (a.empty() || a.size() != b.size()) {
        return INFINITY;
    }
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += std::hypot(a[i].x - b[i].x, a[i].y - b[i].y);
    }
    return sum / a.size();
}

std::vector<std::string> uncoveredFrameCorners(const std::vector<std::vector<BoardCorner>>& views,
                                               int width, int height) {
    bool covered[2][2] = {{false, false}, {false, false}};
    for (const auto& view : views) {
        for (const BoardCorner& c : view) {
            const int column = c.x < 0.25 * width ? 0 : c.x >= 0.75 * width ? 1 : -1;
            const int row = c.y < 0.25 * height ? 0 : c.y >= 0.75 * height ? 1 : -1;
            if (column >= 0 && row >= 0) {
                covered[row][column] = true;
            }
        }
    }
    static const char* const NAMES[2][2] = {{"top left", "top right"},
                                            {"bottom left", "bottom right"}};
    std::vector<std::string> missing;
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 2; ++column) {
            if (!covered[row][column]) {
                missing.push_back(NAMES[row][column]);
            }
        }
    }
    return missing;
}

cv::Mat boardPicture(const BoardGeometry& board, int squarePixels) {
    const int across = board.columns + 3, down = board.rows + 3;
    cv::Mat picture(down * squarePixels, across * squarePixels, CV_8UC1, cv::Scalar(255));
    for (int row = 1; row < down - 1; ++row) {
        for (int column = 1; column < across - 1; ++column) {
            if ((row + column) % 2 == 0) {
                picture(
                    cv::Rect(column * squarePixels, row * squarePixels, squarePixels, squarePixels))
                    .setTo(cv::Scalar(0));
            }
        }
    }
    return picture;
}
