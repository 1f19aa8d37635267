// Mode runs and the demonstration.
#include "session.hpp"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <system_error>

#include "event_text.hpp"
#include "render.hpp"
#include "server_settings.hpp"
#include "station_file.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvrunner/mode_runner.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/replay.hpp"

namespace zvhost {

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// The process handler of the running mode, timed. The host runs one mode
// at a time, so one slot suffices.
struct TimedHandler {
    zvPipeProcessHandler original = nullptr;
    double seconds = 0;
};
TimedHandler g_timed;

zvStatus TimedProcess(void* state, zvHandle engine, zvHandle parameters, zvHandle messages) {
    const Clock::time_point t0 = Clock::now();
    const zvStatus status = g_timed.original(state, engine, parameters, messages);
    g_timed.seconds += Since(t0);
    return status;
}

// Puts the timing wrapper around a mode's process handler for one run and
// takes it off again.
class HandlerTiming {
public:
    HandlerTiming(zvHandle app, const std::string& name) : mode_(zv::runner::FindMode(app, name)) {
        g_timed = {};
        zvPipeProcessHandler original = zvPipeModeProcessHandler(mode_);
        if (original != nullptr && zvPipeModeSetProcessHandler(mode_, &TimedProcess) > 0) g_timed.original = original;
    }
    ~HandlerTiming() {
        if (g_timed.original != nullptr) zvPipeModeSetProcessHandler(mode_, g_timed.original);
        g_timed.original = nullptr;
    }
    HandlerTiming(const HandlerTiming&) = delete;
    HandlerTiming& operator=(const HandlerTiming&) = delete;
    double Seconds() const { return g_timed.seconds; }

private:
    zvHandle mode_ = nullptr;
};

std::string ModeList(const AppInfo& info) {
    std::string text;
    for (const ModeInfo& m : info.modes) text += (text.empty() ? "" : ", ") + m.name;
    return text.empty() ? "none" : text;
}

// The latest output of each display, kept alive until the pictures are
// written; an older one is handed back to the engine as soon as a newer
// one arrives, so a long run holds one object per display.
struct Latest {
    zv::runner::Output output;
    zvHandle engine = nullptr;
    int64_t count = 0;
};

// The host's messages, reused from batch to batch: a batch's payloads are
// put into them for one process call and released afterwards, while the
// messages and their list stay.
class MessageSlots {
public:
    MessageSlots() = default;
    ~MessageSlots() { zvArrayListDestroy(list_); }
    MessageSlots(const MessageSlots&) = delete;
    MessageSlots& operator=(const MessageSlots&) = delete;

    // One message per payload, in order. Takes the payloads whatever
    // happens: on failure those not yet in a message are destroyed.
    zvStatus Fill(const std::vector<zvHandle>& payloads) {
        const auto n = static_cast<int32_t>(payloads.size());
        zvStatus status = ZV_OK;
        if (list_ == nullptr) {
            status = zvArrayListCreate(&list_, nullptr);
            if (status > 0) status = zvArrayListInit(list_, ZV_TYPE_MESSAGE, n, 0);
        }
        while (status > 0 && zvArrayListCount(list_) < n) {
            zvHandle message = nullptr;
            status = zvPipeMsgCreate(&message, nullptr);
            if (status > 0) status = zvArrayListAdd(list_, &message);
            if (status <= 0) zvObjectDestroy(message);
        }
        if (status > 0 && zvArrayListCount(list_) > n) status = zvArrayListResize(list_, n);
        for (int32_t i = 0; i < n; ++i) {
            const auto* slot = status > 0 ? static_cast<const zvHandle*>(zvArrayListAt(list_, i)) : nullptr;
            if (slot != nullptr) status = zvPipeMsgSetData(*slot, payloads[static_cast<size_t>(i)]);
            if (slot == nullptr || status <= 0) {
                for (size_t k = static_cast<size_t>(i); k < payloads.size(); ++k) zvObjectDestroy(payloads[k]);
                Release();
                return slot == nullptr && status > 0 ? ZV_E_STATE : status;
            }
        }
        return ZV_OK;
    }
    zvHandle List() const { return list_; }
    // Destroys the payloads of the last batch.
    void Release() {
        for (int32_t i = 0; i < zvArrayListCount(list_); ++i) {
            const auto* slot = static_cast<const zvHandle*>(zvArrayListAt(list_, i));
            if (slot != nullptr) zvPipeMsgSetData(*slot, nullptr);
        }
    }

private:
    zvHandle list_ = nullptr;
};

}  // namespace

