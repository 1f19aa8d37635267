// The per-point loops of the Free mode against a point-by-point reference:
// profile conversion into a view list, the drawn points of its plot and
// the intensity image, for lengths around the vector widths and for many
// null patterns; and what the mode tells the drawing of a list.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "modes/drawing.h"
#include "modes/result_access.h"
#include "support/mode_support.hpp"

namespace {

using modes_test::ModeTest;
using modes_test::ProfilePoint;
using modes_test::ProfileResult;
using modes_test::ReadPlot;

constexpr zvStamp kStamp{1, 2, 3, 0};

struct Pattern {
    const char* name;
    bool (*null)(size_t i, std::mt19937& random);
};

const Pattern kPatterns[] = {
    {"none", [](size_t, std::mt19937&) { return false; }},
    {"all", [](size_t, std::mt19937&) { return true; }},
    {"every tenth", [](size_t i, std::mt19937&) { return i % 10 == 0; }},
    {"every other", [](size_t i, std::mt19937&) { return i % 2 == 1; }},
    {"gaps of 37", [](size_t i, std::mt19937&) { return (i / 37) % 2 == 1; }},
    {"random", [](size_t, std::mt19937& random) { return random() % 3 == 0; }},
};

class ViewPointsTest : public ModeTest {
protected:
    void SetUp() override {
        ModeTest::SetUp();
        Settings({{{1001, 1, 0}}});
        ASSERT_GT(runner_->SetParameter("Free", "SelectedSensor", 1001), 0);
        ASSERT_GT(runner_->Start("Free"), 0);
    }
};

// Every instruction-set variant the machine has, down to the plain loops.
class ViewPointsAtLevel : public ViewPointsTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        modes_simd::LimitForTesting(GetParam());
        ViewPointsTest::SetUp();
    }
    void TearDown() override {
        ViewPointsTest::TearDown();
        modes_simd::LimitForTesting(2);
    }
};

INSTANTIATE_TEST_SUITE_P(Levels, ViewPointsAtLevel, ::testing::Values(0, 1, 2));

TEST_P(ViewPointsAtLevel, ListsPlotsAndImagesMatchAPointByPointReference) {
    const size_t lengths[] = {1, 7, 8, 15, 16, 17, 31, 33, 100, 1001, 4099};
    // 70001 wraps in 32 bits; with 2^30 every x of 2 modulo 4 scales to the
    // null value, which is then not drawn either, and with 2^17 so does
    // 16384 (2^16 is the largest power of two with which no x can).
    const int32_t scales[] = {25, -3, 70001, 1 << 30, 1 << 17, 1 << 16, 0};
    const size_t rowCounts[] = {1, 3, 4};
    std::mt19937 random(7);
    for (const Pattern& pattern : kPatterns) {
        for (size_t n : lengths) {
            for (int32_t scale : scales) {
                const size_t rows = rowCounts[(n + static_cast<size_t>(scale)) % 3];
                SCOPED_TRACE(std::string(pattern.name) + " n=" + std::to_string(n) + " scale=" + std::to_string(scale) +
                             " rows=" + std::to_string(rows));
                std::vector<ProfilePoint> points(n);
                for (size_t i = 0; i < n; ++i) {
                    points[i].x = pattern.null(i, random) ? INT16_MIN
                                  : i % 7 == 3            ? static_cast<int16_t>(16384)
                                                          : static_cast<int16_t>(random());
                    // A y of -32768 is a coordinate like any other.
                    points[i].y = i % 5 == 1 ? INT16_MIN : static_cast<int16_t>(random());
                }
                std::vector<std::vector<uint8_t>> intensity(rows, std::vector<uint8_t>(n));
                for (auto& row : intensity) {
                    for (auto& value : row) value = static_cast<uint8_t>(random());
                }
                runner_->ClearRecords();
                ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1001, scale, kStamp, points, intensity)}), 0);
                ASSERT_EQ(runner_->Outputs().size(), 3u);

                std::vector<zvPoint32s> expected(n), drawn;
                for (size_t i = 0; i < n; ++i) {
                    if (points[i].x == INT16_MIN) {
                        expected[i] = {INT32_MIN, INT32_MIN};
                        continue;
                    }
                    const auto k = static_cast<uint32_t>(scale);
                    expected[i] = {static_cast<int32_t>(static_cast<uint32_t>(points[i].x) * k),
                                   static_cast<int32_t>(static_cast<uint32_t>(points[i].y) * k)};
                    if (expected[i].x != INT32_MIN) drawn.push_back(expected[i]);
                }
                zvHandle list = State()->viewPoints[0];
                ASSERT_EQ(zvArrayListCount(list), static_cast<int32_t>(n));
                const auto* stored = static_cast<const zvPoint32s*>(zvArrayListData(list));
                for (size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(stored[i].x, expected[i].x) << "point " << i;
                    ASSERT_EQ(stored[i].y, expected[i].y) << "point " << i;
                }

                const auto plot = ReadPlot(runner_->Outputs()[2].object);
                ASSERT_EQ(plot.graphics.size(), 1u);
                const auto& shown = plot.graphics[0].drawings.at(0).points;
                ASSERT_EQ(shown.size(), drawn.size());
                for (size_t i = 0; i < drawn.size(); ++i) {
                    ASSERT_EQ(shown[i].x, drawn[i].x) << "drawn " << i;
                    ASSERT_EQ(shown[i].y, drawn[i].y) << "drawn " << i;
                }

                zvHandle image = runner_->Outputs()[1].object;
                ASSERT_EQ(zvImageWidth(image), static_cast<int32_t>(n));
                ASSERT_EQ(zvImageHeight(image), static_cast<int32_t>(rows));
                for (size_t y = 0; y < rows; ++y) {
                    for (size_t x = 0; x < n; ++x) {
                        ASSERT_EQ(
                            *static_cast<uint8_t*>(zvImageAt(image, static_cast<int32_t>(x), static_cast<int32_t>(y))),
                            intensity[y][x])
                            << "pixel " << x << ", " << y;
                    }
                }
            }
        }
    }
}

