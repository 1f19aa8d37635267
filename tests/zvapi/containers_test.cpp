// Strings, array lists, arrays and images.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "support/fault_loop.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using zv::testing::LiveBytes;
using zv::testing::LiveObjects;

zvHandle MakeString(const char* text) {
    zvHandle s = nullptr;
    EXPECT_EQ(zvStringCreate(&s, nullptr), ZV_OK);
    EXPECT_EQ(zvStringImport(s, text), ZV_OK);
    return s;
}

zvHandle MakeList(int32_t itemType, int32_t plain, int32_t capacity = 0) {
    zvHandle list = nullptr;
    EXPECT_EQ(zvArrayListCreate(&list, nullptr), ZV_OK);
    EXPECT_EQ(zvArrayListInit(list, itemType, capacity, plain), ZV_OK);
    return list;
}

TEST(Strings, ImportReplacesAndGrowsIncludingItsOwnText) {
    zv::testing::Scope scope;
    zvHandle s = nullptr;
    ASSERT_EQ(zvStringCreate(&s, nullptr), ZV_OK);
    EXPECT_STREQ(zvStringChars(s), "");
    ASSERT_EQ(zvStringInit(s, 4), ZV_OK);
    ASSERT_EQ(zvStringImport(s, "a longer text than the capacity"), ZV_OK);
    EXPECT_STREQ(zvStringChars(s), "a longer text than the capacity");
    ASSERT_EQ(zvStringImport(s, zvStringChars(s) + 2), ZV_OK);
    EXPECT_STREQ(zvStringChars(s), "longer text than the capacity");
    EXPECT_EQ(zvStringImport(s, nullptr), ZV_E_ARGUMENT);
    EXPECT_EQ(zvStringInit(s, -1), ZV_E_ARGUMENT);
    EXPECT_EQ(zvStringChars(nullptr), nullptr);
    EXPECT_EQ(zvObjectDestroy(s), ZV_OK);
    EXPECT_EQ(zvStringChars(s), nullptr);
}

TEST(Strings, FailedGrowthKeepsTheOldText) {
    zv::testing::Scope scope;
    zvHandle s = MakeString("keep");
    zv::testing::FailAllocation(1);
    EXPECT_EQ(zvStringImport(s, "a text that needs a bigger block"), ZV_E_NOMEM);
    EXPECT_STREQ(zvStringChars(s), "keep");
    zvObjectDestroy(s);
}

TEST(ArrayLists, AddCopiesAndResizeZeroFillsWhatBecomesVisible) {
    zv::testing::Scope scope;
    const int64_t bytesBefore = LiveBytes();
    zvHandle list = MakeList(ZV_TYPE_POINT32, 1);
    for (int32_t i = 0; i < 100; ++i) {
        zvPoint32s p{i, -i};
        ASSERT_EQ(zvArrayListAdd(list, &p), ZV_OK);
        p.x = 9999;  // the list holds its own copy
    }
    ASSERT_EQ(zvArrayListCount(list), 100);
    EXPECT_EQ(zvArrayListItemSize(list), 8);
    EXPECT_EQ(zvArrayListItemType(list), ZV_TYPE_POINT32);
    auto* p = static_cast<zvPoint32s*>(zvArrayListAt(list, 99));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->x, 99);
    EXPECT_EQ(p->y, -99);
    EXPECT_EQ(zvArrayListAt(list, 100), nullptr);
    EXPECT_EQ(zvArrayListAt(list, -1), nullptr);

    // Shrink, then grow again: the reappearing items are zero, not stale.
    ASSERT_EQ(zvArrayListResize(list, 10), ZV_OK);
    ASSERT_EQ(zvArrayListResize(list, 500), ZV_OK);
    ASSERT_EQ(zvArrayListCount(list), 500);
    auto* data = static_cast<zvPoint32s*>(zvArrayListData(list));
    EXPECT_EQ(data[9].x, 9);
    for (int32_t i = 10; i < 500; ++i) {
        ASSERT_EQ(data[i].x, 0) << i;
        ASSERT_EQ(data[i].y, 0) << i;
    }
    EXPECT_GT(LiveBytes(), bytesBefore);
    EXPECT_EQ(zvArrayListResize(list, -1), ZV_E_ARGUMENT);
    EXPECT_EQ(zvArrayListDestroy(list), ZV_OK);
    EXPECT_EQ(LiveBytes(), bytesBefore);
}

