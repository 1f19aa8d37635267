// ProcessVideo per 448 x 176 frame with painting on, against a memcpy of
// the frame, both timed in the same run. Counters: video_us and memcpy_us
// per frame, and ratio = video / memcpy (goal: at most 3).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "modes/run_state.h"
#include "modes/video_mode.h"

namespace {

constexpr uint32_t kSensor = 5;

struct Station {
    Station() {
        folder = std::filesystem::temp_directory_path() / ("zv-bench-video-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder / "SN1");
        zvFileSpaceSetRoot(folder.c_str());
        zvClientCreate(&client);
        zvClientAddServer(client, 1);
        zvPipeEngineCreate(&engine, client);
        zvPipeEngineSetSink(engine, &Station::Sink, this);
        RunStateCreate(engine, &run);
        if (run != nullptr) {
            run->selectedSensor = kSensor;
            run->lastThreshold = 255;
        }
    }
    ~Station() {
        Release();
        RunStateDestroy(run);
        zvPipeEngineDestroy(engine);
        zvClientDestroy(client);
        std::filesystem::remove_all(folder);
    }
    static void Sink(void* context, zvHandle output, const char* /*label*/) {
        static_cast<Station*>(context)->sent.push_back(output);
    }
    // The host is done with what was shown.
    void Release() {
        for (zvHandle output : sent) zvPipeEngineRelease(engine, output);
        sent.clear();
    }
    std::filesystem::path folder;
    zvHandle client = nullptr;
    zvHandle engine = nullptr;
    RunState* run = nullptr;
    std::vector<zvHandle> sent;
};

// A camera frame with a bright laser line across a dim background.
std::vector<unsigned char> FrameBytes() {
    std::mt19937 random(3);
    std::vector<unsigned char> bytes(static_cast<size_t>(kMaskWidth) * kMaskHeight * 4);
    for (int32_t y = 0; y < kMaskHeight; ++y) {
        for (int32_t x = 0; x < kMaskWidth; ++x) {
            const size_t p = (static_cast<size_t>(y) * kMaskWidth + static_cast<size_t>(x)) * 4;
            const bool line = y >= 80 + x / 64 && y < 84 + x / 64;
            bytes[p] = static_cast<unsigned char>(line ? 230 : random() % 90);
            bytes[p + 1] = static_cast<unsigned char>(random());
            bytes[p + 2] = static_cast<unsigned char>(random());
            bytes[p + 3] = 255;
        }
    }
    return bytes;
}

zvHandle FrameMessages(const std::vector<unsigned char>& bytes) {
    const int32_t lengths[3] = {kMaskHeight, kMaskWidth, 4};
    zvHandle frame = nullptr, result = nullptr, message = nullptr, list = nullptr;
    zvArrayCreate(&frame, nullptr, ZV_TYPE_UINT8, 3, lengths);
    std::memcpy(zvArray3Data(frame), bytes.data(), bytes.size());
    const int64_t attributes[2] = {kSensor, 0};
    zvResultCreate(&result, nullptr);
    zvResultInit(result, 0, attributes, 2);
    zvResultAddData(result, frame);
    zvPipeMsgCreate(&message, nullptr);
    zvPipeMsgSetData(message, result);
    zvArrayListCreate(&list, nullptr);
    zvArrayListInit(list, ZV_TYPE_MESSAGE, 1, 0);
    zvArrayListAdd(list, &message);
    return list;
}

void BM_VideoFrame(benchmark::State& state) {
    Station station;
    const std::vector<unsigned char> bytes = FrameBytes();
    std::vector<unsigned char> copy(bytes.size());
    zvHandle messages = FrameMessages(bytes);
    // "SelectedSensor", "idzThreshold" 200, "cgEnabled", "threshEnabled" 1.
    zvHandle parameters = nullptr;
    zvArrayListCreate(&parameters, nullptr);
    zvArrayListInit(parameters, ZV_TYPE_INT32, 4, 1);
    for (int32_t v : {static_cast<int32_t>(kSensor), 200, 0, 1}) zvArrayListAdd(parameters, &v);
    if (station.run == nullptr || ProcessVideo(station.run, station.engine, parameters, messages) != 1) {
        state.SkipWithError("ProcessVideo failed");
    }
    station.Release();
    using Clock = std::chrono::steady_clock;
    double video = 0, memcpyTime = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(ProcessVideo(station.run, station.engine, parameters, messages));
        const auto t1 = Clock::now();
        station.Release();
        const auto t2 = Clock::now();
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
        const auto t3 = Clock::now();
        const double mine = std::chrono::duration<double>(t1 - t0).count();
        video += mine;
        memcpyTime += std::chrono::duration<double>(t3 - t2).count();
        ++frames;
        state.SetIterationTime(mine);
    }
    state.counters["video_us"] = video / static_cast<double>(frames) * 1e6;
    state.counters["memcpy_us"] = memcpyTime / static_cast<double>(frames) * 1e6;
    state.counters["ratio"] = video / memcpyTime;
    zvArrayListDestroy(parameters);
    zvArrayListDestroy(messages);
}
BENCHMARK(BM_VideoFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
