// A station through the plug-in: the Free mode, one sensor selected, on a
// server of 30 sensors whose every batch holds one 2048-point profile from
// each sensor. The batches are made by the simulated station before the
// timing; what is timed is the host handing them to the plug-in's process
// handler, one call per batch, its outputs released as a display releases
// them. The counter "profiles_per_second" is what one core keeps up with
// (a station of 30 sensors at 10 kHz sends 300,000 a second).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "plugin.hpp"
#include "zvrunner/mode_runner.hpp"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace {

constexpr int kSensors = 30;
constexpr int kPoints = 2048;
constexpr int kBatches = 16;  // made before the timing, handed out in turn

void BM_StationFree(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "station-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::filesystem::path root = pattern;
    std::string error;
    std::filesystem::create_directory(root / "SN1");
    zvInitialize();
    zvFileSpaceSetRoot(pattern.c_str());
    zv::station::ServerSettings settings = zv::station::DemoSettings(kSensors, 1000);
    if (!zv::station::WriteServerSettings("SN1/Settings.xml", settings, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    zvhost::Plugin library;
    zvHandle app = nullptr;
    if (!library.Load(TORVANE_PLUGIN, &error) || library.Describe(&app) <= 0) {
        state.SkipWithError(("the plug-in: " + error).c_str());
        return;
    }

    zv::station::Station station;
    zv::station::Options options;
    options.profilePoints = kPoints;
    if (!station.Open(root, options, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    station.SetMode(1, "Free");
    station.StartDelivery(1);
    std::vector<zvHandle> batches;
    for (int b = 0; b < kBatches; ++b) {
        std::vector<zvHandle> payloads;
        zvHandle messages = nullptr;
        if (station.NextBatch(&payloads) <= 0 || payloads.size() != kSensors ||
            zv::runner::ModeRunner::MakeMessageList(payloads, &messages) <= 0) {
            state.SkipWithError("the station made no batch of one profile per sensor");
            return;
        }
        batches.push_back(messages);
    }

    {
        zv::runner::ModeRunner runner(app);
        runner.AddServer(1);
        runner.SetReadHook([](const zv::runner::ReadRequest&) { return ZV_OK; });
        runner.SetOutputLimit(1);
        runner.SetParameter("Free", "SelectedSensor", 1000);
        runner.SetParameter("Free", "NumSensors", kSensors);
        if (runner.Start("Free") <= 0) {
            state.SkipWithError("the Free mode did not start");
            return;
        }
        size_t next = 0;
        for (auto _ : state) {
            if (runner.Process(batches[next]) <= 0) {
                state.SkipWithError("the process handler failed");
                break;
            }
            next = (next + 1) % batches.size();
            runner.ClearRecords();
        }
        state.SetItemsProcessed(state.iterations() * kSensors);
        state.counters["profiles_per_second"] =
            benchmark::Counter(static_cast<double>(state.iterations()) * kSensors, benchmark::Counter::kIsRate);
        runner.Stop();
    }
    for (zvHandle messages : batches) zvArrayListDestroy(messages);
    zvPipeAppDestroy(app);
    zvTerminate();
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_StationFree)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
