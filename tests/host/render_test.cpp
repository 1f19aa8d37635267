#include "render.hpp"
#include "output_files.hpp"

#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

// Font caches released once all pictures are made, for the leak checker.
class RenderingEnvironment : public ::testing::Environment {
public:
    void TearDown() override { zvhost::ShutdownRendering(); }
};
const auto* const kRenderingEnvironment = ::testing::AddGlobalTestEnvironment(new RenderingEnvironment);

// A decoded PNG; 0 x 0 when it does not decode.
struct Png {
    explicit Png(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Png() { cairo_surface_destroy(surface); }
    bool Ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return Ok() ? cairo_image_surface_get_width(surface) : 0; }
    int Height() const { return Ok() ? cairo_image_surface_get_height(surface) : 0; }
    uint32_t At(int x, int y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface);
        return reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(surface))[x] & 0xFFFFFF;
    }
    cairo_surface_t* surface;
};

// A plot of one graphic with `points` markers, released at the end.
struct PlotFixture {
    zvHandle plot = nullptr;
    zvHandle graphic = nullptr;
    PlotFixture() {
        zvPlotCreate(&plot, nullptr);
        zvPlotInit(plot);
        zvGraphicCreate(&graphic, nullptr);
        zvGraphicInit(graphic);
    }
    ~PlotFixture() {
        zvObjectDestroy(graphic);
        zvObjectDestroy(plot);
    }
    void Points(const std::vector<zvPoint32s>& points, uint32_t argb = 0xFFFF0000u, float size = 6) {
        const int32_t pen = zvGraphicAddPen(graphic, argb, 1);
        const int32_t brush = zvGraphicAddSolidBrush(graphic, argb);
        const int32_t marker = zvGraphicAddMarker(graphic, 2, size);
        zvPoint32s* buffer =
            zvGraphicDrawPoints32s(graphic, pen, brush, marker, 0, static_cast<int32_t>(points.size()));
        ASSERT_NE(buffer, nullptr);
        std::copy(points.begin(), points.end(), buffer);
    }
    void Add() { ASSERT_GT(zvPlotAdd(plot, graphic), 0); }
};

TEST(Render, PlotsHaveYUpAndTheirBackColour) {
    zvtest::TempFileSpace folder{"zvhost-render", zvtest::TempFileSpace::Root::kLeave};
    PlotFixture f;
    zvPlotSetWorld(f.plot, 0, 0, 100, 100);
    zvPlotSetBackColor(f.plot, 0xFF0000FFu);
    f.Points({{50, 95}});  // near the top of the world
    f.Add();
    std::string error;
    ASSERT_TRUE(zvhost::RenderPlot(f.plot, (folder / "p.png"), zvhost::Format::Png, &error)) << error;
    Png png((folder / "p.png"));
    ASSERT_EQ(png.Width(), zvhost::kPlotWidth);
    ASSERT_EQ(png.Height(), zvhost::kPlotHeight);
    EXPECT_EQ(png.At(5, png.Height() / 2), 0x0000FFu);  // the back colour
    // The point is drawn in the upper part of the picture.
    int redTop = 0;
    int redBottom = 0;
    for (int y = 0; y < png.Height(); ++y)
        for (int x = 0; x < png.Width(); ++x)
            if (png.At(x, y) == 0xFF0000u) (y < png.Height() / 2 ? redTop : redBottom)++;
    EXPECT_GT(redTop, 0);
    EXPECT_EQ(redBottom, 0);
    ASSERT_TRUE(zvhost::RenderPlot(f.plot, (folder / "p.svg"), zvhost::Format::Svg, &error)) << error;
    std::ifstream svg((folder / "p.svg"));
    std::string head(64, '\0');
    svg.read(head.data(), 64);
    EXPECT_NE(head.find("<?xml"), std::string::npos);
}

TEST(Render, DegenerateWorldsAndExtremePointsDrawWithoutFault) {
    zvtest::TempFileSpace folder{"zvhost-render", zvtest::TempFileSpace::Root::kLeave};
    const struct {
        float x, y, w, h;
    } worlds[] = {{0, 0, 0, 0}, {10, 10, 0, 50}, {0, 0, 1e38f, -5}, {NAN, 0, 10, 10}, {5, 5, INFINITY, 1}};
    for (const auto& w : worlds) {
        SCOPED_TRACE(w.w);
        PlotFixture f;
        zvPlotSetWorld(f.plot, w.x, w.y, w.w, w.h);
        f.Points({{5, 5}, {INT32_MIN, INT32_MIN}, {5, 5}});
        // A polyline broken by a null point, running out to the edge of the range.
        zvPoint32s* line = zvGraphicDrawPolyline32s(f.graphic, 0, 0, 3);
        ASSERT_NE(line, nullptr);
        line[0] = {0, 0};
        line[1] = {INT32_MIN, INT32_MIN};
        line[2] = {INT32_MAX, INT32_MIN + 1};
        f.Add();
        std::string error;
        ASSERT_TRUE(zvhost::RenderPlot(f.plot, (folder / "d.png"), zvhost::Format::Png, &error)) << error;
        EXPECT_EQ(Png((folder / "d.png")).Width(), zvhost::kPlotWidth);
    }
}

