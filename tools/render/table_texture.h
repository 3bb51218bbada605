#pragma once

#include <vector>

#include "tools/common/image_io.h"

// A picture tiled over the marker plane, `tileWidth` units wide a tile (its
// height keeps the picture's aspect ratio), the picture's top row towards +y.
// Sampled through a pyramid of ever halved copies (a mipmap), blended between
// the two levels nearest the sample's footprint, so that a far, slanted table
// neither shimmers nor aliases.
class TableTexture {
  public:
    TableTexture(const RgbImage& picture, double tileWidth);

    // The colour (red, green, blue, 0..255) around plane point (x, y) for a
    // sample covering about `footprint` plane units.
    void sample(double x, double y, double footprint, double colour[3]) const;

  private:
    struct Level {
        int width, height;
        std::vector<float> rgb;
    };
    void bilinear(const Level& level, double u, double v, double colour[3]) const;

    std::vector<Level> levels_;
    double tileWidth_, tileHeight_;
};
