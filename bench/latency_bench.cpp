// How late a batch reaches the mode: from the moment it leaves its server
// to the call of the Free mode's process handler, through the host loop
// and the plug-in loaded as zvhost loads it.
//
// 4 sensors at 10 kHz (200 profiles of 2048 points a sensor every 20 ms,
// 40,000 profiles a second) on 1 server of four sensors or 4 servers of
// one, as zvstation processes over loopback TCP. Each server paces its
// batches in real time, one a batch period; the batches are made before
// the timing and sent round and round, each stamped as it leaves, so that
// making the simulated profiles does not take the cores the client needs
// (a real server's sensors cost it nothing to make).
//
// The client takes batches as `zvhost serve` does: the host loop in real
// time, stepped
//  - paced (stepping=0): as the browser UI's loop does, once a batch period
//    and whenever a server's batch waits (looked for every millisecond);
//  - at once (stepping=1): as soon as the step before returns (a step waits
//    for the first server's batch).
// Counters: p50_ms, p99_ms, max_ms of the latency; batches measured;
// dropped (the client fell behind) and lost (missing from a server's
// stream, the server's own drops included): 0 expected; seconds run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_loop.hpp"
#include "plugin.hpp"
#include "render.hpp"
#include "station_file.hpp"
#include "support/station_process.hpp"
#include "zvapi/zvapi.h"
#include "zvstation/frames.hpp"
#include "zvstation/settings.hpp"

namespace net = zv::station::net;
namespace wire = zv::station::wire;
namespace zs = zv::station;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSensors = 4;             // in all
constexpr int kProfilesPerBatch = 200;  // a sensor's, in 20 ms: 10 kHz
constexpr uint32_t kPrepared = 4;       // batches each server makes ahead and sends round and round
constexpr double kSeconds = 20;         // of real time, measured
constexpr double kWarmup = 1;           // not measured: connections and the mode's first calls

