// The station the host opens, with its servers in-process or as zvstation
// processes over loopback TCP (four sensors each, Free mode, profiles of
// 2048 points), measured where the host takes its batches (NextBatch, the
// results made into zvApi objects):
//  - Stepped: batches pulled one request at a time, as deterministic runs
//    take them, from 1 and 4 servers, beside the in-process station;
//  - Burst: batches the servers made before the timing (of 1 and of 50
//    profiles a sensor), streamed to a client that takes them as real-time
//    delivery does;
//  - Loss: how long until a killed server is reported offline, and until a
//    server restarted on its endpoint delivers again.
// Counters: profiles a second; batches dropped and lost (0 expected).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/station_process.hpp"
#include "zvapi/zvapi.h"
#include "zvstation/net/network_station.hpp"
#include "zvstation/settings.hpp"

namespace net = zv::station::net;
namespace wire = zv::station::wire;
namespace zs = zv::station;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSensors = 4;

struct Setup {
    std::filesystem::path root;
    std::vector<std::unique_ptr<zvtest::StationProcess>> processes;
    std::vector<net::ServerAddress> addresses;
    net::NetworkStation station;
    std::string error;

    int profiles = 1;  // of a sensor in a Free batch

    // `count` servers, on the network or in-process.
    Setup(int count, bool network, net::NetworkOptions options = {}, int profilesPerBatch = 1)
        : profiles(profilesPerBatch) {
        std::string pattern = (std::filesystem::temp_directory_path() / "network-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = "no temporary folder";
            return;
        }
        root = pattern;
        zvInitialize();
        for (int s = 1; s <= count; ++s) {
            const std::string name = "SN" + std::to_string(s);
            std::filesystem::create_directory(root / name);
            zvFileSpaceSetRoot(root.c_str());
            if (!zs::WriteServerSettings(name + "/Settings.xml", zs::DemoSettings(kSensors, 1000 * s), &error)) return;
            if (!network) {
                addresses.push_back({static_cast<uint32_t>(s), "", ""});
                continue;
            }
            if (!Start(s)) return;
            addresses.push_back({static_cast<uint32_t>(s), processes.back()->RequestEndpoint(), ""});
        }
        zs::Options simulation;
        simulation.profilePoints = 2048;
        simulation.freeProfiles = profiles;
        if (!station.Open(root, simulation, addresses, options, &error)) return;
        for (const net::ServerAddress& a : addresses) {
            if (station.SetMode(a.serial, "Free") <= 0 || station.StartDelivery(a.serial) <= 0) {
                error = "the servers do not deliver";
                return;
            }
        }
    }
    bool Start(int s, const std::string& bind = "") {
        auto process = std::make_unique<zvtest::StationProcess>();
        std::vector<std::string> arguments = {"--files",    (root / ("SN" + std::to_string(s))).string(),
                                              "--server",   std::to_string(s),
                                              "--points",   "2048",
                                              "--profiles", std::to_string(profiles)};
        if (!bind.empty()) arguments.insert(arguments.end(), {"--bind", bind});
        if (!process->Start(ZVSTATION_PROGRAM, arguments)) {
            error = process->Log();
            return false;
        }
        if (static_cast<size_t>(s) <= processes.size()) {
            processes[static_cast<size_t>(s) - 1] = std::move(process);
        } else {
            processes.push_back(std::move(process));
        }
        return true;
    }
    ~Setup() {
        for (auto& p : processes)
            if (p) p->Stop();
        if (!root.empty()) std::filesystem::remove_all(root);
    }
};

// Takes one batch; its profile count.
size_t Take(net::NetworkStation* station) {
    std::vector<zvHandle> results;
    station->NextBatch(&results);
    for (zvHandle h : results) zvObjectDestroy(h);
    return results.size();
}

