// The Free mode through the runner: encoder tables, view lists, intensity
// images and plots of the views, malformed profiles and failing calls.
#include <gtest/gtest.h>

#include <functional>

#include "modes/drawing.h"
#include "modes/free_mode.h"
#include "plugin/statuses.h"
#include "support/mode_support.hpp"

namespace {

using modes_test::Labels;
using modes_test::ModeTest;
using modes_test::ProfilePoint;
using modes_test::ProfileResult;
using modes_test::ReadPlot;
using modes_test::TableRows;
using modes_test::TableValue;
using zv::runner::ModeRunner;

constexpr zvStamp kStamp{5, 6, 1, 0};

class FreeModeTest : public ModeTest {
protected:
    // Starts Free with three sensors in views 0, 1, 2 and `selected`.
    void StartFree(uint32_t selected) {
        Settings({{{1001, 1, 0}, {1002, 1, 1}, {1003, 1, 2}}});
        ASSERT_GT(runner_->SetParameter("Free", "SelectedSensor", static_cast<int32_t>(selected)), 0);
        ASSERT_GT(runner_->Start("Free"), 0);
    }
    zvHandle Profile(uint32_t serial, std::vector<ProfilePoint> points = {{1, 2}, {3, 4}}) {
        return ProfileResult(serial, 10, kStamp, points, {{9, 8}});
    }
    std::vector<zvPoint32s> ViewPoints(uint32_t view) const {
        const auto* p = static_cast<const zvPoint32s*>(zvArrayListData(State()->viewPoints[view]));
        return std::vector<zvPoint32s>(p, p + zvArrayListCount(State()->viewPoints[view]));
    }
};

TEST_F(FreeModeTest, AllSensorsEachProfileOfAListSendsEncoderThenAPlotOfAllViews) {
    StartFree(0);
    zvHandle list = nullptr;
    ASSERT_GT(ModeRunner::MakeResultList({Profile(1001), Profile(1002), Profile(1003)}, &list), 0);
    ASSERT_GT(runner_->ProcessPayloads({list}), 0);
    EXPECT_EQ(Labels(runner_->Outputs()),
              (std::vector<std::string>{"Encoder", "Free", "Encoder", "Free", "Encoder", "Free"}));
    // Each plot shows the views filled so far, in view order, labelled by serial.
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto plot = ReadPlot(runner_->Outputs()[static_cast<size_t>(2 * i + 1)].object);
        ASSERT_EQ(plot.graphics.size(), static_cast<size_t>(i + 1));
        EXPECT_EQ(plot.graphics.back().label, std::to_string(1001 + i));
        EXPECT_EQ(runner_->Outputs()[static_cast<size_t>(2 * i + 1)].displayKind, 2);
    }
    EXPECT_TRUE(runner_->OutputsTo("Intensity").empty());
}

TEST_F(FreeModeTest, PointsAreScaledToMilsAndNullPointsAreKeptButNotDrawn) {
    StartFree(0);
    ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1002, 25, kStamp, {{100, -20}, {-32768, 7}, {-4, 3}})}), 0);
    const auto points = ViewPoints(1);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].x, 2500);
    EXPECT_EQ(points[0].y, -500);
    EXPECT_EQ(points[1].x, INT32_MIN);
    EXPECT_EQ(points[1].y, INT32_MIN);
    EXPECT_EQ(State()->viewSerial[1], 1002);
    const auto plot = ReadPlot(runner_->Outputs()[1].object);
    ASSERT_EQ(plot.graphics.size(), 1u);
    ASSERT_EQ(plot.graphics[0].drawings.size(), 1u);
    const auto& drawn = plot.graphics[0].drawings[0].points;
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[1].x, -100);
    EXPECT_EQ(drawn[1].y, 75);
}

