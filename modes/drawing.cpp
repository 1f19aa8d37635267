// Plots of the run's views, the calibration mark, the calibration target.
#include "modes/drawing.h"

#include <cstdio>
#include <cstring>

#include "modes/decimal.h"
#include "modes/intrinsics.h"
#include "modes/result_access.h"
#include "plugin/settings.h"
#include "plugin/statuses.h"
#include "zvcontrols/zvcontrols.hpp"

namespace {

constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF008000u;
constexpr uint32_t kLimeGreen = 0xFF32CD32u;

constexpr uint32_t kViewColors[8] = {
    0xFFFFFF00u,  // yellow
    0xFF00FFFFu,  // cyan
    0xFFFF00FFu,  // magenta
    0xFF808080u,  // grey
    0xFF0000FFu,  // blue
    0xFFFF0000u,  // red
    0xFFFFFFFFu,  // white
    0xFF008000u,  // green
};

// The scanner's region, for page plots without a target to fit.
constexpr float kFreeWorld[4] = {-8000.0f, -25000.0f, 28000.0f, 50000.0f};

// Pairs of `points` whose x is not the null value. Inlined into each
// instruction-set variant below; the loop is left to the vectoriser.
inline __attribute__((always_inline)) int32_t CountDrawnLoop(const int32_t* words, int32_t n) {
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i) m += words[2 * i] != kNullCoordinate ? 1 : 0;
    return m;
}

// Copies the pairs of `points` whose x is not null to `out`, in order, at
// most `room` of them.
inline __attribute__((always_inline)) void CopyDrawnLoop(const zvPoint32s* points, zvPoint32s* out, int32_t n,
                                                         int32_t room) {
    for (int32_t i = 0; i < n && room > 0; ++i) {
        if (points[i].x != kNullCoordinate) {
            *out++ = points[i];
            --room;
        }
    }
}

// The points of a profile whose x is not -32768, scaled by `k` as the
// list holds them, at most `room` of them.
inline __attribute__((always_inline)) void DrawnFromProfileLoop(const int16_t* in, zvPoint32s* out, int32_t n,
                                                                uint32_t k, int32_t room) {
    for (int32_t i = 0; i < n && room > 0; ++i) {
        if (in[2 * i] == INT16_MIN) continue;
        out->x = static_cast<int32_t>(static_cast<uint32_t>(in[2 * i]) * k);
        out->y = static_cast<int32_t>(static_cast<uint32_t>(in[2 * i + 1]) * k);
        ++out;
        --room;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Sixteen points per step from one load of the profile: each half of eight
// is widened, scaled and its drawn pairs compressed to the front, stored
// whole where the drawn points so far end (as CopyDrawnAvx512 does).
__attribute__((target("avx512f,avx512bw,popcnt"))) void DrawnFromProfileAvx512(const int16_t* in, zvPoint32s* out,
                                                                               int32_t n, uint32_t k, int32_t m) {
    const __m512i scale = _mm512_set1_epi32(static_cast<int32_t>(k));
    const __m512i nullIn = _mm512_set1_epi16(INT16_MIN);
    int32_t i = 0;
    int32_t j = 0;
    for (; i + 16 <= n && j + 16 <= m; i += 16) {
        const __m512i words = _mm512_loadu_si512(in + 2 * i);
        // x is the even word of each pair; a drawn pair keeps both lanes.
        const uint32_t drawnX = ~_cvtmask32_u32(_mm512_cmpeq_epi16_mask(words, nullIn)) & 0x55555555u;
        const uint32_t lanes = drawnX | drawnX << 1;
        const __m512i low = _mm512_mullo_epi32(_mm512_cvtepi16_epi32(_mm512_castsi512_si256(words)), scale);
        const __m512i high = _mm512_mullo_epi32(_mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(words, 1)), scale);
        const auto lowLanes = static_cast<__mmask16>(lanes);
        const auto highLanes = static_cast<__mmask16>(lanes >> 16);
        _mm512_storeu_si512(out + j, _mm512_maskz_compress_epi32(lowLanes, low));
        j += __builtin_popcount(lowLanes) / 2;
        _mm512_storeu_si512(out + j, _mm512_maskz_compress_epi32(highLanes, high));
        j += __builtin_popcount(highLanes) / 2;
    }
    DrawnFromProfileLoop(in + 2 * i, out + j, n - i, k, m - j);
}

__attribute__((target("avx2"))) int32_t CountDrawnAvx2(const int32_t* words, int32_t n) {
    return CountDrawnLoop(words, n);
}

__attribute__((target("avx512f,avx512bw"))) int32_t CountDrawnAvx512(const int32_t* words, int32_t n) {
    return CountDrawnLoop(words, n);
}

// Sixteen points per step, in two halves of eight: the mask of each half's
// drawn points compresses them into the front of a register, which is
// stored whole; the next half starts where the drawn ones end, so the spare
// lanes are overwritten. A half may write up to 56 bytes past its drawn
// points, so the steps stop while the output still has room for a whole
// half; the rest go one by one.
__attribute__((target("avx512f,avx512bw,bmi2"))) void CopyDrawnAvx512(const zvPoint32s* points, zvPoint32s* out,
                                                                      int32_t n, int32_t m) {
    const __m512i nullX = _mm512_set1_epi32(kNullCoordinate);
    int32_t i = 0;
    int32_t j = 0;
    for (; i + 16 <= n && j + 16 <= m; i += 16) {
        const __m512i first = _mm512_loadu_si512(points + i);
        const __m512i second = _mm512_loadu_si512(points + i + 8);
        // x is the even 32-bit lane of each pair.
        const uint32_t firstDrawn = _pext_u32(_cvtmask16_u32(_mm512_cmpneq_epi32_mask(first, nullX)), 0x5555u);
        const uint32_t secondDrawn = _pext_u32(_cvtmask16_u32(_mm512_cmpneq_epi32_mask(second, nullX)), 0x5555u);
        const int32_t middle = j + __builtin_popcount(firstDrawn);
        _mm512_storeu_si512(out + j, _mm512_maskz_compress_epi64(static_cast<__mmask8>(firstDrawn), first));
        _mm512_storeu_si512(out + middle, _mm512_maskz_compress_epi64(static_cast<__mmask8>(secondDrawn), second));
        j = middle + __builtin_popcount(secondDrawn);
    }
    CopyDrawnLoop(points + i, out + j, n - i, m - j);
}
#endif

int32_t CountDrawn(const zvPoint32s* points, int32_t n) {
    const auto* words = reinterpret_cast<const int32_t*>(points);
#if defined(__x86_64__) && defined(__GNUC__)
    if (modes_simd::HasAvx512()) return CountDrawnAvx512(words, n);
    if (modes_simd::HasAvx2()) return CountDrawnAvx2(words, n);
#endif
    return CountDrawnLoop(words, n);
}

// `out` has room for the `m` drawn points of the profile; never more than
// `m` are written.
void DrawnFromProfile(const ProfileSource& source, zvPoint32s* out, int32_t n, int32_t m) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (modes_simd::HasAvx512()) return DrawnFromProfileAvx512(source.points, out, n, source.scale, m);
#endif
    DrawnFromProfileLoop(source.points, out, n, source.scale, m);
}

