#include "seek_plan.hpp"

#include <algorithm>
#include <unordered_map>

namespace zvhost {

namespace {

using zv::station::ReplayIndex;

constexpr uint32_t kProfile = 0;
constexpr uint32_t kSlices = 1;
constexpr uint32_t kObjectEnd = 9;

// Where each batch's results begin in the index's keys.
std::vector<size_t> FirstKeys(const ReplayIndex& index, size_t target) {
    std::vector<size_t> first(target + 1, 0);
    for (size_t b = 0; b < target; ++b) first[b + 1] = first[b] + index.batches[b].results;
    return first;
}

void Add(std::vector<BatchRange>* ranges, size_t begin, size_t end) {
    if (begin >= end) return;
    if (!ranges->empty() && ranges->back().end == begin) {
        ranges->back().end = end;
        return;
    }
    ranges->push_back({begin, end});
}

SeekPlan PlanFree(const ReplayIndex& index, size_t target, const std::vector<size_t>& first) {
    std::unordered_map<uint32_t, size_t> last;  // sensor: the last batch with its profile
    for (size_t b = 0; b < target; ++b)
        for (size_t k = first[b]; k < first[b + 1]; ++k)
            if (index.keys[k].id == kProfile) last[index.keys[k].first] = b;
    SeekPlan plan;
    if (last.empty()) return plan;  // nothing before the target changes a Free run
    size_t begin = target;
    for (const auto& [sensor, batch] : last) begin = std::min(begin, batch);
    Add(&plan.ranges, begin, target);
    return plan;
}

// A Detection run reads only the first result of a batch.
uint32_t Kind(const ReplayIndex& index, const std::vector<size_t>& first, size_t batch) {
    return first[batch] < first[batch + 1] ? index.keys[first[batch]].id : UINT32_MAX;
}

SeekPlan PlanDetection(const ReplayIndex& index, size_t target, size_t depth, const std::vector<size_t>& first) {
    std::vector<size_t> ends;
    for (size_t b = 0; b < target; ++b)
        if (Kind(index, first, b) == kObjectEnd) ends.push_back(b);
    // Back from the last end, the objects that hold slices, until `depth`
    // of them: the whole replay begins where the oldest of them began.
    size_t begin = 0;
    size_t kept = 0;
    for (size_t e = ends.size(); e-- > 0 && kept < depth;) {
        const size_t start = e == 0 ? 0 : ends[e - 1] + 1;
        bool slices = false;
        for (size_t b = start; b < ends[e] && !slices; ++b) slices = Kind(index, first, b) == kSlices;
        if (slices && ++kept == depth) begin = start;
    }
    SeekPlan plan;
    if (kept < depth) begin = 0;
    for (const size_t e : ends) {
        if (e >= begin) break;
        Add(&plan.ranges, e, e + 1);
    }
    Add(&plan.ranges, begin, target);
    if (begin > 0) plan.witness = "Detection";
    return plan;
}

}  // namespace

size_t SeekPlan::Batches() const {
    size_t count = 0;
    for (const BatchRange& r : ranges) count += r.end - r.begin;
    return count;
}

SeekPlan PlanSeek(const std::string& mode, const ReplayIndex& index, size_t target, size_t depth) {
    target = std::min(target, index.batches.size());
    const std::vector<size_t> first = FirstKeys(index, target);
    // An index whose keys do not cover its batches plans no shortcut.
    if (first[target] <= index.keys.size()) {
        if (mode == "Free") return PlanFree(index, target, first);
        if (mode == "Detection") return PlanDetection(index, target, std::max<size_t>(depth, 1), first);
    }
    SeekPlan plan;
    Add(&plan.ranges, 0, target);
    return plan;
}

}  // namespace zvhost
