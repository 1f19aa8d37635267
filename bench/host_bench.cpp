// The host's own cost per batch against the Free mode's process handler on
// 2048-point profiles, measured in the same runs: a Free run of the plug-in
// loaded as zvhost loads it, on the simulated station, as zvhost runs it. Counters: handler_us and host_us per batch,
// host_share (host time over handler time; the goal is at most 0.10), display_us (outputs replaced on a display,
// released), station_us.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "exit_codes.hpp"
#include "plugin.hpp"
#include "render.hpp"
#include "run.hpp"

namespace {

struct NullBuffer : std::streambuf {
    int overflow(int c) override { return c; }
};

void BM_FreeRun(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zvhost-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    bool created = false;
    std::string error;
    zv::station::EnsureDemoStation(pattern, 4, 1, &created, &error);
    zvInitialize();
    zvhost::Plugin library;
    zvHandle app = nullptr;
    if (!library.Load(TORVANE_PLUGIN, &error) || library.Describe(&app) <= 0) {
        state.SkipWithError(("the plug-in: " + error).c_str());
        return;
    }
    const zvhost::AppInfo info = zvhost::ReadApp(app);
    zvhost::RunOptions options;
    options.mode = "Free";
    options.files = pattern;
    options.batches = state.range(0);
    options.station.profilePoints = 2048;
    options.parameters = {{"SelectedSensor", 1000}, {"NumSensors", 4}};
    NullBuffer null;
    std::ostream events(&null);
    double handler = 0, host = 0, station = 0, display = 0;
    int64_t batches = 0;
    for (auto _ : state) {
        zvhost::RunSummary summary;
        if (zvhost::RunMode(library, app, info, options, events, &summary, &error) != zvhost::kExitOk) {
            state.SkipWithError(error.c_str());
            break;
        }
        handler += summary.handlerSeconds;
        host += summary.hostSeconds;
        station += summary.stationSeconds;
        display += summary.displaySeconds;
        batches += summary.batches;
    }
    if (batches > 0) {
        state.counters["handler_us"] = handler * 1e6 / batches;
        state.counters["host_us"] = host * 1e6 / batches;
        state.counters["station_us"] = station * 1e6 / batches;
        state.counters["display_us"] = display * 1e6 / batches;
        state.counters["host_share"] = handler > 0 ? host / handler : 0;
    }
    zvPipeAppDestroy(app);
    zvTerminate();
    zvhost::ShutdownRendering();
    std::filesystem::remove_all(pattern);
}
BENCHMARK(BM_FreeRun)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