// `out` has room for the `m` drawn points of `points`; never more than `m`
// are written.
void CopyDrawn(const zvPoint32s* points, zvPoint32s* out, int32_t n, int32_t m) {
    if (m == n) {
        if (n > 0) std::memcpy(out, points, static_cast<size_t>(n) * sizeof(zvPoint32s));
        return;
    }
#if defined(__x86_64__) && defined(__GNUC__)
    if (modes_simd::HasAvx512()) return CopyDrawnAvx512(points, out, n, m);
#endif
    CopyDrawnLoop(points, out, n, m);
}

// Draws view `v`'s non-null points into a new graphic and adds it to `plot`.
zvStatus DrawView(const RunState* state, zvAllocator output, zvHandle plot, uint32_t v, zvHandle list,
                  const DrawnPoints* known) {
    zvHandle graphic = nullptr;
    zvStatus status = zvGraphicCreate(&graphic, output);
    if (status <= 0) return status;
    status = zvGraphicInit(graphic);
    if (status <= 0) return status;
    status = zvDataSetLabel(graphic, Decimal(state->viewSerial[v]).c_str());
    if (status <= 0) return status;

    const int32_t n = zvArrayListCount(list);
    const auto* points = static_cast<const zvPoint32s*>(zvArrayListData(list));
    int32_t m = 0;
    ProfileSource source;
    if (known != nullptr && known->list == list && known->drawn >= 0 && known->drawn <= n) {
        m = known->drawn;
        source = known->source;
    } else {
        m = CountDrawn(points, n);
    }

    const uint32_t color = ViewColor(v);
    const int32_t pen = zvGraphicAddPen(graphic, color, 2.0f);
    const int32_t brush = zvGraphicAddSolidBrush(graphic, color);
    const int32_t marker = zvGraphicAddMarker(graphic, 2, 1.0f);
    zvPoint32s* out = zvGraphicDrawPoints32s(graphic, pen, brush, marker, 0, m);
    if (out == nullptr) return kTorvaneNoMemory;
    // With nulls to leave out, the profile holds the drawn points in half
    // the bytes of the list; without, the list is copied whole.
    if (source.points != nullptr && m < n) {
        DrawnFromProfile(source, out, n, m);
    } else {
        CopyDrawn(points, out, n, m);
    }
    return zvPlotAdd(plot, graphic);
}

