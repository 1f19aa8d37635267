// The Detection mode driven through the mode runner: slices into outlines,
// objects into statistics and polar models.
#include "modes/detection_mode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "modes/polar_outline.h"
#include "support/mode_support.hpp"

namespace modes_test {
namespace {

struct Slice {
    int64_t stamp;
    std::vector<ProfilePoint> points;  // lateral, height in profile units
    int64_t claimed = -1;              // point count in the stamp row; -1: the real one
};

// A slice batch (id 1) with resolution `s`; the point array is as wide as
// the widest slice (or `width`).
zvHandle SliceBatch(int32_t s, const std::vector<Slice>& slices, int32_t width = 0) {
    const auto rows = static_cast<int32_t>(slices.size());
    for (const Slice& slice : slices) width = std::max(width, static_cast<int32_t>(slice.points.size()));
    std::vector<int64_t> cells;
    std::vector<int16_t> values(static_cast<size_t>(rows) * static_cast<size_t>(width) * 2, 0);
    for (int32_t h = 0; h < rows; ++h) {
        const Slice& slice = slices[static_cast<size_t>(h)];
        cells.push_back(slice.stamp);
        cells.push_back(slice.claimed >= 0 ? slice.claimed : static_cast<int64_t>(slice.points.size()));
        for (size_t j = 0; j < slice.points.size(); ++j) {
            values[(static_cast<size_t>(h) * static_cast<size_t>(width) + j) * 2] = slice.points[j].x;
            values[(static_cast<size_t>(h) * static_cast<size_t>(width) + j) * 2 + 1] = slice.points[j].y;
        }
    }
    return MakeResult(1, {s},
                      {MakeArray(ZV_TYPE_INT64, {rows, 2}, cells.data(), cells.size() * 8),
                       MakeArray(ZV_TYPE_INT16, {rows, width, 2}, values.data(), values.size() * 2)});
}

zvHandle ObjectEnd() { return MakeResult(9, {}); }

// `n` points on a circle of `radius` units around (`x`, `y`).
std::vector<ProfilePoint> Circle(int n, int radius, int x = 0, int y = 2000) {
    std::vector<ProfilePoint> points;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        points.push_back({static_cast<int16_t>(x + std::lround(radius * std::cos(a))),
                          static_cast<int16_t>(y + std::lround(radius * std::sin(a)))});
    }
    return points;
}

// The outline the straightforward computation gives for a slice already in
// mils: centre, polar form, qsort by angle, resampling.
std::vector<int32_t> StraightforwardOutline(const std::vector<zvPoint32s>& points, zvPoint32s* centre) {
    *centre = SliceCentre(points.data(), static_cast<int32_t>(points.size()));
    std::vector<zvPoint32s> polar(points.size());
    const int32_t n =
        ToPolarPoints(points.data(), static_cast<int32_t>(points.size()), centre->x, centre->y, polar.data());
    std::qsort(polar.data(), static_cast<size_t>(n), sizeof(zvPoint32s), CompareAngle);
    std::vector<int32_t> radii(360);
    ResampleOutlinePoints(polar.data(), n, 360, radii.data());
    return radii;
}

std::vector<int32_t> Radii(zvHandle outline) {
    const int32_t* r = zvPolarPoints(outline);
    return r ? std::vector<int32_t>(r, r + zvPolarCount(outline)) : std::vector<int32_t>{};
}

class DetectionTest : public ModeTest {
protected:
    void Begin(double encoderResolution = 1.0, int32_t maxSlices = 0) {
        Settings({{{11, 1, 0}}, {}, encoderResolution, maxSlices});
        ASSERT_GT(runner_->Start("Detection"), 0);
    }
    zvStatus Send(zvHandle result) { return runner_->ProcessPayloads({result}); }
    int32_t ModelSlices() const {
        int32_t count = 0;
        if (State()->polarModel != nullptr) zvPolarModelSliceCount(State()->polarModel, &count);
        return count;
    }
};

TEST_F(DetectionTest, SlicesOfTenPointsOrFewerAddNoOutline) {
    Begin();
    ASSERT_EQ(Send(SliceBatch(1, {{500, Circle(10, 300)}})), 1);
    EXPECT_EQ(State()->objectOpen, 1);
    EXPECT_EQ(State()->firstStamp, 500);
    EXPECT_EQ(State()->lastStamp, 500);
    EXPECT_EQ(zvArrayListCount(State()->viewPoints[0]), 10);
    EXPECT_EQ(State()->polarModel, nullptr);

    ASSERT_EQ(Send(SliceBatch(1, {{501, Circle(11, 300)}})), 1);
    EXPECT_EQ(State()->firstStamp, 500);
    EXPECT_EQ(State()->lastStamp, 501);
    EXPECT_EQ(ModelSlices(), 1);
    EXPECT_EQ(zvPolarModelPointsPerOutline(State()->polarModel), 360);
    EXPECT_EQ(zvPolarModelSmoothing(State()->polarModel), 5);
}

TEST_F(DetectionTest, PointsAreMirroredAndScaledToMils) {
    Begin();
    ASSERT_EQ(Send(SliceBatch(3, {{0, {{10, 20}, {-32768, 5}, {-4, -7}}}})), 1);
    const auto* p = static_cast<const zvPoint32s*>(zvArrayListData(State()->viewPoints[0]));
    ASSERT_EQ(zvArrayListCount(State()->viewPoints[0]), 3);
    EXPECT_EQ(p[0].x, -30);
    EXPECT_EQ(p[0].y, 60);
    EXPECT_EQ(p[1].x, INT32_MIN);
    EXPECT_EQ(p[1].y, INT32_MIN);
    EXPECT_EQ(p[2].x, 12);
    EXPECT_EQ(p[2].y, -21);
}

TEST_F(DetectionTest, OutlinesMatchTheStraightforwardComputation) {
    // Positions are the slices' distance from the object's first slice, in
    // mils, truncated: stamps 1000, 1003, 1010 at 2.5 mils a tick.
    Begin(2.5);
    std::mt19937 random(5);
    std::vector<Slice> slices;
    for (int64_t stamp : {1000, 1003, 1010}) {
        Slice slice{stamp, Circle(400, 900, -100, 3000)};
        // Rough surfaces with ties and a few unmeasured points.
        for (auto& p : slice.points) {
            p.x = static_cast<int16_t>(p.x + std::uniform_int_distribution<int>(-3, 3)(random));
            if (std::uniform_int_distribution<int>(0, 40)(random) == 0) p.x = -32768;
        }
        slices.push_back(slice);
    }
    ASSERT_EQ(Send(SliceBatch(2, slices)), 1);
    ASSERT_EQ(ModelSlices(), 3);
    const int32_t positions[] = {0, 7, 25};
    for (int32_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        std::vector<zvPoint32s> mils;
        for (const ProfilePoint& p : slices[static_cast<size_t>(k)].points) {
            mils.push_back(p.x == -32768 ? zvPoint32s{INT32_MIN, INT32_MIN} : zvPoint32s{-2 * p.x, 2 * p.y});
        }
        zvPoint32s centre{};
        const std::vector<int32_t> expected = StraightforwardOutline(mils, &centre);
        zvHandle outline = zvPolarModelSliceAt(State()->polarModel, k);
        int32_t x = 0, y = 0, z = 0;
        ASSERT_GT(zvPolarCenter(outline, &x, &y, &z), 0);
        EXPECT_EQ(x, centre.x);
        EXPECT_EQ(y, centre.y);
        EXPECT_EQ(z, positions[k]);
        EXPECT_EQ(Radii(outline), expected);
        // A circle of 1800 mils stays one, unmeasured points ignored.
        for (int32_t r : expected) EXPECT_NEAR(r, 1800, 40);
    }
}

TEST_F(DetectionTest, EndOfObjectReportsAndShowsTheModel) {
    Begin(0.5);
    ASSERT_EQ(Send(SliceBatch(1, {{100, Circle(30, 500)}, {140, Circle(30, 600)}, {161, Circle(5, 600)}})), 1);
    ASSERT_EQ(Send(ObjectEnd()), 1);
    const auto stats = runner_->OutputsTo("Statistics");
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(
        TableRows(stats[0].object),
        (std::vector<std::pair<std::string, std::string>>{
            {"name", "value"}, {"Object Count", "1"}, {"Last object length", "30"}, {"Last object slice count", "2"}}));
    const auto shown = runner_->OutputsTo("Detection");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].type, ZV_TYPE_POLARMODEL);
    EXPECT_EQ(shown[0].displayKind, 0);
    int32_t count = 0;
    ASSERT_GT(zvPolarModelSliceCount(shown[0].object, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(zvPolarCount(zvPolarModelSliceAt(shown[0].object, 1)), 360);
    EXPECT_EQ(State()->polarModel, nullptr);
    EXPECT_EQ(State()->objectOpen, 0);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_POLARMODEL), 1);  // only the copy sent

    // A second end in a row counts again with the same length; with no
    // model there is no slice and nothing to draw.
    ASSERT_EQ(Send(ObjectEnd()), 1);
    const auto again = runner_->OutputsTo("Statistics");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(TableValue(again[1].object, "Object Count"), "2");
    EXPECT_EQ(TableValue(again[1].object, "Last object length"), "30");
    EXPECT_EQ(TableValue(again[1].object, "Last object slice count"), "0");
    EXPECT_EQ(runner_->OutputsTo("Detection").size(), 1u);

    // The next slice opens a new object.
    ASSERT_EQ(Send(SliceBatch(1, {{900, Circle(5, 10)}})), 1);
    EXPECT_EQ(State()->firstStamp, 900);
}

