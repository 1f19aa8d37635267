// The "Free" mode.
#include "modes/free_mode.h"

#include <cstring>

#include "modes/decimal.h"
#include "modes/drawing.h"
#include "modes/intrinsics.h"
#include "modes/result_access.h"
#include "modes/statistics_table.h"
#include "plugin/settings.h"

namespace {

// The view of sensor `serial`: its VertexView, or view 0 when the settings
// do not name it. Compared unsigned, so a negative view is out of range.
uint32_t ViewOf(const RunState* state, uint32_t serial) {
    const SystemSettings* settings = state->settings;
    if (settings == nullptr) return 0;
    const int32_t count = zvArrayListCount(settings->Sensors);
    for (int32_t i = 0; i < count; ++i) {
        const auto* sensor = static_cast<const SensorSettings*>(zvArrayListAt(settings->Sensors, i));
        if (sensor != nullptr && static_cast<uint32_t>(sensor->SerialNumber) == serial) {
            return static_cast<uint32_t>(sensor->VertexView);
        }
    }
    return 0;
}

zvStatus SendEncoderTable(RunState* state, const zvStamp& stamp) {
    zvHandle table = StatisticsTableCreate(state->engine);
    zvStatus status = zvDataSetLabel(table, "Encoder");
    if (status <= 0) return status;
    // Only the low 32 bits of encoder and time are shown.
    StatisticsTableAddRow(table, "Encoder Count",
                          Decimal(static_cast<int32_t>(static_cast<uint32_t>(stamp.encoder))).c_str());
    StatisticsTableAddRow(table, "Timestamp", Decimal(static_cast<uint32_t>(stamp.time)).c_str());
    StatisticsTableAddRow(table, "Input State", Decimal(stamp.inputState).c_str());
    return zvPipeEngineSend(state->engine, table);
}

// Converts `n` profile points scaled by `k` (32-bit products, wrapping as
// the station's arithmetic does); x -32768 gives the null pair. Written with
// masks instead of branches so that the compiler vectorises it: a whole
// profile is converted per message. Returns the number of pairs whose x
// came out as the null value: the null points, and any point whose scaled x
// happens to wrap to it (drawing skips both alike). Inlined into each
// instruction-set variant below.
inline __attribute__((always_inline)) int32_t ConvertPointsLoop(const int16_t* __restrict in, int32_t* __restrict out,
                                                                int32_t n, uint32_t k) {
    int32_t nulls = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t x = in[2 * i];
        const int32_t y = in[2 * i + 1];
        const int32_t null = -static_cast<int32_t>(x == INT16_MIN);  // all ones for a null point
        const auto sx = static_cast<int32_t>(static_cast<uint32_t>(x) * k);
        const auto sy = static_cast<int32_t>(static_cast<uint32_t>(y) * k);
        out[2 * i] = (sx & ~null) | (kNullCoordinate & null);
        out[2 * i + 1] = (sy & ~null) | (kNullCoordinate & null);
        nulls += out[2 * i] == kNullCoordinate ? 1 : 0;
    }
    return nulls;
}

// Whether no x but -32768 can come out as the null value: a non-null x
// has at most 14 factors of two, so a product of 2^31 times an odd number
// needs a scale with at least 17. Then the null x values of the profile are
// all the null values of the list.
bool NoXWrapsToNull(uint32_t k) { return (k & 0x1FFFFu) != 0 || k == 0; }

int32_t ConvertPointsGeneric(const int16_t* __restrict in, int32_t* __restrict out, int32_t n, uint32_t k) {
    return ConvertPointsLoop(in, out, n, k);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) int32_t ConvertPointsAvx2(const int16_t* __restrict in, int32_t* __restrict out,
                                                          int32_t n, uint32_t k) {
    return ConvertPointsLoop(in, out, n, k);
}