// Destroys a page's plot and graphic and passes `status` on.
zvStatus Release(zvHandle graphic, zvHandle plot, zvStatus status) {
    zvGraphicDestroy(graphic);
    zvPlotDestroy(plot);
    return status;
}

}  // namespace

uint32_t ViewColor(uint32_t view) { return kViewColors[view & 7u]; }

zvStatus DrawViewPlot(RunState* state, const char* label, uint32_t viewSelector, int32_t fitToTarget) {
    return DrawViewPlotKnowing(state, label, viewSelector, fitToTarget, DrawnPoints{});
}

zvStatus DrawViewPlotKnowing(RunState* state, const char* label, uint32_t viewSelector, int32_t fitToTarget,
                             const DrawnPoints& known) {
    if (state == nullptr) return ZV_E_ARGUMENT;
    zvAllocator output = nullptr;
    zvStatus status = zvPipeEngineOutputAlloc(state->engine, &output);
    if (status <= 0) return status;
    zvHandle plot = nullptr;
    status = zvPlotCreate(&plot, output);
    if (status <= 0) return status;
    status = zvPlotInit(plot);
    if (status <= 0) return status;
    status = zvPlotSetBackColor(plot, kBlack);
    if (status <= 0) return status;
    status = zvDataSetLabel(plot, label);
    if (status <= 0) return status;

    const uint32_t views = state->viewCount < kViewSlots ? state->viewCount : kViewSlots;
    for (uint32_t v = 0; v < views; ++v) {
        zvHandle list = state->viewPoints[v];
        if (list == nullptr || zvArrayListCount(list) <= 0) continue;
        if (viewSelector != kAllViews && viewSelector != v) continue;
        status = DrawView(state, output, plot, v, list, known.list != nullptr ? &known : nullptr);
        if (status <= 0) return status;
    }

    // A target without vertices keeps its extent at the float extremes; the
    // fixed world stands in for it.
    const bool haveTarget = state->targetMinX <= state->targetMaxX && state->targetMinY <= state->targetMaxY;
    if (fitToTarget != 0 && haveTarget) {
        const float h = state->targetMaxY - state->targetMinY;
        status = zvPlotSetWorld(plot, state->targetMinX - 1000.0f, state->targetMinY - 1.5f * h,
                                (state->targetMaxX - state->targetMinX) + 2000.0f, 4.0f * h);
    } else {
        status = zvPlotSetWorld(plot, -13000.0f, -25000.0f, 50000.0f, 50000.0f);
    }
    if (status <= 0) return status;
    status = zvPlotSetXTitle(plot, "X");
    if (status <= 0) return status;
    status = zvPlotSetYTitle(plot, "Y");
    if (status <= 0) return status;
    status = zvPipeEngineSend(state->engine, plot);
    if (status <= 0) return status;
    return ZV_OK;
}

zvStatus SendCalibrationMark(RunState* state, int32_t success) {
    if (state == nullptr) return ZV_E_ARGUMENT;
    zvAllocator output = nullptr;
    zvStatus status = zvPipeEngineOutputAlloc(state->engine, &output);
    if (status <= 0) return status;
    zvHandle graphic = nullptr;
    status = zvGraphicCreate(&graphic, output);
    if (status <= 0) return status;
    status = zvGraphicInit(graphic);
    if (status <= 0) return status;

    const uint32_t color = success != 0 ? kLimeGreen : kRed;
    const int32_t pen = zvGraphicAddPen(graphic, color, 15.0f);
    zvGraphicAddSolidBrush(graphic, color);
    zvGraphicAddMarker(graphic, 2, 15.0f);
    // The square from 40 to 60 and one diagonal: a tick-like mark on
    // success, the other diagonal on failure.
    static const zvPoint32s kPass[6] = {{60, 40}, {40, 40}, {40, 60}, {60, 60}, {60, 40}, {40, 60}};
    static const zvPoint32s kFail[6] = {{40, 40}, {40, 60}, {60, 60}, {60, 40}, {40, 40}, {60, 60}};
    zvPoint32s* line = zvGraphicDrawPolyline32s(graphic, 0, pen, 6);
    if (line == nullptr) return kTorvaneNoMemory;
    const zvPoint32s* mark = success != 0 ? kPass : kFail;
    for (int i = 0; i < 6; ++i) line[i] = mark[i];

    zvHandle plot = nullptr;
    status = zvPlotCreate(&plot, output);
    if (status <= 0) return status;
    status = zvPlotInit(plot);
    if (status <= 0) return status;
    status = zvPlotAdd(plot, graphic);
    if (status <= 0) return status;
    status = zvPlotSetWorld(plot, 0.0f, 0.0f, 100.0f, 100.0f);
    if (status <= 0) return status;
    status = zvPlotSetXTitle(plot, "X (mil)");
    if (status <= 0) return status;
    status = zvPlotSetYTitle(plot, "Y (mil)");
    if (status <= 0) return status;
    status = zvDataSetLabel(plot, "Calibration");
    if (status <= 0) return status;
    status = zvPipeEngineSend(state->engine, plot);
    if (status <= 0) return status;
    return ZV_OK;
}

