// The multi-view keeps a copy of what it shows; the chart keeps its texts.
#include "zvcontrols/zvcontrols.hpp"

#include <gtest/gtest.h>

#include "zvapi/zvapi_testing.hpp"

namespace {

TEST(MultiView, ShowsACopyAndReleasesItWhenReplacedOrDestroyed) {
    const int64_t baseline = zv::testing::LiveObjects();
    {
        zvMultiView view;
        zvHandle plot = nullptr;
        ASSERT_GT(zvPlotCreate(&plot, nullptr), 0);
        ASSERT_GT(zvPlotInit(plot), 0);
        ASSERT_GT(zvPlotSetTitle(plot, "Free"), 0);
        ASSERT_GT(view.Show(plot), 0);
        EXPECT_GT(zvPlotDestroy(plot), 0);  // the caller's own is gone
        ASSERT_NE(view.Shown(), nullptr);
        EXPECT_STREQ(zvPlotTitle(view.Shown()), "Free");

        EXPECT_EQ(view.Show(plot), ZV_E_HANDLE);  // a dead handle; the old plot stays
        EXPECT_STREQ(zvPlotTitle(view.Shown()), "Free");
        ASSERT_GT(zvPlotCreate(&plot, nullptr), 0);
        ASSERT_GT(zvPlotInit(plot), 0);
        ASSERT_GT(view.Show(plot), 0);
        zvPlotDestroy(plot);
        EXPECT_EQ(view.ShowCount(), 2);
        EXPECT_EQ(zv::testing::LiveObjects(), baseline + 1);
    }
    EXPECT_EQ(zv::testing::LiveObjects(), baseline);
}

TEST(MultiView, InnerChartKeepsAxisTexts) {
    zvMultiView view;
    zvChart* chart = view.GetInnerControl();
    ASSERT_NE(chart, nullptr);
    chart->SetXAxisText("mils");
    chart->SetYAxisText("mils");
    EXPECT_EQ(chart->XAxisText(), "mils");
    EXPECT_EQ(view.GetInnerControl()->YAxisText(), "mils");
    chart->SetXAxisText(nullptr);
    EXPECT_EQ(chart->XAxisText(), "");
}

}  // namespace
