// How the work on a station's documents grows with their size: saving the
// settings and the calibration of N sensors, reading a document of N
// elements of many attributes, and opening a simulated station of N
// sensors. Each reports the fitted complexity (Google Benchmark's BigO and
// RMS lines): linear work fits O(N) with a small RMS.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "plugin/calibration.h"
#include "plugin/settings.h"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace {

// A fresh file space for one benchmark, removed with it.
struct Space {
    Space() {
        std::string pattern = (std::filesystem::temp_directory_path() / "growth-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) abort();
        root = pattern;
        std::filesystem::create_directory(root / "SN7");
        if (zvFileSpaceSetRoot(pattern.c_str()) <= 0) abort();
    }
    ~Space() { std::filesystem::remove_all(root); }
    void Write(const std::string& relative, const std::string& text) const {
        std::ofstream(root / relative, std::ios::binary) << text;
    }
    std::filesystem::path root;
};

// A Settings.xml of `n` sensors with the elements the plug-in reads.
std::string SettingsText(int64_t n) {
    std::string text =
        "<SensorGroup><OutputBatchCount>1</OutputBatchCount><EncoderResolution>1.0</EncoderResolution>"
        "<OutputInterval>0</OutputInterval><DetectionThreshold>20</DetectionThreshold>"
        "<OverlapFilterEnable>1</OverlapFilterEnable><ObstructionY>0</ObstructionY><VideoStyle>0</VideoStyle>"
        "<VideoExposure>0</VideoExposure><MaxSlices>0</MaxSlices><CalibrationTarget/>"
        "<Capture><Enabled>0</Enabled><Source>0</Source><Divisor>1</Divisor></Capture>"
        "<Members><SensorGroup><Name>0</Name><Members>\n";
    for (int64_t i = 0; i < n; ++i) {
        text += "<Sensor><Name>S" + std::to_string(i) + "</Name><SerialNumber>" + std::to_string(1000 + i) +
                "</SerialNumber><Enabled>1</Enabled><VertexView>0</VertexView><Orientation>0</Orientation>"
                "<Multiplex>0</Multiplex><DetectionThreshold>15</DetectionThreshold></Sensor>\n";
    }
    return text + "</Members></SensorGroup></Members></SensorGroup>\n";
}

void BM_SettingsSave(benchmark::State& state) {
    Space space;
    space.Write("SN7/Settings.xml", SettingsText(state.range(0)));
    SystemSettings* settings = nullptr;
    if (SettingsLoad("\\SN7\\Settings.xml", 0, &settings) <= 0) abort();
    for (auto _ : state) {
        if (SettingsSave(settings, "\\SN7\\Settings.xml", 0) <= 0) abort();
    }
    SettingsFree(settings);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SettingsSave)
    ->RangeMultiplier(2)
    ->Range(1000, 16000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_CalibrationSave(benchmark::State& state) {
    Space space;
    std::string text = "<Calibration>\n";
    for (int64_t i = 0; i < state.range(0); ++i) {
        text += "<Sensor><SerialNumber>" + std::to_string(1000 + (i * 7919) % state.range(0)) +
                "</SerialNumber><X>0</X><Y>0</Y><T>0</T></Sensor>\n";
    }
    space.Write("SN7/Calibration.xml", text + "</Calibration>\n");
    CalibrationSet* set = nullptr;
    if (LoadCalibration("\\SN7\\Calibration.xml", 0, &set) <= 0) abort();
    for (auto _ : state) {
        if (SaveCalibration(set, "\\SN7\\Calibration.xml", 0) <= 0) abort();
    }
    FreeCalibration(set);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CalibrationSave)
    ->RangeMultiplier(2)
    ->Range(1000, 16000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// Elements of 200 attributes each: the check for a repeated attribute.
void BM_ReadManyAttributes(benchmark::State& state) {
    std::string text = "<r>";
    for (int64_t e = 0; e < state.range(0); ++e) {
        text += "<e";
        for (int a = 0; a < 200; ++a) text += " a" + std::to_string(a) + "='1'";
        text += "/>";
    }
    text += "</r>";
    zvHandle document = nullptr;
    zvXMLCreate(&document, nullptr);
    zvXMLInit(document, 0);
    for (auto _ : state) {
        if (zvXMLUnflatten(document, text.c_str()) <= 0) abort();
    }
    zvXMLDestroy(document);
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadManyAttributes)
    ->RangeMultiplier(2)
    ->Range(250, 4000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// What zvhost run does first: the servers of the file space and their
// sensors.
void BM_StationOpen(benchmark::State& state) {
    Space space;
    space.Write("SN7/Settings.xml", SettingsText(state.range(0)));
    for (auto _ : state) {
        zv::station::Station station;
        std::string error;
        if (!station.Open(space.root, {}, &error)) abort();
        benchmark::DoNotOptimize(station.Servers().size());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_StationOpen)
    ->RangeMultiplier(2)
    ->Range(1000, 16000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