zvStatus ShowCalibrationTarget(zvHandle vertices, zvMultiView* multiView) {
    if (multiView == nullptr) return ZV_E_ARGUMENT;
    if (zvArrayListItemSize(vertices) != static_cast<int32_t>(sizeof(zvPoint32s))) {
        return zvObjectIs(vertices, ZV_TYPE_ARRAYLIST) ? ZV_E_TYPE : ZV_E_HANDLE;
    }
    zvHandle plot = nullptr;
    zvHandle graphic = nullptr;
    zvStatus status = zvPlotCreate(&plot, nullptr);
    if (status <= 0) return status;
    status = zvPlotInit(plot);
    if (status > 0) status = zvPlotSetBackColor(plot, kBlack);
    if (status > 0) status = zvPlotSetTitle(plot, "Calibration");
    if (status > 0) status = zvGraphicCreate(&graphic, nullptr);
    if (status > 0) status = zvGraphicInit(graphic);
    if (status <= 0) return Release(graphic, plot, status);

    const int32_t pen = zvGraphicAddPen(graphic, kGreen, 2.0f);
    const int32_t brush = zvGraphicAddSolidBrush(graphic, kRed);
    const int32_t font = zvGraphicAddFont(graphic, 0, 1, 12.0f);

    const int32_t n = zvArrayListCount(vertices);
    const auto* v = static_cast<const zvPoint32s*>(zvArrayListData(vertices));
    if (n > 0) {
        zvPoint32s* line = zvGraphicDrawPolyline32s(graphic, 0, pen, n + 1);
        if (line == nullptr) return Release(graphic, plot, kTorvaneNoMemory);
        int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
        for (int32_t i = 0; i < n; ++i) {
            line[i] = v[i];
            char number[16];
            std::snprintf(number, sizeof number, "%d", i);
            status = zvGraphicDrawString32s(graphic, font, brush, v[i].x, v[i].y, number, 0, 0);
            if (status <= 0) return Release(graphic, plot, status);
            // A text drawing may move the point buffer: fetch it again.
            zvDrawing drawing;
            if (zvGraphicDrawingAt(graphic, 0, &drawing) <= 0) return Release(graphic, plot, kTorvaneNoMemory);
            line = const_cast<zvPoint32s*>(drawing.points);
            if (v[i].x < minX) minX = v[i].x;
            if (v[i].y < minY) minY = v[i].y;
            if (v[i].x > maxX) maxX = v[i].x;
            if (v[i].y > maxY) maxY = v[i].y;
        }
        line[n] = v[0];  // closes the polygon
        status = zvPlotAdd(plot, graphic);
        // Widened so that a target spanning most of the 32-bit range cannot
        // overflow; the result is the same for every real target.
        const int64_t x = int64_t{minX} - 1000, y = int64_t{minY} - 1000;
        const int64_t w = int64_t{maxX} - minX + 2000, h = int64_t{maxY} - minY + 2000;
        if (status > 0) {
            status = zvPlotSetWorld(plot, static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
                                    static_cast<float>(h));
        }
    } else {
        status = zvPlotAdd(plot, graphic);
        if (status > 0) status = zvPlotSetWorld(plot, kFreeWorld[0], kFreeWorld[1], kFreeWorld[2], kFreeWorld[3]);
    }
    if (status > 0) status = multiView->Show(plot);
    return Release(graphic, plot, status <= 0 ? status : ZV_OK);
}

zvStatus ShowEmptyFreePlot(zvMultiView* multiView) {
    if (multiView == nullptr) return ZV_E_ARGUMENT;
    zvHandle plot = nullptr;
    zvHandle graphic = nullptr;
    zvStatus status = zvPlotCreate(&plot, nullptr);
    if (status <= 0) return status;
    status = zvPlotInit(plot);
    if (status > 0) status = zvPlotSetWorld(plot, kFreeWorld[0], kFreeWorld[1], kFreeWorld[2], kFreeWorld[3]);
    if (status > 0) status = zvPlotSetBackColor(plot, kBlack);
    if (status > 0) status = zvPlotSetTitle(plot, "Free");
    if (status > 0) status = zvGraphicCreate(&graphic, nullptr);
    if (status > 0) status = zvGraphicInit(graphic);
    if (status > 0) status = zvPlotAdd(plot, graphic);
    if (status > 0) status = multiView->Show(plot);
    return Release(graphic, plot, status <= 0 ? status : ZV_OK);
}
