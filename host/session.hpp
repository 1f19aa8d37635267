// Running a mode of the described pipe app on the simulated station or on
// recorded results, as the client host does, and the demonstration run of
// every mode.
#ifndef ZVHOST_SESSION_HPP
#define ZVHOST_SESSION_HPP

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "plugin.hpp"
#include "zvapi/zvapi.h"
#include "zvrunner/mode_runner.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/station.hpp"

namespace zvhost {

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // the run itself failed (a handler, writing pictures)
constexpr int kExitBadInput = 2;  // arguments, files or plug-in unusable

struct RunOptions {
    std::string mode;
    std::filesystem::path files = ".";  // the client's file space
    std::vector<std::pair<std::string, int32_t>> parameters;
    int64_t batches = -1;               // >= 0: this many batches
    double seconds = 2.0;               // else this much simulated time
    // Recorded results instead of the simulator: files and capture folders,
    // replayed in order as one recording.
    std::vector<std::filesystem::path> input;
    zv::station::Options station;
    std::filesystem::path out;          // where the displays' pictures go; none when empty
    bool json = false;                  // one JSON event per line on `events`
    bool full = false;                  // outputs described with every number they hold
    bool progress = false;              // progress on standard error
};

struct DisplaySummary {
    std::string name;
    int32_t kind = 0;
    int64_t outputs = 0;
};

struct RunSummary {
    std::string mode;
    int64_t batches = 0;
    double simulatedSeconds = 0;
    zvStatus startStatus = ZV_E_STATE;
    zvStatus stopStatus = ZV_E_STATE;
    int64_t failedBatches = 0;          // process calls that returned <= 0
    zvStatus firstFailure = ZV_OK;
    int64_t firstFailedBatch = 0;       // the first of them, from 1; 0: none
    std::string firstFailureReason;     // what the platform said of it, "" when nothing
    int64_t unrouted = 0;               // outputs whose label names no display
    std::vector<DisplaySummary> displays;
    std::vector<std::string> written;   // picture and table files
    std::vector<std::string> console;
    // The latest table of each table display, rows with headings first.
    std::map<std::string, std::vector<std::vector<std::string>>> tables;
    // Wall time spent in the batch loop, seconds: making and releasing the
    // batches' results (station or replay); in the process handler; by the
    // displays taking each output (its event, keeping it, dropping the one
    // it replaces); and by the host itself (messages, parameters, handler
    // calls, routing, records, console and status events: the rest).
    // Writing the pictures after the run is not counted.
    double stationSeconds = 0;
    double handlerSeconds = 0;
    double displaySeconds = 0;
    double hostSeconds = 0;
};

// Why no mode can run on `station`: the servers whose Settings.xml the
// station could not read, each with the reason (file, line when the
// platform names one, what is wrong); "" when every server's could be read.
std::string UnreadSettings(const zv::station::Station& station);

// Runs `options.mode` of `app` (described as `info`). Events go to `events`
// (JSON lines when options.json). Returns an exit code; for kExitBadInput
// and kExitFailed `*error` says why. A run in which a handler failed
// (start, any batch, stop) ends with kExitFailed, naming the first failing
// handler call and the reason the platform kept for it.
int RunMode(zvHandle app, const AppInfo& info, const RunOptions& options, std::ostream& events,
            RunSummary* summary, std::string* error);

// The summary as one JSON object, and as a few lines of text.
nlohmann::json SummaryJson(const RunSummary& summary);
std::string SummaryText(const RunSummary& summary);

struct DemoOptions {
    std::filesystem::path files;        // empty: a temporary file space
    std::filesystem::path out = "out/demo";
    double seconds = 2.0;
    uint64_t seed = 1;
    bool json = false;
    bool progress = false;
};

// Makes a station of one server with four sensors in the file space when
// it holds none, runs every mode of the app for `seconds` of simulated
// time with pictures into `out`, and prints a summary to `events`.
int RunDemo(zvHandle app, const AppInfo& info, const DemoOptions& options, std::ostream& events,
            std::string* error);

// Writes `text` to `path` through a temporary file beside it.
// Writes `text` to `path` of this machine (the host's tables, outside the
// file space) whole or not at all, as every file the host writes there.
bool WriteText(const std::filesystem::path& path, const std::string& text, std::string* error);

// The event that reports a segment an interrupted capture left: recovered
// (with the bytes kept and cut), removed, or not recoverable.
nlohmann::json RecoveryEvent(const zv::station::Recovered& recovered);
// Writes the pictures (PNG and SVG) or tables (JSON and text) of one output
// of `mode` into `out`, named after the mode and the display; appends the
// files made.
bool WriteOutput(const std::filesystem::path& out, const std::string& mode, const zv::runner::Output& o,
                 std::vector<std::string>* written, std::string* error);

// "Video 0" -> "Video_0": a display name as part of a file name.
std::string FileStem(const std::string& mode, const std::string& display);

}  // namespace zvhost

#endif
