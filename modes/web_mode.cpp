// The "Web" mode.
#include "modes/web_mode.h"

#include <cstdio>
#include <cstring>

#include "modes/decimal.h"
#include "modes/drawing.h"
#include "modes/result_access.h"
#include "modes/run_state.h"
#include "modes/statistics_table.h"

namespace {

struct WebGeometry {
    int32_t syncMethod;         // 0 encoder, 1 time
    int32_t xOrigin;            // mils
    int32_t xResolution;        // mils
    int32_t yOrigin;            // ticks or ms
    int32_t yResolution;        // ticks or ms
    int32_t profileResolution;  // mils per range unit
};

zvStatus SendStatistics(RunState* state, const WebGeometry& g, int32_t rows, int32_t cols) {
    zvHandle table = StatisticsTableCreate(state->engine);
    zvStatus status = zvDataSetLabel(table, "Statistics");
    if (status <= 0) return status;
    char text[64];
    StatisticsTableAddRow(table, "Output Batching", Decimal(static_cast<uint32_t>(rows)).c_str());
    std::snprintf(text, sizeof text, "%u columns", static_cast<uint32_t>(cols));
    StatisticsTableAddRow(table, "Profile width", text);
    if (g.syncMethod == 0) StatisticsTableAddRow(table, "Sync Method", "Encoder");
    if (g.syncMethod == 1) StatisticsTableAddRow(table, "Sync Method", "Time");
    std::snprintf(text, sizeof text, "%f", static_cast<double>(g.xOrigin));
    StatisticsTableAddRow(table, "X Origin [mil]", text);
    std::snprintf(text, sizeof text, "%f", static_cast<double>(g.xResolution));
    StatisticsTableAddRow(table, "X Resolution [mil]", text);
    if (g.syncMethod == 0) {
        StatisticsTableAddRow(table, "Y Origin [ticks]", Decimal(g.yOrigin).c_str());
        std::snprintf(text, sizeof text, "%dticks", g.yResolution);
        StatisticsTableAddRow(table, "Y Resolution [ticks]", text);
    } else {
        StatisticsTableAddRow(table, "Y Origin [ms]", Decimal(g.yOrigin).c_str());
        std::snprintf(text, sizeof text, "%d", g.yResolution);
        StatisticsTableAddRow(table, "Y Resolution [ms]", text);
    }
    std::snprintf(text, sizeof text, "%d  [mils per unit]", g.profileResolution);
    StatisticsTableAddRow(table, "Profile Resolution", text);
    return zvPipeEngineSend(state->engine, table);
}

// Masks instead of branches, so that the compiler vectorises the row.
void ConvertRow(const int32_t* __restrict cells, int32_t* __restrict out, int32_t cols, uint32_t x0, uint32_t dx,
                uint32_t k) {
    for (int32_t c = 0; c < cols; ++c) {
        const int32_t null = -static_cast<int32_t>(cells[c] == -1);
        const auto x = static_cast<int32_t>(x0 + static_cast<uint32_t>(c) * dx);
        const auto y = static_cast<int32_t>(static_cast<uint32_t>(cells[c]) * k);
        out[2 * c] = (x & ~null) | (kNullCoordinate & null);
        out[2 * c + 1] = (y & ~null) | (kNullCoordinate & null);
    }
}

// Fills `list` with one point per column of a profile row: (X origin +
// c * X resolution, cell * profile resolution) in wrapping 32-bit
// arithmetic; a cell of -1 gives the null pair.
zvStatus FillProfile(zvHandle list, const int32_t* cells, int32_t cols, const WebGeometry& g) {
    zvStatus status = zvArrayListResize(list, cols);
    if (status <= 0) return status;
    if (cols == 0) return ZV_OK;
    auto* out = static_cast<zvPoint32s*>(zvArrayListData(list));
    if (out == nullptr || zvArrayListItemSize(list) != static_cast<int32_t>(sizeof(zvPoint32s))) return ZV_E_TYPE;
    ConvertRow(cells, reinterpret_cast<int32_t*>(out), cols, static_cast<uint32_t>(g.xOrigin),
               static_cast<uint32_t>(g.xResolution), static_cast<uint32_t>(g.profileResolution));
    return ZV_OK;
}

}  // namespace

zvStatus ProcessWeb(void* state, zvHandle /*engine*/, zvHandle /*parameters*/, zvHandle messages) {
    auto* run = static_cast<RunState*>(state);
    if (run == nullptr) return ZV_E_ARGUMENT;
    zvHandle result = nullptr;
    zvStatus status = MessageResult(messages, 0, &result);
    if (status <= 0) return status;
    if (result == nullptr) return ZV_OK;
    int64_t id = 0;
    status = zvResultId(result, &id);
    if (status <= 0) return status;
    if (id != kResultWeb) return ZV_OK;

    int64_t a[6];
    for (int32_t i = 0; i < 6; ++i) {
        status = ResultAttribute(result, i, &a[i]);
        if (status <= 0) return status;
    }
    auto low = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); };
    const WebGeometry g{low(a[0]), low(a[1]), low(a[2]), low(a[3]), low(a[4]), low(a[5])};

    ArrayView cells;
    status = ResultArray(result, 0, 2, static_cast<int32_t>(sizeof(int32_t)), &cells);
    if (status <= 0) return status;
    if (cells.elementType != ZV_TYPE_INT32 && cells.elementType != ZV_TYPE_UINT32) return ZV_E_TYPE;
    const int32_t rows = cells.length[0];
    const int32_t cols = cells.length[1];
    if (rows == 0) return ZV_OK;
    zvHandle list = run->viewPoints[0];
    if (list == nullptr) return ZV_E_STATE;

    for (int32_t i = 0; i < rows; ++i) {
        const auto* row = reinterpret_cast<const int32_t*>(cells.data + static_cast<int64_t>(i) * cols * 4);
        status = FillProfile(list, row, cols, g);
        if (status <= 0) return status;
        status = SendStatistics(run, g, rows, cols);
        if (status <= 0) return status;
        status = DrawViewPlot(run, "Web", kAllViews, 1);
        if (status <= 0) return status;
    }
    return ZV_OK;
}