TEST(ArrayLists, RemoveMovesLaterItemsDown) {
    zv::testing::Scope scope;
    zvHandle list = MakeList(ZV_TYPE_INT32, 1);
    for (int32_t v : {10, 11, 12, 13}) ASSERT_EQ(zvArrayListAdd(list, &v), ZV_OK);
    ASSERT_EQ(zvArrayListRemove(list, 1), ZV_OK);
    ASSERT_EQ(zvArrayListCount(list), 3);
    const auto* v = static_cast<const int32_t*>(zvArrayListData(list));
    EXPECT_EQ(v[0], 10);
    EXPECT_EQ(v[1], 12);
    EXPECT_EQ(v[2], 13);
    EXPECT_EQ(zvArrayListRemove(list, 3), ZV_E_RANGE);
    EXPECT_EQ(zvArrayListRemove(list, -1), ZV_E_RANGE);
    zvArrayListDestroy(list);
}

TEST(ArrayLists, RefusesBadUseWithAStatus) {
    zv::testing::Scope scope;
    zvHandle list = nullptr;
    ASSERT_EQ(zvArrayListCreate(&list, nullptr), ZV_OK);
    int32_t v = 1;
    EXPECT_EQ(zvArrayListAdd(list, &v), ZV_E_STATE);  // before Init
    EXPECT_EQ(zvArrayListInit(list, 12345, 0, 1), ZV_E_UNSUPPORTED);
    EXPECT_EQ(zvArrayListInit(list, ZV_TYPE_INT32, -1, 1), ZV_E_ARGUMENT);
    ASSERT_EQ(zvArrayListInit(list, ZV_TYPE_INT32, 0, 1), ZV_OK);
    EXPECT_EQ(zvArrayListAdd(list, nullptr), ZV_E_ARGUMENT);
    EXPECT_EQ(zvArrayListCount(nullptr), 0);
    EXPECT_EQ(zvArrayListAdd(nullptr, &v), ZV_E_HANDLE);

    zvHandle s = MakeString("x");
    EXPECT_EQ(zvArrayListAdd(s, &v), ZV_E_TYPE);
    zvObjectDestroy(s);
    zvArrayListDestroy(list);
}

TEST(ArrayLists, HugeCountsFailCleanlyInsteadOfWrapping) {
    zv::testing::Scope scope;
    zvHandle list = MakeList(ZV_TYPE_SENSOR_ENTRY, 1);
    EXPECT_EQ(zvArrayListResize(list, INT32_MAX), ZV_E_NOMEM);
    EXPECT_EQ(zvArrayListCount(list), 0);
    zvHandle other = nullptr;
    ASSERT_EQ(zvArrayListCreate(&other, nullptr), ZV_OK);
    EXPECT_EQ(zvArrayListInit(other, ZV_TYPE_SENSOR_ENTRY, INT32_MAX, 1), ZV_E_NOMEM);
    zvArrayListDestroy(other);
    zvArrayListDestroy(list);
}

TEST(ArrayLists, GrowthFaultsLeaveTheListAsItWas) {
    // Every growth fails in turn; a failed add keeps the items added so far.
    zvtest::FaultLoop loop;
    loop.operation = [] {
        zvHandle list = nullptr;
        zvStatus status = zvArrayListCreate(&list, nullptr);
        if (status > 0) status = zvArrayListInit(list, ZV_TYPE_INT32, 0, 1);
        for (int32_t v = 0; v < 200 && status > 0; ++v) {
            status = zvArrayListAdd(list, &v);
            const int32_t kept = status > 0 ? v + 1 : v;
            EXPECT_EQ(zvArrayListCount(list), kept);
            for (int32_t i = 0; i < kept; ++i) EXPECT_EQ(*static_cast<int32_t*>(zvArrayListAt(list, i)), i);
        }
        zvArrayListDestroy(list);
        return status;
    };
    loop.calls = {"zvArrayListAdd"};
    EXPECT_GT(loop.Run(), 200);

    zv::testing::Scope scope;
    zvHandle list = MakeList(ZV_TYPE_INT32, 1);
    for (int32_t v = 0; v < 200; ++v) ASSERT_EQ(zvArrayListAdd(list, &v), ZV_OK);
    zv::testing::FailAllocation(1);
    EXPECT_EQ(zvArrayListResize(list, 100000), ZV_E_NOMEM);
    EXPECT_EQ(zvArrayListCount(list), 200);
    zvArrayListDestroy(list);
}

