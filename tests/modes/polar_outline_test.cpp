// The polar outline arithmetic: centres, polar form, the angle sort and the
// resampling to 360 radii, checked against an independent computation.
#include "modes/polar_outline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "support/fault_loop.hpp"
#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

// ---- Independent models of the resampling -------------------------------------
// The exact model carries every value in 128 bits, as the outline must come
// out whatever the radii. The station's model reduces every step modulo 2^32
// and also says, bin by bin, whether any step of it wrapped: where none did,
// the two must agree. The shift is a floor division, the quotient a
// truncating one.
using Wide = __int128;

int64_t W(int64_t v) {
    int64_t m = v % 4294967296LL;
    if (m < 0) m += 4294967296LL;
    return m >= 2147483648LL ? m - 4294967296LL : m;
}
Wide Floor16(Wide v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); }
int32_t ClampRadius(Wide v) { return v <= 0 ? 0 : (v >= 30000 ? 30000 : static_cast<int32_t>(v)); }
bool Fits32(Wide v) { return v >= INT32_MIN && v <= INT32_MAX; }

struct Model {
    std::vector<int32_t> radii;
    std::vector<bool> wrapped;  // the station's model: a step of this bin wrapped
};

Model ReferenceResample(std::vector<zvPoint32s> polar, int32_t n, bool wrapping) {
    Model m{std::vector<int32_t>(static_cast<size_t>(n), -1), std::vector<bool>(static_cast<size_t>(n), false)};
    if (polar.empty()) return {std::vector<int32_t>(static_cast<size_t>(n), 0), m.wrapped};
    if (polar.size() == 1) return {std::vector<int32_t>(static_cast<size_t>(n), ClampRadius(polar[0].y)), m.wrapped};
    if (polar.front().x > polar.back().x) std::reverse(polar.begin(), polar.end());
    const Wide step = static_cast<Wide>(628318.5307179586 / n);
    Wide e = 0, f = 0;
    bool lineWrapped = false;
    const auto value = [&](int64_t i) {
        const Wide exact = f + e * (i * step);
        // Products that wrap cancel out modulo 2^32 as long as the line's
        // slope and the value itself fit.
        const bool wraps = lineWrapped || !Fits32(exact);
        m.wrapped[static_cast<size_t>(i)] = wraps;
        return ClampRadius(Floor16(wrapping ? W(W(f) + W(W(e) * W(i * step))) : exact));
    };
    int64_t i = 0;
    for (size_t k = 0; k + 1 < polar.size(); ++k) {
        const Wide pa = polar[k].x, pr = polar[k].y, qa = polar[k + 1].x, qr = polar[k + 1].y;
        const Wide shifted = (pr - qr) * 65536;
        e = pa == qa ? 0 : (wrapping ? W(W(shifted) / W(pa - qa)) : shifted / (pa - qa));
        f = wrapping ? W(W(pr * 65536) - W(pa * e)) : pr * 65536 - pa * e;
        lineWrapped = !Fits32(shifted) || !Fits32(pr * 65536);
        while (i < n && i * step < pa) m.radii[static_cast<size_t>(i++)] = ClampRadius(pr);
        for (; i < n && i * step < qa; ++i) m.radii[static_cast<size_t>(i)] = value(i);
    }
    for (; i < n; ++i) m.radii[static_cast<size_t>(i)] = value(i);
    return m;
}

std::vector<int32_t> Resample(const std::vector<zvPoint32s>& polar, int32_t n) {
    std::vector<int32_t> radii(static_cast<size_t>(n), -7);
    ResampleOutlinePoints(polar.data(), static_cast<int32_t>(polar.size()), n, radii.data());
    return radii;
}

// Random sorted polar lists: narrow angle ranges give ties, negative radii
// negative interpolations.
std::vector<zvPoint32s> RandomPolar(std::mt19937& random, int trial, int radiusMax) {
    const int count = std::uniform_int_distribution<int>(2, trial % 5 == 0 ? 3000 : 200)(random);
    const int angleMax = trial % 3 == 0 ? 2000 : 628318;
    const int radiusMin = trial % 4 == 0 ? -5000 : 0;
    std::uniform_int_distribution<int> angle(0, angleMax), radius(radiusMin, radiusMax);
    std::vector<zvPoint32s> polar(static_cast<size_t>(count));
    for (auto& p : polar) p = zvPoint32s{angle(random), radius(random)};
    std::stable_sort(polar.begin(), polar.end(), [](auto a, auto b) { return a.x < b.x; });
    if (trial % 2 == 1) std::reverse(polar.begin(), polar.end());
    return polar;
}

