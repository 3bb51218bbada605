#include "tools/plot/track_plot.h"
#include "files/file_reason.h"

#include <cairo/cairo-pdf.h>
#include <cairo/cairo-svg.h>
#include <cairo/cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "tools/common/image_io.h"
#include "track/camera_key.h"

namespace {

// Each curve's name in Lumeko.cm2 and what it is (the world of lumeko-export).
constexpr const char* CURVE_NAMES[6] = {"translateX: camera right of the marker",
                                        "translateY: camera height above the marker",
                                        "translateZ: camera towards the viewer",
                                        "rotateY: pan (degrees)",
                                        "rotateX: tilt (degrees)",
                                        "rotateZ: roll (degrees)"};
constexpr double KeyRow::*CURVE_VALUES[6] = {&KeyRow::translateX, &KeyRow::translateY,
                                             &KeyRow::translateZ, &KeyRow::rotateY,
                                             &KeyRow::rotateX,    &KeyRow::rotateZ};

struct Range {
    double low = 1e300, high = -1e300;
    void add(double v) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    bool empty() const { return low > high; }
    // Widened by a margin, and to a small span when flat.
    Range padded() const {
        Range r = *this;
        if (r.empty())
            r = {-1.0, 1.0};
        const double span = std::max(r.high - r.low, 1e-6 * std::max(1.0, std::fabs(r.low)));
        r.low -= 0.08 * span;
        r.high += 0.08 * span;
        return r;
    }
};

void setColour(cairo_t* cr, double r, double g, double b) {
    cairo_set_source_rgb(cr, r, g, b);
}

void text(cairo_t* cr, const std::string& s, double x, double y, double size) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s.c_str());
}

std::string number(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%.4g", v);
    return s;
}

void frame(cairo_t* cr, const PlotRect& r) {
    setColour(cr, 0.55, 0.55, 0.55);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, r.width - 1.0, r.height - 1.0);
    cairo_stroke(cr);
}

// Where frame i's column is centred across a curve panel of n frames.
double frameX(const PlotRect& r, int n, double i) {
    return r.x + (n > 1 ? (i + 0.5) / n : 0.5) * r.width;
}

// Frames between two ticks: 1, 2 or 5 times a power of ten, for at most
// about ten ticks.
int tickStep(int n) {
    for (int power = 1;; power *= 10)
        for (int m : {1, 2, 5})
            if (n <= 10 * m * power)
                return m * power;
}

// Tick marks under every curve panel at the same frames, numbered under the
// last one, with the axis's name.
void drawFrameTicks(cairo_t* cr, const PlotLayout& layout, int n, double font) {
    if (n < 1)
        return;
    const int step = tickStep(n);
    setColour(cr, 0.35, 0.35, 0.35);
    cairo_set_line_width(cr, 1.0);
    for (const PlotRect& r : layout.curves)
        for (int f = 0; f < n; f += step) {
            const double x = std::round(frameX(r, n, f)) + 0.5;
            cairo_move_to(cr, x, r.y + r.height);
            cairo_line_to(cr, x, r.y + r.height + font * 0.4);
        }
    cairo_stroke(cr);
    setColour(cr, 0, 0, 0);
    const PlotRect& last = layout.curves[5];
    cairo_text_extents_t extents;
    for (int f = 0; f < n; f += step) {
        const std::string label = std::to_string(f);
        cairo_set_font_size(cr, font * 0.85);
        cairo_text_extents(cr, label.c_str(), &extents);
        text(cr, label, frameX(last, n, f) - extents.x_advance / 2,
             last.y + last.height + font * 1.4, font * 0.85);
    }
    text(cr, "frame", last.x + last.width / 2 - font * 1.2, last.y + last.height + font * 2.6,
         font);
}