json RecoveryEvent(const zv::station::Recovered& r) {
    if (!r.error.empty()) return {{"event", "error"}, {"text", r.path + ": " + r.error}};
    json event = {{"event", "file"}, {"path", r.path}, {"change", r.kept > 0 ? "recovered" : "deleted"}};
    if (r.kept > 0) event["size"] = r.kept;
    if (r.cut > 0) event["cut"] = r.cut;
    return event;
}

bool WriteText(const std::filesystem::path& path, const std::string& text, std::string* error) {
    if (zv::files::WriteOutsideFile(path.string(), text) > 0) return true;
    *error = zvLastErrorText();
    return false;
}

// Writes the pictures or tables of one output; appends the files made.
bool WriteOutput(const std::filesystem::path& out, const std::string& mode, const zv::runner::Output& o,
                 std::vector<std::string>* written, std::string* error) {
    const std::string stem = (out / FileStem(mode, o.display.empty() ? o.label : o.display)).string();
    auto both = [&](auto render) {
        for (Format format : {Format::Png, Format::Svg}) {
            const std::string path = stem + (format == Format::Png ? ".png" : ".svg");
            if (!render(o.object, path, format, error)) return false;
            written->push_back(path);
        }
        return true;
    };
    switch (zvObjectType(o.object)) {
        case ZV_TYPE_PLOT:
            return both(RenderPlot);
        case ZV_TYPE_IMAGE:
            return both(RenderImage);
        case ZV_TYPE_POLARMODEL:
            return both(RenderPolarModel);
        case ZV_TYPE_ARRAYLIST: {
            const auto rows = TableRows(o.object);
            if (!WriteText(stem + ".json", TableJson(rows).dump(2) + "\n", error)) return false;
            written->push_back(stem + ".json");
            if (!WriteText(stem + ".txt", TableText(rows), error)) return false;
            written->push_back(stem + ".txt");
            return true;
        }
        case ZV_TYPE_STRING: {
            const char* text = zvStringChars(o.object);
            if (!WriteText(stem + ".txt", std::string(text ? text : "") + "\n", error)) return false;
            written->push_back(stem + ".txt");
            return true;
        }
        default:
            return true;
    }
}

std::string FileStem(const std::string& mode, const std::string& display) {
    std::string stem = mode + "-" + display;
    for (char& c : stem) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!keep) c = '_';
    }
    return stem;
}

std::string UnreadSettings(const zv::station::Station& station) {
    std::string why;
    for (const zv::station::Server& server : station.Servers()) {
        if (server.settingsError.empty()) continue;
        // The platform's reading names the line; the station's may not.
        const std::string problem = ReadServerSettingsView(server.serial).problem;
        why += std::string(why.empty() ? "the settings of " : "; ") + "server SN" + std::to_string(server.serial) +
               " cannot be read: " + (problem.empty() ? server.settingsError : problem);
    }
    return why.empty() ? why : why + " (a server's Setup page, System Config, makes them again)";
}

