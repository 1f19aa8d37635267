// Loading and saving a 48-sensor Settings.xml, against a bare XML parse of
// the same text. The counter "load_per_parse" is the time of one load over
// the time of one bare parse; the goal is at most 3.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "plugin/settings.h"

namespace {

constexpr char kPath[] = "\\SN7\\Settings.xml";

// A file space holding a default 48-sensor document; removed at exit.
struct Station {
    Station() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench-settings-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) abort();
        root = pattern;
        std::filesystem::create_directory(root / "SN7");
        if (zvFileSpaceSetRoot(pattern.c_str()) <= 0) abort();
        if (SettingsCreateDefault(kPath, 48) <= 0) abort();
        std::ifstream in(root / "SN7" / "Settings.xml", std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        text = buffer.str();
    }
    ~Station() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path root;
    std::string text;
};

Station& TheStation() {
    static Station station;
    return station;
}

void LoadOnce() {
    SystemSettings* settings = nullptr;
    if (SettingsLoad(kPath, 0, &settings) <= 0 || zvArrayListCount(settings->Sensors) != 48) abort();
    benchmark::DoNotOptimize(settings);
    SettingsFree(settings);
}

void ParseOnce(const std::string& text) {
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_buffer(text.data(), text.size());
    if (!result) abort();
    benchmark::DoNotOptimize(document.first_child());
}

void BM_SettingsLoad(benchmark::State& state) {
    TheStation();
    for (auto _ : state) LoadOnce();
}
BENCHMARK(BM_SettingsLoad);

void BM_SettingsSave(benchmark::State& state) {
    TheStation();
    SystemSettings* settings = nullptr;
    if (SettingsLoad(kPath, 0, &settings) <= 0) abort();
    for (auto _ : state) {
        settings->MaxSlices ^= 1;
        if (SettingsSave(settings, kPath, 0) <= 0) abort();
    }
    SettingsFree(settings);
}
BENCHMARK(BM_SettingsSave);

void BM_BareParse(benchmark::State& state) {
    const std::string& text = TheStation().text;
    for (auto _ : state) ParseOnce(text);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BareParse);

// Both in one run, alternating, so that the ratio sees the same machine state.
void BM_LoadPerBareParse(benchmark::State& state) {
    const std::string& text = TheStation().text;
    using Clock = std::chrono::steady_clock;
    Clock::duration load{};
    Clock::duration parse{};
    for (auto _ : state) {
        const auto start = Clock::now();
        LoadOnce();
        const auto middle = Clock::now();
        ParseOnce(text);
        const auto end = Clock::now();
        load += middle - start;
        parse += end - middle;
    }
    state.counters["load_per_parse"] =
        parse.count() > 0 ? static_cast<double>(load.count()) / static_cast<double>(parse.count()) : 0.0;
}
BENCHMARK(BM_LoadPerBareParse);

}  // namespace

BENCHMARK_MAIN();