TEST(Render, HugePointCountsAndEmptyPlots) {
    zvtest::TempFileSpace folder{"zvhost-render", zvtest::TempFileSpace::Root::kLeave};
    PlotFixture f;
    std::vector<zvPoint32s> many(300000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = {static_cast<int32_t>(i % 1000), static_cast<int32_t>(i / 1000)};
    f.Points(many, 0xFF00FF00u, 1);
    f.Add();
    std::string error;
    EXPECT_TRUE(zvhost::RenderPlot(f.plot, (folder / "h.png"), zvhost::Format::Png, &error)) << error;
    PlotFixture empty;
    EXPECT_TRUE(zvhost::RenderPlot(empty.plot, (folder / "e.png"), zvhost::Format::Png, &error)) << error;
    EXPECT_FALSE(zvhost::RenderPlot(nullptr, (folder / "n.png"), zvhost::Format::Png, &error));
    EXPECT_FALSE(std::filesystem::exists((folder / "n.png")));
}

TEST(Render, ImagesOfBothDepths) {
    zvtest::TempFileSpace folder{"zvhost-render", zvtest::TempFileSpace::Root::kLeave};
    for (int32_t type : {ZV_TYPE_IMAGE8, ZV_TYPE_IMAGE32}) {
        SCOPED_TRACE(type);
        zvHandle image = nullptr;
        ASSERT_GT(zvImageCreate(&image, nullptr), 0);
        ASSERT_GT(zvImageInit(image, type, 300, 10, 320), 0);
        auto* pixels = static_cast<unsigned char*>(zvImageData(image));
        const int bytes = type == ZV_TYPE_IMAGE32 ? 4 : 1;
        // The first pixel of every row white, the rest black.
        for (int y = 0; y < 10; ++y)
            for (int b = 0; b < bytes; ++b) pixels[y * 320 * bytes + b] = 255;
        std::string error;
        ASSERT_TRUE(zvhost::RenderImage(image, (folder / "i.png"), zvhost::Format::Png, &error)) << error;
        Png png((folder / "i.png"));
        EXPECT_EQ(png.Width(), 300);
        EXPECT_EQ(png.Height(), zvhost::kImageMinSide);  // a short image is stretched
        EXPECT_EQ(png.At(0, 0), 0xFFFFFFu);
        EXPECT_EQ(png.At(1, 30), 0u);
        const nlohmann::json j = zvhost::DescribeOutput(image);
        EXPECT_EQ(j["width"], 300);
        EXPECT_EQ(j["bits"], bytes * 8);
        // The checksum ignores the stride's padding but sees every pixel.
        const std::string before = zvhost::ImageChecksum(image);
        pixels[305 * bytes] = 9;  // padding of row 0
        EXPECT_EQ(zvhost::ImageChecksum(image), before);
        pixels[bytes] = 9;
        EXPECT_NE(zvhost::ImageChecksum(image), before);
        zvObjectDestroy(image);
    }
    zvHandle blank = nullptr;
    zvImageCreate(&blank, nullptr);
    std::string error;
    EXPECT_FALSE(zvhost::RenderImage(blank, (folder / "b.png"), zvhost::Format::Png, &error));
    zvObjectDestroy(blank);
}

TEST(Render, PolarModelsShowTheirSlices) {
    zvtest::TempFileSpace folder{"zvhost-render", zvtest::TempFileSpace::Root::kLeave};
    zvHandle model = nullptr;
    ASSERT_GT(zvPolarModelCreate(&model, nullptr), 0);
    ASSERT_GT(zvPolarModelInit(model, 360, 5), 0);
    for (int s = 0; s < 20; ++s) {
        zvHandle polar = nullptr;
        zvPolarCreate(&polar, nullptr);
        zvPolarInit(polar, 360);
        int32_t* radii = zvPolarPoints(polar);
        for (int i = 0; i < 360; ++i) radii[i] = 4000 + 10 * s;
        zvPolarSetCenter(polar, 0, 12000, s * 250);
        ASSERT_GT(zvPolarModelAdd(model, polar), 0);
    }
    std::string error;
    ASSERT_TRUE(zvhost::RenderPolarModel(model, (folder / "m.png"), zvhost::Format::Png, &error)) << error;
    Png png((folder / "m.png"));
    EXPECT_EQ(png.Width(), zvhost::kPolarWidth);
    EXPECT_EQ(png.Height(), zvhost::kPolarHeight);
    const nlohmann::json j = zvhost::DescribeOutput(model);
    EXPECT_EQ(j["slices"], 20);
    EXPECT_EQ(j["centres"][3], nlohmann::json({0, 12000, 750}));
    zvObjectDestroy(model);
}

// A table of string columns as a mode makes it.
zvHandle MakeTable(const std::vector<std::vector<std::string>>& columns) {
    zvHandle table = nullptr;
    zvArrayListCreate(&table, nullptr);
    zvArrayListInit(table, ZV_TYPE_ARRAYLIST, 2, 0);
    for (const auto& cells : columns) {
        zvHandle column = nullptr;
        zvArrayListCreate(&column, nullptr);
        zvArrayListInit(column, ZV_TYPE_STRING, 4, 0);
        for (const std::string& cell : cells) {
            zvHandle s = nullptr;
            zvStringCreate(&s, nullptr);
            zvStringImport(s, cell.c_str());
            zvArrayListAdd(column, &s);
        }
        zvArrayListAdd(table, &column);
    }
    return table;
}

TEST(Render, TablesAsRowsTextAndJson) {
    zvHandle table = MakeTable({{"name", "Encoder", "Time"}, {"value", "120"}});
    const auto rows = zvhost::TableRows(table);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2], (std::vector<std::string>{"Time", ""}));  // the short column is padded
    EXPECT_EQ(zvhost::TableText(rows), "name     value\nEncoder  120\nTime     \n");
    const nlohmann::json j = zvhost::DescribeOutput(table);
    EXPECT_EQ(j["kind"], "table");
    EXPECT_EQ(j["columns"], nlohmann::json({"name", "value"}));
    EXPECT_EQ(j["rows"][0], nlohmann::json({"Encoder", "120"}));
    zvObjectDestroy(table);

    // Lists that are not tables give no rows.
    zvHandle numbers = nullptr;
    zvArrayListCreate(&numbers, nullptr);
    zvArrayListInit(numbers, ZV_TYPE_INT32, 4, 1);
    EXPECT_TRUE(zvhost::TableRows(numbers).empty());
    EXPECT_TRUE(zvhost::TableRows(nullptr).empty());
    zvObjectDestroy(numbers);
}

