#include "layout/layout_records.h"

void squareCorners(double width, double corners[4][3]) {
    const double h = width / 2.0;
    const double xy[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    for (int k = 0; k < 4; k++) {
        corners[k][0] = xy[k][0];
        corners[k][1] = xy[k][1];
        corners[k][2] = 0.0;
    }
}
