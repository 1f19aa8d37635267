#include "web_server.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <regex>

#include <httplib.h>

#include "text.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr int kMaxDepth = 8;                       // the API's bodies are flat objects
constexpr size_t kMaxText = 32767;                 // what a full edit takes
constexpr size_t kMaxName = 256;                   // node paths and display names
constexpr std::chrono::milliseconds kHeartbeat{15000};  // a comment keeps idle streams open
constexpr std::chrono::milliseconds kSlice{500};        // streams look at Stop this often

void SetJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void SetReply(httplib::Response& res, const Reply& reply) { SetJson(res, reply.status, reply.body); }

// The body of a POST as a JSON object, or a refusal.
bool ParseBody(const httplib::Request& req, json* body, Reply* refusal) {
    const std::string type = Lower(req.get_header_value("Content-Type"));
    if (type.rfind("application/json", 0) != 0) {
        *refusal = Reply::Error(415, "the body must be JSON (Content-Type: application/json)");
        return false;
    }
    if (JsonDepth(req.body) > kMaxDepth) {
        *refusal = Reply::Error(400, "the body nests deeper than " + std::to_string(kMaxDepth) + " levels");
        return false;
    }
    *body = json::parse(req.body, nullptr, false);
    if (body->is_discarded() || !body->is_object()) {
        *refusal = Reply::Error(400, "the body is not a JSON object");
        return false;
    }
    return true;
}

// A member of a body: absent is `*present` false; of the wrong type a refusal.
bool Integer(const json& body, const char* name, int64_t low, int64_t high, int64_t* value, Reply* refusal) {
    auto it = body.find(name);
    if (it == body.end() || !it->is_number_integer() || it->get<int64_t>() < low || it->get<int64_t>() > high) {
        *refusal = Reply::Error(400, std::string("\"") + name + "\" must be a whole number from " +
                                         std::to_string(low) + " to " + std::to_string(high));
        return false;
    }
    *value = it->get<int64_t>();
    return true;
}

bool Text(const json& body, const char* name, size_t most, std::string* value, Reply* refusal) {
    auto it = body.find(name);
    if (it == body.end() || !it->is_string()) {
        *refusal = Reply::Error(400, std::string("\"") + name + "\" must be a text");
        return false;
    }
    if (it->get_ref<const std::string&>().size() > most) {
        *refusal = Reply::Error(413, std::string("\"") + name + "\" is longer than " + std::to_string(most) + " bytes");
        return false;
    }
    *value = it->get<std::string>();
    return true;
}

// ---- Commands: checked on the loop thread against the loop's own state --------------

Reply OpenCommand(HostLoop& loop, const std::string& path, int32_t id) {
    const TreeNode* node = loop.FindNode(path);
    if (node == nullptr) return Reply::Error(404, "no node \"" + path + "\" in the tree");
    if (std::find(node->pages.begin(), node->pages.end(), id) == node->pages.end())
        return Reply::Error(404, "node " + node->path + " has no page " + std::to_string(id));
    std::string error;
    // Opening closes the page before, which may rebuild the tree `node` is in.
    if (!loop.OpenPage(node->path, std::to_string(id), &error)) return Reply::Error(500, error);
    return {200, {{"open", id}, {"node", loop.OpenPageNode()}}};
}

// The loop refuses an action the user could not take before the page is
// called: a missing control or item is not found, an action the control
// does not take is a bad request, a disabled or hidden control a conflict.
Reply ActionCommand(HostLoop& loop, const PageAction& action) {
    if (!loop.PageOpen()) return Reply::Error(409, "no page is open");
    std::string error;
    wf::driver::Result outcome = wf::driver::Result::Done;
    if (!loop.Act(action, &error, &outcome)) {
        switch (outcome) {
            case wf::driver::Result::NoWindow:
            case wf::driver::Result::NoSuchItem: return Reply::Error(404, error);
            case wf::driver::Result::WrongKind: return Reply::Error(400, error);
            default: return Reply::Error(409, error);
        }
    }
    return {200, {{"modified", loop.PageModified() != 0}}};
}