// Sixteen points per step, in two halves of eight widened to 32 bits. Each
// pair is handled as one 64-bit lane (x in its low half), so the null test,
// the null fill and the count of null x values all stay in mask registers.
// For any scale: it also counts the x values that wrap to the null value.
__attribute__((target("avx512f,avx512bw"))) int32_t ConvertPointsAnyScaleAvx512(const int16_t* __restrict in,
                                                                                int32_t* __restrict out, int32_t n,
                                                                                uint32_t k) {
    const __m512i scale = _mm512_set1_epi32(static_cast<int32_t>(k));
    // A widened x of -32768, and an x of the null value, shifted to the top.
    const __m512i nullIn = _mm512_set1_epi64(static_cast<int64_t>(uint64_t{0xFFFF8000u} << 32));
    const __m512i nullOut = _mm512_set1_epi64(INT64_MIN);
    const __m512i nullPair = _mm512_set1_epi32(kNullCoordinate);
    const __m512i one = _mm512_set1_epi64(1);
    __m512i nullCounts = _mm512_setzero_si512();
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        for (int half = 0; half < 2; ++half) {
            const int32_t at = i + 8 * half;
            const auto* words = reinterpret_cast<const __m256i*>(in + 2 * at);
            const __m512i wide = _mm512_cvtepi16_epi32(_mm256_loadu_si256(words));
            const __mmask8 null = _mm512_cmpeq_epi64_mask(_mm512_slli_epi64(wide, 32), nullIn);
            const __m512i scaled = _mm512_mask_mov_epi64(_mm512_mullo_epi32(wide, scale), null, nullPair);
            _mm512_storeu_si512(out + 2 * at, scaled);
            const __mmask8 nullX = _mm512_cmpeq_epi64_mask(_mm512_slli_epi64(scaled, 32), nullOut);
            nullCounts = _mm512_mask_add_epi64(nullCounts, nullX, nullCounts, one);
        }
    }
    return static_cast<int32_t>(_mm512_reduce_add_epi64(nullCounts)) +
           ConvertPointsLoop(in + 2 * i, out + 2 * i, n - i, k);
}

// Sixteen points per step from one load: the null x values are found among
// the 16-bit words, counted there, and spread to both lanes of their pairs.
__attribute__((target("avx512f,avx512bw,popcnt"))) int32_t ConvertPointsAvx512(const int16_t* __restrict in,
                                                                               int32_t* __restrict out, int32_t n,
                                                                               uint32_t k) {
    if (!NoXWrapsToNull(k)) return ConvertPointsAnyScaleAvx512(in, out, n, k);
    const __m512i scale = _mm512_set1_epi32(static_cast<int32_t>(k));
    const __m512i nullIn = _mm512_set1_epi16(INT16_MIN);
    const __m512i nullPair = _mm512_set1_epi32(kNullCoordinate);
    int32_t nulls = 0;
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512i words = _mm512_loadu_si512(in + 2 * i);
        // x is the even word of each pair.
        const uint32_t nullX = _cvtmask32_u32(_mm512_cmpeq_epi16_mask(words, nullIn)) & 0x55555555u;
        nulls += __builtin_popcount(nullX);
        const uint32_t nullLanes = nullX | nullX << 1;
        const __m512i low = _mm512_cvtepi16_epi32(_mm512_castsi512_si256(words));
        const __m512i high = _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(words, 1));
        _mm512_storeu_si512(out + 2 * i, _mm512_mask_mov_epi32(_mm512_mullo_epi32(low, scale),
                                                               static_cast<__mmask16>(nullLanes), nullPair));
        _mm512_storeu_si512(out + 2 * i + 16, _mm512_mask_mov_epi32(_mm512_mullo_epi32(high, scale),
                                                                    static_cast<__mmask16>(nullLanes >> 16), nullPair));
    }
    return nulls + ConvertPointsLoop(in + 2 * i, out + 2 * i, n - i, k);
}
#endif

int32_t ConvertPoints(const int16_t* __restrict in, int32_t* __restrict out, int32_t n, uint32_t k) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (modes_simd::HasAvx512()) return ConvertPointsAvx512(in, out, n, k);
    if (modes_simd::HasAvx2()) return ConvertPointsAvx2(in, out, n, k);