TEST_F(ViewPointsTest, AllViewsDrawnAfterAProfileCountEachViewOnItsOwn) {
    // With no sensor selected every view is drawn; only the one just filled
    // may take its count from the conversion.
    Settings({{{1001, 1, 0}, {1002, 1, 1}}});
    ASSERT_GT(runner_->Stop(), 0);
    ASSERT_GT(runner_->SetParameter("Free", "SelectedSensor", 0), 0);
    ASSERT_GT(runner_->Start("Free"), 0);
    const std::vector<ProfilePoint> first = {{1, 1}, {INT16_MIN, 0}, {2, 2}, {3, 3}};
    const std::vector<ProfilePoint> second = {{INT16_MIN, 0}, {INT16_MIN, 0}, {5, 5}};
    ASSERT_GT(runner_->ProcessPayloads({ProfileResult(1001, 1, kStamp, first), ProfileResult(1002, 1, kStamp, second)}),
              0);
    const auto plot = ReadPlot(runner_->Outputs().back().object);
    ASSERT_EQ(plot.graphics.size(), 2u);
    EXPECT_EQ(plot.graphics[0].drawings.at(0).points.size(), 3u);
    EXPECT_EQ(plot.graphics[1].drawings.at(0).points.size(), 1u);
}

// What a mode tells the drawing of a list is used for that list alone and
// only when its count fits; otherwise the list is counted.
TEST_F(ViewPointsTest, WhatTheDrawingIsToldIsCheckedAgainstTheList) {
    RunState* state = State();
    zv::OwnedList other;
    ASSERT_GT(zvArrayListCreate(other.Out(), nullptr), 0);
    ASSERT_GT(zvArrayListInit(other, ZV_TYPE_POINT32, 4, 1), 0);
    const zvPoint32s points[] = {{1, 2}, {INT32_MIN, INT32_MIN}, {3, 4}};
    ASSERT_GT(zvArrayListResize(state->viewPoints[0], 3), 0);
    std::memcpy(zvArrayListData(state->viewPoints[0]), points, sizeof points);
    struct Case {
        const char* name;
        DrawnPoints known;
        size_t drawn;
    };
    const Case cases[] = {
        {"nothing told", {}, 2},
        {"the count", {state->viewPoints[0], 2, {}}, 2},
        {"another list", {other, 3, {}}, 2},
        {"a count above its points", {state->viewPoints[0], 9, {}}, 2},
        {"a negative count", {state->viewPoints[0], -1, {}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        runner_->ClearRecords();
        ASSERT_EQ(DrawViewPlotKnowing(state, "Free", kAllViews, 0, c.known), 1);
        const auto plot = ReadPlot(runner_->Outputs().back().object);
        ASSERT_EQ(plot.graphics.size(), 1u);
        EXPECT_EQ(plot.graphics[0].drawings.at(0).points.size(), c.drawn);
    }
}

}  // namespace