int RunMode(zvHandle app, const AppInfo& info, const RunOptions& options, std::ostream& events,
            RunSummary* summary, std::string* error) {
    *summary = RunSummary{};
    summary->mode = options.mode;
    const ModeInfo* mode = info.Find(options.mode);
    if (mode == nullptr) {
        *error = "unknown mode \"" + options.mode + "\"; the modes are: " + ModeList(info);
        return kExitBadInput;
    }
    for (const auto& [name, value] : options.parameters) {
        bool declared = false;
        for (const ParameterInfo& p : mode->parameters) declared = declared || p.name == name;
        if (!declared) {
            std::string names;
            for (const ParameterInfo& p : mode->parameters) names += (names.empty() ? "" : ", ") + p.name;
            *error = "mode \"" + options.mode + "\" has no parameter \"" + name + "\" (it declares " +
                     (names.empty() ? std::string("none") : names) + ")";
            return kExitBadInput;
        }
    }
    std::error_code ec;
    const std::filesystem::path files = std::filesystem::absolute(options.files, ec);
    zv::station::Station station;
    StationServers servers;
    if (!ReadStationServers(files, &servers, error)) return kExitBadInput;
    if (zvFileSpaceSetRoot(files.c_str()) <= 0) {
        *error = "cannot use " + files.string() + " as the file space";
        return kExitBadInput;
    }
    // What captures and writes interrupted before this start left behind:
    // whole batches kept (a capture replayed now is whole), the rest gone.
    const std::vector<zv::station::Recovered> recovered = zv::station::RecoverCaptures();
    zvFileSpaceSweep("\\");
    if (!station.OpenServers(files, options.station, servers.serials, error)) return kExitBadInput;
    zv::station::Replay replay;
    const bool replaying = !options.input.empty();
    if (replaying && !zv::station::LoadReplay(options.input, &replay, error)) return kExitBadInput;
    if (const std::string why = UnreadSettings(station); !why.empty()) {
        *error = why;
        return kExitBadInput;
    }
    if (!options.out.empty()) {
        std::filesystem::create_directories(options.out, ec);
        if (ec) {
            *error = "cannot create " + options.out.string() + ": " + ec.message();
            return kExitBadInput;
        }
    }

    auto emit = [&](const json& event) {
        if (options.json) events << event.dump() << "\n";
    };
    for (const zv::station::Recovered& r : recovered) {
        emit(RecoveryEvent(r));
        if (!options.json) events << EventText(RecoveryEvent(r));
    }
    // What was cut of a capture that did not end well is said where the
    // run's output goes.
    for (const std::string& note : replay.Notes()) {
        emit({{"event", "error"}, {"text", "replay: " + note}});
        if (!options.json) events << "replay: " << note << "\n";
    }

    zv::runner::ModeRunner runner(app);
    for (const zv::station::Server& server : station.Servers()) {
        zvStatus status = runner.AddServer(server.serial);
        if (status <= 0) {
            *error = "cannot add server " + std::to_string(server.serial) + " to the client (status " +
                     std::to_string(status) + ")";
            return kExitFailed;
        }
    }
    for (const auto& [name, value] : options.parameters) {
        runner.SetParameter(options.mode, name, value);
        for (const zv::station::Server& server : station.Servers()) station.SetParameter(server.serial, name, value);
        emit({{"event", "parameter"}, {"mode", options.mode}, {"name", name}, {"value", value}});
    }
    // The Video mode keeps its masks in the folder of the sensor it shows.
    if (options.mode == "Video") {
        for (const auto& [name, value] : options.parameters)
            if (name == "SelectedSensor" && value != 0) MakeSensorFolder(files, static_cast<uint32_t>(value));
    }
    // The station pipes first, then the client pipe.
    for (const zv::station::Server& server : station.Servers()) {
        station.SetMode(server.serial, options.mode);
        emit({{"event", "mode"}, {"pipe", "station"}, {"server", server.serial}, {"mode", options.mode}});
    }
    emit({{"event", "mode"}, {"pipe", "client"}, {"mode", options.mode}});

    runner.SetReadHook([&](const zv::runner::ReadRequest& request) -> zvStatus {
        emit({{"event", "read"}, {"mode", request.mode}, {"server", request.serverId}});
        if (replaying) return ZV_OK;
        return station.StartDelivery(request.serverId);
    });

    // Few displays per mode: a short list searched in order.
    std::vector<Latest> latest;
    zvHandle engine = nullptr;
    // What the displays do with an output (describe it for the events, keep
    // it, drop the one it replaces) happens inside the handler's sends; it
    // is timed apart as display work, like drawing.
    runner.SetOutputObserver([&](const zv::runner::Output& o) {
        const Clock::time_point t0 = Clock::now();
        if (!o.routed) ++summary->unrouted;
        if (options.json) {
            emit({{"event", "output"}, {"mode", o.mode}, {"display", o.display}, {"kind", o.displayKind},
                  {"routed", o.routed}, {"label", o.label}, {"content", DescribeOutput(o.object, options.full)}});
        }
        zvHandle current = runner.Engine();
        if (current == nullptr) current = engine;
        Latest* entry = nullptr;
        for (Latest& l : latest) {
            if (l.output.routed == o.routed && (o.routed ? l.output.display == o.display : l.output.label == o.label)) {
                entry = &l;
                break;
            }
        }
        if (entry == nullptr) {
            entry = &latest.emplace_back();
            entry->output = o;
        } else if (entry->output.object != nullptr && entry->output.object != o.object) {
            zvPipeEngineRelease(entry->engine, entry->output.object);
        }
        entry->output.object = o.object;
        entry->output.type = o.type;
        entry->engine = current;
        ++entry->count;
        summary->displaySeconds += Since(t0);
    });

    // Every handler call is told apart from the last: the reason the
    // platform keeps for a failure is the one of that call.
    std::string reason;
    auto call = [&](auto&& handler) {
        zvLastErrorClear();
        const zvStatus status = handler();
        reason = status <= 0 ? zvLastErrorText() : "";
        return status;
    };
    // Console prints, handler statuses: drained after every call.
    auto drain = [&]() {
        for (const std::string& text : runner.Prints()) {
            summary->console.push_back(text);
            if (options.json) emit({{"event", "console"}, {"mode", options.mode}, {"text", text}});
        }
        for (const zv::runner::HandlerCall& handlerCall : runner.Calls()) {
            // Events are built only when someone reads them: this runs once a batch.
            if (options.json) {
                json event = {{"event", "handler"}, {"mode", handlerCall.mode},
                              {"phase", zv::runner::PhaseName(handlerCall.phase)}, {"status", handlerCall.status}};
                if (handlerCall.status <= 0 && !reason.empty()) event["reason"] = reason;
                emit(event);
            }
            if (handlerCall.phase == zv::runner::Phase::Process && handlerCall.status <= 0) {
                if (summary->failedBatches == 0) {
                    summary->firstFailure = handlerCall.status;
                    summary->firstFailedBatch = summary->batches;
                    summary->firstFailureReason = reason;
                }
                ++summary->failedBatches;
            }
        }
        runner.ClearRecords();
    };
    // "the start handler of mode "Free" returned -8: <reason>".
    auto failure = [&](const char* phase, zvStatus status, const std::string& why) {
        return std::string("the ") + phase + " handler of mode \"" + options.mode + "\" returned " +
               std::to_string(status) + (why.empty() ? std::string() : ": " + why);
    };

    HandlerTiming timing(app, options.mode);
    summary->startStatus = call([&] { return runner.Start(options.mode); });
    engine = runner.Engine();
    drain();
    if (summary->startStatus <= 0) {
        *error = failure("start", summary->startStatus, reason);
        return kExitFailed;
    }

    const bool tty = options.progress;
    MessageSlots slots;
    const Clock::time_point loop = Clock::now();
    std::vector<zvHandle> payloads;
    for (;;) {
        if (options.batches >= 0 ? summary->batches >= options.batches
                                 : (!replaying && station.Time() >= options.seconds))
            break;
        payloads.clear();
        Clock::time_point t0 = Clock::now();
        zvStatus status = replaying ? replay.NextBatch(&payloads) : station.NextBatch(&payloads);
        summary->stationSeconds += Since(t0);
        if (status <= 0) {
            for (zvHandle h : payloads) zvObjectDestroy(h);
            *error = "the station could not make a batch (status " + std::to_string(status) + ")";
            runner.Stop();
            drain();
            return kExitFailed;
        }
        if (payloads.empty()) break;  // nothing more to deliver
        status = slots.Fill(payloads);
        if (status <= 0) {
            *error = "cannot make the messages of a batch (status " + std::to_string(status) + ")";
            runner.Stop();
            drain();
            return kExitFailed;
        }
        ++summary->batches;
        call([&] { return runner.Process(slots.List()); });
        drain();
        // The station's results end with the call that received them.
        t0 = Clock::now();
        slots.Release();
        summary->stationSeconds += Since(t0);
        if (tty && summary->batches % 10 == 0) {
            std::fprintf(stderr, "\r%s: %lld batches, %.2f s simulated", options.mode.c_str(),
                         static_cast<long long>(summary->batches), station.Time());
        }
    }
    const double loopSeconds = Since(loop);
    if (tty) std::fprintf(stderr, "\r%s: %lld batches, %.2f s simulated\n", options.mode.c_str(),
                          static_cast<long long>(summary->batches), station.Time());
    summary->stopStatus = call([&] { return runner.Stop(); });
    const std::string stopReason = reason;
    drain();
    summary->simulatedSeconds = replaying ? 0 : station.Time();
    summary->handlerSeconds = std::max(0.0, timing.Seconds() - summary->displaySeconds);
    summary->hostSeconds = std::max(0.0, loopSeconds - summary->stationSeconds - summary->handlerSeconds -
                                             summary->displaySeconds);

    for (const DisplayInfo& d : mode->displays) {
        int64_t count = 0;
        for (const Latest& l : latest)
            if (l.output.routed && l.output.display == d.name) count = l.count;
        summary->displays.push_back({d.name, d.kind, count});
    }
    for (const Latest& l : latest) {
        if (l.output.object == nullptr) continue;
        if (l.output.routed && zvObjectIs(l.output.object, ZV_TYPE_ARRAYLIST))
            summary->tables[l.output.display] = TableRows(l.output.object);
        if (options.out.empty() || !l.output.routed) continue;
        std::vector<std::string> files;
        if (!WriteOutput(options.out, options.mode, l.output, &files, error)) return kExitFailed;
        for (const std::string& f : files) {
            summary->written.push_back(f);
            emit({{"event", "written"}, {"mode", options.mode}, {"display", l.output.display}, {"path", f}});
        }
    }
    emit(SummaryJson(*summary));
    if (summary->failedBatches > 0) {
        *error = "batch " + std::to_string(summary->firstFailedBatch) + ": " +
                 failure("process", summary->firstFailure, summary->firstFailureReason);
        return kExitFailed;
    }
    if (summary->stopStatus <= 0) {
        *error = failure("stop", summary->stopStatus, stopReason);
        return kExitFailed;
    }
    return kExitOk;
}

