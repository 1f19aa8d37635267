// A small plug-in for the host's tests: pipe app "echo" 1.0 whose mode
// "Free" answers every result with a table (its id, attribute count and the
// "Gain" parameter), a plot of its point pairs and an 8-bit image; mode
// "Broken" fails to start when its parameter "Fail" is non-zero. It has no node or page exports.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zvapi/zvapi.h"

namespace {

struct EchoState {
    zvHandle engine;
    int64_t results;
};

zvStatus Start(void** state, zvHandle engine, zvHandle /*parameters*/) {
    auto* s = static_cast<EchoState*>(zvMalloc(sizeof(EchoState)));
    if (s == nullptr) return -995;
    s->engine = engine;
    s->results = 0;
    *state = s;
    zvHandle list = nullptr;
    zvStatus status = zvArrayListCreate(&list, nullptr);
    if (status > 0) status = zvArrayListInit(list, zvTypeBlock(4), 0, 1);
    zvHandle client = nullptr;
    if (status > 0) status = zvPipeEngineOwner(engine, &client);
    if (status > 0) status = zvClientServers(client, list);
    const auto* first = static_cast<const uint32_t*>(zvArrayListAt(list, 0));
    if (status > 0 && first != nullptr) status = zvPipeEngineRead(engine, *first, 0, 0);
    zvArrayListDestroy(list);
    if (status > 0) status = zvPipeEnginePrint(engine, "echo started\n");
    return status;
}

zvStatus StartBroken(void** state, zvHandle engine, zvHandle parameters) {
    const auto* fail = static_cast<const int32_t*>(zvArrayListAt(parameters, 1));
    if (fail != nullptr && *fail != 0) return -995;
    return Start(state, engine, parameters);
}

zvHandle Text(zvAllocator allocator, const std::string& text) {
    zvHandle s = nullptr;
    zvStringCreate(&s, allocator);
    zvStringInit(s, 16);
    zvStringImport(s, text.c_str());
    return s;
}

void SendTable(EchoState* s, int64_t id, int32_t attributes, int32_t gain) {
    zvAllocator out = nullptr;
    zvPipeEngineOutputAlloc(s->engine, &out);
    zvHandle table = nullptr, names = nullptr, values = nullptr;
    zvArrayListCreate(&table, out);
    zvArrayListCreate(&names, out);
    zvArrayListCreate(&values, out);
    zvArrayListInit(table, ZV_TYPE_ARRAYLIST, 2, 0);
    zvArrayListInit(names, ZV_TYPE_STRING, 4, 0);
    zvArrayListInit(values, ZV_TYPE_STRING, 4, 0);
    const std::pair<std::string, std::string> rows[] = {{"name", "value"},
                                                        {"id", std::to_string(id)},
                                                        {"attributes", std::to_string(attributes)},
                                                        {"Gain", std::to_string(gain)},
                                                        {"results", std::to_string(s->results)}};
    for (const auto& [n, v] : rows) {
        zvHandle a = Text(out, n);
        zvHandle b = Text(out, v);
        zvArrayListAdd(names, &a);
        zvArrayListAdd(values, &b);
    }
    zvArrayListAdd(table, &names);
    zvArrayListAdd(table, &values);
    zvDataSetLabel(table, "Table");
    zvPipeEngineSend(s->engine, table);
}

// A plot of the result's data 1 when it is an (n, 2) array of int16 pairs.
void SendPlot(EchoState* s, zvHandle result) {
    zvHandle points = nullptr;
    if (zvResultData(result, 1, &points) <= 0 || zvArrayDimensions(points) != 2 ||
        zvArrayElementType(points) != ZV_TYPE_INT16 || zvArrayLength(points, 1) != 2)
        return;
    const int32_t n = zvArrayLength(points, 0);
    zvAllocator out = nullptr;
    zvPipeEngineOutputAlloc(s->engine, &out);
    zvHandle plot = nullptr, graphic = nullptr;
    zvPlotCreate(&plot, out);
    zvPlotInit(plot);
    zvPlotSetWorld(plot, -10000, 0, 20000, 25000);
    zvPlotSetTitle(plot, "Echo");
    zvPlotSetBackColor(plot, 0xFF102030u);
    zvGraphicCreate(&graphic, out);
    zvGraphicInit(graphic);
    zvDataSetLabel(graphic, "echo points");
    const int32_t pen = zvGraphicAddPen(graphic, 0xFF00FF00u, 1.0f);
    const int32_t brush = zvGraphicAddSolidBrush(graphic, 0xFF00FF00u);
    const int32_t marker = zvGraphicAddMarker(graphic, 2, 2.0f);
    zvPoint32s* buffer = zvGraphicDrawPoints32s(graphic, pen, brush, marker, 0, n);
    for (int32_t i = 0; buffer != nullptr && i < n; ++i) {
        const auto* p = static_cast<const int16_t*>(zvArray2At(points, i, 0));
        buffer[i] = p[0] == INT16_MIN ? zvPoint32s{INT32_MIN, INT32_MIN} : zvPoint32s{p[0], p[1]};
    }
    zvPlotAdd(plot, graphic);
    zvDataSetLabel(plot, "Plot");
    zvPipeEngineSend(s->engine, plot);
    zvObjectDestroy(graphic);  // refused when the plot took it over; harmless
}

void SendImage(EchoState* s) {
    zvAllocator out = nullptr;
    zvPipeEngineOutputAlloc(s->engine, &out);
    zvHandle image = nullptr;
    zvImageCreate(&image, out);
    zvImageInit(image, ZV_TYPE_IMAGE8, 40, 10, 40);
    auto* pixels = static_cast<unsigned char*>(zvImageData(image));
    for (int i = 0; pixels != nullptr && i < 400; ++i) pixels[i] = static_cast<unsigned char>(i % 256);
    zvDataSetLabel(image, "Picture");
    zvPipeEngineSend(s->engine, image);
}

zvStatus Process(void* state, zvHandle /*engine*/, zvHandle parameters, zvHandle messages) {
    auto* s = static_cast<EchoState*>(state);
    const auto* gain = static_cast<const int32_t*>(zvArrayListAt(parameters, 0));
    for (int32_t i = 0; i < zvArrayListCount(messages); ++i) {
        const auto* message = static_cast<const zvHandle*>(zvArrayListAt(messages, i));
        zvHandle payload = nullptr;
        if (message == nullptr || zvPipeMsgData(*message, &payload) <= 0 || !zvObjectIs(payload, ZV_TYPE_RESULT))
            continue;
        ++s->results;
        int64_t id = 0;
        int32_t attributes = 0;
        zvResultId(payload, &id);
        zvResultAttributeCount(payload, &attributes);
        SendTable(s, id, attributes, gain ? *gain : 0);
        SendPlot(s, payload);
        SendImage(s);
    }
    return 1;
}

zvStatus Stop(void* state, zvHandle /*engine*/, zvHandle /*parameters*/) {
    zvFree(state);
    return 1;
}

zvStatus AddMode(zvHandle app, const char* name, zvPipeStartHandler start) {
    zvHandle mode = nullptr;
    zvStatus status = zvPipeModeCreate(&mode, nullptr);
    if (status > 0) status = zvPipeModeInit(mode, name);
    if (status > 0) status = zvPipeModeSetStartHandler(mode, start);
    if (status > 0) status = zvPipeModeSetProcessHandler(mode, &Process);
    if (status > 0) status = zvPipeModeSetStopHandler(mode, &Stop);
    if (status > 0) status = zvPipeModeAddDisplay(mode, "Table", 3);
    if (status > 0) status = zvPipeModeAddDisplay(mode, "Plot", 2);
    if (status > 0) status = zvPipeModeAddDisplay(mode, "Picture", 1);
    if (status > 0) status = zvPipeModeAddParameter(mode, "Gain", 3);
    if (status > 0 && start != &Start) status = zvPipeModeAddParameter(mode, "Fail", 0);
    if (status > 0) status = zvPipeModeSetInputStyle(mode, 2);
    if (status > 0) status = zvPipeAppAddMode(app, mode);
    if (status <= 0) zvObjectDestroy(mode);
    return status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) zvStatus TorvaneDescribePipeApp(zvHandle* app) {
    zvStatus status = zvPipeAppCreate(app, nullptr);
    if (status > 0) status = zvPipeAppInit(*app, "echo");
    if (status > 0) status = zvPipeAppSetVersion(*app, 1, 0);
    if (status > 0) status = AddMode(*app, "Free", &Start);
    if (status > 0) status = AddMode(*app, "Broken", &StartBroken);
    return status > 0 ? 1 : status;
}