TEST_F(DetectionTest, ObjectsOfManySlicesAreCountedNotDrawn) {
    Begin();
    std::vector<Slice> slices;
    for (int64_t h = 0; h < 1500; ++h) slices.push_back({h, Circle(12, 100)});
    ASSERT_EQ(Send(SliceBatch(1, slices)), 1);
    ASSERT_EQ(Send(ObjectEnd()), 1);
    const auto stats = runner_->OutputsTo("Statistics");
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(TableValue(stats[0].object, "Too many slices to render!"), "1500");
    EXPECT_EQ(TableValue(stats[0].object, "Last object slice count"), "");
    EXPECT_TRUE(runner_->OutputsTo("Detection").empty());
    EXPECT_EQ(State()->polarModel, nullptr);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_POLAR), 0);
}

TEST_F(DetectionTest, MaxSlicesBuildsNoModel) {
    Begin(1.0, 50);
    ASSERT_EQ(Send(SliceBatch(1, {{7, Circle(40, 100)}, {9, Circle(40, 100)}})), 1);
    EXPECT_EQ(State()->polarModel, nullptr);
    ASSERT_EQ(Send(ObjectEnd()), 1);
    const auto stats = runner_->OutputsTo("Statistics");
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(TableRows(stats[0].object), (std::vector<std::pair<std::string, std::string>>{
                                              {"name", "value"}, {"Object Count", "1"}, {"Last object length", "2"}}));
    EXPECT_TRUE(runner_->OutputsTo("Detection").empty());
}

