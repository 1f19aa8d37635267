#include "run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <system_error>

#include "describe.hpp"
#include "event_text.hpp"
#include "exit_codes.hpp"
#include "host_loop.hpp"
#include "output_files.hpp"
#include "station_file.hpp"
#include "station_processes.hpp"

namespace zvhost {

namespace {

using nlohmann::json;

std::string ModeList(const AppInfo& info) {
    std::string text;
    for (const ModeInfo& m : info.modes) text += (text.empty() ? "" : ", ") + m.name;
    return text.empty() ? "none" : text;
}

// The mode and its parameters exist; "" when they do, else why not.
std::string CheckRun(const AppInfo& info, const RunOptions& options) {
    const ModeInfo* mode = info.Find(options.mode);
    if (mode == nullptr) return "unknown mode \"" + options.mode + "\"; the modes are: " + ModeList(info);
    for (const auto& [name, value] : options.parameters) {
        bool declared = false;
        for (const ParameterInfo& p : mode->parameters) declared = declared || p.name == name;
        if (declared) continue;
        std::string names;
        for (const ParameterInfo& p : mode->parameters) names += (names.empty() ? "" : ", ") + p.name;
        return "mode \"" + options.mode + "\" has no parameter \"" + name + "\" (it declares " +
               (names.empty() ? std::string("none") : names) + ")";
    }
    return "";
}

// --from and --to name batches of the recording, in order; "" when they do.
std::string CheckRange(const RunOptions& options, const HostLoop& loop) {
    if (options.from < 0 && options.to < 0) return "";
    if (loop.Replaying() == nullptr) return "--from and --to name batches of a recording: give it with --input";
    const auto count = static_cast<int64_t>(loop.Replaying()->BatchCount());
    const std::string holds = "the recording holds " + std::to_string(count) + " batches" +
                              (count > 0 ? " (0 to " + std::to_string(count - 1) + ")" : std::string());
    if (options.from >= 0 && options.to >= 0 && options.from > options.to)
        return "--from " + std::to_string(options.from) + " is after --to " + std::to_string(options.to);
    if (options.from >= count) return "--from " + std::to_string(options.from) + " is beyond the end: " + holds;
    if (options.to >= count) return "--to " + std::to_string(options.to) + " is beyond the end: " + holds;
    return "";
}

void Progress(const RunOptions& options, HostLoop& loop, bool last) {
    std::fprintf(stderr, "\r%s: %lld batches, %.2f s simulated%s", options.mode.c_str(),
                 static_cast<long long>(loop.LastRun().batches), loop.Station().Time(), last ? "\n" : "");
}

// Steps the running mode until the run has its batches or its simulated
// time, or the recording ends; the station's failure when it failed.
std::string Steps(const RunOptions& options, HostLoop& loop) {
    const bool replaying = !options.input.empty();
    const int64_t skipped = std::max<int64_t>(options.from, 0);
    for (;;) {
        const int64_t batches = loop.LastRun().batches - skipped;
        if (options.batches >= 0 ? batches >= options.batches
                                 : (!replaying && loop.Station().Time() >= options.seconds))
            break;
        if (options.to >= 0 && loop.Replaying()->Position() > static_cast<size_t>(options.to)) break;
        if (!loop.Step()) break;
        if (options.progress && loop.LastRun().batches % 10 == 0) Progress(options, loop, false);
    }
    if (options.progress) Progress(options, loop, true);
    return loop.DeliveryError();
}

// The summary of the stopped run, with every display of the mode (also
// those that received nothing), the latest table of each table display and
// the pictures written into options.out.
bool Finish(const ModeInfo& mode, const RunOptions& options, HostLoop& loop, RunSummary* summary, std::string* error) {
    *summary = loop.LastRun();
    std::vector<DisplaySummary> displays;
    for (const DisplayInfo& d : mode.displays) {
        DisplaySummary entry{d.name, d.kind, 0};
        for (const DisplaySummary& seen : summary->displays)
            if (seen.name == d.name) entry.outputs = seen.outputs;
        displays.push_back(entry);
    }
    summary->displays = std::move(displays);
    for (HostDisplay* display : loop.Displays().Of(mode.name)) {
        const zvHandle showing = display->Showing();
        if (showing != nullptr && zvObjectIs(showing, ZV_TYPE_ARRAYLIST))
            summary->tables[display->Name()] = TableRows(showing);
    }
    if (options.out.empty()) return true;
    std::vector<WrittenFile> files;
    const bool written = WriteDisplays(loop, options.out, &files, error);
    for (const WrittenFile& f : files) {
        summary->written.push_back(f.path);
        loop.Emit(events::Written(f.path, f.mode, f.display));
    }
    return written;
}

}  // namespace

int RunMode(const Plugin& plugin, zvHandle app, const AppInfo& info, const RunOptions& options, std::ostream& events,
            RunSummary* summary, std::string* error) {
    *summary = RunSummary{};
    summary->mode = options.mode;
    if (*error = CheckRun(info, options); !error->empty()) return kExitBadInput;
    std::error_code ec;
    if (!options.out.empty() && (std::filesystem::create_directories(options.out, ec), ec)) {
        *error = "cannot create " + options.out.string() + ": " + ec.message();
        return kExitBadInput;
    }
    HostLoop loop(plugin, app, info);
    // Without --json only what opening says is printed (captures recovered,
    // what a replay cut): the run's own events are summed up at its end.
    if (options.json) {
        loop.SetEventSink([&events](const json& event) { events << event.dump() << "\n"; });
    } else {
        loop.SetEventSink([&events](const json& event) { events << EventText(event); });
    }
    HostLoop::Options open;
    open.files = options.files;
    open.station = options.station;
    open.input = options.input;
    open.describeOutputs = options.json;
    open.fullOutputs = options.full;
    if (!loop.Open(open, error)) return kExitBadInput;
    if (*error = CheckRange(options, loop); !error->empty()) return kExitBadInput;
    if (!options.json) loop.SetEventSink(nullptr);
    for (const auto& [name, value] : options.parameters) loop.SetParameter(options.mode, name, value);
    if (const zvStatus status = loop.SwitchMode(options.mode); status <= 0) {
        *error = "cannot switch the pipes to mode \"" + options.mode + "\" (status " + std::to_string(status) + ")";
        return kExitFailed;
    }
    loop.SetPlaying(true);
    if (!loop.Running()) {
        *summary = loop.LastRun();
        if (!loop.RunRefusal().empty()) {
            *error = loop.RunRefusal();
            return kExitBadInput;
        }
        *error = HandlerFailure("start", options.mode, summary->startStatus, summary->startReason);
        return kExitFailed;
    }
    if (options.from > 0 && !loop.SeekReplay(static_cast<size_t>(options.from), error)) {
        loop.SetPlaying(false);
        return kExitFailed;
    }
    const std::string stationError = Steps(options, loop);
    loop.SetPlaying(false);
    const bool written = Finish(*info.Find(options.mode), options, loop, summary, error);
    loop.Emit(events::Summary(*summary));
    if (!written) return kExitFailed;
    if (!stationError.empty()) {
        *error = stationError;
        return kExitFailed;
    }
    if (summary->failedBatches > 0) {
        *error = "batch " + std::to_string(summary->firstFailedBatch) + ": " +
                 HandlerFailure("process", options.mode, summary->firstFailure, summary->firstFailureReason);
        return kExitFailed;
    }
    if (summary->stopStatus <= 0) {
        *error = HandlerFailure("stop", options.mode, summary->stopStatus, summary->stopReason);
        return kExitFailed;
    }
    return kExitOk;
}

namespace {

// The demonstration's file space: the one given, else a temporary one that
// goes when the demonstration ends.
struct DemoSpace {
    std::filesystem::path files;
    bool temporary = false;
    bool created = false;  // its station was made for the demonstration
    ~DemoSpace() {
        std::error_code ignored;
        if (temporary) std::filesystem::remove_all(files, ignored);
    }
};

bool MakeDemoSpace(const DemoOptions& options, DemoSpace* space, std::string* error) {
    std::error_code ec;
    space->files = options.files;
    if (space->files.empty()) {
        std::random_device random;
        space->files = std::filesystem::temp_directory_path(ec) /
                       ("zvhost-demo-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 100000));
        space->temporary = true;
    }
    std::filesystem::create_directories(space->files, ec);
    if (ec) {
        *error = "cannot create the file space " + space->files.string() + ": " + ec.message();
        return false;
    }
    if (!zv::station::EnsureDemoStation(space->files, 4, 1, &space->created, error)) return false;
    return !space->created || DeclareStationServers(space->files, {1}, error);
}

// What a page would set before each mode: the sensor in focus (the first
// server's first), and thresholding on for Video. Says what the station is.
bool DemoPresets(const DemoSpace& space, std::map<std::string, int32_t>* presets, std::string* text,
                 std::string* error) {
    zv::station::Station probe;
    StationServers declared;
    if (!ReadStationServers(space.files, &declared, error) ||
        !probe.OpenServers(space.files, {}, declared.serials, error))
        return false;
    const auto& sensors = probe.Servers().front().settings.sensors;
    const int32_t first = sensors.empty() ? 0 : static_cast<int32_t>(sensors.front().serial);
    *presets = {{"SelectedSensor", first},
                {"NumSensors", static_cast<int32_t>(sensors.size())},
                {"idzThreshold", 200},
                {"threshEnabled", 1}};
    *text = "station: " + std::to_string(probe.Servers().size()) + " server(s) in " + space.files.string() +
            (space.created ? " (made for the demo)" : "") + ", " + std::to_string(sensors.size()) +
            " sensors on the first\n";
    return true;
}

// A temporary folder beside the file space's kind, named `what`.
bool MakeTemporaryFolder(const std::string& what, DemoSpace* space, std::string* error) {
    std::error_code ec;
    std::random_device random;
    space->files = std::filesystem::temp_directory_path(ec) /
                   ("zvhost-demo-" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 100000));
    space->temporary = true;
    std::filesystem::create_directories(space->files, ec);
    if (ec) *error = "cannot create " + space->files.string() + ": " + ec.message();
    return !ec;
}

// The demonstration's servers on the network: each declared server's folder
// copied into `servers`, a zvstation process started on it, and a client
// file space `client` whose description names their endpoints.
bool StartNetworkServers(const DemoOptions& options, const DemoSpace& space, DemoSpace* client, DemoSpace* servers,
                         StationProcesses* processes, std::string* error) {
    const std::filesystem::path program = StationProgram();
    if (program.empty()) {
        *error = "no zvstation program beside zvhost (build the target zvstation_server)";
        return false;
    }
    StationServers declared;
    if (!ReadStationServers(space.files, &declared, error) || !MakeTemporaryFolder("client", client, error) ||
        !MakeTemporaryFolder("servers", servers, error))
        return false;
    std::vector<ServerPlace> places;
    for (uint32_t serial : declared.serials) {
        const std::filesystem::path from = zv::station::ServerFolder(space.files, serial);
        const std::filesystem::path folder = servers->files / ("SN" + std::to_string(serial));
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!from.empty()) std::filesystem::copy(from, folder, std::filesystem::copy_options::recursive, ec);
        if (ec) {
            *error = "cannot copy the folder of server " + std::to_string(serial) + ": " + ec.message();
            return false;
        }
        if (!processes->Start(program, folder, serial, options.seed, error)) return false;
        places.push_back({serial, processes->Endpoints().back(), ""});
    }
    return DeclareStationPlaces(client->files, places, error);
}

}  // namespace