#endif
    return ConvertPointsGeneric(in, out, n, k);
}

// Refills `list` with the profile's `n` points; `*drawn` receives the
// number of pairs drawing will show (x not the null value).
zvStatus FillView(zvHandle list, const unsigned char* raw, int32_t n, int32_t k, int32_t* drawn) {
    *drawn = 0;
    zvStatus status = zvArrayListResize(list, n);
    if (status <= 0) return status;
    if (n == 0) return ZV_OK;
    auto* out = static_cast<zvPoint32s*>(zvArrayListData(list));
    if (out == nullptr || zvArrayListItemSize(list) != static_cast<int32_t>(sizeof(zvPoint32s))) return ZV_E_TYPE;
    *drawn = n - ConvertPoints(reinterpret_cast<const int16_t*>(raw), reinterpret_cast<int32_t*>(out), n,
                               static_cast<uint32_t>(k));
    return ZV_OK;
}

// Four intensity rows, stored point by point, split into four image lines
// of `n` pixels in one pass.
inline __attribute__((always_inline)) void SplitFourRowsLoop(const unsigned char* __restrict in,
                                                             unsigned char* __restrict pixels, int32_t n) {
    unsigned char* __restrict row0 = pixels;
    unsigned char* __restrict row1 = pixels + n;
    unsigned char* __restrict row2 = pixels + 2 * static_cast<int64_t>(n);
    unsigned char* __restrict row3 = pixels + 3 * static_cast<int64_t>(n);
    for (int32_t x = 0; x < n; ++x) {
        row0[x] = in[4 * static_cast<int64_t>(x)];
        row1[x] = in[4 * static_cast<int64_t>(x) + 1];
        row2[x] = in[4 * static_cast<int64_t>(x) + 2];
        row3[x] = in[4 * static_cast<int64_t>(x) + 3];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void SplitFourRowsAvx2(const unsigned char* __restrict in,
                                                       unsigned char* __restrict pixels, int32_t n) {
    SplitFourRowsLoop(in, pixels, n);
}

// Sixteen points of four rows fill one 128-bit quarter of a register per
// row: bytes are first gathered by row within each quarter, then the
// rows' 32-bit groups are brought together. Four such registers (64 points)
// are then transposed by quarters, so that each row is stored 64 pixels at
// a time.
__attribute__((target("avx512f,avx512bw"))) void SplitFourRowsAvx512(const unsigned char* __restrict in,
                                                                     unsigned char* __restrict pixels, int32_t n) {
    const __m512i byRow = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    const __m512i rowsTogether = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    int32_t x = 0;
    for (; x + 64 <= n; x += 64) {
        __m512i part[4];
        for (int q = 0; q < 4; ++q) {
            const __m512i bytes = _mm512_loadu_si512(in + 4 * static_cast<int64_t>(x + 16 * q));
            part[q] = _mm512_permutexvar_epi32(rowsTogether, _mm512_shuffle_epi8(bytes, byRow));
        }
        const __m512i low01 = _mm512_shuffle_i64x2(part[0], part[1], 0x44);
        const __m512i high01 = _mm512_shuffle_i64x2(part[0], part[1], 0xEE);
        const __m512i low23 = _mm512_shuffle_i64x2(part[2], part[3], 0x44);
        const __m512i high23 = _mm512_shuffle_i64x2(part[2], part[3], 0xEE);
        _mm512_storeu_si512(pixels + x, _mm512_shuffle_i64x2(low01, low23, 0x88));
        _mm512_storeu_si512(pixels + n + x, _mm512_shuffle_i64x2(low01, low23, 0xDD));
        _mm512_storeu_si512(pixels + 2 * static_cast<int64_t>(n) + x, _mm512_shuffle_i64x2(high01, high23, 0x88));
        _mm512_storeu_si512(pixels + 3 * static_cast<int64_t>(n) + x, _mm512_shuffle_i64x2(high01, high23, 0xDD));
    }
    // The last points: the same split, with the rows starting at point x.
    for (; x < n; ++x) {
        for (int r = 0; r < 4; ++r) pixels[r * static_cast<int64_t>(n) + x] = in[4 * static_cast<int64_t>(x) + r];
    }
}
#endif

void SplitFourRows(const unsigned char* __restrict in, unsigned char* __restrict pixels, int32_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (modes_simd::HasAvx512()) return SplitFourRowsAvx512(in, pixels, n);
    if (modes_simd::HasAvx2()) return SplitFourRowsAvx2(in, pixels, n);
#endif
    SplitFourRowsLoop(in, pixels, n);
}

// The selected sensor's intensities as an n x rows image: pixel (x, y) is
// the intensity of point x in row y.
zvStatus SendIntensity(RunState* state, zvAllocator output, const ArrayView& intensities, int32_t n) {
    const int32_t rows = intensities.length[1];
    zvHandle image = nullptr;
    zvStatus status = zvImageCreate(&image, output);
    if (status <= 0) return status;
    status = zvImageInit(image, ZV_TYPE_IMAGE8, n, rows, n);
    if (status <= 0) return status;
    auto* pixels = static_cast<unsigned char*>(zvImageData(image));
    if (pixels == nullptr && static_cast<int64_t>(n) * rows > 0) return ZV_E_FAIL;
    const int32_t stride = zvImageStride(image);
    const unsigned char* in = intensities.data;
    if (rows == 1) {
        if (n > 0) std::memcpy(pixels, in, static_cast<size_t>(n));
    } else if (rows == 4 && stride == n) {
        SplitFourRows(in, pixels, n);
    } else {
        for (int32_t y = 0; y < rows; ++y) {
            unsigned char* line = pixels + static_cast<int64_t>(y) * stride;
            for (int32_t x = 0; x < n; ++x) line[x] = in[static_cast<int64_t>(x) * rows + y];
        }
    }
    status = zvDataSetLabel(image, "Intensity");
    if (status <= 0) return status;
    return zvPipeEngineSend(state->engine, image);
}

}  // namespace

zvStatus ProcessFreeProfile(zvHandle result, RunState* state) {
    if (state == nullptr) return ZV_E_ARGUMENT;
    zvAllocator output = nullptr;
    zvStatus status = zvPipeEngineOutputAlloc(state->engine, &output);
    if (status <= 0) return status;
    if (!zvObjectIs(result, ZV_TYPE_RESULT)) return ZV_E_FAIL;

    int64_t serialAttribute = 0;
    int64_t scaleAttribute = 0;
    status = ResultAttribute(result, 0, &serialAttribute);
    if (status <= 0) return status;
    status = ResultAttribute(result, 1, &scaleAttribute);
    if (status <= 0) return status;
    const auto serial = static_cast<uint32_t>(serialAttribute);
    const auto scale = static_cast<int32_t>(static_cast<uint32_t>(scaleAttribute));

    // Check the arrays before anything is sent.
    ArrayView stamps;
    status = ResultArray(result, 0, 1, static_cast<int32_t>(sizeof(zvStamp)), &stamps);
    if (status <= 0) return status;
    if (stamps.elementType != ZV_TYPE_STAMP) return ZV_E_TYPE;
    if (stamps.length[0] < 1) return ZV_E_RANGE;
    ArrayView points;
    status = ResultArray(result, 1, 2, 2, &points);
    if (status <= 0) return status;
    if (points.elementType != ZV_TYPE_INT16 && points.elementType != ZV_TYPE_UINT16) return ZV_E_TYPE;
    const int32_t n = points.length[0];
    if (points.bytes < int64_t{4} * n) return ZV_E_RANGE;
    const bool selected = serial == state->selectedSensor;
    ArrayView intensities{};
    if (selected) {
        status = ResultArray(result, 2, 2, 1, &intensities);
        if (status <= 0) return status;
        if (intensities.length[0] < n) return ZV_E_RANGE;
    }

    const uint32_t view = ViewOf(state, serial);
    if (view < kViewSlots) state->viewSerial[view] = static_cast<int32_t>(serial);

    zvStamp stamp;
    std::memcpy(&stamp, stamps.data, sizeof stamp);
    status = SendEncoderTable(state, stamp);
    if (status <= 0) return status;

    // A view above the largest view of an enabled sensor has no list: its
    // points are not kept.
    zvHandle filled = nullptr;
    int32_t drawn = 0;
    if (view < kViewSlots && view < state->viewCount && state->viewPoints[view] != nullptr) {
        filled = state->viewPoints[view];
        status = FillView(filled, points.data, n, scale, &drawn);
        if (status <= 0) return status;
    }
    // The drawing takes the count of drawn points from the conversion
    // instead of scanning the list again, and where it can, builds the
    // points from the profile instead of reading the list back.
    DrawnPoints known{filled, drawn, {}};
    if (NoXWrapsToNull(static_cast<uint32_t>(scale)))
        known.source = ProfileSource{reinterpret_cast<const int16_t*>(points.data), static_cast<uint32_t>(scale)};
    const auto draw = [&](uint32_t selector) { return DrawViewPlotKnowing(state, "Free", selector, 0, known); };

    if (selected) {
        status = SendIntensity(state, output, intensities, n);
        if (status <= 0) return status;
        status = draw(view);
        if (status <= 0) return status;
    }
    if (state->selectedSensor == 0) {
        status = draw(kAllViews);
        if (status <= 0) return status;
    }
    return ZV_OK;
}

zvStatus ProcessFree(void* state, zvHandle /*engine*/, zvHandle /*parameters*/, zvHandle messages) {
    auto* run = static_cast<RunState*>(state);
    if (run == nullptr) return ZV_E_ARGUMENT;
    // What is no list of messages holds no messages, as for the other modes.
    if (!zvObjectIs(messages, ZV_TYPE_ARRAYLIST)) return ZV_OK;
    if (zvArrayListItemSize(messages) != static_cast<int32_t>(sizeof(zvHandle))) return ZV_E_TYPE;
    const int32_t count = zvArrayListCount(messages);
    for (int32_t i = 0; i < count; ++i) {
        const auto* slot = static_cast<const zvHandle*>(zvArrayListAt(messages, i));
        if (slot == nullptr || !zvObjectIs(*slot, ZV_TYPE_MESSAGE)) continue;
        zvHandle payload = nullptr;
        zvStatus status = zvPipeMsgData(*slot, &payload);
        if (status <= 0) return status;
        if (zvObjectIs(payload, ZV_TYPE_RESULT)) {
            int64_t id = 0;
            status = zvResultId(payload, &id);
            if (status <= 0) return status;
            if (static_cast<uint32_t>(id) != kResultProfile) continue;
            status = ProcessFreeProfile(payload, run);
            if (status <= 0) return status;
        } else if (zvObjectIs(payload, ZV_TYPE_ARRAYLIST)) {
            // Items that are not handles cannot be results.
            if (zvArrayListItemSize(payload) != static_cast<int32_t>(sizeof(zvHandle))) return ZV_E_FAIL;
            const int32_t items = zvArrayListCount(payload);
            for (int32_t j = 0; j < items; ++j) {
                const auto* item = static_cast<const zvHandle*>(zvArrayListAt(payload, j));
                const zvHandle entry = item ? *item : nullptr;
                if (zvObjectIs(entry, ZV_TYPE_RESULT)) {
                    int64_t id = 0;
                    status = zvResultId(entry, &id);
                    if (status <= 0) return status;
                    if (static_cast<uint32_t>(id) != kResultProfile) continue;
                }
                // Anything else in a result list is refused by the profile step.
                status = ProcessFreeProfile(entry, run);
                if (status <= 0) return status;
            }
        }
    }
    return ZV_OK;
}