bool ParseAction(const json& body, PageAction* action, Reply* refusal) {
    static const std::pair<const char*, PageAction::Kind> kActions[] = {
        {"type", PageAction::Kind::Type},     {"blur", PageAction::Kind::Blur},   {"click", PageAction::Kind::Click},
        {"select", PageAction::Kind::Select}, {"slide", PageAction::Kind::Slide}, {"apply", PageAction::Kind::Apply},
        {"reload", PageAction::Kind::Reload}};
    std::string name;
    if (!Text(body, "action", 32, &name, refusal)) return false;
    bool known = false;
    for (const auto& [word, kind] : kActions) {
        if (name != word) continue;
        action->kind = kind;
        known = true;
    }
    if (!known) {
        *refusal = Reply::Error(400, "no action \"" + name +
                                         "\" (the actions: type, blur, click, select, slide, apply, reload)");
        return false;
    }
    if (action->kind == PageAction::Kind::Apply || action->kind == PageAction::Kind::Reload) return true;
    int64_t control = 0;
    if (!Integer(body, "control", INT32_MIN, INT32_MAX, &control, refusal)) return false;
    action->control = static_cast<int32_t>(control);
    int64_t number = 0;
    switch (action->kind) {
        case PageAction::Kind::Type: return Text(body, "text", kMaxText, &action->text, refusal);
        case PageAction::Kind::Select:
            if (!Integer(body, "index", 0, INT32_MAX, &number, refusal)) return false;
            action->index = static_cast<int32_t>(number);
            return true;
        case PageAction::Kind::Slide:
            if (!Integer(body, "index", INT32_MIN, INT32_MAX, &number, refusal)) return false;
            action->index = static_cast<int32_t>(number);
            return true;
        default: return true;
    }
}

std::string Event(const char* name, const json& data) {
    return std::string("event: ") + name + "\ndata: " + data.dump() + "\n\n";
}

}  // namespace

// ---- Checks shared with the tests -------------------------------------------------------

