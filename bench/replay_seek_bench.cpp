// Seeking in a large capture. A capture of Free batches (four 2048-point
// profiles each, about 90 kB a batch as the capture writes them) is made
// once in the temporary folder and kept there for later runs; its size is
// ZV_SEEK_BENCH_MB megabytes (64 unless set: a run for CI's default; a
// size of gigabytes takes a while to write the first time). Timed:
//  - BM_IndexCapture: the first replay, which reads every line and writes
//    the index beside the segments (once per capture);
//  - BM_OpenIndexed: a later replay opening with the index;
//  - BM_SeekAndRead: a seek to a batch anywhere and the reading of it;
//  - BM_OpenSeekRead: the two together, what a replay of a capture that was
//    indexed before costs to show its batch N.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/capture.hpp"
#include "zvstation/replay.hpp"
#include "zvstation/replay_index.hpp"

namespace {

namespace fs = std::filesystem;
namespace zs = zv::station;

constexpr int kSensors = 4;
constexpr int kPoints = 2048;
constexpr int64_t kSegmentBytes = 200000000;  // the capture's default

int64_t TargetBytes() {
    const char* mb = std::getenv("ZV_SEEK_BENCH_MB");
    const int64_t value = mb != nullptr ? std::atoll(mb) : 64;
    return (value > 0 ? value : 64) << 20;
}

// One profile of sensor `sensor` in batch `batch`, as a capture line.
std::string ProfileLine(int64_t batch, int sensor) {
    std::string line = "{\"attributes\":[" + std::to_string(1000 + sensor) + ",1],\"batch\":" + std::to_string(batch) +
                       ",\"data\":[{\"dims\":[1],\"type\":\"stamp\",\"values\":[" + std::to_string(batch * 100) + "," +
                       std::to_string(batch * 20000) + ",1]},{\"dims\":[" + std::to_string(kPoints) +
                       ",2],\"type\":\"int16\",\"values\":[";
    for (int i = 0; i < kPoints; ++i) {
        if (i > 0) line += ',';
        line += std::to_string(-8000 + 8 * i) + "," + std::to_string(9000 + (i * 37 + batch) % 500);
    }
    line += "]}],\"id\":0}\n";
    return line;
}

// The capture folder, made when it is not there yet.
const fs::path& Capture() {
    static const fs::path folder = [] {
        const int64_t target = TargetBytes();
        const fs::path f = fs::temp_directory_path() / ("zv-seek-bench-" + std::to_string(target >> 20) + "mb");
        if (fs::exists(f / "complete")) return f;
        fs::remove_all(f);
        fs::create_directories(f);
        int64_t written = 0;
        int64_t batch = 0;
        for (int segment = 1; written < target; ++segment) {
            std::ofstream out(f / zs::SegmentName(segment), std::ios::binary);
            out << zs::kSegmentHeader << "\n";
            int64_t size = 0;
            while (size < kSegmentBytes && written + size < target) {
                std::string lines;
                for (int s = 0; s < kSensors; ++s) lines += ProfileLine(batch, s);
                lines += std::string(zs::kBatchEnd) + std::to_string(batch) + "\n";
                out << lines;
                size += static_cast<int64_t>(lines.size());
                ++batch;
            }
            written += size;
        }
        std::ofstream(f / "complete") << batch << "\n";
        return f;
    }();
    return folder;
}

void BM_IndexCapture(benchmark::State& state) {
    const fs::path& folder = Capture();
    for (auto _ : state) {
        fs::remove(folder / zs::kReplayIndexName);
        zs::Replay replay;
        std::string error;
        if (!zs::LoadReplay({folder}, &replay, &error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(replay.BatchCount());
    }
    state.counters["bytes"] = static_cast<double>(TargetBytes());
    state.SetBytesProcessed(state.iterations() * TargetBytes());
}

void BM_OpenIndexed(benchmark::State& state) {
    const fs::path& folder = Capture();
    zs::Replay first;
    std::string error;
    if (!zs::LoadReplay({folder}, &first, &error)) state.SkipWithError(error.c_str());
    for (auto _ : state) {
        zs::Replay replay;
        if (!zs::LoadReplay({folder}, &replay, &error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(replay.BatchCount());
    }
    state.counters["batches"] = static_cast<double>(first.BatchCount());
}

// A seek to a batch drawn anywhere, and the batch read there.
void SeekRead(benchmark::State& state, zs::Replay& replay, std::mt19937_64& random) {
    const size_t batch = random() % replay.BatchCount();
    if (replay.Seek(batch) <= 0) state.SkipWithError("the seek failed");
    std::vector<zvHandle> results;
    if (replay.NextBatch(&results) <= 0 || results.size() != kSensors) state.SkipWithError("no batch there");
    for (zvHandle h : results) zvObjectDestroy(h);
}

void BM_SeekAndRead(benchmark::State& state) {
    zs::Replay replay;
    std::string error;
    if (!zs::LoadReplay({Capture()}, &replay, &error)) state.SkipWithError(error.c_str());
    std::mt19937_64 random(7);
    for (auto _ : state) SeekRead(state, replay, random);
}

void BM_OpenSeekRead(benchmark::State& state) {
    std::string error;
    {
        zs::Replay first;  // the index made, outside the timing
        if (!zs::LoadReplay({Capture()}, &first, &error)) state.SkipWithError(error.c_str());
    }
    std::mt19937_64 random(11);
    for (auto _ : state) {
        zs::Replay replay;
        if (!zs::LoadReplay({Capture()}, &replay, &error)) state.SkipWithError(error.c_str());
        SeekRead(state, replay, random);
    }
}

}  // namespace

BENCHMARK(BM_IndexCapture)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OpenIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeekAndRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSeekRead)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    zvInitialize();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    zvTerminate();
    return 0;
}
