// The owner of a platform object: it destroys what it holds exactly once,
// moves it along, and gives it away on request.
#include <gtest/gtest.h>

#include <utility>

#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

int64_t Lists() { return zv::testing::LiveObjects(ZV_TYPE_ARRAYLIST); }

TEST(OwnedHandle, DestroysWhatItHoldsOnceWhereverItWasMoved) {
    zv::testing::Scope scope;
    const int64_t before = Lists();
    zvHandle given = nullptr;
    {
        zv::OwnedList list;
        EXPECT_FALSE(list);
        ASSERT_EQ(zvArrayListCreate(list.Out(), nullptr), ZV_OK);
        ASSERT_EQ(zvArrayListInit(list, ZV_TYPE_INT32, 0, 1), ZV_OK);
        EXPECT_EQ(Lists(), before + 1);

        zv::OwnedList moved(std::move(list));
        EXPECT_FALSE(list);
        EXPECT_EQ(zvArrayListCount(moved), 0);
        // A second Create into the same owner destroys the first object.
        ASSERT_EQ(zvArrayListCreate(moved.Out(), nullptr), ZV_OK);
        EXPECT_EQ(Lists(), before + 1);

        zv::OwnedList other;
        ASSERT_EQ(zvArrayListCreate(other.Out(), nullptr), ZV_OK);
        other = std::move(moved);
        EXPECT_EQ(Lists(), before + 1);

        ASSERT_EQ(zvArrayListCreate(list.Out(), nullptr), ZV_OK);
        given = list.Release();
        EXPECT_EQ(Lists(), before + 2);
    }
    EXPECT_EQ(Lists(), before + 1);  // the one given away lives on
    EXPECT_EQ(zvArrayListDestroy(given), ZV_OK);
}

TEST(OwnedHandle, ResetGivesTheDestructionsStatusAndHoldsNothingAfter) {
    zv::testing::Scope scope;
    zv::OwnedXml document;
    EXPECT_EQ(document.Reset(), ZV_OK);  // nothing held
    ASSERT_EQ(zvXMLCreate(document.Out(), nullptr), ZV_OK);
    const zvHandle handle = document.Get();
    zv::testing::FailCall("zvXMLDestroy", 1, -41);
    EXPECT_EQ(document.Reset(), -41);
    EXPECT_FALSE(document);
    EXPECT_EQ(zvXMLDestroy(handle), ZV_OK);  // the failed destruction left it alive
}

}  // namespace
