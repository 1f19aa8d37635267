// Profiles of 2048 points a second over loopback TCP from 1 and from 4
// zvstation processes (four sensors each, Free mode). Each server makes its
// batches before the timing (pull mode, Prepare); the timing runs from the
// bursts' start until the client's links have received every batch,
// checked, and the client has taken them (and, with "results", made them
// into zvApi results). Counters: profiles a second, and batches lost or
// dropped (0 expected: a burst waits for a full client).
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
#include "zvstation/net/link.hpp"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace net = zv::station::net;
namespace wire = zv::station::wire;

namespace {

constexpr int kSensors = 4;
constexpr uint32_t kBatches = 2000;  // per server and run

struct Servers {
    std::filesystem::path root;
    std::vector<std::unique_ptr<zvtest::StationProcess>> processes;
    std::vector<std::unique_ptr<net::ServerLink>> links;
    std::string error;

    explicit Servers(int count) {
        std::string pattern = (std::filesystem::temp_directory_path() / "transport-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = "no temporary folder";
            return;
        }
        root = pattern;
        zvInitialize();
        for (int s = 1; s <= count; ++s) {
            const std::filesystem::path folder = root / ("SN" + std::to_string(s));
            std::filesystem::create_directory(folder);
            zvFileSpaceSetRoot(root.c_str());
            if (!zv::station::WriteServerSettings("SN" + std::to_string(s) + "/Settings.xml",
                                                  zv::station::DemoSettings(kSensors, 1000 * s), &error))
                return;
            auto process = std::make_unique<zvtest::StationProcess>();
            if (!process->Start(ZVSTATION_PROGRAM,
                                {"--files", folder.string(), "--server", std::to_string(s), "--points", "2048"})) {
                error = process->Log();
                return;
            }
            net::LinkOptions options;
            options.endpoint = process->RequestEndpoint();
            options.queueBatches = kBatches * 2;
            options.queueBytes = size_t{2} << 30;
            options.requestTimeoutMs = 60000;  // Prepare makes thousands of batches
            auto link = std::make_unique<net::ServerLink>(options);
            if (!link->Start(&error)) return;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (link->State() != net::LinkState::Online && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (link->SetPull(true, &error) <= 0 || link->SetMode("Free", &error) <= 0 ||
                link->StartDelivery(&error) <= 0)
                return;
            processes.push_back(std::move(process));
            links.push_back(std::move(link));
        }
    }
    ~Servers() {
        links.clear();
        for (auto& p : processes) p->Stop();
        if (!root.empty()) std::filesystem::remove_all(root);
    }
};

void BM_Transport(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool build = state.range(1) != 0;
    Servers servers(count);
    if (!servers.error.empty()) return state.SkipWithError(servers.error.c_str());
    uint64_t lost = 0;
    uint64_t dropped = 0;
    uint64_t received = 0;
    for (auto _ : state) {
        for (auto& link : servers.links) {
            wire::Request prepare;
            prepare.op = wire::Op::Prepare;
            prepare.count = kBatches;
            const wire::Reply made = link->Call(prepare);
            if (made.status <= 0 || made.size != kBatches) return state.SkipWithError(made.message.c_str());
        }
        const auto t0 = std::chrono::steady_clock::now();
        for (auto& link : servers.links) {
            wire::Request burst;
            burst.op = wire::Op::Burst;
            if (link->Call(burst).status <= 0) return state.SkipWithError("a burst was refused");
        }
        uint64_t taken = 0;
        const uint64_t total = static_cast<uint64_t>(count) * kBatches;
        std::vector<zvHandle> results;
        const auto deadline = t0 + std::chrono::seconds(60);
        while (taken < total && std::chrono::steady_clock::now() < deadline) {
            for (auto& link : servers.links) {
                net::ReceivedBatch batch;
                while (link->TakeBatch(&batch, 0)) {
                    ++taken;
                    if (!build) continue;
                    results.clear();
                    batch.Results(&results);
                    for (zvHandle h : results) zvObjectDestroy(h);
                }
            }
            if (taken < total) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
        received += taken;
        if (taken < total) return state.SkipWithError("not every batch arrived within 60 s");
    }
    for (auto& link : servers.links) {
        const net::LinkStats stats = link->Stats();
        lost += stats.lost;
        dropped += stats.droppedOldest;
    }
    state.counters["profiles_per_second"] =
        benchmark::Counter(static_cast<double>(received) * kSensors, benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(lost);
    state.counters["dropped"] = static_cast<double>(dropped);
}
BENCHMARK(BM_Transport)
    ->ArgNames({"servers", "results"})
    ->Args({1, 0})
    ->Args({4, 0})
    ->Args({1, 1})
    ->Args({4, 1})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