json SummaryJson(const RunSummary& s) {
    json j;
    j["event"] = "summary";
    j["mode"] = s.mode;
    j["batches"] = s.batches;
    j["simulatedSeconds"] = s.simulatedSeconds;
    j["startStatus"] = s.startStatus;
    j["stopStatus"] = s.stopStatus;
    j["failedBatches"] = s.failedBatches;
    j["firstFailure"] = s.firstFailure;
    j["firstFailedBatch"] = s.firstFailedBatch;
    j["firstFailureReason"] = s.firstFailureReason;
    j["unrouted"] = s.unrouted;
    json displays = json::array();
    for (const DisplaySummary& d : s.displays)
        displays.push_back({{"name", d.name}, {"kind", d.kind}, {"outputs", d.outputs}});
    j["displays"] = displays;
    j["written"] = s.written;
    j["console"] = s.console;
    json tables = json::object();
    for (const auto& [name, rows] : s.tables) tables[name] = TableJson(rows);
    j["tables"] = tables;
    const double n = s.batches > 0 ? static_cast<double>(s.batches) : 1.0;
    j["timing"] = {{"stationMicrosPerBatch", s.stationSeconds * 1e6 / n},
                   {"handlerMicrosPerBatch", s.handlerSeconds * 1e6 / n},
                   {"hostMicrosPerBatch", s.hostSeconds * 1e6 / n},
                   {"displayMicrosPerBatch", s.displaySeconds * 1e6 / n},
                   {"hostShareOfHandler", s.handlerSeconds > 0 ? s.hostSeconds / s.handlerSeconds : 0.0}};
    return j;
}