void BM_Latency(benchmark::State& state) {
    const int servers = static_cast<int>(state.range(0));
    const bool atOnce = state.range(1) != 0;
    const int sensors = kSensors / servers;

    std::string pattern = (std::filesystem::temp_directory_path() / "latency-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return state.SkipWithError("no temporary folder");
    const std::filesystem::path root = pattern;
    const std::filesystem::path client = root / "client";
    std::string error;
    zvInitialize();

    // The servers, each in its own folder.
    std::vector<std::unique_ptr<zvtest::StationProcess>> processes;
    std::vector<zvhost::ServerPlace> places;
    for (int s = 1; s <= servers; ++s) {
        const std::filesystem::path folder = root / "servers" / ("SN" + std::to_string(s));
        std::filesystem::create_directories(folder);
        zvFileSpaceSetRoot(folder.c_str());
        if (!zs::WriteServerSettings("Settings.xml", zs::DemoSettings(sensors, 1000 * s), &error))
            return state.SkipWithError(error.c_str());
        auto process = std::make_unique<zvtest::StationProcess>();
        if (!process->Start(ZVSTATION_PROGRAM, {"--files", folder.string(), "--server", std::to_string(s), "--points",
                                                "2048", "--profiles", std::to_string(kProfilesPerBatch)}))
            return state.SkipWithError(process->Log().c_str());
        places.push_back({static_cast<uint32_t>(s), process->RequestEndpoint(), ""});
        processes.push_back(std::move(process));
    }
    std::filesystem::create_directories(client);
    if (!zvhost::DeclareStationPlaces(client, places, &error)) return state.SkipWithError(error.c_str());

    // The client: the plug-in in the host loop, in real time.
    zvhost::Plugin library;
    zvHandle app = nullptr;
    if (!library.Load(TORVANE_PLUGIN, &error) || library.Describe(&app) <= 0)
        return state.SkipWithError(("the plug-in: " + error).c_str());
    const zvhost::AppInfo info = zvhost::ReadApp(app);
    std::vector<double> latencies;
    uint64_t dropped = 0;
    uint64_t lost = 0;
    double ran = 0;
    double longestStep = 0;
    {
        zvhost::HostLoop loop(library, app, info);
        zvhost::HostLoop::Options options;
        options.files = client;
        options.station.profilePoints = 2048;
        options.realTime = true;
        if (!loop.Open(options, &error)) return state.SkipWithError(error.c_str());
        loop.SetParameter("Free", "SelectedSensor", 1000);
        loop.SetParameter("Free", "NumSensors", sensors);
        if (loop.SwitchMode("Free") <= 0) return state.SkipWithError("the servers do not take the Free mode");

        loop.SetPlaying(true);
        if (!loop.Running()) return state.SkipWithError("the Free mode does not run");
        // The mode reads the server of its selected sensor; every server
        // delivers, as a station of 4 sensors at 10 kHz does.
        for (const zvhost::ServerPlace& place : places)
            if (loop.Station().StartDelivery(place.serial) <= 0)
                return state.SkipWithError("a server does not deliver");
        // Each server makes its batches ahead (pulled batches, so nothing
        // streams meanwhile), then paces them out.
        for (const zvhost::ServerPlace& place : places) {
            net::ServerLink* link = loop.Station().Link(place.serial);
            if (link == nullptr || link->SetPull(true, &error) <= 0) return state.SkipWithError(error.c_str());
            wire::Request prepare;
            prepare.op = wire::Op::Prepare;
            prepare.count = kPrepared;
            const wire::Reply made = link->Call(prepare, 60000);
            if (made.status <= 0) return state.SkipWithError(made.message.c_str());
        }
        const auto periods = static_cast<uint32_t>((kWarmup + kSeconds) / 0.02) + 50;
        for (const zvhost::ServerPlace& place : places) {
            wire::Request burst;
            burst.op = wire::Op::Burst;
            burst.count = periods;
            const wire::Reply sent = loop.Station().Link(place.serial)->Call(burst);
            if (sent.status <= 0) return state.SkipWithError(sent.message.c_str());
        }
        for (auto _ : state) {
            const Clock::time_point t0 = Clock::now();
            const Clock::time_point measureFrom =
                t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kWarmup));
            const Clock::time_point until =
                measureFrom + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kSeconds));
            const auto period = std::chrono::milliseconds(20);
            Clock::time_point next = t0;
            for (Clock::time_point now = t0; now < until; now = Clock::now()) {
                if (!atOnce) {
                    while (Clock::now() < next && !loop.BatchesWaiting())
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    if (Clock::now() >= next) {
                        next += period;
                        if (next + 5 * period < Clock::now()) next = Clock::now();  // as the browser UI's loop does
                    }
                }
                loop.Watch();
                const Clock::time_point stepped = Clock::now();
                const bool delivered = loop.Step();
                longestStep = std::max(longestStep, std::chrono::duration<double>(Clock::now() - stepped).count());
                if (!delivered) continue;
                if (Clock::now() < measureFrom) continue;
                const int64_t called = loop.LastRun().lastProcessNs;
                for (const zs::SentBatch& sent : loop.Station().LastSent())
                    latencies.push_back(static_cast<double>(called - sent.sentNs) / 1e6);
            }
            ran = std::chrono::duration<double>(until - measureFrom).count();
        }
        for (const zvhost::ServerPlace& place : places) {
            const net::LinkStats stats = loop.Station().Link(place.serial)->Stats();
            dropped += stats.droppedOldest;
            lost += stats.lost;
        }
        loop.SetPlaying(false);
    }
    zvPipeAppDestroy(app);
    for (auto& p : processes) p->Stop();
    zvTerminate();
    zvhost::ShutdownRendering();
    std::filesystem::remove_all(root);
    if (latencies.empty()) return state.SkipWithError("no batch reached the mode");

    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1, static_cast<size_t>(q * latencies.size()))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.back();
    state.counters["batches"] = static_cast<double>(latencies.size());
    state.counters["expected"] = ran / 0.02 * servers;
    state.counters["dropped"] = static_cast<double>(dropped);
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["seconds"] = ran;
    state.counters["longest_step_ms"] = longestStep * 1e3;
}
BENCHMARK(BM_Latency)
    ->ArgNames({"servers", "stepping"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({4, 0})
    ->Args({4, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
