// Polar outlines of the Detection mode.
#include "modes/polar_outline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Wrapping 32-bit arithmetic, done in uint32_t so that overflow is defined.
inline int32_t Wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline int32_t Clamp(int32_t v) { return v <= 0 ? 0 : (v >= kOutlineMaxRadius ? kOutlineMaxRadius : v); }

inline bool IsNull(const zvPoint32s& p) { return p.x == INT32_MIN && p.y == INT32_MIN; }

// Checked access to a list of points: its items, or null when it holds
// other items. An empty list gives a non-null dummy so callers need not
// special-case it.
zvPoint32s* PointsOf(zvHandle list, zvStatus* status) {
    static zvPoint32s none;
    if (zvArrayListItemSize(list) != static_cast<int32_t>(sizeof(zvPoint32s))) {
        *status = zvObjectIs(list, ZV_TYPE_ARRAYLIST) ? ZV_E_TYPE : ZV_E_HANDLE;
        return nullptr;
    }
    if (zvArrayListCount(list) == 0) return &none;
    auto* data = static_cast<zvPoint32s*>(zvArrayListData(list));
    if (data == nullptr) *status = ZV_E_TYPE;
    return data;
}

}  // namespace

zvPoint32s SliceCentre(const zvPoint32s* points, int32_t count) {
    uint32_t sx = 0;
    uint32_t sy = 0;
    int32_t measured = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (IsNull(points[i])) continue;
        sx += static_cast<uint32_t>(points[i].x);
        sy += static_cast<uint32_t>(points[i].y);
        ++measured;
    }
    if (measured == 0) return zvPoint32s{0, 0};
    // Dividing by a positive count cannot overflow.
    return zvPoint32s{Wrap(sx) / measured, Wrap(sy) / measured};
}

zvStatus SliceCentre(zvHandle points, int32_t* cx, int32_t* cy) {
    if (cx == nullptr || cy == nullptr) return ZV_E_ARGUMENT;
    *cx = 0;
    *cy = 0;
    zvStatus status = ZV_OK;
    const zvPoint32s* data = PointsOf(points, &status);
    if (data == nullptr) return status;
    const zvPoint32s centre = SliceCentre(data, zvArrayListCount(points));
    *cx = centre.x;
    *cy = centre.y;
    return ZV_OK;
}

int32_t ToPolarPoints(const zvPoint32s* in, int32_t count, int32_t cx, int32_t cy, zvPoint32s* out) {
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) {
        const zvPoint32s p = in[i];
        if (IsNull(p)) continue;
        // The differences and their squares in 64 bits and double precision:
        // a point far from the centre keeps its true radius.
        const int64_t dx = int64_t{p.x} - cx;
        const int64_t dy = int64_t{p.y} - cy;
        if (dx == 0 && dy == 0) continue;  // the centre has no angle
        const double r = std::sqrt(static_cast<double>(dx) * static_cast<double>(dx) +
                                   static_cast<double>(dy) * static_cast<double>(dy));
        const double sine = std::clamp(static_cast<double>(dy) / r, -1.0, 1.0);
        double a = std::asin(sine) * 100000.0;
        if (dx < 0) {
            a = kHalfTurn - a;
        } else if (a < 0) {
            a = a + kFullTurn;
        }
        // a lies in [0, 628318.53]; a radius beyond 32 bits (a point some
        // 2^31 mils away) is stored as the largest.
        const double radius = r < 2147483647.0 ? r : 2147483647.0;
        out[n++] = zvPoint32s{static_cast<int32_t>(a), static_cast<int32_t>(radius)};
    }
    return n;
}

zvStatus ToPolar(zvHandle points, int32_t cx, int32_t cy, zvHandle polar) {
    zvStatus status = ZV_OK;
    const zvPoint32s* in = PointsOf(points, &status);
    if (in == nullptr) return status;
    if (PointsOf(polar, &status) == nullptr) return status;
    const int32_t count = zvArrayListCount(points);
    status = zvArrayListResize(polar, count);
    if (status <= 0) return status;
    zvPoint32s* out = PointsOf(polar, &status);
    if (out == nullptr) return status;
    const int32_t n = ToPolarPoints(in, count, cx, cy, out);
    return zvArrayListResize(polar, n);
}

int CompareAngle(const void* a, const void* b) {
    const int32_t x = static_cast<const zvPoint32s*>(a)->x;
    const int32_t y = static_cast<const zvPoint32s*>(b)->x;
    return (x > y) - (x < y);
}