TEST(ArrayLists, OwningListsFreeNestedItems) {
    zv::testing::Scope scope;
    const int64_t objects = LiveObjects();
    const int64_t bytes = LiveBytes();
    // The statistics table shape: a list of rows, each a list of strings.
    zvHandle table = MakeList(ZV_TYPE_ARRAYLIST, 0);
    for (int r = 0; r < 3; ++r) {
        zvHandle row = MakeList(ZV_TYPE_STRING, 0);
        for (const char* cell : {"Name", "Value"}) {
            zvHandle s = MakeString(cell);
            ASSERT_EQ(zvArrayListAdd(row, &s), ZV_OK);
            EXPECT_EQ(zvObjectDestroy(s), ZV_E_STATE);  // the row owns it now
        }
        ASSERT_EQ(zvArrayListAdd(table, &row), ZV_OK);
    }
    EXPECT_EQ(LiveObjects(), objects + 1 + 3 + 6);

    // Removing and shrinking destroy what they drop.
    ASSERT_EQ(zvArrayListRemove(table, 0), ZV_OK);
    EXPECT_EQ(LiveObjects(), objects + 1 + 2 + 4);
    zvHandle row = *static_cast<zvHandle*>(zvArrayListAt(table, 0));
    ASSERT_EQ(zvArrayListResize(row, 1), ZV_OK);
    EXPECT_EQ(LiveObjects(), objects + 1 + 2 + 3);

    EXPECT_EQ(zvArrayListDestroy(table), ZV_OK);
    EXPECT_EQ(LiveObjects(), objects);
    EXPECT_EQ(LiveBytes(), bytes);
}

TEST(ArrayLists, OwningListsRefuseSecondOwnersCyclesAndWrongTypes) {
    zv::testing::Scope scope;
    zvHandle outer = MakeList(ZV_TYPE_ARRAYLIST, 0);
    zvHandle inner = MakeList(ZV_TYPE_ARRAYLIST, 0);
    EXPECT_EQ(zvArrayListAdd(outer, &outer), ZV_E_STATE);
    ASSERT_EQ(zvArrayListAdd(outer, &inner), ZV_OK);
    EXPECT_EQ(zvArrayListAdd(outer, &inner), ZV_E_STATE);
    EXPECT_EQ(zvArrayListAdd(inner, &outer), ZV_E_STATE);

    zvHandle s = MakeString("x");
    EXPECT_EQ(zvArrayListAdd(outer, &s), ZV_E_TYPE);
    zvHandle dead = MakeString("y");
    zvObjectDestroy(dead);
    zvHandle strings = MakeList(ZV_TYPE_STRING, 0);
    EXPECT_EQ(zvArrayListAdd(strings, &dead), ZV_E_HANDLE);

    // A plain handle list holds values only and destroys nothing.
    zvHandle plain = MakeList(ZV_TYPE_STRING, 1);
    ASSERT_EQ(zvArrayListAdd(plain, &s), ZV_OK);
    zvArrayListDestroy(plain);
    EXPECT_STREQ(zvStringChars(s), "x");

    zvObjectDestroy(s);
    zvArrayListDestroy(strings);
    zvArrayListDestroy(outer);
}

TEST(Arrays, ElementsAreAddressedRowByRowWithinBounds) {
    zv::testing::Scope scope;
    const int32_t lengths[3] = {2, 3, 4};
    zvHandle a = nullptr;
    ASSERT_EQ(zvArrayCreate(&a, nullptr, ZV_TYPE_INT16, 3, lengths), ZV_OK);
    EXPECT_EQ(zvArrayDimensions(a), 3);
    EXPECT_EQ(zvArrayElementType(a), ZV_TYPE_INT16);
    EXPECT_EQ(zvArrayByteSize(a), 2 * 3 * 4 * 2);
    EXPECT_EQ(zvArray3Length(a, 2), 4);
    EXPECT_EQ(zvArray3Length(a, 3), 0);
    auto* base = static_cast<char*>(zvArray3Data(a));
    EXPECT_EQ(static_cast<char*>(zvArray3At(a, 1, 2, 3)), base + ((1 * 3 + 2) * 4 + 3) * 2);
    EXPECT_EQ(*static_cast<int16_t*>(zvArray3At(a, 1, 2, 3)), 0);

    struct Case {
        int32_t i, j, k;
    };
    for (Case c : {Case{2, 0, 0}, Case{0, 3, 0}, Case{0, 0, 4}, Case{-1, 0, 0}, Case{0, -1, 0}}) {
        SCOPED_TRACE(testing::Message() << c.i << "," << c.j << "," << c.k);
        EXPECT_EQ(zvArray3At(a, c.i, c.j, c.k), nullptr);
    }
    // The wrong dimension count is refused, not reinterpreted.
    EXPECT_EQ(zvArray1At(a, 0), nullptr);
    EXPECT_EQ(zvArray2At(a, 0, 0), nullptr);
    EXPECT_EQ(zvArray1Data(a), nullptr);
    zvArrayDestroy(a);

    zvHandle b = nullptr;
    ASSERT_EQ(zvArray1Create(&b, nullptr, ZV_TYPE_FLOAT64, 5), ZV_OK);
    EXPECT_NE(zvArray1At(b, 4), nullptr);
    EXPECT_EQ(zvArray1At(b, 5), nullptr);
    EXPECT_EQ(zvArray2Length(b, 0), 0);
    zvArrayDestroy(b);
}

