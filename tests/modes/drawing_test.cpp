// The drawing operations: view plots, worlds, colours, the calibration
// target and the empty Free plot on a page's view.
#include <gtest/gtest.h>

#include "modes/drawing.h"
#include "support/mode_support.hpp"
#include "zvcontrols/zvcontrols.hpp"

namespace {

using modes_test::ModeTest;
using modes_test::ReadPlot;

class DrawingTest : public ModeTest {
protected:
    void Start(std::vector<modes_test::Sensor> sensors,
               std::vector<zvPoint32s> target = {{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}}) {
        modes_test::SettingsShape shape;
        shape.sensors = std::move(sensors);
        shape.target = std::move(target);
        Settings(shape);
        ASSERT_GT(runner_->Start("Web"), 0);
    }
    void Fill(uint32_t view, std::vector<zvPoint32s> points, int32_t serial) {
        zvHandle list = State()->viewPoints[view];
        ASSERT_GT(zvArrayListResize(list, static_cast<int32_t>(points.size())), 0);
        std::copy(points.begin(), points.end(), static_cast<zvPoint32s*>(zvArrayListData(list)));
        State()->viewSerial[view] = serial;
    }
    modes_test::PlotInfo Draw(uint32_t selector, int32_t fit) {
        EXPECT_GT(DrawViewPlot(State(), "Free", selector, fit), 0);
        return ReadPlot(runner_->Outputs().back().object);
    }
};

TEST_F(DrawingTest, ViewPlotsDrawNonEmptyViewsInTheirColours) {
    std::vector<modes_test::Sensor> sensors;
    for (uint32_t v = 0; v < 10; ++v) sensors.push_back({1000 + v, 1, static_cast<int32_t>(v)});
    Start(sensors);
    const zvPoint32s null{INT32_MIN, INT32_MIN};
    for (uint32_t v = 0; v < 10; ++v) {
        if (v != 4) Fill(v, {{static_cast<int32_t>(v), 1}, null}, static_cast<int32_t>(1000 + v));
    }
    Fill(3, {null, null}, 1003);  // all null: a graphic with an empty drawing

    const auto plot = Draw(kAllViews, 0);
    EXPECT_EQ(plot.label, "Free");
    EXPECT_TRUE(plot.backSet);
    EXPECT_EQ(plot.back, 0xFF000000u);
    EXPECT_EQ(plot.xTitle, "X");
    EXPECT_EQ(plot.yTitle, "Y");
    EXPECT_EQ(plot.title, "");
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{-13000, -25000, 50000, 50000}));
    ASSERT_EQ(plot.graphics.size(), 9u);  // view 4 is empty
    const uint32_t colors[] = {0xFFFFFF00u, 0xFF00FFFFu, 0xFFFF00FFu, 0xFF808080u, 0xFF0000FFu,
                               0xFFFF0000u, 0xFFFFFFFFu, 0xFF008000u, 0xFFFFFF00u, 0xFF00FFFFu};
    size_t g = 0;
    for (uint32_t v = 0; v < 10; ++v) {
        if (v == 4) continue;
        SCOPED_TRACE(v);
        const auto& graphic = plot.graphics[g++];
        EXPECT_EQ(graphic.label, std::to_string(1000 + v));
        ASSERT_EQ(graphic.pens.size(), 1u);
        EXPECT_EQ(graphic.pens[0].argb, colors[v]);
        EXPECT_EQ(graphic.pens[0].width, 2.0f);
        EXPECT_EQ(graphic.brushes, std::vector<uint32_t>{colors[v]});
        ASSERT_EQ(graphic.markers.size(), 1u);
        EXPECT_EQ(graphic.markers[0].shape, 2);
        EXPECT_EQ(graphic.markers[0].size, 1.0f);
        ASSERT_EQ(graphic.drawings.size(), 1u);
        EXPECT_EQ(graphic.drawings[0].kind, ZV_DRAW_POINTS);
        EXPECT_EQ(graphic.drawings[0].points.size(), v == 3 ? 0u : 1u);
    }
}

TEST_F(DrawingTest, SelectorsPickOneViewOrNone) {
    Start({{1000, 1, 0}, {1001, 1, 1}});
    Fill(0, {{1, 1}}, 1000);
    Fill(1, {{2, 2}}, 1001);
    const auto one = Draw(1, 0);
    ASSERT_EQ(one.graphics.size(), 1u);
    EXPECT_EQ(one.graphics[0].label, "1001");
    for (uint32_t selector : {2u, 47u, 48u, 98u, 1000u}) {
        SCOPED_TRACE(selector);
        const auto none = Draw(selector, 0);
        EXPECT_TRUE(none.graphics.empty());
        EXPECT_EQ(none.xTitle, "X");
    }
}

TEST_F(DrawingTest, FittedWorldsFollowTheTargetOrFallBackToTheFixedWorld) {
    struct Case {
        const char* name;
        std::vector<zvPoint32s> target;
        std::vector<float> world;
    };
    const Case cases[] = {
        {"default target", {{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}}, {-8500, -18000, 17000, 60000}},
        {"flat target", {{-100, 300}, {100, 300}}, {-1100, 300, 2200, 0}},
        {"no vertices", {}, {-13000, -25000, 50000, 50000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start({{1000, 1, 0}}, c.target);
        const auto plot = Draw(kAllViews, 1);
        EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), c.world);
        ASSERT_GT(runner_->Stop(), 0);
    }
}

