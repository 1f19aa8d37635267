// Polar outlines of the Detection mode.
#include "modes/polar_outline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Wrapping 32-bit arithmetic, done in uint32_t so that overflow is defined.
inline int32_t Wrap(uint32_t v) { return static_cast<int32_t>(v); }
inline int32_t Add(int32_t a, int32_t b) { return Wrap(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int32_t Sub(int32_t a, int32_t b) { return Wrap(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int32_t Mul(int32_t a, int32_t b) { return Wrap(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }
inline int32_t Shl16(int32_t a) { return Wrap(static_cast<uint32_t>(a) << 16); }
// Quotient truncated toward zero; the one quotient that overflows,
// INT32_MIN / -1, wraps to INT32_MIN. `b` is never 0.
inline int32_t Div(int32_t a, int32_t b) { return b == -1 ? Wrap(0u - static_cast<uint32_t>(a)) : a / b; }
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
        const int32_t dx = Sub(p.x, cx);
        const int32_t dy = Sub(p.y, cy);
        const int32_t squared = Add(Mul(dx, dx), Mul(dy, dy));
        // A point at the centre has no angle; a wrapped negative sum has no
        // root.
        if (squared <= 0) continue;
        const double r = std::sqrt(static_cast<double>(squared));
        const double sine = dy / r;
        // A wrapped sum can also come out smaller than dy².
        if (!(sine >= -1.0 && sine <= 1.0)) continue;
        double a = std::asin(sine) * 100000.0;
        if (dx < 0) {
            a = kHalfTurn - a;
        } else if (a < 0) {
            a = a + kFullTurn;
        }
        // a lies in [0, 628318.53] and r below 46341: both conversions are
        // in range.
        out[n++] = zvPoint32s{static_cast<int32_t>(a), static_cast<int32_t>(r)};
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
        std::stable_sort(points, points + count,
                         [](const zvPoint32s& a, const zvPoint32s& b) { return a.x < b.x; });
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

    int32_t i = 0;
    int32_t e = 0;
    int32_t f = 0;
    bool lineKnown = false;  // e and f belong to the current pair
    for (int32_t k = 0; k + 1 < count; ++k) {
        const zvPoint32s& p = at(k);
        const zvPoint32s& q = at(k + 1);
        lineKnown = false;
        // Only pairs that fill a bin (and the last pair) need their line,
        // which saves a division for most pairs of a dense slice.
        if (i >= binCount) return;
        const int32_t angle = Mul(i, step);
        if (angle >= q.x && angle >= p.x) continue;
        while (i < binCount && Mul(i, step) < p.x) radii[i++] = Clamp(p.y);
        e = p.x == q.x ? 0 : Div(Shl16(Sub(p.y, q.y)), Sub(p.x, q.x));
        f = Sub(Shl16(p.y), Mul(p.x, e));
        lineKnown = true;
        for (; i < binCount && Mul(i, step) < q.x; ++i) radii[i] = Clamp(Add(f, Mul(e, Mul(i, step))) >> 16);
    }
    if (i >= binCount) return;
    if (!lineKnown) {
        const zvPoint32s& p = at(count - 2);
        const zvPoint32s& q = at(count - 1);
        e = p.x == q.x ? 0 : Div(Shl16(Sub(p.y, q.y)), Sub(p.x, q.x));
        f = Sub(Shl16(p.y), Mul(p.x, e));
    }
    for (; i < binCount; ++i) radii[i] = Clamp(Add(f, Mul(e, Mul(i, step))) >> 16);
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
