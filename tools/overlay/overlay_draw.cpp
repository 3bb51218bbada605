#include "tools/overlay/overlay_draw.h"

#include <cairo/cairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pose/pose_projection.h"
#include "track/camera_key.h"

namespace {

// Pieces each straight edge is drawn in, so that the lens distortion bends it.
constexpr int EDGE_PIECES = 24;

struct Colour {
    double r, g, b;
};

Colour colourOf(const unsigned char c[3]) {
    return {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0};
}

// The 3D edge from a to b as a polyline; pieces behind the camera are left out.
void strokeEdge(cairo_t* cr, const CameraParam& camera, const Pose& pose, const double a[3],
                const double b[3]) {
    bool drawing = false;
    for (int i = 0; i <= EDGE_PIECES; i++) {
        const double t = static_cast<double>(i) / EDGE_PIECES;
        const double p[3] = {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]),
                             a[2] + t * (b[2] - a[2])};
        double x = 0.0, y = 0.0;
        if (!projectPoint(camera, pose, p, x, y)) {
            drawing = false;
            continue;
        }
        // Cairo's pixel (0, 0) covers [0, 1] x [0, 1]: its centre is (0.5, 0.5).
        if (drawing)
            cairo_line_to(cr, x + 0.5, y + 0.5);
        else
            cairo_move_to(cr, x + 0.5, y + 0.5);
        drawing = true;
    }
}

void strokeEdges(cairo_t* cr, const CameraParam& camera, const Pose& pose,
                 const double (*points)[3], const int (*edges)[2], int edgeCount, Colour colour,
                 double lineWidth) {
    cairo_new_path(cr);
    for (int e = 0; e < edgeCount; e++)
        strokeEdge(cr, camera, pose, points[edges[e][0]], points[edges[e][1]]);
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
    cairo_set_line_width(cr, lineWidth);
    cairo_stroke(cr);
}

void drawTrack(cairo_t* cr, const CameraParam& camera, const KeyRow& row, double width) {
    const Pose pose = cameraKeyToPose(cameraKeyOfRow(row));
    const double h = width / 2.0;
    const double corners[8][3] = {{-h, h, 0},     {h, h, 0},     {h, -h, 0},     {-h, -h, 0},
                                  {-h, h, width}, {h, h, width}, {h, -h, width}, {-h, -h, width}};
    const int cube[8][2] = {{4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    const int outline[4][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};
    const double size = std::max(1.0, camera.xsize / 640.0);
    strokeEdges(cr, camera, pose, corners, cube, 8, colourOf(CUBE_COLOUR), 1.5 * size);
    strokeEdges(cr, camera, pose, corners, outline, 4, colourOf(OUTLINE_COLOUR), 2.0 * size);
    const double axes[4][3] = {{0, 0, 0}, {width, 0, 0}, {0, width, 0}, {0, 0, width}};
    const Colour axisColours[3] = {{1, 0.15, 0.1}, {0.1, 0.85, 0.1}, {0.15, 0.35, 1}};
    for (int a = 0; a < 3; a++) {
        const int edge[1][2] = {{0, a + 1}};
        strokeEdges(cr, camera, pose, axes, edge, 1, axisColours[a], 3.0 * size);
    }
}

// White text on a dark box with its top-left corner at (x, y); returns its width.
void label(cairo_t* cr, const char* text, double x, double y, double size, Colour colour,
           bool alignRight) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text, &extents);
    const double pad = size / 3.0;
    if (alignRight)
        x -= extents.x_advance + 2 * pad;
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
    cairo_rectangle(cr, x, y, extents.x_advance + 2 * pad, size + 2 * pad);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
    cairo_move_to(cr, x + pad, y + pad + size * 0.8);
    cairo_show_text(cr, text);
}

}  // namespace

bool projectPoint(const CameraParam& camera, const Pose& pose, const double point[3], double& x,
                  double& y) {
    const MarkerPointView view = arViewMarkerPoint(camera, pose, point);
    if (view.depth <= 1e-6 || view.w <= 1e-9)
        return false;
    x = view.observed.x;
    y = view.observed.y;
    return std::isfinite(x) && std::isfinite(y);
}

void drawOverlay(RgbImage& frame, const CameraParam& camera, const KeyRow* row, double markerWidth,
                 long long frameNumber) {
    const int w = frame.width, h = frame.height;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, w);
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * h);
    for (int y = 0; y < h; y++) {
        auto* out = reinterpret_cast<uint32_t*>(pixels.data() + static_cast<size_t>(y) * stride);
        const unsigned char* in = frame.rgb.data() + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; x++)
            out[x] = (uint32_t{in[3 * x]} << 16) | (uint32_t{in[3 * x + 1]} << 8) | in[3 * x + 2];
    }
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_RGB24, w, h, stride);
    cairo_t* cr = cairo_create(surface);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    const double text = std::max(12.0, h / 30.0);
    if (row != nullptr && row->found == 1) {
        drawTrack(cr, camera, *row, markerWidth);
    } else {
        label(cr, row == nullptr ? "no key" : "not found", w - text / 2, text / 2, text,
              {1, 0.25, 0.2}, true);
    }
    const std::string number = "frame " + std::to_string(frameNumber);
    label(cr, number.c_str(), text / 2, text / 2, text, {1, 1, 1}, false);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    for (int y = 0; y < h; y++) {
        const auto* in =
            reinterpret_cast<const uint32_t*>(pixels.data() + static_cast<size_t>(y) * stride);
        unsigned char* out = frame.rgb.data() + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; x++) {
            out[3 * x] = static_cast<unsigned char>(in[x] >> 16);
            out[3 * x + 1] = static_cast<unsigned char>(in[x] >> 8);
            out[3 * x + 2] = static_cast<unsigned char>(in[x]);
        }
    }
}
