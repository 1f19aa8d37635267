// What an exact seek replays: for Free the stretch from the oldest of the
// sensors' last profiles, for Detection the ends of older objects and the
// last objects that hold slices whole, for any other mode every batch.
#include "seek_plan.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using zvhost::BatchRange;
using zvhost::PlanSeek;
using Key = zv::station::ReplayIndex::Key;
using Ranges = std::vector<BatchRange>;

// An index of batches holding the given results (identifier, first attribute).
zv::station::ReplayIndex IndexOf(const std::vector<std::vector<Key>>& batches) {
    zv::station::ReplayIndex index;
    for (const auto& results : batches) {
        zv::station::ReplayIndex::Batch b;
        b.results = static_cast<uint32_t>(results.size());
        index.batches.push_back(b);
        index.keys.insert(index.keys.end(), results.begin(), results.end());
    }
    return index;
}

constexpr Key kProfile1{0, 1001};
constexpr Key kProfile2{0, 1002};
constexpr Key kProfile3{0, 1003};
constexpr Key kSlices{1, 25};
constexpr Key kEnd{9, 0};
constexpr Key kOther{5, 0};

TEST(SeekPlan, FreeGoesBackToTheOldestOfTheSensorsLastProfiles) {
    const auto index = IndexOf({{kProfile1, kProfile2},
                                {kProfile1, kProfile2, kProfile3},
                                {kProfile1, kProfile2},
                                {kOther},
                                {kProfile2, kProfile1},
                                {kProfile1}});
    EXPECT_EQ(PlanSeek("Free", index, 6).ranges, (Ranges{{1, 6}}));  // sensor 1003 last in batch 1
    EXPECT_EQ(PlanSeek("Free", index, 1).ranges, (Ranges{{0, 1}}));
    EXPECT_FALSE(PlanSeek("Free", index, 6).SkipsSome(1));
    EXPECT_TRUE(PlanSeek("Free", index, 6).witness.empty());
    // Results of other kinds change nothing in a Free run: nothing to replay.
    EXPECT_TRUE(PlanSeek("Free", IndexOf({{kOther}, {kEnd}}), 2).ranges.empty());
    EXPECT_TRUE(PlanSeek("Free", index, 0).ranges.empty());
}

TEST(SeekPlan, DetectionKeepsTheLastObjectsWithSlicesAndOnlyTheEndsBefore) {
    // Objects: [0,2] [3,5] [6] (an end alone) [7,9] [10,11], then one open.
    const auto index = IndexOf({{kSlices},
                                {kSlices},
                                {kEnd},
                                {kSlices},
                                {kSlices},
                                {kEnd},
                                {kEnd},
                                {kSlices},
                                {kOther},
                                {kEnd},
                                {kSlices},
                                {kEnd},
                                {kSlices},
                                {kSlices}});
    // Two objects with slices before the last end, [7,9] and [10,11]; of
    // those before, only the ends.
    auto plan = PlanSeek("Detection", index, 14);
    EXPECT_EQ(plan.ranges, (Ranges{{2, 3}, {5, 14}}));
    EXPECT_EQ(plan.witness, "Detection");
    EXPECT_TRUE(plan.SkipsSome(14));
    EXPECT_EQ(PlanSeek("Detection", index, 14, 1).ranges, (Ranges{{2, 3}, {5, 7}, {9, 14}}));
    // The end alone in 6 is not an object that holds slices.
    EXPECT_EQ(PlanSeek("Detection", index, 10).ranges, (Ranges{{2, 10}}));
    // Deeper than the recording's objects: everything, nothing to witness.
    plan = PlanSeek("Detection", index, 14, 8);
    EXPECT_EQ(plan.ranges, (Ranges{{0, 14}}));
    EXPECT_TRUE(plan.witness.empty());
    EXPECT_EQ(PlanSeek("Detection", index, 4).ranges, (Ranges{{0, 4}}));
    // A batch is what its first result is: the handler reads no other.
    const auto mixed =
        IndexOf({{kSlices}, {kSlices}, {kEnd}, {kSlices}, {kEnd}, {kSlices, kEnd}, {kEnd}, {kSlices}, {kEnd}});
    EXPECT_EQ(PlanSeek("Detection", mixed, 9).ranges, (Ranges{{2, 3}, {4, 9}}));
}

TEST(SeekPlan, OtherModesAndIndexesWithoutKeysReplayEverything) {
    const auto index = IndexOf({{kProfile1}, {kProfile1}, {kProfile1}});
    for (const char* mode : {"Web", "Calibration", "Video", "Unknown"})
        EXPECT_EQ(PlanSeek(mode, index, 3).ranges, (Ranges{{0, 3}})) << mode;
    EXPECT_EQ(PlanSeek("Free", index, 99).ranges, (Ranges{{2, 3}}));  // the target is within the recording
    auto keyless = index;
    keyless.keys.pop_back();
    EXPECT_EQ(PlanSeek("Free", keyless, 3).ranges, (Ranges{{0, 3}}));
}

}  // namespace
