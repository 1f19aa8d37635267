// The "Detection" mode.
#include "modes/detection_mode.h"

#include <cstdio>
#include <cstring>

#include "modes/polar_outline.h"
#include "modes/result_access.h"
#include "modes/run_state.h"
#include "modes/statistics_table.h"
#include "plugin/settings.h"

namespace {

// The polar model shows every outline with the display's smoothing level 5.
constexpr int32_t kModelSmoothing = 5;

struct DetectionSettings {
    double encoderResolution;  // mils per tick
    int32_t maxSlices;         // non-zero: no outlines, no model
};

DetectionSettings SettingsOf(const RunState* run) {
    if (run->settings == nullptr) return {0.0, 0};
    return {run->settings->EncoderResolution, run->settings->MaxSlices};
}

// A stamp difference in mils: the 64-bit difference (wrapping) as a double
// times the resolution, truncated; its low 32 bits.
int32_t StampDistance(int64_t from, int64_t to, double resolution) {
    const auto ticks = static_cast<int64_t>(static_cast<uint64_t>(to) - static_cast<uint64_t>(from));
    return TruncatedLow32(static_cast<double>(ticks) * resolution);
}

// The checked parts of a slice batch.
struct SliceBatch {
    int32_t resolution;  // profile units to mils
    ArrayView stamps;    // (rows, cells) int64: stamp, point count
    ArrayView points;    // (slices, points, values) int16: lateral, height
    int32_t rows;
};

int64_t Cell(const ArrayView& stamps, int32_t row, int32_t column) {
    int64_t value = 0;
    std::memcpy(&value, stamps.data + (static_cast<int64_t>(row) * stamps.length[1] + column) * 8, sizeof value);
    return value;
}

int32_t PointCount(const SliceBatch& batch, int32_t row) {
    return static_cast<int32_t>(static_cast<uint32_t>(Cell(batch.stamps, row, 1)));
}

// Reads and checks the whole batch, so that a malformed one changes
// nothing: every row's point count must fit the view list and its row of
// the point array.
zvStatus ReadBatch(zvHandle result, SliceBatch* batch) {
    int64_t resolution = 0;
    zvStatus status = ResultAttribute(result, 0, &resolution);
    if (status <= 0) return status;
    batch->resolution = static_cast<int32_t>(static_cast<uint32_t>(resolution));
    status = ResultArray(result, 0, 2, 8, &batch->stamps);
    if (status <= 0) return status;
    // A batch without rows has nothing to convert: its point array is
    // neither needed nor looked for.
    batch->rows = batch->stamps.length[0];
    if (batch->rows == 0) return ZV_OK;
    status = ResultArray(result, 1, 3, 2, &batch->points);
    if (status <= 0) return status;
    if (batch->stamps.length[1] < 2) return ZV_E_RANGE;
    if (batch->points.length[2] < 2) return ZV_E_TYPE;
    for (int32_t h = 0; h < batch->rows; ++h) {
        const int32_t t = PointCount(*batch, h);
        if (t < 0 || t > kViewCapacity) return ZV_E_RANGE;
        if (t > 0 && (h >= batch->points.length[0] || t > batch->points.length[1])) return ZV_E_RANGE;
    }
    return ZV_OK;
}

// The points of row `h` into `out` in mils: the lateral axis mirrored, the
// products 32-bit and wrapping; a lateral value of -32768 is the null pair.
void ConvertSlice(const SliceBatch& batch, int32_t h, int32_t t, zvPoint32s* out) {
    const int64_t values = batch.points.length[2];
    const unsigned char* row = batch.points.data + static_cast<int64_t>(h) * batch.points.length[1] * values * 2;
    const auto s = static_cast<uint32_t>(batch.resolution);
    for (int32_t j = 0; j < t; ++j) {
        int16_t v[2];
        std::memcpy(v, row + static_cast<int64_t>(j) * values * 2, sizeof v);
        if (v[0] == INT16_MIN) {
            out[j] = zvPoint32s{kNullCoordinate, kNullCoordinate};
        } else {
            out[j] = zvPoint32s{static_cast<int32_t>(0u - static_cast<uint32_t>(v[0]) * s),
                                static_cast<int32_t>(static_cast<uint32_t>(v[1]) * s)};
        }
    }
}

zvPoint32s* ListPoints(zvHandle list) {
    if (zvArrayListItemSize(list) != static_cast<int32_t>(sizeof(zvPoint32s))) return nullptr;
    return static_cast<zvPoint32s*>(zvArrayListData(list));
}

// Adds the outline of the slice in viewPoints[0] (t points) to the
// object's model. An outline or model made here and not kept is destroyed
// again on failure.
zvStatus AddOutline(RunState* run, int32_t t, int32_t position) {
    const zvPoint32s* points = ListPoints(run->viewPoints[0]);
    if (points == nullptr) return ZV_E_TYPE;
    const zvPoint32s centre = SliceCentre(points, t);

    // The polar list holds the slice's polar points and, behind them, the
    // sort's scratch space; it only grows for slices of over 10752 points.
    zvStatus status = zvArrayListResize(run->polarPoints, 2 * t);
    if (status <= 0) return status;
    zvPoint32s* polar = ListPoints(run->polarPoints);
    if (polar == nullptr) return ZV_E_TYPE;
    const int32_t n = ToPolarPoints(points, t, centre.x, centre.y, polar);
    SortByAngle(polar, n, polar + t);
    status = zvArrayListResize(run->polarPoints, n);
    if (status <= 0) return status;

    if (zvArrayDimensions(run->radii) != 1 || zvArrayLength(run->radii, 0) < kOutlineBins ||
        zvTypeSize(zvArrayElementType(run->radii)) != 4) {
        return ZV_E_STATE;
    }
    auto* radii = static_cast<int32_t*>(zvArray1Data(run->radii));
    if (radii == nullptr) return ZV_E_STATE;
    ResampleOutlinePoints(polar, n, kOutlineBins, radii);

    zvHandle outline = nullptr;
    status = zvPolarCreate(&outline, nullptr);
    if (status <= 0) return status;
    auto discard = [&](zvStatus failure) {
        zvPolarDestroy(outline);
        return failure;
    };
    status = zvPolarInit(outline, kOutlineBins);
    if (status <= 0) return discard(status);
    status = zvPolarSetCenter(outline, centre.x, centre.y, position);
    if (status <= 0) return discard(status);
    int32_t* target = zvPolarPoints(outline);
    if (target == nullptr) return discard(ZV_E_FAIL);
    status = zvMemcpy(target, radii, sizeof(int32_t) * kOutlineBins);
    if (status <= 0) return discard(status);

    if (run->polarModel == nullptr) {
        zvHandle model = nullptr;
        status = zvPolarModelCreate(&model, nullptr);
        if (status <= 0) return discard(status);
        status = zvPolarModelInit(model, kOutlineBins, kModelSmoothing);
        if (status <= 0) {
            zvPolarModelDestroy(model);
            return discard(status);
        }
        run->polarModel = model;
    }
    status = zvPolarModelAdd(run->polarModel, outline);
    if (status <= 0) return discard(status);
    return ZV_OK;
}

zvStatus ProcessSlices(RunState* run, zvHandle result) {
    SliceBatch batch{};
    zvStatus status = ReadBatch(result, &batch);
    if (status <= 0) return status;
    if (batch.rows == 0) return ZV_OK;
    zvHandle view = run->viewPoints[0];
    if (view == nullptr || run->polarPoints == nullptr) return ZV_E_STATE;
    const DetectionSettings settings = SettingsOf(run);

    for (int32_t h = 0; h < batch.rows; ++h) {
        const int64_t stamp = Cell(batch.stamps, h, 0);
        run->lastStamp = stamp;
        if (!run->objectOpen) {
            run->firstStamp = stamp;
            run->objectOpen = 1;
        }
        const int32_t t = PointCount(batch, h);
        status = zvArrayListResize(view, t);
        if (status <= 0) return status;
        if (t > 0) {
            zvPoint32s* out = ListPoints(view);
            if (out == nullptr) return ZV_E_TYPE;
            ConvertSlice(batch, h, t, out);
        }
        // Slices of 10 points or fewer are too sparse for an outline.
        if (t > 10 && settings.maxSlices == 0) {
            const int32_t position = StampDistance(run->firstStamp, stamp, settings.encoderResolution);
            status = AddOutline(run, t, position);
            if (status <= 0) return status;
        }
    }
    return ZV_OK;
}

zvStatus ProcessObjectEnd(RunState* run, zvAllocator output) {
    const DetectionSettings settings = SettingsOf(run);
    const int32_t length = StampDistance(run->firstStamp, run->lastStamp, settings.encoderResolution);
    run->objectCount += 1;
    // An object that added no outline has no model: it has 0 slices.
    int32_t slices = 0;
    zvStatus status = ZV_OK;
    if (run->polarModel != nullptr) {
        status = zvPolarModelSliceCount(run->polarModel, &slices);
        if (status <= 0) return status;
    }

    zvHandle table = StatisticsTableCreate(run->engine);
    char text[16];
    std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(run->objectCount));
    StatisticsTableAddRow(table, "Object Count", text);
    std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(length));
    StatisticsTableAddRow(table, "Last object length", text);
    if (settings.maxSlices == 0) {
        std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(slices));
        StatisticsTableAddRow(
            table, slices < kMaxRenderedSlices ? "Last object slice count" : "Too many slices to render!", text);
    }
    status = zvDataSetLabel(table, "Statistics");
    if (status <= 0) return status;
    status = zvPipeEngineSend(run->engine, table);
    if (status <= 0) return status;

    if (run->polarModel != nullptr) {
        if (settings.maxSlices == 0 && slices < kMaxRenderedSlices) {
            zvHandle copy = nullptr;
            status = zvDataClone(run->polarModel, output, &copy);
            if (status <= 0) return status;
            status = zvDataSetLabel(copy, "Detection");
            if (status <= 0) return status;
            status = zvPipeEngineSend(run->engine, copy);
            if (status <= 0) return status;
        }
        // Objects of 1500 slices and more are counted, never drawn.
        status = zvPolarModelDestroy(run->polarModel);
        if (status <= 0) return status;
    }
    run->polarModel = nullptr;
    run->objectOpen = 0;
    return ZV_OK;
}

}  // namespace

zvStatus ProcessDetection(void* state, zvHandle /*engine*/, zvHandle /*parameters*/, zvHandle messages) {
    auto* run = static_cast<RunState*>(state);
    if (run == nullptr) return ZV_E_ARGUMENT;
    zvAllocator output = nullptr;
    zvStatus status = zvPipeEngineOutputAlloc(run->engine, &output);
    if (status <= 0) return status;
    zvHandle result = nullptr;
    status = MessageResult(messages, 0, &result);
    if (status <= 0) return status;
    if (result == nullptr) return ZV_OK;
    int64_t id = 0;
    status = zvResultId(result, &id);
    if (status <= 0) return status;
    if (id == kResultSlices) return ProcessSlices(run, result);
    if (id == kResultObjectEnd) return ProcessObjectEnd(run, output);
    return ZV_E_FAIL;
}
