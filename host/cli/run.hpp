// `zvhost run` and `zvhost demo`: front ends of the host loop that run a
// mode of the described pipe app on the simulated station or on recorded
// results, as the client host does, with no page: they set the mode's
// parameters, switch the pipes, play for a number of batches or seconds,
// stop, and write what each display shows last.
#ifndef ZVHOST_RUN_HPP
#define ZVHOST_RUN_HPP

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "plugin.hpp"
#include "run_summary.hpp"
#include "zvapi/zvapi.h"
#include "zvstation/station.hpp"

namespace zvhost {

struct RunOptions {
    std::string mode;
    std::filesystem::path files = ".";  // the client's file space
    std::vector<std::pair<std::string, int32_t>> parameters;
    int64_t batches = -1;  // >= 0: this many batches
    double seconds = 2.0;  // else this much simulated time
    // Recorded results instead of the simulator: files and capture folders,
    // replayed in order as one recording.
    std::vector<std::filesystem::path> input;
    // Of a recording, the batches from `from` to `to` (inclusive, counted
    // from 0; -1: its start, its end). Those before `from` go through the
    // mode silently, so that its displays are as a whole run leaves them.
    int64_t from = -1;
    int64_t to = -1;
    zv::station::Options station;
    std::filesystem::path out;  // where the displays' pictures go; none when empty
    bool json = false;          // one JSON event per line on `events`
    bool full = false;          // outputs described with every number they hold
    bool progress = false;      // progress on standard error
};

// Runs `options.mode` of `app` (described as `info`, from `plugin`) in a
// host loop of its own. Events go to `events` as JSON lines when
// options.json. Returns an exit code; for kExitBadInput and kExitFailed
// `*error` says why. A run in which a handler failed (start, any batch,
// stop) ends with kExitFailed, naming the first failing handler call and
// the reason the platform kept for it. `*summary` holds what the run did.
int RunMode(const Plugin& plugin, zvHandle app, const AppInfo& info, const RunOptions& options, std::ostream& events,
            RunSummary* summary, std::string* error);

struct DemoOptions {
    std::filesystem::path files;  // empty: a temporary file space
    std::filesystem::path out = "out/demo";
    double seconds = 2.0;
    uint64_t seed = 1;
    bool json = false;
    bool progress = false;
    // The servers as zvstation processes (the program beside zvhost), each on
    // a copy of its folder, reached over the loopback; stopped at the end.
    bool network = false;
};

// Makes a station of one server with four sensors in the file space when
// it holds none, runs every mode of the app for `seconds` of simulated
// time with pictures into `out`, and prints a summary to `events`.
int RunDemo(const Plugin& plugin, zvHandle app, const AppInfo& info, const DemoOptions& options, std::ostream& events,
            std::string* error);

}  // namespace zvhost

#endif