TEST_F(FreeModeTest, ASelectedSensorGetsItsIntensityAndItsViewAlone) {
    StartFree(1002);
    ASSERT_GT(runner_->ProcessPayloads({Profile(1001)}), 0);
    EXPECT_EQ(Labels(runner_->Outputs()), std::vector<std::string>{"Encoder"});
    EXPECT_EQ(ViewPoints(0).size(), 2u);  // other sensors still refresh their views

    runner_->ClearRecords();
    const std::vector<std::vector<uint8_t>> rows = {{10, 11, 12}, {20, 21, 22}};
    ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1002, 1, kStamp, {{1, 1}, {2, 2}, {3, 3}}, rows)}), 0);
    EXPECT_EQ(Labels(runner_->Outputs()), (std::vector<std::string>{"Encoder", "Intensity", "Free"}));
    zvHandle image = runner_->Outputs()[1].object;
    ASSERT_EQ(zvImageType(image), ZV_TYPE_IMAGE8);
    ASSERT_EQ(zvImageWidth(image), 3);
    ASSERT_EQ(zvImageHeight(image), 2);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(*static_cast<uint8_t*>(zvImageAt(image, x, y)),
                      rows[static_cast<size_t>(y)][static_cast<size_t>(x)]);
        }
    }
    const auto plot = ReadPlot(runner_->Outputs()[2].object);
    ASSERT_EQ(plot.graphics.size(), 1u);
    EXPECT_EQ(plot.graphics[0].label, "1002");
    EXPECT_EQ(plot.graphics[0].pens[0].argb, ViewColor(1));
}

TEST_F(FreeModeTest, EncoderTableShowsTheLowBitsOfTheStamp) {
    StartFree(0);
    const zvStamp stamp{4294967297LL, 4294967296ULL, 3, 0};
    ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1001, 1, stamp, {{1, 1}})}), 0);
    zvHandle table = runner_->Outputs()[0].object;
    EXPECT_EQ(TableRows(table),
              (std::vector<std::pair<std::string, std::string>>{
                  {"name", "value"}, {"Encoder Count", "1"}, {"Timestamp", "0"}, {"Input State", "3"}}));
    const zvStamp negative{-2, 7, -1, 0};
    runner_->ClearRecords();
    ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1001, 1, negative, {{1, 1}})}), 0);
    EXPECT_EQ(TableValue(runner_->Outputs()[0].object, "Encoder Count"), "-2");
}

TEST_F(FreeModeTest, UnknownSensorsFillViewZeroAndOtherIdsAreIgnored) {
    StartFree(0);
    zvHandle calibration = modes_test::MakeResult(8, {});
    ASSERT_GT(runner_->ProcessPayloads({calibration, nullptr, Profile(4242)}), 0);
    EXPECT_EQ(State()->viewSerial[0], 4242);
    EXPECT_EQ(ViewPoints(0).size(), 2u);
    EXPECT_EQ(Labels(runner_->Outputs()), (std::vector<std::string>{"Encoder", "Free"}));
}

TEST_F(FreeModeTest, ASensorWhoseViewHasNoListKeepsItsPointsOut) {
    // Sensor 1004 is disabled in view 9: no list exists for it.
    Settings({{{1001, 1, 0}, {1004, 0, 9}, {1005, 1, 70}}});
    ASSERT_GT(runner_->Start("Free"), 0);
    ASSERT_EQ(State()->viewCount, 1u);
    ASSERT_GT(runner_->ProcessPayloads({Profile(1004), Profile(1005)}), 0);
    EXPECT_EQ(zvArrayListCount(State()->viewPoints[0]), 0);
    EXPECT_EQ(Labels(runner_->Outputs()), (std::vector<std::string>{"Encoder", "Free", "Encoder", "Free"}));
    EXPECT_EQ(State()->viewSerial[9], 1004);
}

TEST_F(FreeModeTest, AProfileWiderThanTheListGrowsIt) {
    StartFree(1001);
    std::vector<ProfilePoint> points(30000);
    for (size_t i = 0; i < points.size(); ++i) points[i] = {static_cast<int16_t>(i), 1};
    ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1001, 1, kStamp, points, {{}})}), 0);
    EXPECT_EQ(ViewPoints(0).size(), 30000u);
    EXPECT_EQ(ViewPoints(0)[29999].x, 29999);
    EXPECT_EQ(zvImageWidth(runner_->Outputs()[1].object), 30000);
    EXPECT_EQ(ReadPlot(runner_->Outputs()[2].object).graphics[0].drawings[0].points.size(), 30000u);
}

