// Which recorded batches a mode must go through, from its start, to stand
// where a whole run of it stands after the batches before `target`: what an
// exact seek in a long recording replays instead of every batch before it.
//
// A plan rests on what the station's results are (the index keeps each
// result's identifier and first attribute), never on reading a mode's
// state:
//  - "Free": a profile (identifier 0) replaces its sensor's view whole, so
//    the stretch from the oldest of the sensors' last profiles is enough.
//  - "Detection": an object's slices (identifier 1) count only until its end
//    (identifier 9); of the objects before the last `depth` ones that hold
//    slices, only the ends are gone through (they are counted). A run whose
//    last shown model is older than those objects is found by the caller
//    (the "Detection" display got nothing from the plan) and planned again
//    with a greater depth.
//  - Any other mode: every batch before `target`.
#ifndef ZVHOST_LOOP_SEEK_PLAN_HPP
#define ZVHOST_LOOP_SEEK_PLAN_HPP

#include <cstddef>
#include <string>
#include <vector>

#include "zvstation/replay.hpp"

namespace zvhost {

struct BatchRange {
    size_t begin = 0;  // the first batch
    size_t end = 0;    // after the last
    bool operator==(const BatchRange&) const = default;
};

struct SeekPlan {
    std::vector<BatchRange> ranges;  // in order, not overlapping; every other batch before the target is skipped
    // A display the plan must have shown something on, for it to hold;
    // empty when it holds as it is. What a plan skips never shows there.
    std::string witness;
    size_t Batches() const;
    bool SkipsSome(size_t target) const { return Batches() < target; }
};

// The plan of `mode` for the batches before `target` (at most the index's
// count), keeping `depth` (at least 1) of the objects that hold slices
// before the last end whole.
SeekPlan PlanSeek(const std::string& mode, const zv::station::ReplayIndex& index, size_t target, size_t depth = 2);

}  // namespace zvhost

#endif