TEST_F(DetectionTest, MalformedBatchesAreRefusedUnchanged) {
    Begin();
    struct Case {
        const char* what;
        zvHandle result;
        zvStatus status;
    };
    std::vector<Case> cases;
    cases.push_back({"more points than the row holds", SliceBatch(1, {{5, Circle(12, 50), 13}}), ZV_E_RANGE});
    cases.push_back({"more points than a slice may hold", SliceBatch(1, {{5, Circle(12, 50), 21505}}, 12), ZV_E_RANGE});
    cases.push_back({"a negative count", SliceBatch(1, {{5, Circle(12, 50), 0xFFFFFFFFLL}}), ZV_E_RANGE});
    const int64_t twoRows[] = {5, 0, 6, 12};
    cases.push_back(
        {"a second row beyond the point array",
         MakeResult(1, {1},
                    {MakeArray(ZV_TYPE_INT64, {2, 2}, twoRows, sizeof twoRows), MakeArray(ZV_TYPE_INT16, {1, 12, 2})}),
         ZV_E_RANGE});
    cases.push_back({"no point array", MakeResult(1, {1}, {MakeArray(ZV_TYPE_INT64, {1, 2})}), ZV_E_RANGE});
    cases.push_back({"int32 points",
                     MakeResult(1, {1}, {MakeArray(ZV_TYPE_INT64, {1, 2}), MakeArray(ZV_TYPE_INT32, {1, 4, 2})}),
                     ZV_E_TYPE});
    cases.push_back({"stamp rows of one cell",
                     MakeResult(1, {1}, {MakeArray(ZV_TYPE_INT64, {1, 1}), MakeArray(ZV_TYPE_INT16, {1, 4, 2})}),
                     ZV_E_RANGE});
    cases.push_back({"no resolution", MakeResult(1, {}, {}), ZV_E_RANGE});
    cases.push_back({"an unknown result", MakeResult(4, {}), 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Send(c.result), c.status);
        EXPECT_EQ(State()->objectOpen, 0);
        EXPECT_EQ(State()->polarModel, nullptr);
    }
    // An empty batch and a message without a result change nothing.
    EXPECT_EQ(Send(SliceBatch(1, {})), 1);
    EXPECT_EQ(Send(nullptr), 1);
    EXPECT_EQ(State()->objectOpen, 0);
    EXPECT_TRUE(runner_->Outputs().empty());
}