TEST(ResampleOutline, MatchesAnIndependentComputationOnRandomLists) {
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 400; ++trial) {
        SCOPED_TRACE(trial);
        // Radii of large objects, up to what a point 2^31 mils away gives.
        const int radiusMax = trial % 7 == 0 ? INT32_MAX : trial % 3 == 0 ? 200000 : 35000;
        const std::vector<zvPoint32s> polar = RandomPolar(random, trial, radiusMax);
        const int32_t bins = trial % 10 == 0 ? std::uniform_int_distribution<int>(1, 2000)(random) : 360;
        EXPECT_EQ(Resample(polar, bins), ReferenceResample(polar, bins, false).radii);
    }
}

// Below 32768 mils every bin whose steps the station's 32-bit arithmetic
// did not wrap comes out as it always did.
TEST(ResampleOutline, UnchangedWhereTheStationArithmeticDidNotWrap) {
    std::mt19937 random(4711);
    int64_t compared = 0, bins = 0;
    for (int trial = 0; trial < 400; ++trial) {
        SCOPED_TRACE(trial);
        const std::vector<zvPoint32s> polar = RandomPolar(random, trial, 32767);
        const std::vector<int32_t> now = Resample(polar, 360);
        const Model before = ReferenceResample(polar, 360, true);
        for (size_t i = 0; i < now.size(); ++i) {
            ++bins;
            if (before.wrapped[i]) continue;
            ++compared;
            EXPECT_EQ(now[i], before.radii[i]) << "bin " << i;
        }
    }
    // Lists of a narrow angle range extrapolate most bins far past their
    // last point, where the 32-bit steps wrap.
    EXPECT_GT(compared, bins / 10);
}

// An object of 33000 mils and more is drawn at 30000, not at 0.
TEST(ResampleOutline, LargeObjectsAreStoredAtTheLargestRadius) {
    for (int32_t radius : {29999, 30000, 32767, 32768, 33000, 46341, 70000, 1000000}) {
        SCOPED_TRACE(radius);
        std::vector<zvPoint32s> circle;
        for (int32_t k = 0; k < 720; ++k) {
            const double a = 2 * M_PI * k / 720;
            circle.push_back(zvPoint32s{static_cast<int32_t>(std::lround(radius * std::cos(a))),
                                        static_cast<int32_t>(std::lround(radius * std::sin(a)))});
        }
        std::vector<zvPoint32s> polar(circle.size()), scratch(circle.size());
        const int32_t n = ToPolarPoints(circle.data(), static_cast<int32_t>(circle.size()), 0, 0, polar.data());
        SortByAngle(polar.data(), n, scratch.data());
        polar.resize(static_cast<size_t>(n));
        for (int32_t r : Resample(polar, 360)) EXPECT_NEAR(r, std::min(radius, 30000), 2);
    }
}

TEST(ResampleOutline, BinsBeforeTheFirstPointTakeItsRadius) {
    // Bins 0, 1745 and 3490 lie before the point at 5000.
    const std::vector<int32_t> radii = Resample({{5000, 1234}, {10000, 2234}}, 360);
    EXPECT_EQ(radii[0], 1234);
    EXPECT_EQ(radii[1], 1234);
    EXPECT_EQ(radii[2], 1234);
    // Bin 3 (5235) on the line, whose 16.16 slope is truncated: 1280, not
    // the 1281 of exact arithmetic.
    EXPECT_EQ(radii[3], 1280);
    EXPECT_EQ(radii, ReferenceResample({{5000, 1234}, {10000, 2234}}, 360, false).radii);
}

TEST(ResampleOutline, ClampsToTheDisplayRange) {
    // A steeply falling line ends below zero; a far point stands at 30000.
    const std::vector<int32_t> falling = Resample({{0, 20000}, {1745, 100}}, 360);
    EXPECT_EQ(falling[0], 20000);
    EXPECT_EQ(falling[5], 0);
    EXPECT_EQ(falling, ReferenceResample({{0, 20000}, {1745, 100}}, 360, false).radii);
    const std::vector<int32_t> far = Resample({{100, 31000}, {600000, 31000}}, 360);
    EXPECT_EQ(far[0], 30000);
    EXPECT_EQ(far[200], 30000);
}