void SortByAngle(zvPoint32s* points, int32_t count, zvPoint32s* scratch) {
    if (count < 2) return;
    // Angles of a slice lie in 0 .. 628318, below 2^20: two stable passes
    // of a 10-bit radix sort. Anything else takes the general stable sort.
    constexpr int kBits = 10;
    constexpr uint32_t kBuckets = 1u << kBits;
    uint32_t low[kBuckets] = {};
    uint32_t high[kBuckets] = {};
    uint32_t any = 0;
    for (int32_t i = 0; i < count; ++i) {
        const auto key = static_cast<uint32_t>(points[i].x);
        any |= key;
        ++low[key & (kBuckets - 1)];
        ++high[(key >> kBits) & (kBuckets - 1)];
    }
    if (any >= (1u << (2 * kBits))) {
        std::stable_sort(points, points + count, [](const zvPoint32s& a, const zvPoint32s& b) { return a.x < b.x; });
        return;
    }
    uint32_t lowSum = 0;
    uint32_t highSum = 0;
    for (uint32_t b = 0; b < kBuckets; ++b) {
        const uint32_t l = low[b];
        low[b] = lowSum;
        lowSum += l;
        const uint32_t h = high[b];
        high[b] = highSum;
        highSum += h;
    }
    for (int32_t i = 0; i < count; ++i) {
        const zvPoint32s p = points[i];
        scratch[low[static_cast<uint32_t>(p.x) & (kBuckets - 1)]++] = p;
    }
    for (int32_t i = 0; i < count; ++i) {
        const zvPoint32s p = scratch[i];
        points[high[static_cast<uint32_t>(p.x) >> kBits]++] = p;
    }
}

namespace {

// The line through two polar points in 16.16 fixed point: its slope e (the
// radius change per angle unit, the quotient truncated toward zero) and
// intercept f, so that a bin at angle a lies at (f + e * a) >> 16. Radii up
// to 2^31 and angles up to 2^20 need more than 64 bits for e * a.
struct Line {
    int64_t e = 0;
    __int128 f = 0;
    int32_t At(int64_t angle) const {
        const __int128 v = (f + static_cast<__int128>(e) * angle) >> 16;
        return v <= 0 ? 0 : (v >= kOutlineMaxRadius ? kOutlineMaxRadius : static_cast<int32_t>(v));
    }
};

Line LineThrough(const zvPoint32s& p, const zvPoint32s& q) {
    Line line;
    if (p.x != q.x) line.e = ((int64_t{p.y} - q.y) * 65536) / (int64_t{p.x} - q.x);
    line.f = static_cast<__int128>(p.y) * 65536 - static_cast<__int128>(p.x) * line.e;
    return line;
}

}  // namespace

void ResampleOutlinePoints(const zvPoint32s* polar, int32_t count, int32_t binCount, int32_t* radii) {
    if (binCount < 1) return;
    const auto step = static_cast<int32_t>(kFullTurn / binCount);
    if (count <= 0) {
        std::fill(radii, radii + binCount, 0);
        return;
    }
    if (count == 1) {
        std::fill(radii, radii + binCount, Clamp(polar[0].y));
        return;
    }
    // A descending list is walked from its end.
    const bool reversed = polar[0].x > polar[count - 1].x;
    auto at = [&](int32_t k) -> const zvPoint32s& { return polar[reversed ? count - 1 - k : k]; };
    // Bin angles: i * step stays below 2^31 for any bin count.
    const auto angleOf = [step](int32_t i) { return int64_t{i} * step; };

    int32_t i = 0;
    Line line;
    bool lineKnown = false;  // `line` belongs to the current pair
    for (int32_t k = 0; k + 1 < count; ++k) {
        const zvPoint32s& p = at(k);
        const zvPoint32s& q = at(k + 1);
        lineKnown = false;
        // Only pairs that fill a bin (and the last pair) need their line,
        // which saves a division for most pairs of a dense slice.
        if (i >= binCount) return;
        const int64_t angle = angleOf(i);
        if (angle >= q.x && angle >= p.x) continue;
        while (i < binCount && angleOf(i) < p.x) radii[i++] = Clamp(p.y);
        line = LineThrough(p, q);
        lineKnown = true;
        for (; i < binCount && angleOf(i) < q.x; ++i) radii[i] = line.At(angleOf(i));
    }
    if (i >= binCount) return;
    if (!lineKnown) line = LineThrough(at(count - 2), at(count - 1));
    for (; i < binCount; ++i) radii[i] = line.At(angleOf(i));
}

zvStatus ResampleOutline(zvHandle polar, int32_t binCount, zvHandle radii) {
    if (binCount < 1) return ZV_E_ARGUMENT;
    zvStatus status = ZV_OK;
    const zvPoint32s* points = PointsOf(polar, &status);
    if (points == nullptr) return status;
    if (zvArrayDimensions(radii) != 1) return zvObjectIs(radii, ZV_TYPE_ARRAY) ? ZV_E_TYPE : ZV_E_HANDLE;
    const int32_t type = zvArrayElementType(radii);
    if (type != ZV_TYPE_INT32 && type != ZV_TYPE_UINT32) return ZV_E_TYPE;
    if (zvArrayLength(radii, 0) < binCount) return ZV_E_RANGE;
    auto* out = static_cast<int32_t*>(zvArray1Data(radii));
    if (out == nullptr) return ZV_E_TYPE;
    ResampleOutlinePoints(points, zvArrayListCount(polar), binCount, out);
    return ZV_OK;
}

int32_t TruncatedLow32(double value) {
    if (!std::isfinite(value)) return 0;
    const double t = std::trunc(value);
    constexpr double kTwo63 = 9223372036854775808.0;
    if (t > -kTwo63 && t < kTwo63) {
        return Wrap(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(t))));
    }
    // Beyond 64 bits every double is a whole number whose remainder by 2^32
    // fmod gives exactly.
    double m = std::fmod(t, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return Wrap(static_cast<uint32_t>(m));
}