TEST(Arrays, CreationChecksShapesAndSizes) {
    zv::testing::Scope scope;
    const int64_t objects = LiveObjects();
    zvHandle a = reinterpret_cast<zvHandle>(1);
    const int32_t bad[2] = {4, -1};
    const int32_t huge[3] = {INT32_MAX, INT32_MAX, 8};
    EXPECT_EQ(zvArrayCreate(&a, nullptr, ZV_TYPE_INT32, 2, bad), ZV_E_ARGUMENT);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(zvArrayCreate(&a, nullptr, ZV_TYPE_INT32, 4, huge), ZV_E_ARGUMENT);
    EXPECT_EQ(zvArrayCreate(&a, nullptr, ZV_TYPE_INT32, 3, huge), ZV_E_NOMEM);
    EXPECT_EQ(zvArrayCreate(&a, nullptr, 9999, 1, huge), ZV_E_UNSUPPORTED);
    EXPECT_EQ(zvArrayCreate(&a, nullptr, ZV_TYPE_INT32, 1, nullptr), ZV_E_ARGUMENT);
    zv::testing::FailAllocation(2);  // the element block
    EXPECT_EQ(zvArray1Create(&a, nullptr, ZV_TYPE_INT32, 10), ZV_E_NOMEM);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(LiveObjects(), objects);

    ASSERT_EQ(zvArray1Create(&a, nullptr, ZV_TYPE_UINT8, 0), ZV_OK);
    EXPECT_EQ(zvArrayByteSize(a), 0);
    EXPECT_EQ(zvArray1At(a, 0), nullptr);
    zvArrayDestroy(a);
}

TEST(Images, PixelsStartClearedAndAreAddressedByStride) {
    zv::testing::Scope scope;
    zvHandle img = nullptr;
    ASSERT_EQ(zvImageCreate(&img, nullptr), ZV_OK);
    EXPECT_EQ(zvImageType(img), 0);
    EXPECT_EQ(zvImageAt(img, 0, 0), nullptr);
    EXPECT_EQ(zvImageZero(img), ZV_E_STATE);
    EXPECT_EQ(zvImageInit(img, ZV_TYPE_IMAGE32, 10, 4, 9), ZV_E_ARGUMENT);
    EXPECT_EQ(zvImageInit(img, ZV_TYPE_INT32, 10, 4, 10), ZV_E_UNSUPPORTED);
    EXPECT_EQ(zvImageInit(img, ZV_TYPE_IMAGE32, INT32_MAX, INT32_MAX, INT32_MAX), ZV_E_NOMEM);
    ASSERT_EQ(zvImageInit(img, ZV_TYPE_IMAGE32, 10, 4, 16), ZV_OK);
    EXPECT_EQ(zvImageWidth(img), 10);
    EXPECT_EQ(zvImageHeight(img), 4);
    EXPECT_EQ(zvImageStride(img), 16);
    auto* base = static_cast<uint8_t*>(zvImageData(img));
    for (int i = 0; i < 16 * 4 * 4; ++i) ASSERT_EQ(base[i], 0);
    EXPECT_EQ(static_cast<uint8_t*>(zvImageAt(img, 9, 3)), base + (3 * 16 + 9) * 4);
    EXPECT_EQ(zvImageAt(img, 10, 0), nullptr);
    EXPECT_EQ(zvImageAt(img, 0, 4), nullptr);
    EXPECT_EQ(zvImageAt(img, -1, 0), nullptr);
    std::memset(base, 0xff, 16 * 4 * 4);
    ASSERT_EQ(zvImageZero(img), ZV_OK);
    EXPECT_EQ(base[16 * 4 * 4 - 1], 0);
    EXPECT_EQ(zvImageDestroy(img), ZV_OK);
}

