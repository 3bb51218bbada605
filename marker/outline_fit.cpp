#include "marker/outline_fit.h"

#include "camera/distortion.h"

int arCornersOffOutline(const double distFactor[4], const int32_t* contourX,
                        const int32_t* contourY, int pointCount, const ImagePoint vertices[4]) {
    int off = 0;
    for (int j = 0; j < 4; j++) {
        double x, y;
        arIdealToObserved(distFactor, vertices[j].x, vertices[j].y, &x, &y);
        double nearest = OUTLINE_CORNER_MAX * OUTLINE_CORNER_MAX;
        bool meets = false;
        for (int k = 0; k < pointCount && !meets; k++) {
            const double dx = contourX[k] - x;
            const double dy = contourY[k] - y;
            meets = dx * dx + dy * dy <= nearest;
        }
        off += meets ? 0 : 1;
    }
    return off;
}