std::string SummaryText(const RunSummary& s) {
    char line[256];
    std::string text;
    std::snprintf(line, sizeof line, "%s: %lld batches, %.2f s simulated, start %d, stop %d", s.mode.c_str(),
                  static_cast<long long>(s.batches), s.simulatedSeconds, s.startStatus, s.stopStatus);
    text += line;
    if (s.failedBatches > 0) {
        std::snprintf(line, sizeof line, ", %lld process calls failed (first: batch %lld, %d)",
                      static_cast<long long>(s.failedBatches), static_cast<long long>(s.firstFailedBatch),
                      s.firstFailure);
        text += line;
        if (!s.firstFailureReason.empty()) text += ": " + s.firstFailureReason;
    }
    text += "\n";
    for (const DisplaySummary& d : s.displays) {
        std::snprintf(line, sizeof line, "  display \"%s\" (%s): %lld outputs\n", d.name.c_str(),
                      KindName(d.kind).c_str(), static_cast<long long>(d.outputs));
        text += line;
        auto t = s.tables.find(d.name);
        if (t != s.tables.end()) {
            for (size_t r = 1; r < t->second.size(); ++r) {
                const auto& row = t->second[r];
                text += "    " + (row.empty() ? std::string() : row[0]) + ": " + (row.size() > 1 ? row[1] : "") + "\n";
            }
        }
    }
    if (s.unrouted > 0) text += "  " + std::to_string(s.unrouted) + " outputs named no display of the mode\n";
    for (const std::string& c : s.console) {
        std::string t = c;
        while (!t.empty() && t.back() == '\n') t.pop_back();
        text += "  console: " + t + "\n";
    }
    for (const std::string& f : s.written) text += "  wrote " + f + "\n";
    if (s.batches > 0) {
        const double n = static_cast<double>(s.batches);
        std::snprintf(line, sizeof line,
                      "  per batch: handler %.1f us, host %.1f us (%.1f %% of the handler), displays %.1f us, "
                      "station %.1f us\n",
                      s.handlerSeconds * 1e6 / n, s.hostSeconds * 1e6 / n,
                      s.handlerSeconds > 0 ? 100 * s.hostSeconds / s.handlerSeconds : 0.0,
                      s.displaySeconds * 1e6 / n, s.stationSeconds * 1e6 / n);
        text += line;
    }
    return text;
}

