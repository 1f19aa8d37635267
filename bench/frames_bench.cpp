// The station's frames: a batch of four 2048-point profiles (one server of
// four sensors in the Free mode) encoded as a server sends it, checked as a
// client receives it, and checked and made into zvApi results as the client
// hands it on. Counters: batches and profiles a second, and bytes a second.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/frames.hpp"
#include "zvstation/station.hpp"

namespace wire = zv::station::wire;

namespace {

constexpr int kSensors = 4;
constexpr int kPoints = 2048;

// The batch, made once by the simulated station.
struct Batch {
    std::vector<zvHandle> results;
    std::vector<uint8_t> frame;
    std::string error;
    Batch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "frames-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = "no temporary folder";
            return;
        }
        zvInitialize();
        bool created = false;
        if (!zv::station::EnsureDemoStation(pattern, kSensors, 1, &created, &error)) return;
        zv::station::Station station;
        zv::station::Options options;
        options.profilePoints = kPoints;
        if (!station.Open(pattern, options, &error)) return;
        station.SetMode(1, "Free");
        station.StartDelivery(1);
        station.NextBatch(&results);
        std::filesystem::remove_all(pattern);
        wire::BatchHeader header;
        header.serial = 1;
        if (!wire::EncodeBatch(header, results, &frame, &error)) return;
    }
};

const Batch& TheBatch() {
    static const Batch batch;
    return batch;
}

void Count(benchmark::State& state, size_t bytes) {
    state.counters["profiles_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kSensors, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_EncodeBatch(benchmark::State& state) {
    const Batch& batch = TheBatch();
    if (!batch.error.empty()) return state.SkipWithError(batch.error.c_str());
    std::vector<uint8_t> out(batch.frame.size());
    wire::BatchHeader header;
    header.serial = 1;
    for (auto _ : state) {
        size_t bytes = 0;
        std::string error;
        wire::MeasureBatch(batch.results, &bytes, &error);
        wire::WriteBatch(header, batch.results, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    Count(state, batch.frame.size());
}
BENCHMARK(BM_EncodeBatch);

void BM_CheckBatch(benchmark::State& state) {
    const Batch& batch = TheBatch();
    if (!batch.error.empty()) return state.SkipWithError(batch.error.c_str());
    wire::BatchView view;
    std::string error;
    for (auto _ : state) {
        wire::ParseBatch(batch.frame.data(), batch.frame.size(), &view, &error);
        benchmark::DoNotOptimize(view.results.data());
    }
    Count(state, batch.frame.size());
}
BENCHMARK(BM_CheckBatch);

// Checked, made into results, and the results destroyed (as the host does
// once the handler has had them).
void BM_DecodeBatch(benchmark::State& state) {
    const Batch& batch = TheBatch();
    if (!batch.error.empty()) return state.SkipWithError(batch.error.c_str());
    wire::BatchView view;
    std::string error;
    std::vector<zvHandle> results;
    for (auto _ : state) {
        wire::ParseBatch(batch.frame.data(), batch.frame.size(), &view, &error);
        results.clear();
        wire::BuildResults(view, &results);
        for (zvHandle h : results) zvObjectDestroy(h);
    }
    Count(state, batch.frame.size());
}
BENCHMARK(BM_DecodeBatch);

}  // namespace

BENCHMARK_MAIN();
