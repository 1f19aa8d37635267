// Arbitrary results, in arbitrary messages, for each of the five process
// handlers: whatever the station sends, a handler returns a status and never
// reads or writes outside what it was given.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "modes/calibration_mode.h"
#include "modes/detection_mode.h"
#include "modes/free_mode.h"
#include "modes/run_state.h"
#include "modes/video_mode.h"
#include "modes/web_mode.h"
#include "zvapi/zvapi.h"

namespace {

constexpr uint32_t kServer = 1;

const char kSettings[] =
    "<?xml version=\"1.0\"?>\n<SensorGroup><Name>System</Name><EncoderResolution>0.5</EncoderResolution>"
    "<MaxSlices>0</MaxSlices><CalibrationTarget><Vertex><X>-7500</X><Y>4500</Y></Vertex>"
    "<Vertex><X>7500</X><Y>19500</Y></Vertex></CalibrationTarget><Members><SensorGroup><Name>0</Name><Members>"
    "<Sensor><Name>A</Name><SerialNumber>11</SerialNumber><Enabled>1</Enabled><VertexView>0</VertexView></Sensor>"
    "<Sensor><Name>B</Name><SerialNumber>12</SerialNumber><Enabled>1</Enabled><VertexView>1</VertexView></Sensor>"
    "</Members></SensorGroup></Members></SensorGroup>\n";

// One run over a station of one server, remade every so many inputs so
// that what a run gathers (an open polar model) stays bounded.
struct Run {
    Run() {
        zvClientCreate(&client);
        zvClientAddServer(client, kServer);
        zvPipeEngineCreate(&engine, client);
        zvPipeEngineSetSink(engine, &Run::Sink, this);
        zvPipeEngineSetConsole(
            engine, [](void*, const char*) {}, nullptr);
        void* state = nullptr;
        zvHandle parameters = nullptr;
        StartVideo(&state, engine, parameters);
        run = static_cast<RunState*>(state);
    }
    ~Run() {
        Release();
        RunStateDestroy(run);
        zvPipeEngineDestroy(engine);
        zvClientDestroy(client);
    }
    static void Sink(void* context, zvHandle output, const char*) {
        static_cast<Run*>(context)->sent.push_back(output);
    }
    void Release() {
        for (zvHandle output : sent) zvPipeEngineRelease(engine, output);
        sent.clear();
    }
    zvHandle client = nullptr;
    zvHandle engine = nullptr;
    RunState* run = nullptr;
    std::vector<zvHandle> sent;
};

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    const auto root = std::filesystem::current_path() / "fuzz-space";
    std::filesystem::create_directories(root / "SN1");
    std::ofstream(root / "SN1" / "Settings.xml") << kSettings;
    zvFileSpaceSetRoot(root.c_str());
}

int32_t ElementType(FuzzedDataProvider& in) {
    static const int32_t types[] = {ZV_TYPE_UINT8, ZV_TYPE_INT16,  ZV_TYPE_INT32,   ZV_TYPE_INT64,
                                    ZV_TYPE_STAMP, ZV_TYPE_UINT16, ZV_TYPE_FLOAT64, ZV_TYPE_INT8};
    return types[in.ConsumeIntegralInRange<size_t>(0, std::size(types) - 1)];
}

zvHandle MakeArray(FuzzedDataProvider& in) {
    const int32_t type = ElementType(in);
    const int32_t dimensions = in.ConsumeIntegralInRange<int32_t>(1, 3);
    int32_t lengths[3];
    for (int32_t d = 0; d < dimensions; ++d) {
        // Mostly small, now and then the shapes the modes expect.
        lengths[d] = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 12)
                                      : in.PickValueInArray({1, 2, 4, 176, 448, 21504});
    }
    // At most a megabyte an array: halve the longest side until it fits.
    for (;;) {
        int64_t bytes = zvTypeSize(type);
        int32_t longest = 0;
        for (int32_t d = 0; d < dimensions; ++d) {
            bytes *= lengths[d];
            if (lengths[d] > lengths[longest]) longest = d;
        }
        if (bytes <= (1 << 20)) break;
        lengths[longest] /= 2;
    }
    zvHandle array = nullptr;
    if (zvArrayCreate(&array, nullptr, type, dimensions, lengths) <= 0) return nullptr;
    const int64_t bytes = zvArrayByteSize(array);
    void* data =
        dimensions == 1 ? zvArray1Data(array) : (dimensions == 2 ? zvArray2At(array, 0, 0) : zvArray3Data(array));
    if (data != nullptr && bytes > 0) {
        const std::vector<uint8_t> fill = in.ConsumeBytes<uint8_t>(static_cast<size_t>(bytes));
        if (!fill.empty()) std::memcpy(data, fill.data(), fill.size());
    }
    return array;
}

