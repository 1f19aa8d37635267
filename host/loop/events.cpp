#include "events.hpp"

#include <array>

#include "describe.hpp"
#include "zvapi/zv_station.h"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr std::array kKinds = {
#define ZVHOST_EVENT_ENUM(kind, name) EventKind::kind,
    ZVHOST_EVENT_KINDS(ZVHOST_EVENT_ENUM)
#undef ZVHOST_EVENT_ENUM
};

constexpr std::array kNames = {
#define ZVHOST_EVENT_NAME(kind, name) name,
    ZVHOST_EVENT_KINDS(ZVHOST_EVENT_NAME)
#undef ZVHOST_EVENT_NAME
};

json Of(EventKind kind) { return {{"event", EventName(kind)}}; }

// A pipe as events name it: {"pipe": "client"} or {"pipe": "station", "server": 7}.
json Pipe(EventKind kind, uint32_t server) {
    json j = Of(kind);
    j["pipe"] = server == ZV_CLIENT_PIPE ? "client" : "station";
    if (server != ZV_CLIENT_PIPE) j["server"] = server;
    return j;
}

}  // namespace

const char* EventName(EventKind kind) { return kNames[static_cast<size_t>(kind)]; }

std::span<const EventKind> EventKinds() { return kKinds; }

bool KindByName(const std::string& name, EventKind* kind) {
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) {
            *kind = kKinds[i];
            return true;
        }
    }
    return false;
}

bool KindOf(const json& event, EventKind* kind) {
    if (!event.is_object()) return false;
    auto it = event.find("event");
    return it != event.end() && it->is_string() && KindByName(it->get_ref<const std::string&>(), kind);
}

bool IsEvent(const json& event, EventKind kind) {
    EventKind found{};
    return KindOf(event, &found) && found == kind;
}