void drawCurve(cairo_t* cr, const PlotRect& r, const CameraMotion& motion, int c, double font,
               const std::vector<bool>& bridged) {
    const int n = motion.rowCount();
    auto xOf = [&](double i) { return frameX(r, n, i); };
    // Frames without the marker, and bridged ones apart: shaded columns.
    for (const bool shadeBridged : {false, true}) {
        const double* shade = shadeBridged ? PLOT_BRIDGED_SHADE : PLOT_LOST_SHADE;
        setColour(cr, shade[0], shade[1], shade[2]);
        for (int i = 0; i < n; i++) {
            const bool isBridged = i < static_cast<int>(bridged.size()) && bridged[i];
            if (shadeBridged ? isBridged : motion.rows[i].found != 1) {
                const double left = r.x + static_cast<double>(i) / n * r.width;
                cairo_rectangle(cr, left, r.y, std::max(1.0, r.width / n), r.height);
            }
        }
        cairo_fill(cr);
    }
    // Angles are drawn without their whole-turn jumps (a camera turning
    // through +-180 degrees): each within half a turn of the one before.
    std::vector<double> values(n);
    double previous = 0.0;
    bool first = true;
    Range range;
    for (int i = 0; i < n; i++) {
        if (motion.rows[i].found != 1)
            continue;
        double v = motion.rows[i].*CURVE_VALUES[c];
        if (c >= 3 && !first) {
            v -= 360.0 * std::round((v - previous) / 360.0);
        }
        values[i] = previous = v;
        first = false;
        range.add(v);
    }
    const bool any = !range.empty();
    const Range shown = range.padded();
    auto yOf = [&](double v) {
        return r.y + r.height - (v - shown.low) / (shown.high - shown.low) * r.height;
    };
    setColour(cr, 0.1, 0.3, 0.75);
    cairo_set_line_width(cr, 1.5);
    bool drawing = false;
    for (int i = 0; i < n; i++) {
        if (motion.rows[i].found != 1) {
            drawing = false;
            continue;
        }
        const double x = xOf(i), y = yOf(values[i]);
        if (!drawing) {
            cairo_move_to(cr, x, y);
            cairo_line_to(cr, x + 0.01, y);  // a lone frame still shows as a dot
        } else {
            cairo_line_to(cr, x, y);
        }
        drawing = true;
    }
    cairo_stroke(cr);
    frame(cr, r);
    setColour(cr, 0, 0, 0);
    text(cr, CURVE_NAMES[c], r.x, r.y - font * 0.35, font);
    if (any) {
        text(cr, number(range.high), r.x + r.width + 4, yOf(range.high) + font / 3, font * 0.85);
        text(cr, number(range.low), r.x + r.width + 4, yOf(range.low) + font / 3, font * 0.85);
    } else {
        text(cr, "no frame with the marker", r.x + r.width / 3, r.y + r.height / 2, font);
    }
}

// One view of the path: `horizontal` and `vertical` pick the coordinates of
// the camera position in marker coordinates (0 x, 1 y, 2 z).
void drawView(cairo_t* cr, const PlotRect& r, const CameraMotion& motion, double markerWidth,
              int horizontal, int vertical, const char* title, double font) {
    std::vector<std::array<double, 3>> points(motion.rows.size());
    Range h, v;
    const double half = markerWidth / 2.0;
    h.add(-half);
    h.add(half);
    v.add(vertical == 2 ? 0.0 : -half);
    v.add(half);
    for (size_t i = 0; i < motion.rows.size(); i++) {
        const CameraKey key = cameraKeyOfRow(motion.rows[i]);
        points[i] = {key.x / TRANSLATION_SCALE, key.y / TRANSLATION_SCALE,
                     key.z / TRANSLATION_SCALE};
        if (motion.rows[i].found == 1) {
            h.add(points[i][horizontal]);
            v.add(points[i][vertical]);
        }
    }
    h = h.padded();
    v = v.padded();
    // One scale for both axes, centred in the panel.
    const double scale = std::min(r.width / (h.high - h.low), r.height / (v.high - v.low));
    const double cx = r.x + r.width / 2.0 - scale * (h.low + h.high) / 2.0;
    const double cy = r.y + r.height / 2.0 + scale * (v.low + v.high) / 2.0;
    auto px = [&](double value) { return cx + scale * value; };
    auto py = [&](double value) { return cy - scale * value; };
    // The marker: a square seen from above, a line seen from the side.
    setColour(cr, 0.1, 0.1, 0.1);
    if (vertical == 2) {
        cairo_set_line_width(cr, 3.0);
        cairo_move_to(cr, px(-half), py(0));
        cairo_line_to(cr, px(half), py(0));
        cairo_stroke(cr);
    } else {
        cairo_rectangle(cr, px(-half), py(half), scale * markerWidth, scale * markerWidth);
        cairo_fill(cr);
    }
    setColour(cr, 0.85, 0.35, 0.1);
    cairo_set_line_width(cr, 1.5);
    bool drawing = false;
    for (size_t i = 0; i < points.size(); i++) {
        if (motion.rows[i].found != 1) {
            drawing = false;
            continue;
        }
        const double x = px(points[i][horizontal]), y = py(points[i][vertical]);
        drawing ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
        drawing = true;
    }
    cairo_stroke(cr);
    for (size_t i = 0; i < points.size(); i++) {
        if (motion.rows[i].found == 1) {  // the first camera: a green dot
            setColour(cr, 0.1, 0.6, 0.2);
            cairo_arc(cr, px(points[i][horizontal]), py(points[i][vertical]), 4.0, 0, 2 * M_PI);
            cairo_fill(cr);
            break;
        }
    }
    frame(cr, r);
    setColour(cr, 0, 0, 0);
    text(cr, title, r.x, r.y - font * 0.35, font);
}

