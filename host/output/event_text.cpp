#include "event_text.hpp"

#include <cstdio>

#include "events.hpp"
#include "plugin.hpp"

namespace zvhost {

namespace {

using nlohmann::json;

std::string Str(const json& j, const char* key) {
    if (!j.contains(key)) return "";
    const json& v = j[key];
    return v.is_string() ? v.get<std::string>() : v.dump();
}

std::string Pipe(const json& e) {
    return Str(e, "pipe") == "client" ? std::string("client pipe") : "station pipe SN" + Str(e, "server");
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

std::string TreeText(const json& e) {
    std::string text;
    for (const json& n : e["nodes"]) {
        const bool child = n.contains("parent");
        text += std::string(child ? "    " : "") + Str(n, "path") + " (" + Str(n, "kind") +
                (n.value("limited", false) ? ", limited" : "") + (n.value("offline", false) ? ", offline" : "") +
                (n.value("missing", false) ? ", no node" : "") + "):";
        if (n["pages"].empty()) text += " no pages";
        for (const json& p : n["pages"]) text += " " + Str(p, "id") + " " + Quote(Str(p, "name"));
        text += "\n";
        if (n.contains("reason")) text += std::string(child ? "    " : "") + "  why: " + Str(n, "reason") + "\n";
    }
    return text;
}

std::string ParametersText(const json& e) {
    std::string text = "  " + Pipe(e) + " parameters of " + Quote(Str(e, "mode")) + ":";
    for (size_t i = 0; i < e["values"].size(); ++i) {
        const std::string name = i < e["names"].size() ? e["names"][i].get<std::string>() : "#" + std::to_string(i);
        text += " " + name + "=" + e["values"][i].dump();
    }
    return text + "\n";
}

std::string CaptureText(const json& e) {
    if (e.contains("segmentSize")) return "  capture segment size " + Str(e, "segmentSize") + " bytes\n";
    const std::string folder = e.contains("folder") ? " (" + Str(e, "folder") + ")" : "";
    return std::string("  capture ") + (e.value("on", false) ? "on" : "off") + folder + "\n";
}

std::string ControlText(const json& e) {
    std::string text = "  control " + Str(e, "id") + " (" + Str(e, "kind") + "):";
    for (auto it = e["changes"].begin(); it != e["changes"].end(); ++it)
        if (it.key() != "rect") text += " " + it.key() + "=" + it.value().dump();
    return text + "\n";
}

std::string StateText(const json& e) {
    std::string text = "  page state (modified " + Str(e, "modified") + "):\n";
    if (!e.contains("controls")) return text;
    for (const json& c : e["controls"]) {
        if (Str(c, "id") == "-1") continue;
        text += "    " + Str(c, "id") + " " + Str(c, "kind") + " " + c["text"].dump();
        if (c.contains("checked")) text += c["checked"].get<bool>() ? " checked" : " unchecked";
        if (c.contains("items")) text += " items " + c["items"].dump() + " selection " + Str(c, "selection");
        if (c.contains("position")) text += " position " + Str(c, "position") + " range " + c["range"].dump();
        if (!c.value("enabled", true)) text += " disabled";
        if (!c.value("visible", true)) text += " hidden";
        text += "\n";
    }
    return text;
}

std::string ConsoleText(const json& e) {
    std::string text = Str(e, "text");
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return "  console: " + text + "\n";
}

std::string HandlerText(const json& e) {
    const std::string phase = Str(e, "phase");
    if (phase == "process" && e.value("status", 1) > 0) return "";  // one a batch
    const std::string reason = e.contains("reason") ? ": " + Str(e, "reason") : "";
    return "  " + phase + " handler of " + Quote(Str(e, "mode")) + " -> " + Str(e, "status") + reason + "\n";
}

}  // namespace

// Every kind has its case: a new kind must say here how it reads.
std::string EventText(const json& e) {
    EventKind kind{};
    if (!KindOf(e, &kind)) return "";
    switch (kind) {
        case EventKind::Tree: return TreeText(e);
        case EventKind::Page:
            if (Str(e, "action") == "open")
                return "page " + Str(e, "id") + " " + Quote(Str(e, "name")) + " on " + Str(e, "node") + "\n";
            return "  " + Str(e, "action") + " -> " + Str(e, "status") + "\n";
        case EventKind::Report: return "  report (" + Str(e, "kind") + "): " + Str(e, "text") + "\n";
        case EventKind::MessageBox:
            return "  message box: " + Quote(Str(e, "text")) + " (answered " + Str(e, "answer") + ")\n";
        case EventKind::Notify: return "  the page notified the host\n";
        case EventKind::Modified: return "  the page holds changes\n";
        case EventKind::Mode: return "  " + Pipe(e) + " -> mode " + Quote(Str(e, "mode")) + "\n";
        case EventKind::Enabled: return "  " + Pipe(e) + (e.value("on", false) ? " enabled\n" : " disabled\n");
        case EventKind::Parameters: return ParametersText(e);
        case EventKind::Capture: return CaptureText(e);
        case EventKind::Layout: return "  display layout " + Str(e, "layout") + "\n";
        case EventKind::Listener:
            return "  display listener " + std::string(e.value("added", false) ? "added to" : "removed from") +
                   " display " + Str(e, "display") + "\n";
        case EventKind::Control: return ControlText(e);
        case EventKind::File: {
            // A capture segment recovered at a start says what it lost.
            const std::string cut =
                e.contains("cut") ? " (" + e["cut"].dump() + " bytes after its last whole batch cut)" : "";
            return "  file " + Str(e, "path") + " " + Str(e, "change") + cut + "\n";
        }
        case EventKind::Console: return ConsoleText(e);
        case EventKind::Handler: return HandlerText(e);
        case EventKind::Play: return std::string("  ") + (e.value("on", false) ? "play\n" : "stop\n");
        case EventKind::Played: return "  played " + Quote(Str(e, "mode")) + ": " + Str(e, "batches") + " batches\n";
        case EventKind::Written: return "  wrote " + Str(e, "path") + "\n";
        case EventKind::Refused: return "  line " + Str(e, "line") + " refused: " + Str(e, "text") + "\n";
        case EventKind::Error: return "  error: " + Str(e, "text") + "\n";
        case EventKind::State: return StateText(e);
        case EventKind::Plugin: return "  the plug-in has no " + Str(e, "missing") + "\n";
        case EventKind::Server:
            return "  server SN" + Str(e, "server") + " " + Str(e, "change") + ": " + Str(e, "text") + "\n";
        // Too many to list a line each (outputs, reads), or printed apart
        // (a run's summary, SummaryText), or the browser's own (skipped).
        case EventKind::Output:
        case EventKind::Read:
        case EventKind::Summary:
        case EventKind::Skipped: return "";
    }
    return "";
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
                      s.handlerSeconds > 0 ? 100 * s.hostSeconds / s.handlerSeconds : 0.0, s.displaySeconds * 1e6 / n,
                      s.stationSeconds * 1e6 / n);
        text += line;
    }
    return text;
}

}  // namespace zvhost
