// Throughput of the Free and Web process handlers per profile, each beside
// a memcpy of the bytes the profile carries, timed in the same run.
//
// Goals: Free at 2048 points at least 100,000 profiles a second on one core;
// Free at 21504 points within 4 times the memcpy of what the profile
// carries ("vs_memcpy" counter), and within 1.5 times the memcpy of what
// it must write: the view list, the drawing's points and the intensity
// image ("vs_written" counter).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "modes/free_mode.h"
#include "modes/run_state.h"
#include "modes/web_mode.h"
#include "zvapi/zvapi.h"

namespace {

// The host's side: every output is released as soon as it arrives, as a
// display does once it has drawn it.
void ReleaseAtOnce(void* engine, zvHandle output, const char*) {
    zvPipeEngineRelease(static_cast<zvHandle>(engine), output);
}

struct Station {
    Station() {
        zvClientCreate(&client);
        zvClientAddServer(client, 7);
        zvPipeEngineCreate(&engine, client);
        zvPipeEngineSetSink(engine, ReleaseAtOnce, engine);
        // A run of one sensor in view 0, made directly: no settings file.
        state = static_cast<RunState*>(zvMalloc(sizeof(RunState)));
        std::memset(state, 0, sizeof(RunState));
        state->engine = engine;
        state->viewCount = 1;
        zvArrayListCreate(&state->viewPoints[0], nullptr);
        zvArrayListInit(state->viewPoints[0], ZV_TYPE_POINT32, kViewCapacity, 1);
        state->targetMinX = -7500;
        state->targetMinY = 4500;
        state->targetMaxX = 7500;
        state->targetMaxY = 19500;
    }
    ~Station() {
        RunStateDestroy(state);
        zvPipeEngineDestroy(engine);
        zvClientDestroy(client);
    }
    zvHandle client = nullptr;
    zvHandle engine = nullptr;
    RunState* state = nullptr;
};

zvHandle Array(int32_t type, std::vector<int32_t> lengths) {
    zvHandle array = nullptr;
    zvArrayCreate(&array, nullptr, type, static_cast<int32_t>(lengths.size()), lengths.data());
    return array;
}

// Nanoseconds of one memcpy of `bytes`, averaged over enough copies, timed
// in the same run as the handler it is compared with (both warm in cache).
double MemcpyNanoseconds(size_t bytes) {
    std::vector<unsigned char> from(bytes, 1), to(bytes);
    constexpr int kCopies = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCopies; ++i) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / kCopies;
}

// The copy is timed before and after the handler, each in its own warm
// steady state, and the two averaged: the machine's speed drifts during a
// run by more than the goals' margins.
template <class Body>
void Measure(benchmark::State& bench, size_t bytes, Body&& body, size_t written = 0) {
    const double copyBefore = MemcpyNanoseconds(bytes);
    const double writeBefore = written > 0 ? MemcpyNanoseconds(written) : 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : bench) {
        if (body() <= 0) {
            bench.SkipWithError("handler failed");
            return;
        }
    }
    const auto end = std::chrono::steady_clock::now();
    const double each =
        std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(bench.iterations());
    const double copy = (copyBefore + MemcpyNanoseconds(bytes)) / 2;
    bench.SetItemsProcessed(bench.iterations());
    bench.counters["memcpy_ns"] = copy;
    bench.counters["vs_memcpy"] = each / copy;
    if (written > 0) {
        const double write = (writeBefore + MemcpyNanoseconds(written)) / 2;
        bench.counters["written_memcpy_ns"] = write;
        bench.counters["vs_written"] = each / write;
    }
}

void BM_FreeProfile(benchmark::State& bench) {
    const auto n = static_cast<int32_t>(bench.range(0));
    const auto rows = static_cast<int32_t>(bench.range(1));
    Station station;
    station.state->selectedSensor = 1001;
    zvHandle stamps = Array(ZV_TYPE_STAMP, {1});
    zvHandle points = Array(ZV_TYPE_INT16, {n, 2});
    auto* xy = static_cast<int16_t*>(zvArray2At(points, 0, 0));
    for (int32_t i = 0; i < n; ++i) {
        xy[2 * i] = static_cast<int16_t>(i % 3000 - 1500);
        xy[2 * i + 1] = static_cast<int16_t>(i % 10 == 0 ? INT16_MIN : 400 + i % 50);
        if (i % 10 == 0) xy[2 * i] = INT16_MIN;
    }
    zvHandle intensities = Array(ZV_TYPE_UINT8, {n, rows});
    zvHandle result = nullptr;
    const int64_t attributes[2] = {1001, 25};
    zvResultCreate(&result, nullptr);
    zvResultInit(result, 0, attributes, 2);
    zvResultAddData(result, stamps);
    zvResultAddData(result, points);
    zvResultAddData(result, intensities);
    // The memcpy baseline copies what the profile carries: its stamp record,
    // n points of two 16-bit coordinates (4 bytes each) and n x rows
    // intensity bytes.
    const size_t bytes = sizeof(zvStamp) + static_cast<size_t>(n) * 4 + static_cast<size_t>(n) * rows;
    // What it must write: the view list (8 bytes a point), the drawing (8
    // bytes a drawn point: every tenth is null) and the image (a byte a
    // point and row).
    const size_t drawn = static_cast<size_t>(n) - static_cast<size_t>((n + 9) / 10);
    const size_t written = static_cast<size_t>(n) * 8 + drawn * 8 + static_cast<size_t>(n) * rows;
    Measure(
        bench, bytes, [&] { return ProcessFreeProfile(result, station.state); }, written);
    zvObjectDestroy(result);
}
BENCHMARK(BM_FreeProfile)->Args({2048, 1})->Args({2048, 4})->Args({21504, 1})->Args({21504, 4});

void BM_WebProfile(benchmark::State& bench) {
    const auto cols = static_cast<int32_t>(bench.range(0));
    Station station;
    zvHandle cells = Array(ZV_TYPE_INT32, {1, cols});
    auto* c = static_cast<int32_t*>(zvArray2At(cells, 0, 0));
    for (int32_t i = 0; i < cols; ++i) c[i] = i % 17 == 0 ? -1 : 300 + i % 40;
    const int64_t attributes[6] = {0, -5000, 5, 0, 1, 2};
    zvHandle result = nullptr, message = nullptr, messages = nullptr;
    zvResultCreate(&result, nullptr);
    zvResultInit(result, 5, attributes, 6);
    zvResultAddData(result, cells);
    zvPipeMsgCreate(&message, nullptr);
    zvPipeMsgSetData(message, result);
    zvArrayListCreate(&messages, nullptr);
    zvArrayListInit(messages, ZV_TYPE_MESSAGE, 1, 0);
    zvArrayListAdd(messages, &message);
    // The baseline copies the profile's one row of 32-bit cells.
    const size_t bytes = static_cast<size_t>(cols) * 4;
    Measure(bench, bytes, [&] { return ProcessWeb(station.state, station.engine, nullptr, messages); });
    zvArrayListDestroy(messages);
}
BENCHMARK(BM_WebProfile)->Arg(2048);

}  // namespace

BENCHMARK_MAIN();