int RunDemo(const Plugin& plugin, zvHandle app, const AppInfo& info, const DemoOptions& options, std::ostream& events,
            std::string* error) {
    DemoSpace space;
    std::map<std::string, int32_t> presets;
    std::string station;
    if (!MakeDemoSpace(options, &space, error) || !DemoPresets(space, &presets, &station, error)) return kExitBadInput;
    // Declared first, so that the servers stop before their folders go.
    DemoSpace client;
    DemoSpace servers;
    StationProcesses processes;
    if (options.network) {
        if (!StartNetworkServers(options, space, &client, &servers, &processes, error)) return kExitBadInput;
        station += "on the network: " + std::to_string(processes.Endpoints().size()) +
                   " zvstation process(es) on copies of the servers' folders";
        for (const std::string& endpoint : processes.Endpoints()) station += " " + endpoint;
        station += "\n";
    }
    if (!options.json) events << station;
    int code = kExitOk;
    for (const ModeInfo& mode : info.modes) {
        RunOptions run;
        run.mode = mode.name;
        run.files = options.network ? client.files : space.files;
        run.seconds = options.seconds;
        run.station.seed = options.seed;
        run.out = options.out;
        run.json = options.json;
        run.progress = options.progress;
        for (const ParameterInfo& p : mode.parameters) {
            auto it = presets.find(p.name);
            if (it != presets.end()) run.parameters.emplace_back(p.name, it->second);
        }
        RunSummary summary;
        const int result = RunMode(plugin, app, info, run, events, &summary, error);
        if (!options.json) events << SummaryText(summary);
        if (result != kExitOk) {
            events << (options.json ? "" : "  failed: " + *error + "\n");
            if (code == kExitOk) code = result;
        }
    }
    if (!options.json) events << "pictures and tables in " << options.out.string() << "\n";
    if (code != kExitOk && error->empty()) *error = "a mode failed";
    return code;
}

}  // namespace zvhost