TEST_F(FreeModeTest, MalformedProfilesFailWithoutReadingPastTheirData) {
    using modes_test::MakeArray;
    using modes_test::MakeResult;
    StartFree(1001);
    const int16_t xy[4] = {1, 2, 3, 4};
    struct Case {
        const char* name;
        std::function<zvHandle()> make;
    };
    const Case cases[] = {
        {"no attributes", [] { return MakeResult(0, {}); }},
        {"no data",
         [] {
             return MakeResult(0, {1001, 1});
         }},
        {"stamps of the wrong type",
         [&] {
             return MakeResult(0, {1001, 1}, {MakeArray(ZV_TYPE_INT64, {1}), MakeArray(ZV_TYPE_INT16, {2, 2}, xy, 8)});
         }},
        {"no stamp",
         [&] {
             return MakeResult(0, {1001, 1}, {MakeArray(ZV_TYPE_STAMP, {0}), MakeArray(ZV_TYPE_INT16, {2, 2})});
         }},
        {"points of 32 bits",
         [&] {
             return MakeResult(0, {1001, 1}, {MakeArray(ZV_TYPE_STAMP, {1}), MakeArray(ZV_TYPE_INT32, {2, 2})});
         }},
        {"points too few for their count",
         [&] {
             return MakeResult(0, {1001, 1}, {MakeArray(ZV_TYPE_STAMP, {1}), MakeArray(ZV_TYPE_INT16, {4, 1})});
         }},
        {"points as a list",
         [&] {
             zvHandle list = nullptr;
             zvArrayListCreate(&list, nullptr);
             zvArrayListInit(list, ZV_TYPE_INT16, 4, 1);
             return MakeResult(0, {1001, 1}, {MakeArray(ZV_TYPE_STAMP, {1}), list});
         }},
        {"selected sensor without intensities",
         [&] {
             return MakeResult(0, {1001, 1}, {MakeArray(ZV_TYPE_STAMP, {1}), MakeArray(ZV_TYPE_INT16, {2, 2}, xy, 8)});
         }},
        {"intensities for fewer points",
         [&] {
             return MakeResult(0, {1001, 1},
                               {MakeArray(ZV_TYPE_STAMP, {1}), MakeArray(ZV_TYPE_INT16, {2, 2}, xy, 8),
                                MakeArray(ZV_TYPE_UINT8, {1, 3})});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runner_->ClearRecords();
        EXPECT_LE(runner_->ProcessPayloads({c.make()}), 0);
        EXPECT_TRUE(runner_->Outputs().empty());
    }
}

TEST_F(FreeModeTest, AnItemOfAResultListThatIsNoResultEndsTheBatchWithZero) {
    StartFree(0);
    zvHandle list = nullptr, stranger = nullptr;
    ASSERT_GT(zvArrayListCreate(&list, nullptr), 0);
    ASSERT_GT(zvArrayListInit(list, ZV_TYPE_ARRAYLIST, 2, 0), 0);
    ASSERT_GT(zvArrayListCreate(&stranger, nullptr), 0);
    ASSERT_GT(zvArrayListAdd(list, &stranger), 0);
    EXPECT_EQ(runner_->ProcessPayloads({list, Profile(1001)}), 0);
    EXPECT_TRUE(runner_->Outputs().empty());
}

TEST_F(FreeModeTest, AFailingCallEndsTheHandlerWithItsStatusAndLeaksNothing) {
    struct Case {
        const char* call;
        int k;
        size_t outputs;  // sent before the failure
    };
    // With sensor 1001 selected a profile makes: Encoder, Intensity, Free.
    const Case cases[] = {
        {"zvDataSetLabel", 1, 0},    {"zvPipeEngineSend", 1, 0},
        {"zvArrayListResize", 1, 1}, {"zvImageCreate", 1, 1},
        {"zvImageInit", 1, 1},       {"zvDataSetLabel", 2, 1},
        {"zvPipeEngineSend", 2, 1},  {"zvPlotCreate", 1, 2},
        {"zvGraphicInit", 1, 2},     {"zvPlotAdd", 1, 2},
        {"zvPlotSetWorld", 1, 2},    {"zvPlotSetYTitle", 1, 2},
        {"zvPipeEngineSend", 3, 2},  {"zvGraphicDrawPoints32s", 1, 2},
    };
    StartFree(1001);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.k));
        runner_->ClearRecords();
        zv::testing::FailCall(c.call, c.k, -321);
        const zvStatus status = runner_->ProcessPayloads({Profile(1001), Profile(1001)});
        zv::testing::ClearFaults();
        EXPECT_EQ(status, std::string(c.call) == "zvGraphicDrawPoints32s" ? kTorvaneNoMemory : -321);
        EXPECT_EQ(runner_->Outputs().size(), c.outputs);  // the second profile is not processed
    }
    ASSERT_GT(runner_->Stop(), 0);
    runner_->Reset();
    EXPECT_EQ(zv::testing::EngineOwnedObjects(), 0);
}

}  // namespace
