// The Calibration mode: the pass/fail mark and the status table.
#include <gtest/gtest.h>

#include "support/mode_support.hpp"

namespace {

using modes_test::Labels;
using modes_test::MakeResult;
using modes_test::ModeTest;
using modes_test::ReadPlot;
using modes_test::TableRows;
using Rows = std::vector<std::pair<std::string, std::string>>;

class CalibrationModeTest : public ModeTest {
protected:
    void SetUp() override {
        ModeTest::SetUp();
        ASSERT_GT(runner_->Start("Calibration"), 0);
    }
};

TEST_F(CalibrationModeTest, SuccessSendsTheGreenMarkThenTheStatus) {
    ASSERT_EQ(runner_->ProcessPayloads({MakeResult(8, {})}), 1);
    ASSERT_EQ(Labels(runner_->Outputs()), (std::vector<std::string>{"Calibration", "Status"}));
    EXPECT_EQ(runner_->Outputs()[0].displayKind, 2);
    const auto plot = ReadPlot(runner_->Outputs()[0].object);
    EXPECT_EQ(std::vector<float>(plot.world, plot.world + 4), (std::vector<float>{0, 0, 100, 100}));
    EXPECT_EQ(plot.xTitle, "X (mil)");
    EXPECT_EQ(plot.yTitle, "Y (mil)");
    EXPECT_FALSE(plot.backSet);
    ASSERT_EQ(plot.graphics.size(), 1u);
    const auto& g = plot.graphics[0];
    EXPECT_EQ(g.pens[0].argb, 0xFF32CD32u);
    EXPECT_EQ(g.pens[0].width, 15.0f);
    EXPECT_EQ(g.brushes, std::vector<uint32_t>{0xFF32CD32u});
    EXPECT_EQ(g.markers[0].size, 15.0f);
    ASSERT_EQ(g.drawings.size(), 1u);
    EXPECT_EQ(g.drawings[0].kind, ZV_DRAW_POLYLINE);
    const std::vector<std::pair<int, int>> pass = {{60, 40}, {40, 40}, {40, 60}, {60, 60}, {60, 40}, {40, 60}};
    ASSERT_EQ(g.drawings[0].points.size(), pass.size());
    for (size_t i = 0; i < pass.size(); ++i) {
        EXPECT_EQ(g.drawings[0].points[i].x, pass[i].first);
        EXPECT_EQ(g.drawings[0].points[i].y, pass[i].second);
    }
    EXPECT_EQ(TableRows(runner_->Outputs()[1].object),
              (Rows{{"name", "value"}, {"Calibration completed successfully!", "Press the Stop button"}}));
}

TEST_F(CalibrationModeTest, ErrorsSendTheRedMarkAndOneRowPerFailedSensor) {
    ASSERT_EQ(runner_->ProcessPayloads({MakeResult(8, {3, -10, 5, -11, 9, -7, 2, -4, 4294967297LL, -4294967306LL, 6})}),
              1);
    const auto plot = ReadPlot(runner_->Outputs()[0].object);
    EXPECT_EQ(plot.graphics[0].pens[0].argb, 0xFFFF0000u);
    EXPECT_EQ(plot.graphics[0].drawings[0].points[0].x, 40);
    EXPECT_EQ(plot.graphics[0].drawings[0].points[5].y, 60);
    // The last code is compared as 64 bits (not -10) and printed from its low 32 bits.
    EXPECT_EQ(TableRows(runner_->Outputs()[1].object),
              (Rows{{"name", "value"},
                    {"Calibration completed with errors!", "Press the Stop button"},
                    {"----------------------------------", "---------------------"},
                    {"Sensor: 3", "Nonconvergence!"},
                    {"Sensor: 5", "Error Code: -11"},
                    {"Sensor: 9", "Invalid View!"},
                    {"Sensor: 2", "Insufficient Data!"},
                    {"Sensor: 1", "Error Code: -10"}}));
}

TEST_F(CalibrationModeTest, OneAttributeGivesTheHeaderAndNoSensorRows) {
    ASSERT_EQ(runner_->ProcessPayloads({MakeResult(8, {3})}), 1);
    EXPECT_EQ(TableRows(runner_->Outputs()[1].object).size(), 3u);
}

TEST_F(CalibrationModeTest, OtherResultsShowNothingAndYieldZero) {
    EXPECT_EQ(runner_->ProcessPayloads({MakeResult(0, {1001, 1})}), 0);
    EXPECT_EQ(runner_->ProcessPayloads({nullptr}), 0);
    EXPECT_TRUE(runner_->Outputs().empty());
}

TEST_F(CalibrationModeTest, TheSameResultTwiceShowsTheSameTwice) {
    ASSERT_EQ(runner_->ProcessPayloads({MakeResult(8, {1, -4})}), 1);
    ASSERT_EQ(runner_->ProcessPayloads({MakeResult(8, {1, -4})}), 1);
    ASSERT_EQ(runner_->Outputs().size(), 4u);
    EXPECT_EQ(TableRows(runner_->Outputs()[1].object), TableRows(runner_->Outputs()[3].object));
}

TEST_F(CalibrationModeTest, AFailingCallEndsTheHandlerAndAFailedMarkSendsNoTable) {
    struct Case {
        const char* call;
        int k;
        size_t outputs;
    };
    const Case cases[] = {{"zvDataSetLabel", 1, 0}, {"zvGraphicCreate", 1, 0},  {"zvPlotAdd", 1, 0},
                          {"zvDataSetLabel", 2, 0}, {"zvPipeEngineSend", 1, 0}, {"zvPipeEngineSend", 2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.k));
        runner_->ClearRecords();
        zv::testing::FailCall(c.call, c.k, -321);
        EXPECT_EQ(runner_->ProcessPayloads({MakeResult(8, {1, -4})}), -321);
        zv::testing::ClearFaults();
        EXPECT_EQ(runner_->Outputs().size(), c.outputs);
    }
}

}  // namespace