void BM_Stepped(benchmark::State& state) {
    Setup setup(static_cast<int>(state.range(0)), state.range(1) != 0);
    if (!setup.error.empty()) return state.SkipWithError(setup.error.c_str());
    size_t profiles = 0;
    for (auto _ : state) profiles += Take(&setup.station);
    state.counters["profiles_per_second"] =
        benchmark::Counter(static_cast<double>(profiles), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Stepped)
    ->ArgNames({"servers", "network"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({4, 0})
    ->Args({4, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_Burst(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int perBatch = static_cast<int>(state.range(1));
    const auto kBatches = static_cast<uint32_t>(2000 / perBatch);  // per server and run: 8,000 profiles
    net::NetworkOptions options;
    options.pull = false;
    options.queueBatches = kBatches * 2;
    options.queueBytes = size_t{4} << 30;  // the whole burst: none dropped
    options.requestTimeoutMs = 60000;      // Prepare makes thousands of batches
    Setup setup(count, true, options, perBatch);
    if (!setup.error.empty()) return state.SkipWithError(setup.error.c_str());
    size_t profiles = 0;
    for (auto _ : state) {
        for (const net::ServerAddress& a : setup.addresses) {
            net::ServerLink* link = setup.station.Link(a.serial);
            std::string why;
            if (link->SetPull(true, &why) <= 0) return state.SkipWithError(why.c_str());
            wire::Request prepare;
            prepare.op = wire::Op::Prepare;
            prepare.count = kBatches;
            const wire::Reply made = link->Call(prepare);
            if (made.status <= 0) return state.SkipWithError(made.message.c_str());
        }
        // What streamed before the servers were asked to wait is not timed.
        while (Take(&setup.station) > 0) {
        }
        setup.station.Poll();
        const Clock::time_point t0 = Clock::now();
        for (const net::ServerAddress& a : setup.addresses) {
            wire::Request burst;
            burst.op = wire::Op::Burst;
            if (setup.station.Link(a.serial)->Call(burst).status <= 0) return state.SkipWithError("burst refused");
        }
        const size_t want = static_cast<size_t>(count) * kBatches * kSensors * static_cast<size_t>(perBatch);
        size_t got = 0;
        while (got < want && Clock::now() - t0 < std::chrono::seconds(60)) got += Take(&setup.station);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
        profiles += got;
        if (got < want) return state.SkipWithError("not every batch came within 60 s");
    }
    uint64_t dropped = 0;
    uint64_t lost = 0;
    for (const net::StationNotice& n : setup.station.Poll()) {
        if (n.kind == net::StationNotice::Kind::Dropped) dropped += n.count;
        if (n.kind == net::StationNotice::Kind::Lost) lost += n.count;
        if (n.kind == net::StationNotice::Kind::Offline) state.SkipWithError(n.text.c_str());
    }
    state.counters["profiles_per_second"] =
        benchmark::Counter(static_cast<double>(profiles), benchmark::Counter::kIsRate);
    state.counters["dropped"] = static_cast<double>(dropped);
    state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_Burst)
    ->ArgNames({"servers", "profiles"})
    ->Args({1, 1})
    ->Args({4, 1})
    ->Args({1, 50})
    ->Args({4, 50})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Waits for a notice of `kind` from `station`; the seconds it took, or -1.
double Until(net::NetworkStation* station, net::StationNotice::Kind kind, Clock::time_point from) {
    while (Clock::now() - from < std::chrono::seconds(10)) {
        for (const net::StationNotice& n : station->Poll())
            if (n.kind == kind) return std::chrono::duration<double>(Clock::now() - from).count();
        Take(station);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

void BM_Loss(benchmark::State& state) {
    Setup setup(1, true);
    if (!setup.error.empty()) return state.SkipWithError(setup.error.c_str());
    const std::string endpoint = setup.processes[0]->RequestEndpoint();
    double offline = 0;
    double resumed = 0;
    for (auto _ : state) {
        Take(&setup.station);
        setup.processes[0]->Kill();
        const Clock::time_point killed = Clock::now();
        const double lost = Until(&setup.station, net::StationNotice::Kind::Offline, killed);
        if (lost < 0) return state.SkipWithError("the loss was never told");
        const Clock::time_point restarted = Clock::now();
        if (!setup.Start(1, endpoint)) return state.SkipWithError(setup.error.c_str());
        if (Until(&setup.station, net::StationNotice::Kind::Online, restarted) < 0)
            return state.SkipWithError("the return was never told");
        while (Take(&setup.station) == 0 && Clock::now() - restarted < std::chrono::seconds(10)) {
        }
        const double back = std::chrono::duration<double>(Clock::now() - restarted).count();
        state.SetIterationTime(lost + back);
        offline += lost;
        resumed += back;
    }
    state.counters["offline_after_s"] = offline / static_cast<double>(state.iterations());
    state.counters["resumed_after_s"] = resumed / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Loss)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