zvHandle MakeResult(FuzzedDataProvider& in) {
    const int64_t id = in.ConsumeBool() ? in.PickValueInArray<int64_t>({0, 1, 5, 8, 9}) : in.ConsumeIntegral<int64_t>();
    std::vector<int64_t> attributes(in.ConsumeIntegralInRange<size_t>(0, 8));
    for (auto& a : attributes)
        a = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(-2, 300) : in.ConsumeIntegral<int64_t>();
    zvHandle result = nullptr;
    if (zvResultCreate(&result, nullptr) <= 0) return nullptr;
    zvResultInit(result, id, attributes.data(), static_cast<int32_t>(attributes.size()));
    const int arrays = in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < arrays; ++i) {
        zvHandle array = MakeArray(in);
        if (array != nullptr && zvResultAddData(result, array) <= 0) zvArrayDestroy(array);
    }
    return result;
}

zvHandle MakeMessages(FuzzedDataProvider& in) {
    zvHandle list = nullptr;
    zvArrayListCreate(&list, nullptr);
    zvArrayListInit(list, ZV_TYPE_MESSAGE, 2, 0);
    const int count = in.ConsumeIntegralInRange<int>(0, 3);
    for (int m = 0; m < count; ++m) {
        zvHandle message = nullptr;
        zvPipeMsgCreate(&message, nullptr);
        switch (in.ConsumeIntegralInRange<int>(0, 2)) {
            case 0: break;  // no payload
            case 1: zvPipeMsgSetData(message, MakeResult(in)); break;
            default: {
                zvHandle results = nullptr;
                zvArrayListCreate(&results, nullptr);
                zvArrayListInit(results, ZV_TYPE_RESULT, 2, 0);
                const int n = in.ConsumeIntegralInRange<int>(0, 2);
                for (int r = 0; r < n; ++r) {
                    zvHandle result = MakeResult(in);
                    zvArrayListAdd(results, &result);
                }
                zvPipeMsgSetData(message, results);
            }
        }
        zvArrayListAdd(list, &message);
    }
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup();
    static Run* run = nullptr;
    static int uses = 0;
    if (run == nullptr || ++uses % 64 == 0) {
        delete run;
        run = new Run;
    }
    if (run->run == nullptr) return 0;
    FuzzedDataProvider in(data, size);
    static const zvPipeProcessHandler handlers[] = {ProcessFree, ProcessCalibration, ProcessDetection, ProcessWeb,
                                                    ProcessVideo};
    const zvPipeProcessHandler handler = handlers[in.ConsumeIntegralInRange<size_t>(0, 4)];
    zvHandle parameters = nullptr;
    zvArrayListCreate(&parameters, nullptr);
    zvArrayListInit(parameters, ZV_TYPE_INT32, 4, 1);
    const int count = in.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < count; ++i) {
        const int32_t value =
            in.ConsumeBool() ? in.PickValueInArray({0, 1, 11, 12, 100, 255}) : in.ConsumeIntegral<int32_t>();
        zvArrayListAdd(parameters, &value);
    }
    if (in.ConsumeBool()) run->run->selectedSensor = in.PickValueInArray<uint32_t>({0, 11, 12});
    zvHandle messages = MakeMessages(in);
    handler(run->run, run->engine, parameters, messages);
    run->Release();
    zvArrayListDestroy(messages);
    zvArrayListDestroy(parameters);
    return 0;
}
