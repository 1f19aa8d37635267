// The "Free" mode.
#include "modes/free_mode.h"

#include <cstdio>
#include <cstring>

#include "modes/drawing.h"
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
    char text[32];
    // Only the low 32 bits of encoder and time are shown.
    std::snprintf(text, sizeof text, "%i", static_cast<int32_t>(static_cast<uint32_t>(stamp.encoder)));
    StatisticsTableAddRow(table, "Encoder Count", text);
    std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(stamp.time));
    StatisticsTableAddRow(table, "Timestamp", text);
    std::snprintf(text, sizeof text, "%d", stamp.inputState);
    StatisticsTableAddRow(table, "Input State", text);
    return zvPipeEngineSend(state->engine, table);
}

// Converts `n` profile points scaled by `k` (32-bit products, wrapping as
// the station's arithmetic does); x -32768 gives the null pair. Written with
// masks instead of branches so that the compiler vectorises it: a whole
// profile is converted per message.
void ConvertPoints(const int16_t* __restrict in, int32_t* __restrict out, int32_t n, uint32_t k) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t x = in[2 * i];
        const int32_t y = in[2 * i + 1];
        const int32_t null = -static_cast<int32_t>(x == INT16_MIN);  // all ones for a null point
        const auto sx = static_cast<int32_t>(static_cast<uint32_t>(x) * k);
        const auto sy = static_cast<int32_t>(static_cast<uint32_t>(y) * k);
        out[2 * i] = (sx & ~null) | (kNullCoordinate & null);
        out[2 * i + 1] = (sy & ~null) | (kNullCoordinate & null);
    }
}

// Refills `list` with the profile's `n` points.
zvStatus FillView(zvHandle list, const unsigned char* raw, int32_t n, int32_t k) {
    zvStatus status = zvArrayListResize(list, n);
    if (status <= 0) return status;
    if (n == 0) return ZV_OK;
    auto* out = static_cast<zvPoint32s*>(zvArrayListData(list));
    if (out == nullptr || zvArrayListItemSize(list) != static_cast<int32_t>(sizeof(zvPoint32s))) return ZV_E_TYPE;
    ConvertPoints(reinterpret_cast<const int16_t*>(raw), reinterpret_cast<int32_t*>(out), n, static_cast<uint32_t>(k));
    return ZV_OK;
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
    if (view < kViewSlots && view < state->viewCount && state->viewPoints[view] != nullptr) {
        status = FillView(state->viewPoints[view], points.data, n, scale);
        if (status <= 0) return status;
    }

    if (selected) {
        status = SendIntensity(state, output, intensities, n);
        if (status <= 0) return status;
        status = DrawViewPlot(state, "Free", view, 0);
        if (status <= 0) return status;
    }
    if (state->selectedSensor == 0) {
        status = DrawViewPlot(state, "Free", kAllViews, 0);
        if (status <= 0) return status;
    }
    return ZV_OK;
}

zvStatus ProcessFree(void* state, zvHandle /*engine*/, zvHandle /*parameters*/, zvHandle messages) {
    auto* run = static_cast<RunState*>(state);
    if (run == nullptr) return ZV_E_ARGUMENT;
    if (zvArrayListItemSize(messages) != static_cast<int32_t>(sizeof(zvHandle))) {
        return zvObjectIs(messages, ZV_TYPE_ARRAYLIST) ? ZV_E_TYPE : ZV_E_HANDLE;
    }
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
