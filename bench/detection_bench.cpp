// ProcessDetection per slice, against the straightforward version of the
// same steps (C qsort with CompareAngle), both timed in the same run.
// Counters: slices_per_s of ProcessDetection, baseline_us and detection_us
// per slice, and speedup = baseline / detection. Goals: speedup of at least
// 2 and 20,000 slices a second at 2048 points.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "modes/detection_mode.h"
#include "modes/polar_outline.h"
#include "modes/result_access.h"
#include "modes/run_state.h"

namespace {

// A run of the Detection mode over a station of one server without
// settings (resolution 0: every slice at position 0).
struct Station {
    Station() {
        folder =
            std::filesystem::temp_directory_path() / ("zv-bench-detection-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder / "SN1");
        zvFileSpaceSetRoot(folder.c_str());
        zvClientCreate(&client);
        zvClientAddServer(client, 1);
        zvPipeEngineCreate(&engine, client);
        RunStateCreate(engine, &run);
    }
    ~Station() {
        RunStateDestroy(run);
        zvPipeEngineDestroy(engine);
        zvClientDestroy(client);
        std::filesystem::remove_all(folder);
    }
    std::filesystem::path folder;
    zvHandle client = nullptr;
    zvHandle engine = nullptr;
    RunState* run = nullptr;
};

// A message list holding one slice batch of `n` points on a rough ellipse.
zvHandle SliceMessages(int32_t n) {
    std::mt19937 random(static_cast<uint32_t>(n));
    std::vector<int16_t> values(static_cast<size_t>(n) * 2);
    for (int32_t j = 0; j < n; ++j) {
        const double a = 2 * M_PI * j / n;
        values[2 * static_cast<size_t>(j)] = static_cast<int16_t>(std::lround(3000 * std::cos(a)) + random() % 5);
        values[2 * static_cast<size_t>(j) + 1] =
            static_cast<int16_t>(std::lround(2000 + 1500 * std::sin(a)) + random() % 5);
    }
    const int64_t cells[2] = {1000, n};
    zvHandle stamps = nullptr, points = nullptr, result = nullptr, message = nullptr, list = nullptr;
    const int32_t stampLengths[2] = {1, 2};
    const int32_t pointLengths[3] = {1, n, 2};
    zvArrayCreate(&stamps, nullptr, ZV_TYPE_INT64, 2, stampLengths);
    std::memcpy(zvArray2At(stamps, 0, 0), cells, sizeof cells);
    zvArrayCreate(&points, nullptr, ZV_TYPE_INT16, 3, pointLengths);
    std::memcpy(zvArray3Data(points), values.data(), values.size() * 2);
    const int64_t resolution = 2;
    zvResultCreate(&result, nullptr);
    zvResultInit(result, 1, &resolution, 1);
    zvResultAddData(result, stamps);
    zvResultAddData(result, points);
    zvPipeMsgCreate(&message, nullptr);
    zvPipeMsgSetData(message, result);
    zvArrayListCreate(&list, nullptr);
    zvArrayListInit(list, ZV_TYPE_MESSAGE, 1, 0);
    zvArrayListAdd(list, &message);
    return list;
}

// The straightforward version: the same steps, sorting with qsort.
zvStatus StraightforwardSlice(RunState* run, zvHandle messages) {
    zvHandle result = nullptr;
    zvStatus status = MessageResult(messages, 0, &result);
    if (status <= 0) return status;
    int64_t s = 0;
    zvResultAttributeAt(result, 0, &s);
    ArrayView stamps, points;
    ResultArray(result, 0, 2, 8, &stamps);
    ResultArray(result, 1, 3, 2, &points);
    int64_t cells[2];
    std::memcpy(cells, stamps.data, sizeof cells);
    const auto t = static_cast<int32_t>(cells[1]);
    zvArrayListResize(run->viewPoints[0], t);
    auto* mils = static_cast<zvPoint32s*>(zvArrayListData(run->viewPoints[0]));
    for (int32_t j = 0; j < t; ++j) {
        int16_t v[2];
        std::memcpy(v, points.data + 4 * static_cast<int64_t>(j), sizeof v);
        mils[j] = v[0] == INT16_MIN
                      ? zvPoint32s{INT32_MIN, INT32_MIN}
                      : zvPoint32s{static_cast<int32_t>(0u - static_cast<uint32_t>(v[0]) * static_cast<uint32_t>(s)),
                                   static_cast<int32_t>(static_cast<uint32_t>(v[1]) * static_cast<uint32_t>(s))};
    }
    const zvPoint32s centre = SliceCentre(mils, t);
    zvArrayListResize(run->polarPoints, t);
    auto* polar = static_cast<zvPoint32s*>(zvArrayListData(run->polarPoints));
    const int32_t n = ToPolarPoints(mils, t, centre.x, centre.y, polar);
    zvArrayListResize(run->polarPoints, n);
    std::qsort(polar, static_cast<size_t>(n), sizeof(zvPoint32s), CompareAngle);
    auto* radii = static_cast<int32_t*>(zvArray1Data(run->radii));
    ResampleOutlinePoints(polar, n, 360, radii);
    zvHandle outline = nullptr;
    zvPolarCreate(&outline, nullptr);
    zvPolarInit(outline, 360);
    zvPolarSetCenter(outline, centre.x, centre.y, 0);
    zvMemcpy(zvPolarPoints(outline), radii, 360 * 4);
    if (run->polarModel == nullptr) {
        zvPolarModelCreate(&run->polarModel, nullptr);
        zvPolarModelInit(run->polarModel, 360, 5);
    }
    return zvPolarModelAdd(run->polarModel, outline);
}

void DropModel(RunState* run) {
    zvPolarModelDestroy(run->polarModel);
    run->polarModel = nullptr;
}

// Both versions must give the same outline.
bool SameOutlines(RunState* run, zvHandle messages) {
    DropModel(run);
    ProcessDetection(run, run->engine, nullptr, messages);
    StraightforwardSlice(run, messages);
    const int32_t* a = zvPolarPoints(zvPolarModelSliceAt(run->polarModel, 0));
    const int32_t* b = zvPolarPoints(zvPolarModelSliceAt(run->polarModel, 1));
    const bool same = a != nullptr && b != nullptr && std::memcmp(a, b, 360 * 4) == 0;
    DropModel(run);
    return same;
}

void BM_DetectionSlice(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    Station station;
    zvHandle messages = SliceMessages(n);
    if (station.run == nullptr || !SameOutlines(station.run, messages)) {
        state.SkipWithError("ProcessDetection and the straightforward version differ");
        zvArrayListDestroy(messages);
        return;
    }
    using Clock = std::chrono::steady_clock;
    constexpr int kBatch = 16;  // slices per timed round of each version
    double ours = 0, baseline = 0;
    int64_t slices = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int k = 0; k < kBatch; ++k)
            benchmark::DoNotOptimize(ProcessDetection(station.run, station.engine, nullptr, messages));
        const auto t1 = Clock::now();
        DropModel(station.run);
        const auto t2 = Clock::now();
        for (int k = 0; k < kBatch; ++k) benchmark::DoNotOptimize(StraightforwardSlice(station.run, messages));
        const auto t3 = Clock::now();
        DropModel(station.run);
        const double mine = std::chrono::duration<double>(t1 - t0).count();
        ours += mine;
        baseline += std::chrono::duration<double>(t3 - t2).count();
        slices += kBatch;
        state.SetIterationTime(mine / kBatch);
    }
    state.counters["detection_us"] = ours / static_cast<double>(slices) * 1e6;
    state.counters["baseline_us"] = baseline / static_cast<double>(slices) * 1e6;
    state.counters["speedup"] = baseline / ours;
    state.counters["slices_per_s"] = static_cast<double>(slices) / ours;
    zvArrayListDestroy(messages);
}
BENCHMARK(BM_DetectionSlice)->Arg(2048)->Arg(21504)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