namespace events {

json Tree(json nodes) {
    json j = Of(EventKind::Tree);
    j["nodes"] = std::move(nodes);
    return j;
}

json PageOpened(int32_t id, const std::string& name, const std::string& node) {
    json j = Of(EventKind::Page);
    j["action"] = "open";
    j["id"] = id;
    j["name"] = name;
    j["node"] = node;
    return j;
}

json PageCall(const std::string& action, int32_t status) {
    json j = Of(EventKind::Page);
    j["action"] = action;
    j["status"] = status;
    return j;
}

json Report(bool error, const std::string& text, const std::string& node) {
    json j = Of(EventKind::Report);
    j["kind"] = error ? "error" : "text";
    j["text"] = text;
    if (!node.empty()) j["node"] = node;
    return j;
}

json MessageBox(const std::string& text, const std::string& caption, uint32_t type, const std::string& answer) {
    json j = Of(EventKind::MessageBox);
    j["text"] = text;
    j["caption"] = caption;
    j["type"] = type;
    j["answer"] = answer;
    return j;
}

json Notify() { return Of(EventKind::Notify); }

json Modified() { return Of(EventKind::Modified); }

json Mode(uint32_t server, const std::string& mode) {
    json j = Pipe(EventKind::Mode, server);
    j["mode"] = mode;
    return j;
}

json Enabled(uint32_t server, bool on) {
    json j = Pipe(EventKind::Enabled, server);
    j["on"] = on;
    return j;
}

json Parameters(uint32_t server, const std::string& mode, const std::vector<int32_t>& values,
                const std::vector<std::string>& names) {
    json j = Pipe(EventKind::Parameters, server);
    j["mode"] = mode;
    j["values"] = values;
    j["names"] = names;
    return j;
}

json Capture(bool on, const std::string& folder) {
    json j = Of(EventKind::Capture);
    j["on"] = on;
    if (!folder.empty()) j["folder"] = folder;
    return j;
}

json CaptureSegmentSize(int64_t bytes) {
    json j = Of(EventKind::Capture);
    j["segmentSize"] = bytes;
    return j;
}

json Layout(int32_t layout) {
    json j = Of(EventKind::Layout);
    j["layout"] = layout;
    return j;
}

json Listener(int32_t display, bool added) {
    json j = Of(EventKind::Listener);
    j["display"] = display;
    j["added"] = added;
    return j;
}

json Control(int32_t id, const json& kind, json changes) {
    json j = Of(EventKind::Control);
    j["id"] = id;
    j["kind"] = kind;
    j["changes"] = std::move(changes);
    return j;
}

json File(const std::string& path, FileChange change, int64_t size) {
    json j = Of(EventKind::File);
    j["path"] = path;
    j["change"] = change == FileChange::Created ? "created" : change == FileChange::Written ? "written" : "deleted";
    if (size >= 0) j["size"] = size;
    return j;
}

json Recovered(const zv::station::Recovered& r) {
    if (!r.error.empty()) return Error(r.path + ": " + r.error);
    json j = Of(EventKind::File);
    j["path"] = r.path;
    j["change"] = r.kept > 0 ? "recovered" : "deleted";
    if (r.kept > 0) j["size"] = r.kept;
    if (r.cut > 0) j["cut"] = r.cut;
    return j;
}

json Console(const std::string& mode, const std::string& text) {
    json j = Of(EventKind::Console);
    j["mode"] = mode;
    j["text"] = text;
    return j;
}

json Handler(const std::string& mode, zv::runner::Phase phase, zvStatus status, const std::string& reason) {
    json j = Of(EventKind::Handler);
    j["mode"] = mode;
    j["phase"] = zv::runner::PhaseName(phase);
    j["status"] = status;
    if (status <= 0 && !reason.empty()) j["reason"] = reason;
    return j;
}

json Play(bool on) {
    json j = Of(EventKind::Play);
    j["on"] = on;
    return j;
}

json Played(const std::string& mode, int64_t batches, double seconds) {
    json j = Of(EventKind::Played);
    j["mode"] = mode;
    j["batches"] = batches;
    j["seconds"] = seconds;
    return j;
}

json Output(const zv::runner::Output& o, json content) {
    json j = Of(EventKind::Output);
    j["mode"] = o.mode;
    j["display"] = o.display;
    j["kind"] = o.displayKind;
    j["routed"] = o.routed;
    j["label"] = o.label;
    if (!content.is_null()) j["content"] = std::move(content);
    return j;
}

json Read(const std::string& mode, uint32_t server) {
    json j = Of(EventKind::Read);
    j["mode"] = mode;
    j["server"] = server;
    return j;
}

json Written(const std::string& path, const std::string& mode, const std::string& display) {
    json j = Of(EventKind::Written);
    j["path"] = path;
    if (!mode.empty()) j["mode"] = mode;
    if (!display.empty()) j["display"] = display;
    return j;
}

json Refused(int64_t line, const std::string& text) {
    json j = Of(EventKind::Refused);
    j["line"] = line;
    j["text"] = text;
    return j;
}

json Error(const std::string& text) {
    json j = Of(EventKind::Error);
    j["text"] = text;
    return j;
}

json State(json page, int32_t modified, json pipes) {
    json j = page.is_object() ? std::move(page) : json::object();
    j["event"] = EventName(EventKind::State);
    j["modified"] = modified;
    j["pipes"] = std::move(pipes);
    return j;
}

json Summary(const RunSummary& s) {
    json j = Of(EventKind::Summary);
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

json Plugin(const std::string& missing) {
    json j = Of(EventKind::Plugin);
    j["missing"] = missing;
    return j;
}

json Skipped(uint64_t count) {
    json j = Of(EventKind::Skipped);
    j["count"] = count;
    return j;
}

json Server(uint32_t server, const std::string& change, bool restarted, uint64_t count, const std::string& text) {
    json j = Of(EventKind::Server);
    j["server"] = server;
    j["change"] = change;
    if (change == "online") j["restarted"] = restarted;
    if (change == "dropped" || change == "lost") j["count"] = count;
    j["text"] = text;
    return j;
}

}  // namespace events

}  // namespace zvhost