TEST(Clones, CopiesAreDeepKeepTheLabelAndOutliveTheOriginal) {
    zv::testing::Scope scope;
    const int64_t objects = LiveObjects();
    const int64_t bytes = LiveBytes();
    zvHandle table = MakeList(ZV_TYPE_ARRAYLIST, 0);
    zvHandle row = MakeList(ZV_TYPE_STRING, 0);
    zvHandle cell = MakeString("Objects");
    ASSERT_EQ(zvArrayListAdd(row, &cell), ZV_OK);
    ASSERT_EQ(zvArrayListAdd(table, &row), ZV_OK);
    ASSERT_EQ(zvDataSetLabel(table, "Statistics"), ZV_OK);

    zvHandle copy = nullptr;
    ASSERT_EQ(zvDataClone(table, nullptr, &copy), ZV_OK);
    EXPECT_STREQ(zvDataLabel(copy), "Statistics");
    zvHandle copiedRow = *static_cast<zvHandle*>(zvArrayListAt(copy, 0));
    zvHandle copiedCell = *static_cast<zvHandle*>(zvArrayListAt(copiedRow, 0));
    EXPECT_NE(copiedRow, row);
    EXPECT_NE(copiedCell, cell);
    EXPECT_EQ(zvObjectDestroy(copiedCell), ZV_E_STATE);  // owned by the copied row
    ASSERT_EQ(zvArrayListDestroy(table), ZV_OK);
    EXPECT_STREQ(zvStringChars(copiedCell), "Objects");
    ASSERT_EQ(zvArrayListDestroy(copy), ZV_OK);

    zvHandle image = nullptr;
    ASSERT_EQ(zvImageCreate(&image, nullptr), ZV_OK);
    ASSERT_EQ(zvImageInit(image, ZV_TYPE_IMAGE8, 3, 2, 4), ZV_OK);
    *static_cast<uint8_t*>(zvImageAt(image, 2, 1)) = 200;
    const int32_t lengths[2] = {2, 3};
    zvHandle array = nullptr;
    ASSERT_EQ(zvArrayCreate(&array, nullptr, ZV_TYPE_FLOAT64, 2, lengths), ZV_OK);
    *static_cast<double*>(zvArray2At(array, 1, 2)) = 2.5;
    zvHandle imageCopy = nullptr;
    zvHandle arrayCopy = nullptr;
    ASSERT_EQ(zvDataClone(image, nullptr, &imageCopy), ZV_OK);
    ASSERT_EQ(zvDataClone(array, nullptr, &arrayCopy), ZV_OK);
    zvImageDestroy(image);
    zvArrayDestroy(array);
    EXPECT_EQ(zvImageStride(imageCopy), 4);
    EXPECT_EQ(*static_cast<uint8_t*>(zvImageAt(imageCopy, 2, 1)), 200);
    EXPECT_EQ(*static_cast<double*>(zvArray2At(arrayCopy, 1, 2)), 2.5);
    zvImageDestroy(imageCopy);
    zvArrayDestroy(arrayCopy);
    EXPECT_EQ(LiveObjects(), objects);
    EXPECT_EQ(LiveBytes(), bytes);
}

TEST(Clones, AFailureAnywhereInADeepCopyLeaksNothingAndKeepsTheOriginal) {
    zv::testing::Scope scope;
    const int64_t objects = LiveObjects();
    zvHandle table = MakeList(ZV_TYPE_ARRAYLIST, 0);
    for (int r = 0; r < 3; ++r) {
        zvHandle row = MakeList(ZV_TYPE_STRING, 0);
        for (int c = 0; c < 2; ++c) {
            zvHandle s = MakeString("cell");
            ASSERT_EQ(zvArrayListAdd(row, &s), ZV_OK);
        }
        ASSERT_EQ(zvArrayListAdd(table, &row), ZV_OK);
    }
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        zvHandle copy = nullptr;
        const zvStatus status = zvDataClone(table, nullptr, &copy);
        if (status <= 0) {
            EXPECT_EQ(copy, nullptr);
        }
        zvArrayListDestroy(copy);
        return status;
    };
    loop.calls = {"zvDataClone"};
    EXPECT_GT(loop.Run(), 10);
    zvHandle row = *static_cast<zvHandle*>(zvArrayListAt(table, 2));
    EXPECT_STREQ(zvStringChars(*static_cast<zvHandle*>(zvArrayListAt(row, 1))), "cell");
    zvArrayListDestroy(table);
    EXPECT_EQ(LiveObjects(), objects);
}

}  // namespace