class PageDrawingTest : public ModeTest {
protected:
    zv::OwnedList Vertices(std::vector<zvPoint32s> points) {
        zv::OwnedList list;
        EXPECT_GT(zvArrayListCreate(list.Out(), nullptr), 0);
        EXPECT_GT(zvArrayListInit(list, ZV_TYPE_POINT32, 0, 1), 0);
        for (const zvPoint32s& p : points) EXPECT_GT(zvArrayListAdd(list, &p), 0);
        return list;
    }
    void TearDown() override {
        view_.Clear();
        ModeTest::TearDown();
    }
    zvMultiView view_;
};

TEST_F(PageDrawingTest, CalibrationTargetIsAClosedNumberedPolygon) {
    const zv::OwnedList target = Vertices({{7500, 4500}, {-7500, 4500}, {-7500, 19500}, {7500, 19500}});
    const int64_t before = zv::testing::LiveObjects();
    ASSERT_GT(ShowCalibrationTarget(target, &view_), 0);
    EXPECT_EQ(zv::testing::LiveObjects(), before + 2);  // the view's copy of plot and graphic
    const auto plot = ReadPlot(view_.Shown());
    EXPECT_EQ(plot.title, "Calibration");
    EXPECT_EQ(plot.back, 0xFF000000u);
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{-8500, 3500, 17000, 17000}));
    ASSERT_EQ(plot.graphics.size(), 1u);
    const auto& g = plot.graphics[0];
    EXPECT_EQ(g.pens[0].argb, 0xFF008000u);
    EXPECT_EQ(g.brushes, std::vector<uint32_t>{0xFFFF0000u});
    ASSERT_EQ(g.fonts.size(), 1u);
    EXPECT_EQ(g.fonts[0].style, 1);
    EXPECT_EQ(g.fonts[0].size, 12.0f);
    ASSERT_EQ(g.drawings.size(), 5u);
    ASSERT_EQ(g.drawings[0].points.size(), 5u);
    EXPECT_EQ(g.drawings[0].points[4].x, 7500);
    EXPECT_EQ(g.drawings[0].points[4].y, 4500);
    EXPECT_EQ(g.drawings[3].text, "2");
    EXPECT_EQ(g.drawings[3].points[0].x, -7500);
    EXPECT_EQ(g.drawings[3].points[0].y, 19500);
}

TEST_F(PageDrawingTest, DegenerateTargetsGiveSensibleWorlds) {
    const zv::OwnedList one = Vertices({{100, -200}});
    ASSERT_GT(ShowCalibrationTarget(one, &view_), 0);
    auto plot = ReadPlot(view_.Shown());
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{-900, -1200, 2000, 2000}));
    EXPECT_EQ(plot.graphics[0].drawings[0].points.size(), 2u);
    EXPECT_EQ(plot.graphics[0].drawings[1].text, "0");

    const zv::OwnedList none = Vertices({});
    ASSERT_GT(ShowCalibrationTarget(none, &view_), 0);
    plot = ReadPlot(view_.Shown());
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{-8000, -25000, 28000, 50000}));
    EXPECT_TRUE(plot.graphics[0].drawings.empty());
    EXPECT_EQ(ShowCalibrationTarget(none, nullptr), ZV_E_ARGUMENT);
}

TEST_F(PageDrawingTest, EmptyFreePlot) {
    ASSERT_GT(ShowEmptyFreePlot(&view_), 0);
    const auto plot = ReadPlot(view_.Shown());
    EXPECT_EQ(plot.title, "Free");
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{-8000, -25000, 28000, 50000}));
    ASSERT_EQ(plot.graphics.size(), 1u);
    EXPECT_TRUE(plot.graphics[0].drawings.empty());
}

TEST_F(PageDrawingTest, FailuresReturnTheStatusAndReleaseThePagesObjects) {
    const zv::OwnedList target = Vertices({{1, 2}, {3, 4}});
    const int64_t before = zv::testing::LiveObjects();
    for (const char* call :
         {"zvPlotInit", "zvGraphicCreate", "zvGraphicDrawString32s", "zvPlotAdd", "zvPlotSetWorld", "zvDataClone"}) {
        SCOPED_TRACE(call);
        const bool inEmptyPlot = std::string(call) != "zvGraphicDrawString32s";
        zv::testing::FailCall(call, 1, -321);
        EXPECT_EQ(ShowCalibrationTarget(target, &view_), -321);
        EXPECT_EQ(view_.Shown(), nullptr);
        zv::testing::ClearFaults();
        zv::testing::FailCall(call, 1, -321);
        EXPECT_EQ(ShowEmptyFreePlot(&view_), inEmptyPlot ? -321 : 1);
        EXPECT_EQ(view_.Shown() != nullptr, !inEmptyPlot);
        zv::testing::ClearFaults();
        view_.Clear();
        EXPECT_EQ(zv::testing::LiveObjects(), before);
    }
}

}  // namespace
