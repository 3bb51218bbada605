// lumeko-plot on a tracked orbit: the page's size, something drawn in every
// panel, the lost frames shaded.

#include <cairo/cairo.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/tools/tracked_orbit.h"
#include "tools/plot/track_plot.h"

namespace {

using lumeko_test::ProcessResult;

// A PNG page's pixels (0x00RRGGBB) and size.
struct Page {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Page readPng(const std::string& path) {
    Page page;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    EXPECT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS) << path;
    page.width = cairo_image_surface_get_width(surface);
    page.height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            page.pixels.push_back(
                reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                  static_cast<size_t>(y) *
                                                      cairo_image_surface_get_stride(surface))[x] &
                0xFFFFFF);
    cairo_surface_destroy(surface);
    return page;
}

// Pixels inside the panel (its frame left out) that are not background.
int drawnPixels(const Page& page, const PlotRect& r) {
    int count = 0;
    for (int y = static_cast<int>(r.y) + 3; y < static_cast<int>(r.y + r.height) - 3; ++y)
        for (int x = static_cast<int>(r.x) + 3; x < static_cast<int>(r.x + r.width) - 3; ++x)
            count += page.at(x, y) != 0xFFFFFF;
    return count;
}

}  // namespace

void checkPlot(const TrackedOrbit& orbit) {
    writeTruthTrack(orbit, "lost.cm2", -1, {20, 21, 22});
    for (auto [track, size] : {std::pair{"Lumeko.cm2", "1200x900"}, {"lost.cm2", "800x600"}}) {
        SCOPED_TRACE(track);
        const ProcessResult result =
            runTool(orbit, "lumeko-plot", {track, "plot.png", "--size", size});
        ASSERT_EQ(result.status, 0) << result.err;
        const Page page = readPng(orbit.dir.file("plot.png"));
        const bool lost = track == std::string("lost.cm2");
        ASSERT_EQ(page.width, lost ? 800 : 1200);
        ASSERT_EQ(page.height, lost ? 600 : 900);
        const PlotLayout layout = plotLayout(page.width, page.height);
        const double font = plotFont(page.height);
        const PlotRect& last = layout.curves[5];
        EXPECT_GE(drawnPixels(page, {last.x, last.y + last.height, last.width, 2.8 * font}), 100)
            << "frame numbers under the curves";
        for (const PlotRect& r : layout.curves) {
            // Its name above it, clear of the curve.
            EXPECT_GE(drawnPixels(page, {r.x, r.y - 1.5 * font, r.width / 2, 1.5 * font}), 40);
            // A curve runs across the whole width.
            EXPECT_GE(drawnPixels(page, r), static_cast<int>(r.width)) << r.y;
            // Frame 21 of 60 lies 21.5 / 60 of the way along: shaded only when lost.
            const int x = static_cast<int>(r.x + 21.5 / 60.0 * r.width);
            const int y = static_cast<int>(r.y + r.height - 4);
            uint32_t shade = 0;
            for (double v : PLOT_LOST_SHADE)
                shade = (shade << 8) | static_cast<uint32_t>(std::lround(v * 255.0));
            EXPECT_EQ(page.at(x, y) == shade, lost) << r.y;
        }
        for (const PlotRect& r : {layout.top, layout.side})
            EXPECT_GE(drawnPixels(page, r), 400) << r.y;
    }
    for (const char* output : {"plot.svg", "plot.pdf"}) {
        ASSERT_EQ(runTool(orbit, "lumeko-plot", {"Lumeko.cm2", output}).status, 0);
        const std::string bytes = lumeko_test::readFile(orbit.dir.file(output));
        EXPECT_TRUE(bytes.starts_with(output == std::string("plot.svg") ? "<?xml" : "%PDF"));
    }
    std::string huge = lumeko_test::readFile(orbit.track());
    const size_t key = huge.find("k  0  ", huge.find("translateX"));
    huge.replace(key, huge.find('\n', key) - key, "k  0  1" + std::string(308, '0'));
    lumeko_test::writeFile(orbit.dir.file("huge.cm2"), huge);
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"huge.cm2", "p.png"}, "row 0, channel translateX: the value 1e+308 is too large to draw"},
        {{"Lumeko.cm2", "nowhere/p.svg"}, "cannot create nowhere/p.svg: No such file or directory"},
        {{"orbit.csv", "p.png"}, "orbit.csv: not a camera-motion file: line 1"},
    };
    for (const auto& [args, message] : cases) {
        const ProcessResult result = runTool(orbit, "lumeko-plot", args);
        EXPECT_EQ(result.status, 1) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
}