TEST_F(DetectionTest, SlicesWithoutAMeasuredPointGiveFlatOutlines) {
    Begin();
    std::vector<ProfilePoint> unmeasured(12, ProfilePoint{-32768, 0});
    std::vector<ProfilePoint> atCentre(12, ProfilePoint{40, 40});
    ASSERT_EQ(Send(SliceBatch(1, {{1, unmeasured}, {2, atCentre}})), 1);
    ASSERT_EQ(ModelSlices(), 2);
    for (int32_t k = 0; k < 2; ++k) {
        EXPECT_EQ(Radii(zvPolarModelSliceAt(State()->polarModel, k)), std::vector<int32_t>(360, 0));
    }
}

TEST_F(DetectionTest, FailuresKeepTheObjectAndLeakNothing) {
    Begin();
    // A refused outline is not kept; the object goes on with the next slice.
    zv::testing::FailCall("zvPolarModelInit", 1, -78);
    EXPECT_EQ(Send(SliceBatch(1, {{1, Circle(20, 80)}})), -78);
    EXPECT_EQ(State()->objectOpen, 1);
    EXPECT_EQ(State()->polarModel, nullptr);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_POLAR), 0);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_POLARMODEL), 0);
    zv::testing::FailCall("zvPolarModelAdd", 1, -77);
    EXPECT_EQ(Send(SliceBatch(1, {{2, Circle(20, 80)}})), -77);
    EXPECT_EQ(ModelSlices(), 0);
    EXPECT_EQ(zv::testing::LiveObjects(ZV_TYPE_POLAR), 0);
    ASSERT_EQ(Send(SliceBatch(1, {{3, Circle(20, 80)}})), 1);
    EXPECT_EQ(ModelSlices(), 1);

    // A failing send of the statistics has counted the object already; the
    // model stays for the next end.
    zv::testing::FailCall("zvPipeEngineSend", 1, -79);
    EXPECT_EQ(Send(ObjectEnd()), -79);
    EXPECT_EQ(State()->objectCount, 1u);
    EXPECT_EQ(ModelSlices(), 1);
    ASSERT_EQ(Send(ObjectEnd()), 1);
    EXPECT_EQ(TableValue(runner_->OutputsTo("Statistics").back().object, "Object Count"), "2");
    EXPECT_EQ(runner_->OutputsTo("Detection").size(), 1u);

    // An open model is released by the stop handler.
    ASSERT_EQ(Send(SliceBatch(1, {{9, Circle(20, 80)}})), 1);
    EXPECT_EQ(runner_->Stop(), 1);
}

}  // namespace
}  // namespace modes_test
