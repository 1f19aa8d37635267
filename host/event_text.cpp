#include "event_text.hpp"

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

}  // namespace

std::string EventText(const json& e) {
    const std::string kind = Str(e, "event");
    if (kind == "tree") {
        std::string text;
        for (const json& n : e["nodes"]) {
            const bool child = n.contains("parent");
            text += std::string(child ? "    " : "") + Str(n, "path") + " (" + Str(n, "kind") +
                    (n.value("limited", false) ? ", limited" : "") + (n.value("missing", false) ? ", no node" : "") +
                    "):";
            if (n["pages"].empty()) text += " no pages";
            for (const json& p : n["pages"]) text += " " + Str(p, "id") + " " + Quote(Str(p, "name"));
            text += "\n";
            if (n.contains("reason")) text += std::string(child ? "    " : "") + "  why: " + Str(n, "reason") + "\n";
        }
        return text;
    }
    if (kind == "page") {
        if (Str(e, "action") == "open")
            return "page " + Str(e, "id") + " " + Quote(Str(e, "name")) + " on " + Str(e, "node") + "\n";
        return "  " + Str(e, "action") + " -> " + Str(e, "status") + "\n";
    }
    if (kind == "report") return "  report (" + Str(e, "kind") + "): " + Str(e, "text") + "\n";
    if (kind == "messagebox") return "  message box: " + Quote(Str(e, "text")) + " (answered " + Str(e, "answer") + ")\n";
    if (kind == "notify") return "  the page notified the host\n";
    if (kind == "modified") return "  the page holds changes\n";
    if (kind == "mode") return "  " + Pipe(e) + " -> mode " + Quote(Str(e, "mode")) + "\n";
    if (kind == "enabled") return "  " + Pipe(e) + (e.value("on", false) ? " enabled\n" : " disabled\n");
    if (kind == "parameters") {
        std::string text = "  " + Pipe(e) + " parameters of " + Quote(Str(e, "mode")) + ":";
        for (size_t i = 0; i < e["values"].size(); ++i) {
            const std::string name = i < e["names"].size() ? e["names"][i].get<std::string>() : "#" + std::to_string(i);
            text += " " + name + "=" + e["values"][i].dump();
        }
        return text + "\n";
    }
    if (kind == "capture") {
        if (e.contains("segmentSize")) return "  capture segment size " + Str(e, "segmentSize") + " bytes\n";
        const std::string folder = e.contains("folder") ? " (" + Str(e, "folder") + ")" : "";
        return std::string("  capture ") + (e.value("on", false) ? "on" : "off") + folder + "\n";
    }
    if (kind == "layout") return "  display layout " + Str(e, "layout") + "\n";
    if (kind == "listener")
        return "  display listener " + std::string(e.value("added", false) ? "added to" : "removed from") + " display " +
               Str(e, "display") + "\n";
    if (kind == "control") {
        std::string text = "  control " + Str(e, "id") + " (" + Str(e, "kind") + "):";
        for (auto it = e["changes"].begin(); it != e["changes"].end(); ++it)
            if (it.key() != "rect") text += " " + it.key() + "=" + it.value().dump();
        return text + "\n";
    }
    if (kind == "file") {
        // A capture segment recovered at a start says what it lost.
        const std::string cut =
            e.contains("cut") ? " (" + e["cut"].dump() + " bytes after its last whole batch cut)" : "";
        return "  file " + Str(e, "path") + " " + Str(e, "change") + cut + "\n";
    }
    if (kind == "console") {
        std::string text = Str(e, "text");
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return "  console: " + text + "\n";
    }
    if (kind == "handler") {
        const std::string phase = Str(e, "phase");
        if (phase == "process" && e.value("status", 1) > 0) return "";  // one a batch
        return "  " + phase + " handler of " + Quote(Str(e, "mode")) + " -> " + Str(e, "status") + "\n";
    }
    if (kind == "played")
        return "  played " + Quote(Str(e, "mode")) + ": " + Str(e, "batches") + " batches\n";
    if (kind == "play") return std::string("  ") + (e.value("on", false) ? "play\n" : "stop\n");
    if (kind == "written") return "  wrote " + Str(e, "path") + "\n";
    if (kind == "refused") return "  line " + Str(e, "line") + " refused: " + Str(e, "text") + "\n";
    if (kind == "error") return "  error: " + Str(e, "text") + "\n";
    if (kind == "state") {
        std::string text = "  page state (modified " + Str(e, "modified") + "):\n";
        if (e.contains("controls")) {
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
        }
        return text;
    }
    return "";  // outputs and reads: too many to list a line each
}

}  // namespace zvhost