TEST(Render, PlotSummaryNamesGraphicsColoursAndPointCounts) {
    PlotFixture f;
    zvPlotSetWorld(f.plot, -1, -2, 3, 4);
    zvPlotSetTitle(f.plot, "Free");
    zvDataSetLabel(f.graphic, "1001");
    f.Points(std::vector<zvPoint32s>(17, zvPoint32s{1, 1}), 0xFF00FF00u);
    f.Add();
    const nlohmann::json j = zvhost::DescribeOutput(f.plot);
    EXPECT_EQ(j["kind"], "plot");
    EXPECT_EQ(j["title"], "Free");
    EXPECT_EQ(j["world"], nlohmann::json({-1.0, -2.0, 3.0, 4.0}));
    EXPECT_TRUE(j["backColour"].is_null());
    ASSERT_EQ(j["graphics"].size(), 1u);
    EXPECT_EQ(j["graphics"][0]["label"], "1001");
    EXPECT_EQ(j["graphics"][0]["points"], 17);
    EXPECT_EQ(j["graphics"][0]["pens"][0]["colour"], "#FF00FF00");
}

// The full description holds what a picture needs to be drawn again from
// its numbers: each drawing's marker and font, with what they name.
TEST(Render, FullPlotDescriptionNamesMarkersAndFonts) {
    PlotFixture f;
    f.Points({{1, 2}, {3, 4}}, 0xFF0000FFu, 9);
    const int32_t font = zvGraphicAddFont(f.graphic, 2, 1, 14);
    ASSERT_GE(font, 0);
    ASSERT_GT(zvGraphicDrawString32s(f.graphic, font, 0, 5, 6, "label", 0, 0), 0);
    f.Add();
    const nlohmann::json brief = zvhost::DescribeOutput(f.plot);
    EXPECT_FALSE(brief["graphics"][0].contains("markers"));
    const nlohmann::json g = zvhost::DescribeOutput(f.plot, true)["graphics"][0];
    ASSERT_EQ(g["drawings"].size(), 2u);
    const nlohmann::json& points = g["drawings"][0];
    EXPECT_EQ(points["points"], nlohmann::json({{1, 2}, {3, 4}}));
    ASSERT_EQ(points["marker"], 0);
    EXPECT_EQ(g["markers"][0], nlohmann::json({{"shape", 2}, {"size", 9.0}}));
    const nlohmann::json& text = g["drawings"][1];
    EXPECT_EQ(text["text"], "label");
    EXPECT_EQ(text["points"], nlohmann::json({{5, 6}}));
    ASSERT_EQ(text["font"], font);
    EXPECT_EQ(g["fonts"][font], nlohmann::json({{"family", 2}, {"style", 1}, {"size", 14.0}}));
}

TEST(Render, FileStemsAreSafeNames) {
    EXPECT_EQ(zvhost::FileStem("Video", "Video 0"), "Video-Video_0");
    EXPECT_EQ(zvhost::FileStem("Free", "../x"), "Free-___x");
}

}  // namespace