int RunDemo(zvHandle app, const AppInfo& info, const DemoOptions& options, std::ostream& events,
            std::string* error) {
    std::error_code ec;
    std::filesystem::path files = options.files;
    bool temporary = false;
    if (files.empty()) {
        std::random_device random;
        files = std::filesystem::temp_directory_path(ec) /
                ("zvhost-demo-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 100000));
        temporary = true;
    }
    std::filesystem::create_directories(files, ec);
    if (ec) {
        *error = "cannot create the file space " + files.string() + ": " + ec.message();
        return kExitBadInput;
    }
    bool created = false;
    if (!zv::station::EnsureDemoStation(files, 4, 1, &created, error)) return kExitBadInput;
    if (created && !DeclareStationServers(files, {1}, error)) return kExitBadInput;
    auto cleanup = [&]() {
        if (temporary) std::filesystem::remove_all(files, ec);
    };
    zv::station::Station probe;
    StationServers declared;
    if (!ReadStationServers(files, &declared, error) || !probe.OpenServers(files, {}, declared.serials, error)) {
        cleanup();
        return kExitBadInput;
    }
    const auto& sensors = probe.Servers().front().settings.sensors;
    const int32_t first = sensors.empty() ? 0 : static_cast<int32_t>(sensors.front().serial);
    if (!options.json) {
        events << "station: " << probe.Servers().size() << " server(s) in " << files.string()
               << (created ? " (made for the demo)" : "") << ", " << sensors.size() << " sensors on the first\n";
    }
    // What a page would set before each mode: the sensor in focus, and
    // thresholding on for Video.
    const std::map<std::string, int32_t> presets = {{"SelectedSensor", first},
                                                    {"NumSensors", static_cast<int32_t>(sensors.size())},
                                                    {"idzThreshold", 200},
                                                    {"threshEnabled", 1}};
    int code = kExitOk;
    for (const ModeInfo& mode : info.modes) {
        RunOptions run;
        run.mode = mode.name;
        run.files = files;
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
        const int result = RunMode(app, info, run, events, &summary, error);
        if (!options.json) events << SummaryText(summary);
        if (result != kExitOk) {
            events << (options.json ? "" : "  failed: " + *error + "\n");
            if (code == kExitOk) code = result;
        }
    }
    if (!options.json) events << "pictures and tables in " << options.out.string() << "\n";
    cleanup();
    if (code != kExitOk && error->empty()) *error = "a mode failed";
    return code;
}

}  // namespace zvhost