void drawPage(cairo_t* cr, const CameraMotion& motion, double markerWidth, int width, int height,
              const std::vector<bool>& bridged) {
    setColour(cr, PLOT_BACKGROUND[0], PLOT_BACKGROUND[1], PLOT_BACKGROUND[2]);
    cairo_paint(cr);
    const PlotLayout layout = plotLayout(width, height);
    const double font = plotFont(height);
    for (int c = 0; c < 6; c++)
        drawCurve(cr, layout.curves[c], motion, c, font, bridged);
    drawFrameTicks(cr, layout, motion.rowCount(), font);
    drawView(cr, layout.top, motion, markerWidth, 0, 1, "top view (x right, y up)", font);
    drawView(cr, layout.side, motion, markerWidth, 0, 2, "side view (x right, height up)", font);
    setColour(cr, 0, 0, 0);
    const long bridgedCount = std::count(bridged.begin(), bridged.end(), true);
    const std::string title = motion.cameraName + ": " + std::to_string(motion.rowCount()) +
                              " frames, marker found in " +
                              std::to_string(motion.foundCount() - bridgedCount) +
                              (bridged.empty() ? std::string(" (lost frames shaded")
                                               : ", bridged " + std::to_string(bridgedCount) +
                                                     " (lost frames shaded red, bridged blue") +
                              "; angles drawn without their whole-turn jumps)";
    text(cr, title, layout.curves[0].x, font * 1.4, font);
}

}  // namespace

double plotFont(double height) {
    return std::max(9.0, height / 70.0);
}

PlotLayout plotLayout(double width, double height) {
    const double margin = std::max(8.0, height / 40.0);
    const double top = 2.0 * margin;
    const double curvesWidth = width * 0.55;
    const double gap = margin / 2.0;
    // Above every panel its name; under the curves the frame numbers.
    const double label = 1.5 * plotFont(height);
    const double axis = 2.8 * plotFont(height);
    const double curveHeight = (height - top - margin - axis - 6.0 * label - 5.0 * gap) / 6.0;
    PlotLayout layout{};
    for (int c = 0; c < 6; c++)
        layout.curves[c] = {margin, top + label + c * (label + curveHeight + gap),
                            curvesWidth - 2.0 * margin, curveHeight};
    // The right column, after room for the curves' value labels.
    const double rightX = curvesWidth + 3.0 * margin;
    const double rightWidth = width - rightX - margin;
    const double viewHeight = (height - top - margin - 2.0 * label - gap) / 2.0;
    layout.top = {rightX, top + label, rightWidth, viewHeight};
    layout.side = {rightX, top + 2.0 * label + viewHeight + gap, rightWidth, viewHeight};
    return layout;
}

namespace {

// Collects what cairo writes, so that the file is written in one piece, with
// the system's reason when it cannot be.
cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* bytes = static_cast<std::vector<unsigned char>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

int writePlot(const std::string& path, const CameraMotion& motion, double markerWidth, int width,
              int height, std::string& error, const std::vector<bool>& bridged) {
    std::vector<unsigned char> bytes;
    cairo_surface_t* surface = nullptr;
    const bool png = hasSuffix(path, ".png");
    if (png)
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    else if (hasSuffix(path, ".svg"))
        surface = cairo_svg_surface_create_for_stream(appendBytes, &bytes, width, height);
    else if (hasSuffix(path, ".pdf"))
        surface = cairo_pdf_surface_create_for_stream(appendBytes, &bytes, width, height);
    else {
        error = path + ": the output must end in .png, .svg or .pdf";
        return -1;
    }
    cairo_t* cr = cairo_create(surface);
    drawPage(cr, motion, markerWidth, width, height, bridged);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_status_t status = cairo_surface_status(surface);
    if (png && status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_write_to_png_stream(surface, appendBytes, &bytes);
    cairo_surface_finish(surface);  // SVG and PDF are written out here
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = path + ": cannot draw the page (" + cairo_status_to_string(status) + ")";
        return -1;
    }
    return writeFileBytes(path, bytes.data(), bytes.size(), error);
}

int readBridgedRows(const std::string& path, int rowCount, std::vector<bool>& bridged,
                    std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot open the report: " + fileReadProblem(path.c_str());
        return -1;
    }
    std::string line;
    std::getline(file, line);
    if (!line.starts_with("frame,status,")) {
        error = path + ": line 1: not a report written by Lumeko --report";
        return -1;
    }
    bridged.assign(rowCount, false);
    int row = 0;
    while (std::getline(file, line)) {
        const std::string expected = std::to_string(row) + ",";
        if (row >= rowCount || !line.starts_with(expected)) {
            error = path + ": line " + std::to_string(row + 2) +
                    (row >= rowCount ? ": more frames than the track's " + std::to_string(rowCount)
                                     : ": expected frame " + std::to_string(row));
            return -1;
        }
        bridged[row++] = line.compare(expected.size(), 8, "bridged,") == 0;
    }
    if (row != rowCount) {
        error = path + ": " + std::to_string(row) + " frames, the track has " +
                std::to_string(rowCount);
        return -1;
    }
    return 0;
}