bool HostAllowed(const std::string& host) {
    std::string name;
    std::string rest;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) return false;
        name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        unsigned char address[16];
        if (inet_pton(AF_INET6, name.c_str(), address) != 1) return false;
    } else {
        const size_t colon = host.find(':');
        name = host.substr(0, colon);
        rest = colon == std::string::npos ? "" : host.substr(colon);
        unsigned char address[4];
        if (Lower(name) != "localhost" && inet_pton(AF_INET, name.c_str(), address) != 1) return false;
    }
    if (rest.empty()) return true;
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
    return std::all_of(rest.begin() + 1, rest.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool OriginAllowed(const std::string& origin, const std::string& host) {
    return origin.empty() || Lower(origin) == "http://" + Lower(host);
}

int JsonDepth(const std::string& text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// ---- The server ----------------------------------------------------------------------------

struct WebServer::Impl {
    LoopThread& loop;
    ServeOptions options;
    httplib::Server server;
    int port = 0;
    std::atomic<int> streams{0};
    std::atomic<bool> stopping{false};

    Impl(LoopThread& l, const ServeOptions& o) : loop(l), options(o) {}
    void Routes();
    void Post(const std::string& pattern, std::function<Reply(const json&)> handle);
    json State() const;
};

json WebServer::Impl::State() const {
    json state;
    loop.Read([&](const Published& p) {
        state = {{"tree", p.tree}, {"page", p.page}, {"pipes", p.pipes}, {"displays", p.displays},
                 {"box", p.box}, {"log", json(std::vector<json>(p.log.begin(), p.log.end()))}};
    });
    return state;
}

void WebServer::Impl::Post(const std::string& pattern, std::function<Reply(const json&)> handle) {
    server.Post(pattern, [handle](const httplib::Request& req, httplib::Response& res) {
        json body;
        Reply refusal;
        if (!ParseBody(req, &body, &refusal)) return SetReply(res, refusal);
        SetReply(res, handle(body));
    });
}

void WebServer::Impl::Routes() {
    server.set_payload_max_length(options.maxBody);
    server.set_read_timeout(10);
    server.set_write_timeout(5);
    // Headers and body go out in separate writes: without this the body
    // waits for the browser's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    // Event streams hold a thread each: room for them and for the requests.
    const size_t threads = static_cast<size_t>(options.maxStreams) + 8;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"}});

    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        const std::string host = req.get_header_value("Host");
        if (!HostAllowed(host)) {
            SetJson(res, 403, {{"error", "requests must name this machine by its address or as localhost, not \"" +
                                             host + "\""}});
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!OriginAllowed(req.get_header_value("Origin"), host)) {
            SetJson(res, 403, {{"error", "requests from another origin (" + req.get_header_value("Origin") +
                                             ") are refused"}});
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        std::string text = "request refused";
        if (res.status == 404) text = "nothing at " + req.path;
        if (res.status == 413) text = "the body is too large";
        if (res.status == 400) text = "malformed request";
        if (res.status == 405) text = "method not allowed";
        SetJson(res, res.status, {{"error", text}});
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
        std::string what = "the server failed on this request";
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            what += std::string(": ") + e.what();
        } catch (...) {
        }
        SetJson(res, 500, {{"error", what}});
    });

    // The page: fixed names, served from memory.
    for (const char* name : {"index.html", "app.js", "style.css"}) {
        const WebAsset* asset = FindWebAsset(name);
        if (asset == nullptr) continue;
        auto serve = [asset](const httplib::Request&, httplib::Response& res) {
            res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
            res.set_header("Content-Security-Policy",
                           "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                           "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
        };
        server.Get("/" + std::regex_replace(name, std::regex("\\."), "\\."), serve);
        if (std::string(name) == "index.html") server.Get("/", serve);
    }

    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) { SetJson(res, 200, State()); });

    server.Get("/api/display", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.get_param_value("name");
        if (name.empty() || name.size() > kMaxName)
            return SetJson(res, 400, {{"error", "name the display: /api/display?name=NAME"}});
        DisplayPicture picture;
        const Reply reply = loop.Picture(name, &picture, options.wait);
        if (reply.status != 200) return SetReply(res, reply);
        res.set_content(picture.bytes, picture.type);
        res.set_header("X-Generation", std::to_string(picture.generation));
    });

    server.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        if (++streams > options.maxStreams) {
            --streams;
            return SetJson(res, 503, {{"error", "too many event streams are open"}});
        }
        // What this stream has sent; it sends each part again only when its
        // version moved, so a slow reader skips what it missed.
        struct Sent {
            uint64_t changes = UINT64_MAX, tree = 0, page = 0, pipes = 0, displays = 0, box = 0, log = 0;
            bool first = true;
        };
        auto sent = std::make_shared<Sent>();
        res.set_header("X-Accel-Buffering", "no");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, sent](size_t, httplib::DataSink& sink) {
                if (stopping) return false;
                uint64_t seen = sent->changes;
                bool changed = sent->first;
                for (auto waited = kSlice; !changed && !stopping && waited <= kHeartbeat; waited += kSlice)
                    changed = loop.WaitForChange(&seen, kSlice);
                if (stopping) return false;
                if (!changed) return sink.write(": idle\n\n", 8);
                std::string out;
                bool stopped = false;
                loop.Read([&](const Published& p) {
                    stopped = p.stopped;
                    sent->changes = p.changes;
                    if (sent->first || p.treeVersion != sent->tree) out += Event("tree", p.tree);
                    if (sent->first || p.pageVersion != sent->page) out += Event("page", p.page);
                    if (sent->first || p.pipesVersion != sent->pipes) out += Event("pipes", p.pipes);
                    if (sent->first || p.displaysVersion != sent->displays) out += Event("displays", p.displays);
                    if (sent->first || p.boxVersion != sent->box) out += Event("box", p.box);
                    const uint64_t oldest = p.logNext - p.log.size();
                    if (sent->log < oldest && !sent->first)
                        out += Event("log", {{"event", "skipped"}, {"count", oldest - sent->log}});
                    for (const json& entry : p.log)
                        if (entry.value("seq", uint64_t{0}) >= sent->log) out += Event("log", entry);
                    sent->tree = p.treeVersion;
                    sent->page = p.pageVersion;
                    sent->pipes = p.pipesVersion;
                    sent->displays = p.displaysVersion;
                    sent->box = p.boxVersion;
                    sent->log = p.logNext;
                });
                sent->first = false;
                if (!out.empty() && !sink.write(out.data(), out.size())) return false;
                return !stopped;
            },
            [this](bool) { --streams; });
    });

    Post("/api/open", [this](const json& body) {
        std::string node;
        int64_t page = 0;
        Reply refusal;
        if (!Text(body, "node", kMaxName, &node, &refusal)) return refusal;
        if (!Integer(body, "page", 0, INT32_MAX, &page, &refusal)) return refusal;
        return loop.Call([node, page](HostLoop& l) { return OpenCommand(l, node, static_cast<int32_t>(page)); },
                         options.wait);
    });
    Post("/api/close", [this](const json&) {
        return loop.Call([](HostLoop& l) {
            l.ClosePage();
            return Reply{};
        }, options.wait);
    });
    Post("/api/action", [this](const json& body) {
        PageAction action;
        Reply refusal;
        if (!ParseAction(body, &action, &refusal)) return refusal;
        return loop.Call([action](HostLoop& l) { return ActionCommand(l, action); }, options.wait);
    });
    Post("/api/play", [this](const json& body) {
        auto on = body.find("on");
        if (on == body.end() || !on->is_boolean()) return Reply::Error(400, "\"on\" must be true or false");
        const bool playing = on->get<bool>();
        return loop.Call([playing](HostLoop& l) {
            l.SetPlaying(playing);
            return Reply{200, {{"playing", l.Playing()}, {"running", l.Running()}}};
        }, options.wait);
    });
    Post("/api/messagebox", [this](const json& body) {
        int64_t id = 0;
        std::string answer;
        Reply refusal;
        if (!Integer(body, "id", 1, INT64_MAX, &id, &refusal)) return refusal;
        if (!Text(body, "answer", 16, &answer, &refusal)) return refusal;
        for (int32_t code : {wf::kIdOk, wf::kIdCancel, wf::kIdYes, wf::kIdNo})
            if (answer == ButtonName(code)) return loop.AnswerBox(static_cast<uint64_t>(id), code);
        return Reply::Error(400, "no answer \"" + answer + "\" (the answers: OK, Cancel, Yes, No)");
    });
}

WebServer::WebServer(LoopThread& loop, const ServeOptions& options) : impl_(std::make_unique<Impl>(loop, options)) {
    impl_->Routes();
}

WebServer::~WebServer() { Stop(); }

bool WebServer::Bind(std::string* error) {
    if (impl_->options.port == 0) {
        impl_->port = impl_->server.bind_to_any_port(impl_->options.bind);
    } else if (impl_->server.bind_to_port(impl_->options.bind, impl_->options.port)) {
        impl_->port = impl_->options.port;
    } else {
        impl_->port = -1;
    }
    if (impl_->port <= 0) {
        *error = "cannot listen on " + impl_->options.bind + " port " + std::to_string(impl_->options.port) +
                 " (in use, or not an address of this machine)";
        return false;
    }
    return true;
}

int WebServer::Port() const { return impl_->port; }

bool WebServer::Serve() { return impl_->server.listen_after_bind(); }

void WebServer::Stop() {
    impl_->stopping = true;
    impl_->server.stop();
}

}  // namespace zvhost
