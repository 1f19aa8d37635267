// The object core: memory, accounting and the seams every suite relies on.
#include <gtest/gtest.h>

#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

TEST(Memory, AccountsLiveBytesAndFailsOnInjection) {
    zv::testing::Scope scope;
    const int64_t before = zv::testing::LiveBytes();
    void* block = zvMalloc(100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(zv::testing::LiveBytes(), before + 100);
    zvFree(block);
    EXPECT_EQ(zv::testing::LiveBytes(), before);

    zv::testing::FailAllocation(2);
    void* first = zvMalloc(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(zvMalloc(8), nullptr);
    void* third = zvMalloc(8);
    EXPECT_NE(third, nullptr);
    zvFree(first);
    zvFree(third);
}

TEST(Memory, CopyAndSetCheckTheirArguments) {
    char buffer[4] = {};
    EXPECT_EQ(zvMemset(buffer, 'x', sizeof buffer), ZV_OK);
    EXPECT_EQ(buffer[3], 'x');
    EXPECT_EQ(zvMemset(nullptr, 0, 4), ZV_E_ARGUMENT);
    EXPECT_EQ(zvMemcpy(nullptr, buffer, 0), ZV_OK);
    EXPECT_EQ(zvMemcpy(buffer, nullptr, 2), ZV_E_ARGUMENT);
}

TEST(Seams, JournalRecordsCallsAndFaultsFireOnTheKthCall) {
    zv::testing::Scope scope;
    zv::testing::JournalStart();
    ASSERT_EQ(zvInitialize(), ZV_OK);
    zv::testing::FailCall("zvTerminate", 2, -77);
    EXPECT_EQ(zvTerminate(), ZV_OK);
    ASSERT_EQ(zvInitialize(), ZV_OK);
    EXPECT_EQ(zvTerminate(), -77);
    EXPECT_EQ(zvTerminate(), ZV_OK);
    EXPECT_FALSE(zv::testing::FaultPending());
    EXPECT_EQ(zv::testing::JournalOf("zvTerminate").size(), 3u);
    EXPECT_EQ(zv::testing::Journal().front(), "zvInitialize");
}

TEST(Types, BlockTypesCarryTheirSize) {
    EXPECT_EQ(zvTypeSize(zvTypeBlock(4)), 4);
    EXPECT_EQ(zvTypeBlock(0), 0);
    EXPECT_EQ(zvTypeSize(ZV_TYPE_POINT32), 8);
    EXPECT_EQ(zvTypeSize(ZV_TYPE_STRING), static_cast<int32_t>(sizeof(zvHandle)));
    EXPECT_EQ(zvTypeSize(12345), 0);
}

TEST(Objects, NullAndDeadHandlesAreRefusedQuietly) {
    EXPECT_EQ(zvObjectType(nullptr), 0);
    EXPECT_EQ(zvObjectIs(nullptr, ZV_TYPE_STRING), 0);
    EXPECT_EQ(zvObjectDestroy(nullptr), ZV_OK);
    int local = 0;
    EXPECT_EQ(zvObjectDestroy(reinterpret_cast<zvHandle>(&local)), ZV_E_HANDLE);
}

}  // namespace

namespace {

// A create that fails, even before it starts, leaves no stale handle behind.
TEST(Objects, FailedCreatesClearTheirOutHandle) {
    zv::testing::Scope scope;
    using CreateFn = zvStatus (*)(zvHandle*, zvAllocator);
    const struct {
        const char* name;
        CreateFn create;
    } families[] = {
        {"zvStringCreate", zvStringCreate},   {"zvArrayListCreate", zvArrayListCreate},
        {"zvImageCreate", zvImageCreate},     {"zvFileCreate", zvFileCreate},
        {"zvPlotCreate", zvPlotCreate},       {"zvGraphicCreate", zvGraphicCreate},
        {"zvPolarCreate", zvPolarCreate},     {"zvPolarModelCreate", zvPolarModelCreate},
        {"zvResultCreate", zvResultCreate},   {"zvPipeMsgCreate", zvPipeMsgCreate},
        {"zvPipeAppCreate", zvPipeAppCreate}, {"zvPipeModeCreate", zvPipeModeCreate},
    };
    int stale = 0;
    for (const auto& family : families) {
        SCOPED_TRACE(family.name);
        zvHandle out = reinterpret_cast<zvHandle>(&stale);
        zv::testing::FailCall(family.name, 1, -21);
        EXPECT_EQ(family.create(&out, nullptr), -21);
        EXPECT_EQ(out, nullptr);
    }
}

}  // namespace
