// The Web mode: one table and one plot per profile of a batch.
#include <gtest/gtest.h>

#include <functional>

#include "support/mode_support.hpp"

namespace {

using modes_test::Labels;
using modes_test::MakeArray;
using modes_test::MakeResult;
using modes_test::ModeTest;
using modes_test::ReadPlot;
using modes_test::TableRows;
using modes_test::TableValue;
using modes_test::WebResult;
using Rows = std::vector<std::pair<std::string, std::string>>;

class WebModeTest : public ModeTest {
protected:
    void SetUp() override {
        ModeTest::SetUp();
        Settings({{{1000, 1, 0}}});
        ASSERT_GT(runner_->Start("Web"), 0);
    }
};

TEST_F(WebModeTest, EachProfileOfABatchGivesATableAndAPlot) {
    const std::vector<std::vector<int32_t>> rows = {{1, 2, -1}, {3, -1, 4}, {5, 6, 7}};
    ASSERT_EQ(runner_->ProcessPayloads({WebResult({0, -5000, 10, 123, 4, 3}, rows)}), 1);
    ASSERT_EQ(Labels(runner_->Outputs()),
              (std::vector<std::string>{"Statistics", "Web", "Statistics", "Web", "Statistics", "Web"}));
    EXPECT_EQ(TableRows(runner_->Outputs()[0].object), (Rows{{"name", "value"},
                                                             {"Output Batching", "3"},
                                                             {"Profile width", "3 columns"},
                                                             {"Sync Method", "Encoder"},
                                                             {"X Origin [mil]", "-5000.000000"},
                                                             {"X Resolution [mil]", "10.000000"},
                                                             {"Y Origin [ticks]", "123"},
                                                             {"Y Resolution [ticks]", "4ticks"},
                                                             {"Profile Resolution", "3  [mils per unit]"}}));
    EXPECT_EQ(TableRows(runner_->Outputs()[4].object), TableRows(runner_->Outputs()[0].object));

    // Row 1: (x0 + c*dx, cell*k), the -1 cell left out but still advancing X.
    const auto plot = ReadPlot(runner_->Outputs()[3].object);
    EXPECT_EQ(plot.label, "Web");
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{-8500, -18000, 17000, 60000}));
    ASSERT_EQ(plot.graphics.size(), 1u);
    EXPECT_EQ(plot.graphics[0].label, "0");
    EXPECT_EQ(plot.graphics[0].pens[0].argb, 0xFFFFFF00u);
    const auto& points = plot.graphics[0].drawings[0].points;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].x, -5000);
    EXPECT_EQ(points[0].y, 9);
    EXPECT_EQ(points[1].x, -4980);
    EXPECT_EQ(points[1].y, 12);
}

TEST_F(WebModeTest, SyncMethodsChooseTheRowsAndUnits) {
    struct Case {
        int64_t sync;
        const char* method;  // "" for no row
        const char* yResolutionName;
        const char* yResolution;
    };
    const Case cases[] = {{0, "Encoder", "Y Resolution [ticks]", "4ticks"},
                          {1, "Time", "Y Resolution [ms]", "4"},
                          {2, "", "Y Resolution [ms]", "4"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sync);
        runner_->ClearRecords();
        ASSERT_EQ(runner_->ProcessPayloads({WebResult({c.sync, 0, 1, 9, 4, 1}, {{1}})}), 1);
        zvHandle table = runner_->Outputs()[0].object;
        EXPECT_EQ(TableValue(table, "Sync Method"), c.method);
        EXPECT_EQ(TableValue(table, c.yResolutionName), c.yResolution);
        EXPECT_EQ(TableRows(table).size(), c.method[0] ? 9u : 8u);
    }
}

TEST_F(WebModeTest, AProfileWithoutDataDrawsNoPoints) {
    ASSERT_EQ(runner_->ProcessPayloads({WebResult({0, 0, 1, 0, 1, 1}, {{-1, -1, -1}})}), 1);
    const auto plot = ReadPlot(runner_->Outputs()[1].object);
    ASSERT_EQ(plot.graphics.size(), 1u);
    EXPECT_TRUE(plot.graphics[0].drawings[0].points.empty());
}

TEST_F(WebModeTest, OtherIdsAndEmptyBatchesShowNothing) {
    EXPECT_EQ(runner_->ProcessPayloads({MakeResult(8, {})}), 1);
    EXPECT_EQ(runner_->ProcessPayloads({WebResult({0, 0, 1, 0, 1, 1}, {})}), 1);
    EXPECT_EQ(runner_->ProcessPayloads({nullptr}), 1);
    EXPECT_TRUE(runner_->Outputs().empty());
}

TEST_F(WebModeTest, AProfileWiderThanTheListGrowsIt) {
    ASSERT_EQ(runner_->ProcessPayloads({WebResult({0, 0, 1, 0, 1, 1}, {std::vector<int32_t>(25000, 2)})}), 1);
    EXPECT_EQ(zvArrayListCount(State()->viewPoints[0]), 25000);
    EXPECT_EQ(ReadPlot(runner_->Outputs()[1].object).graphics[0].drawings[0].points.size(), 25000u);
}

TEST_F(WebModeTest, MalformedBatchesFailWithoutOutputs) {
    struct Case {
        const char* name;
        std::function<zvHandle()> make;
    };
    const Case cases[] = {
        {"five attributes",
         [] {
             return MakeResult(5, {0, 0, 1, 0, 1}, {MakeArray(ZV_TYPE_INT32, {1, 1})});
         }},
        {"no data",
         [] {
             return MakeResult(5, {0, 0, 1, 0, 1, 1});
         }},
        {"16-bit cells",
         [] {
             return MakeResult(5, {0, 0, 1, 0, 1, 1}, {MakeArray(ZV_TYPE_INT16, {1, 4})});
         }},
        {"one dimension",
         [] {
             return MakeResult(5, {0, 0, 1, 0, 1, 1}, {MakeArray(ZV_TYPE_INT32, {4})});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LE(runner_->ProcessPayloads({c.make()}), 0);
        EXPECT_TRUE(runner_->Outputs().empty());
    }
}

TEST_F(WebModeTest, AFailingCallEndsTheBatchWithItsStatus) {
    struct Case {
        const char* call;
        int k;
        size_t outputs;
    };
    const Case cases[] = {{"zvArrayListResize", 1, 0}, {"zvDataSetLabel", 1, 0},   {"zvPipeEngineSend", 1, 0},
                          {"zvPlotCreate", 1, 1},      {"zvPipeEngineSend", 2, 1}, {"zvArrayListResize", 2, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.k));
        runner_->ClearRecords();
        zv::testing::FailCall(c.call, c.k, -321);
        EXPECT_EQ(runner_->ProcessPayloads({WebResult({0, 0, 1, 0, 1, 1}, {{1, 2}, {3, 4}})}), -321);
        zv::testing::ClearFaults();
        EXPECT_EQ(runner_->Outputs().size(), c.outputs);
    }
}

}  // namespace