TEST(ResampleOutline, ShortListsAndBadArguments) {
    EXPECT_EQ(Resample({}, 4), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(Resample({{300000, 40000}}, 3), (std::vector<int32_t>{30000, 30000, 30000}));
    EXPECT_EQ(Resample({{300000, 77}}, 2), (std::vector<int32_t>{77, 77}));

    zv::OwnedList polar;
    zv::OwnedArray radii, bytes;
    ASSERT_GT(zvArrayListCreate(polar.Out(), nullptr), 0);
    ASSERT_GT(zvArrayListInit(polar, ZV_TYPE_POINT32, 4, 1), 0);
    ASSERT_GT(zvArray1Create(radii.Out(), nullptr, ZV_TYPE_INT32, 360), 0);
    ASSERT_GT(zvArray1Create(bytes.Out(), nullptr, ZV_TYPE_UINT8, 360), 0);
    const zvPoint32s p{10, 500};
    ASSERT_GT(zvArrayListAdd(polar, &p), 0);
    EXPECT_EQ(ResampleOutline(polar, 0, radii), ZV_E_ARGUMENT);
    EXPECT_EQ(ResampleOutline(polar, 361, radii), ZV_E_RANGE);
    EXPECT_EQ(ResampleOutline(polar, 360, bytes), ZV_E_TYPE);
    EXPECT_EQ(ResampleOutline(radii, 360, radii), ZV_E_HANDLE);
    EXPECT_EQ(ResampleOutline(polar, 360, radii), ZV_OK);
    EXPECT_EQ(static_cast<int32_t*>(zvArray1Data(radii))[359], 500);
}

TEST(ToPolar, AnglesRunFromPlusXTowardsPlusY) {
    struct Case {
        zvPoint32s point;
        int32_t angle;
        int32_t radius;
    };
    const Case cases[] = {
        {{1000, 0}, 0, 1000},       {{0, 1000}, 157079, 1000},   {{-1000, 0}, 314159, 1000},
        {{0, -1000}, 471238, 1000}, {{1000, 1000}, 78539, 1414}, {{-1000, -1000}, 392699, 1414},
        {{1000, -1}, 628218, 1000}, {{3, 4}, 92729, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
        zvPoint32s out{-1, -1};
        // Around (100, -200): the offsets are what counts.
        const zvPoint32s in{c.point.x + 100, c.point.y - 200};
        ASSERT_EQ(ToPolarPoints(&in, 1, 100, -200, &out), 1);
        EXPECT_EQ(out.x, c.angle);
        EXPECT_EQ(out.y, c.radius);
    }
}

TEST(ToPolar, LeavesOutPointsWithoutAnAngle) {
    // A null pair and a point at the centre have no angle; the others keep
    // their order.
    const std::vector<zvPoint32s> in = {
        {INT32_MIN, INT32_MIN},
        {5, 5},
        {5 + 100, 5},
        {5, 5 - 7},
    };
    std::vector<zvPoint32s> out(in.size());
    ASSERT_EQ(ToPolarPoints(in.data(), static_cast<int32_t>(in.size()), 5, 5, out.data()), 2);
    EXPECT_EQ(out[0].x, 0);
    EXPECT_EQ(out[0].y, 100);
    EXPECT_EQ(out[1].x, 471238);
    EXPECT_EQ(out[1].y, 7);
}

// From 46341 mils on, dx² + dy² no longer fits 32 bits: far points keep
// their true radius and angle.
TEST(ToPolar, FarPointsKeepTheirRadius) {
    struct Case {
        zvPoint32s point;
        zvPoint32s centre;
        int32_t angle;
        int32_t radius;
    };
    const Case cases[] = {
        {{46340, 0}, {0, 0}, 0, 46340},
        {{46341, 0}, {0, 0}, 0, 46341},
        {{70000, 0}, {0, 0}, 0, 70000},
        {{0, -50000}, {0, 0}, 471238, 50000},
        {{-40000, 40000}, {0, 0}, 235619, 56568},
        {{2000000000, 0}, {-2000000000, 0}, 0, INT32_MAX},  // 4e9 mils away: stored as the largest
        {{INT32_MAX, INT32_MAX}, {INT32_MIN + 1, INT32_MIN + 1}, 78539, INT32_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
        zvPoint32s out{-1, -1};
        ASSERT_EQ(ToPolarPoints(&c.point, 1, c.centre.x, c.centre.y, &out), 1);
        EXPECT_EQ(out.x, c.angle);
        EXPECT_EQ(out.y, c.radius);
    }
}

TEST(SliceCentre, IntegerMeanOfTheMeasuredPoints) {
    struct Case {
        std::vector<zvPoint32s> points;
        int32_t x, y;
    };
    const Case cases[] = {
        {{{1, 2}, {2, 5}}, 1, 3},
        {{{-1, -3}, {-2, 0}}, -1, -1},  // truncated toward zero
        {{{INT32_MIN, INT32_MIN}, {10, 20}, {INT32_MIN, INT32_MIN}}, 10, 20},
        {{{INT32_MIN, INT32_MIN}}, 0, 0},
        {{}, 0, 0},
        // The sums wrap in 32 bits.
        {{{2000000000, 0}, {2000000000, 0}}, static_cast<int32_t>(4000000000u) / 2, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const zvPoint32s c = SliceCentre(cases[i].points.data(), static_cast<int32_t>(cases[i].points.size()));
        EXPECT_EQ(c.x, cases[i].x);
        EXPECT_EQ(c.y, cases[i].y);
    }
}

TEST(SortByAngle, OrdersAsTheStableQsortDoes) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE(trial);
        const int count = std::uniform_int_distribution<int>(0, 5000)(random);
        // Few distinct angles: many ties, which keep their order.
        std::uniform_int_distribution<int> angle(0, trial % 2 ? 50 : 628318);
        std::vector<zvPoint32s> points(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) points[static_cast<size_t>(i)] = zvPoint32s{angle(random), i};
        std::vector<zvPoint32s> expected = points;
        std::stable_sort(expected.begin(), expected.end(), [](auto a, auto b) { return a.x < b.x; });
        std::vector<zvPoint32s> scratch(points.size());
        SortByAngle(points.data(), count, scratch.data());
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(points[static_cast<size_t>(i)].x, expected[static_cast<size_t>(i)].x) << i;
            ASSERT_EQ(points[static_cast<size_t>(i)].y, expected[static_cast<size_t>(i)].y) << i;
        }
    }
    // Angles outside a slice's range are still sorted.
    std::vector<zvPoint32s> odd = {{INT32_MAX, 0}, {-5, 1}, {INT32_MIN, 2}, {-5, 3}};
    std::vector<zvPoint32s> scratch(odd.size());
    SortByAngle(odd.data(), 4, scratch.data());
    EXPECT_EQ(odd[0].y, 2);
    EXPECT_EQ(odd[1].y, 1);
    EXPECT_EQ(odd[2].y, 3);
    EXPECT_EQ(odd[3].y, 0);
}

TEST(CompareAngle, SignOfTheAngleDifference) {
    const zvPoint32s a{INT32_MAX, 0}, b{-1, 0}, c{-1, 9};
    EXPECT_GT(CompareAngle(&a, &b), 0);  // no overflow of the difference
    EXPECT_LT(CompareAngle(&b, &a), 0);
    EXPECT_EQ(CompareAngle(&b, &c), 0);
}

TEST(TruncatedLow32, TruncatesAndKeepsTheLowBits) {
    struct Case {
        double value;
        int32_t expected;
    };
    const Case cases[] = {
        {1.9, 1},           {-1.9, -1},    {4294967301.5, 5}, {-4294967301.0, -5}, {2147483648.0, INT32_MIN},
        {1e20, 1661992960}, {-1e300, 0},  // a multiple of 2^32
        {std::nan(""), 0},  {INFINITY, 0}, {-INFINITY, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(TruncatedLow32(c.value), c.expected);
    }
}

}  // namespace

// ---- The platform's polar outlines and models ------------------------------------
namespace {

zvHandle Outline(int32_t first, int32_t z) {
    zvHandle outline = nullptr;
    EXPECT_GT(zvPolarCreate(&outline, nullptr), 0);
    EXPECT_GT(zvPolarInit(outline, 360), 0);
    EXPECT_GT(zvPolarSetCenter(outline, 10, 20, z), 0);
    int32_t* radii = zvPolarPoints(outline);
    for (int32_t i = 0; i < 360; ++i) radii[i] = first + i;
    return outline;
}

TEST(PolarModel, OwnsItsOutlinesAndKeepsTheirShape) {
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    zvHandle model = nullptr;
    ASSERT_GT(zvPolarModelCreate(&model, nullptr), 0);
    zvHandle early = Outline(0, 0);
    EXPECT_EQ(zvPolarModelAdd(model, early), ZV_E_STATE);  // not initialised yet
    EXPECT_EQ(zvPolarModelInit(model, 360, 11), ZV_E_ARGUMENT);
    ASSERT_GT(zvPolarModelInit(model, 360, 5), 0);
    ASSERT_GT(zvPolarModelAdd(model, early), 0);
    EXPECT_EQ(zvPolarModelAdd(model, early), ZV_E_STATE);  // already the model's
    EXPECT_EQ(zvPolarDestroy(early), ZV_E_STATE);
    EXPECT_EQ(zvPolarInit(early, 10), ZV_E_STATE);
    EXPECT_EQ(zvPolarModelInit(model, 180, 5), ZV_E_STATE);  // its outlines fix the shape
    zvHandle narrow = nullptr;
    ASSERT_GT(zvPolarCreate(&narrow, nullptr), 0);
    ASSERT_GT(zvPolarInit(narrow, 180), 0);
    EXPECT_EQ(zvPolarModelAdd(model, narrow), ZV_E_ARGUMENT);
    EXPECT_GT(zvPolarDestroy(narrow), 0);
    ASSERT_GT(zvPolarModelAdd(model, Outline(1000, 7)), 0);
    int32_t count = -1;
    ASSERT_GT(zvPolarModelSliceCount(model, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(zvPolarModelSliceAt(model, 2), nullptr);
    EXPECT_EQ(zvPolarModelSliceAt(model, -1), nullptr);
    count = -1;
    EXPECT_EQ(zvPolarModelSliceCount(nullptr, &count), ZV_E_HANDLE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(zvPolarPoints(model), nullptr);
    EXPECT_GT(zvPolarModelDestroy(model), 0);
    EXPECT_EQ(zv::testing::LiveObjects(), objects);
    EXPECT_EQ(zv::testing::LiveBytes(), bytes);
}

TEST(PolarModel, ClonesWithAnAllocatorEvenWhenMemoryRunsOut) {
    const int64_t objects = zv::testing::LiveObjects();
    const int64_t bytes = zv::testing::LiveBytes();
    zvHandle client = nullptr, engine = nullptr, model = nullptr;
    ASSERT_GT(zvClientCreate(&client), 0);
    ASSERT_GT(zvPipeEngineCreate(&engine, client), 0);
    zvAllocator output = nullptr;
    ASSERT_GT(zvPipeEngineOutputAlloc(engine, &output), 0);
    ASSERT_GT(zvPolarModelCreate(&model, nullptr), 0);
    ASSERT_GT(zvPolarModelInit(model, 360, 5), 0);
    ASSERT_GT(zvPolarModelAdd(model, Outline(0, 0)), 0);
    ASSERT_GT(zvPolarModelAdd(model, Outline(500, 9)), 0);
    ASSERT_GT(zvDataSetLabel(model, "Detection"), 0);

    zvtest::FaultLoop loop;
    loop.operation = [&] {
        zvHandle made = nullptr;
        const zvStatus status = zvDataClone(model, output, &made);
        if (status <= 0) {
            EXPECT_EQ(made, nullptr);
        }
        zvPolarModelDestroy(made);
        return status;
    };
    loop.calls = {"zvDataClone"};
    EXPECT_GT(loop.Run(), 5);  // every allocation of the copy was made to fail once
    zvHandle copy = nullptr;
    ASSERT_GT(zvDataClone(model, output, &copy), 0);
    EXPECT_STREQ(zvDataLabel(copy), "Detection");
    EXPECT_EQ(zvPolarModelSmoothing(copy), 5);
    EXPECT_GT(zvPolarModelDestroy(model), 0);  // the copy is independent
    int32_t count = 0;
    ASSERT_GT(zvPolarModelSliceCount(copy, &count), 0);
    ASSERT_EQ(count, 2);
    zvHandle second = zvPolarModelSliceAt(copy, 1);
    int32_t x = 0, y = 0, z = 0;
    ASSERT_GT(zvPolarCenter(second, &x, &y, &z), 0);
    EXPECT_EQ(z, 9);
    EXPECT_EQ(zvPolarPoints(second)[359], 859);
    // The engine owns the copy and releases it with itself.
    EXPECT_GT(zvPipeEngineDestroy(engine), 0);
    EXPECT_EQ(zvObjectType(copy), 0);
    EXPECT_GT(zvClientDestroy(client), 0);
    EXPECT_EQ(zv::testing::LiveObjects(), objects);
    EXPECT_EQ(zv::testing::LiveBytes(), bytes);
}

}  // namespace
