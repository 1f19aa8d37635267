// Read-back calls of results, graphics and polar models: a null out-pointer
// is refused, a call on a dead or foreign object leaves no stale answer, and
// an index outside the object is ZV_E_RANGE with the answer untouched.
#include <gtest/gtest.h>

#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

TEST(ReadBack, ResultAnswersAreClearedOnEveryFailure) {
    zv::testing::Scope scope;
    zvHandle result = nullptr;
    ASSERT_EQ(zvResultCreate(&result, nullptr), ZV_OK);
    const int64_t attributes[] = {7, 11};
    ASSERT_EQ(zvResultInit(result, 42, attributes, 2), ZV_OK);
    zvHandle graphic = nullptr;  // a live object of another type
    ASSERT_EQ(zvGraphicCreate(&graphic, nullptr), ZV_OK);

    struct Case {
        const char* name;
        zvHandle handle;
        zvStatus expected;
    };
    for (const Case& c : {Case{"foreign", graphic, ZV_E_TYPE}, Case{"null", nullptr, ZV_E_HANDLE}}) {
        SCOPED_TRACE(c.name);
        int64_t id = -1;
        int32_t count = -1;
        int64_t value = -1;
        zvHandle data = graphic;
        const int64_t* all = attributes;
        EXPECT_EQ(zvResultId(c.handle, &id), c.expected);
        EXPECT_EQ(id, 0);
        EXPECT_EQ(zvResultCount(c.handle, &count), c.expected);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(zvResultAttributeAt(c.handle, 0, &value), c.expected);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(zvResultData(c.handle, 0, &data), c.expected);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(zvResultAttributes(c.handle, &all), c.expected);
        EXPECT_EQ(all, nullptr);
    }

    EXPECT_EQ(zvResultId(result, nullptr), ZV_E_ARGUMENT);
    EXPECT_EQ(zvResultAttributeCount(result, nullptr), ZV_E_ARGUMENT);
    int64_t value = -1;
    EXPECT_EQ(zvResultAttributeAt(result, 2, &value), ZV_E_RANGE);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(zvResultAttributeAt(result, -1, &value), ZV_E_RANGE);
    ASSERT_EQ(zvResultAttributeAt(result, 1, &value), ZV_OK);
    EXPECT_EQ(value, 11);
    zvHandle data = graphic;
    EXPECT_EQ(zvResultData(result, 0, &data), ZV_E_RANGE);
    EXPECT_EQ(data, nullptr);

    EXPECT_EQ(zvGraphicDestroy(graphic), ZV_OK);
    EXPECT_EQ(zvObjectDestroy(result), ZV_OK);
}

TEST(ReadBack, GraphicTablesCheckTheGraphicBeforeTheAnswer) {
    zv::testing::Scope scope;
    zvHandle graphic = nullptr;
    ASSERT_EQ(zvGraphicCreate(&graphic, nullptr), ZV_OK);
    ASSERT_EQ(zvGraphicInit(graphic), ZV_OK);
    ASSERT_EQ(zvGraphicAddPen(graphic, 0xFF00FF00u, 2.0f), 0);
    ASSERT_EQ(zvGraphicAddSolidBrush(graphic, 0xFF0000FFu), 0);

    // No graphic: its lookup status, even with no place for the answer.
    EXPECT_EQ(zvGraphicPenAt(nullptr, 0, nullptr), ZV_E_HANDLE);
    EXPECT_EQ(zvGraphicDrawingAt(nullptr, 0, nullptr), ZV_E_HANDLE);
    EXPECT_EQ(zvGraphicPenCount(nullptr), 0);
    EXPECT_EQ(zvGraphicBrushAt(graphic, 0, nullptr), ZV_E_ARGUMENT);
    EXPECT_EQ(zvGraphicDrawingAt(graphic, 0, nullptr), ZV_E_ARGUMENT);

    zvPen pen{1u, 1.0f};
    EXPECT_EQ(zvGraphicPenAt(graphic, 1, &pen), ZV_E_RANGE);
    EXPECT_EQ(pen.argb, 1u);  // untouched
    ASSERT_EQ(zvGraphicPenAt(graphic, 0, &pen), ZV_OK);
    EXPECT_EQ(pen.argb, 0xFF00FF00u);
    EXPECT_FLOAT_EQ(pen.width, 2.0f);
    uint32_t argb = 0;
    ASSERT_EQ(zvGraphicBrushAt(graphic, 0, &argb), ZV_OK);
    EXPECT_EQ(argb, 0xFF0000FFu);
    EXPECT_EQ(zvGraphicBrushCount(graphic), 1);
    zvDrawing drawing{};
    EXPECT_EQ(zvGraphicDrawingAt(graphic, 0, &drawing), ZV_E_RANGE);
    EXPECT_EQ(zvGraphicDrawingCount(graphic), 0);

    EXPECT_EQ(zvGraphicDestroy(graphic), ZV_OK);
}

TEST(ReadBack, PolarModelSlicesAreCountedAndIndexed) {
    zv::testing::Scope scope;
    zvHandle model = nullptr;
    ASSERT_EQ(zvPolarModelCreate(&model, nullptr), ZV_OK);
    ASSERT_EQ(zvPolarModelInit(model, 4, 0), ZV_OK);
    zvHandle polar = nullptr;
    ASSERT_EQ(zvPolarCreate(&polar, nullptr), ZV_OK);
    ASSERT_EQ(zvPolarInit(polar, 4), ZV_OK);
    ASSERT_EQ(zvPolarModelAdd(model, polar), ZV_OK);

    int32_t count = -1;
    EXPECT_EQ(zvPolarModelSliceCount(model, nullptr), ZV_E_ARGUMENT);
    EXPECT_EQ(zvPolarModelSliceCount(polar, &count), ZV_E_TYPE);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(zvPolarModelSliceCount(model, &count), ZV_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(zvPolarModelSliceAt(model, 0), polar);
    EXPECT_EQ(zvPolarModelSliceAt(model, 1), nullptr);
    EXPECT_EQ(zvPolarModelSliceAt(model, -1), nullptr);

    EXPECT_EQ(zvPolarModelDestroy(model), ZV_OK);
}

}  // namespace
