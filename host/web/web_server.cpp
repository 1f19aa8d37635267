#include "web_server.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "events.hpp"
#include "text.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr int kMaxDepth = 8;                            // the API's bodies are flat objects
constexpr size_t kMaxText = 32767;                      // what a full edit takes
constexpr size_t kMaxName = 256;                        // node paths and display names
constexpr size_t kMaxClient = 64;                       // a browser's identifier
constexpr std::chrono::milliseconds kHeartbeat{15000};  // a comment keeps idle streams open
constexpr std::chrono::milliseconds kSlice{500};        // streams look at their connection this often
// Beyond the loop's own wait for a picture: the worker's answer is late
// only when something is badly wrong.
constexpr std::chrono::milliseconds kPictureMargin{5000};

const char kFailed[] = "the server failed on this request";
const char kPagePolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

http::Response JsonResponse(int status, const json& body) { return {status, "application/json", JsonText(body), {}}; }

http::Response FromReply(const Reply& reply) { return JsonResponse(reply.status, reply.body); }

Routed Now(http::Response response) {
    Routed routed;
    routed.response = std::move(response);
    return routed;
}

Routed Refused(int status, const std::string& text) { return Now(WebRoutes::Refusal(status, text)); }

// The body of a POST as a JSON object, or a refusal.
bool ParseBody(const http::Request& req, json* body, Reply* refusal) {
    if (!http::MediaTypeIs(req.Header("content-type"), "application/json")) {
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

// A member of a body: absent or of the wrong type or range is a refusal.
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
    if (node == nullptr) return Reply::Error(404, "no node \"" + Shown(path) + "\" in the tree");
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
        *refusal = Reply::Error(
            400, "no action \"" + Shown(name) + "\" (the actions: type, blur, click, select, slide, apply, reload)");
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

// A browser's identifier as it names itself: letters, digits and "-", bounded.
bool ClientId(const std::string& id) {
    return !id.empty() && id.size() <= kMaxClient &&
           std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isalnum(c) || c == '-'; });
}

std::string Event(const char* name, const json& data) {
    return std::string("event: ") + name + "\ndata: " + JsonText(data) + "\n\n";
}

// The value of cookie `name` in a Cookie header, "" when it has none.
std::string CookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::string pair = header.substr(at, end - at);
        const size_t first = pair.find_first_not_of(' ');
        pair.erase(0, first == std::string::npos ? pair.size() : first);
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 && pair[name.size()] == '=')
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return "";
}

}  // namespace

// ---- Checks shared with the tests -------------------------------------------------------

bool HostAllowed(const std::string& host) {
    if (host.find('\0') != std::string::npos) return false;
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

bool LoopbackAddress(const std::string& address) {
    if (Lower(address) == "localhost") return true;
    unsigned char v4[4];
    if (inet_pton(AF_INET, address.c_str(), v4) == 1) return v4[0] == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
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

std::string JsonText(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

namespace {

// A download's file name: the display's name in letters, digits, "-" and
// "_" only (no quote or path reaches the header), and its generation.
std::string DownloadName(const std::string& display, const DisplayPicture& picture) {
    std::string name;
    for (const char c : display) name += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    return name + "-" + std::to_string(picture.generation) + (picture.type == "image/png" ? ".png" : ".json");
}

}  // namespace

// ---- The routes ----------------------------------------------------------------------------

WebRoutes::WebRoutes(LoopThread& loop, const ServeOptions& options) : loop_(loop), options_(options) {}

void WebRoutes::SetPort(int port) { cookie_ = "zvhost-token-" + std::to_string(port); }

http::Response WebRoutes::Refusal(int status, const std::string& text) {
    return JsonResponse(status, {{"error", text}});
}

Routed WebRoutes::Route(const http::Request& request) const {
    try {
        return Checked(request);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zvhost: a request failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zvhost: a request failed\n");
    }
    return Refused(500, kFailed);
}

bool WebRoutes::Authorized(const http::Request& req, bool* fromQuery) const {
    *fromQuery = false;
    const std::string& authorization = req.Header("authorization");
    if (authorization.size() > 7 && Lower(authorization.substr(0, 7)) == "bearer " &&
        http::SameSecret(authorization.substr(7), options_.token))
        return true;
    if (http::SameSecret(CookieValue(req.Header("cookie"), cookie_), options_.token)) return true;
    *fromQuery = http::SameSecret(req.Query("token"), options_.token);
    return *fromQuery;
}

Routed WebRoutes::Checked(const http::Request& req) const {
    const std::string& host = req.Header("host");
    if (!HostAllowed(host))
        return Refused(403,
                       "requests must name this machine by its address or as localhost, not \"" + Shown(host) + "\"");
    const std::string& origin = req.Header("origin");
    if (!OriginAllowed(origin, host))
        return Refused(403, "requests from another origin (" + Shown(origin) + ") are refused");
    if (!options_.token.empty()) {
        bool fromQuery = false;
        if (!Authorized(req, &fromQuery)) {
            http::Response refusal =
                Refusal(401,
                        "this server needs its token: open the address zvhost serve printed (it carries "
                        "?token=...), or send the header Authorization: Bearer TOKEN");
            refusal.headers.emplace_back("WWW-Authenticate", "Bearer");
            return Now(std::move(refusal));
        }
        // The address with the token sets the cookie that carries it from
        // then on, and leaves for the page's own address.
        if (fromQuery && req.method == "GET" && (req.path == "/" || req.path == "/index.html")) {
            http::Response moved{303, "", "", {}};
            moved.headers.emplace_back("Location", "/");
            moved.headers.emplace_back("Set-Cookie",
                                       cookie_ + "=" + options_.token + "; Path=/; HttpOnly; SameSite=Strict");
            return Now(std::move(moved));
        }
    }
    return Dispatch(req);
}

http::Response WebRoutes::State() const {
    json state;
    loop_.Read([&](const Published& p) {
        state = {{"tree", p.tree},   {"page", p.page},
                 {"pipes", p.pipes}, {"displays", p.displays},
                 {"box", p.box},     {"log", json(std::vector<json>(p.log.begin(), p.log.end()))}};
    });
    return JsonResponse(200, state);
}

Routed WebRoutes::Command(LoopThread::Command command) const {
    Routed routed;
    routed.lane = Routed::Lane::Later;
    routed.wait = options_.wait;
    LoopThread& loop = loop_;
    routed.start = [&loop, command = std::move(command)](Respond respond) {
        loop.Post(command, [respond](Reply reply) { respond(FromReply(reply)); });
    };
    return routed;
}

Routed WebRoutes::Picture(const std::string& name, PictureForm form) const {
    Routed routed;
    routed.lane = Routed::Lane::Work;
    routed.wait = options_.pictureWait + kPictureMargin;
    routed.work = [this, name, form] {
        DisplayPicture picture;
        const Reply reply = loop_.Picture(name, &picture, options_.pictureWait, form);
        if (reply.status != 200) return FromReply(reply);
        http::Response response{200, picture.type, std::move(picture.bytes), {}};
        response.headers.emplace_back("X-Generation", std::to_string(picture.generation));
        if (form == PictureForm::FilePng)
            response.headers.emplace_back("Content-Disposition",
                                          "attachment; filename=\"" + DownloadName(name, picture) + "\"");
        return response;
    };
    return routed;
}

void WebRoutes::Events(StreamOut& out, const std::string& client) const {
    // A browser watches while its stream is open.
    struct Joined {
        LoopThread& loop;
        const std::string& id;
        Joined(LoopThread& l, const std::string& i) : loop(l), id(i) {
            if (!id.empty()) loop.JoinBrowser(id);
        }
        ~Joined() {
            if (!id.empty()) loop.LeaveBrowser(id);
        }
        Joined(const Joined&) = delete;
        Joined& operator=(const Joined&) = delete;
    } joined(loop_, client);
    // What this stream has sent; it sends each part again only when its
    // version moved, so a slow reader skips what it missed.
    uint64_t changes = UINT64_MAX, tree = 0, page = 0, pipes = 0, displays = 0, box = 0, log = 0, control = 0;
    bool first = true;
    while (out.Open()) {
        uint64_t seen = changes;
        bool changed = first;
        for (auto waited = kSlice; !changed && waited <= kHeartbeat && out.Open(); waited += kSlice)
            changed = loop_.WaitForChange(&seen, kSlice);
        if (!out.Open()) return;
        if (!changed) {
            if (!out.Write(": idle\n\n")) return;
            continue;
        }
        std::string text;
        bool stopped = false;
        bool controlMoved = false;
        loop_.Read([&](const Published& p) {
            stopped = p.stopped;
            controlMoved = first || p.controlVersion != control;
            control = p.controlVersion;
            changes = p.changes;
            if (first || p.treeVersion != tree) text += Event("tree", p.tree);
            if (first || p.pageVersion != page) text += Event("page", p.page);
            if (first || p.pipesVersion != pipes) text += Event("pipes", p.pipes);
            if (first || p.displaysVersion != displays) text += Event("displays", p.displays);
            if (first || p.boxVersion != box) text += Event("box", p.box);
            const uint64_t oldest = p.logNext - p.log.size();
            if (log < oldest && !first) text += Event("log", events::Skipped(oldest - log));
            for (const json& entry : p.log)
                if (entry.value("seq", uint64_t{0}) >= log) text += Event("log", entry);
            tree = p.treeVersion;
            page = p.pageVersion;
            pipes = p.pipesVersion;
            displays = p.displaysVersion;
            box = p.boxVersion;
            log = p.logNext;
        });
        first = false;
        if (controlMoved && !client.empty()) text += Event("control", loop_.ControlView(client));
        if (!text.empty() && !out.Write(text)) return;
        if (stopped) return;
    }
}

// Long: one branch per route, each checking its request before it queues
// anything; the routes read best side by side.
Routed WebRoutes::Dispatch(const http::Request& req) const {
    // Each path with the one method it takes.
    static const std::pair<const char*, const char*> kRoutes[] = {
        {"/", "GET"},
        {"/index.html", "GET"},
        {"/app.js", "GET"},
        {"/page.js", "GET"},
        {"/canvas.js", "GET"},
        {"/view3d.js", "GET"},
        {"/three.min.js", "GET"},
        {"/OrbitControls.js", "GET"},
        {"/timeline.js", "GET"},
        {"/style.css", "GET"},
        {"/api/state", "GET"},
        {"/api/events", "GET"},
        {"/api/display", "GET"},
        {"/api/open", "POST"},
        {"/api/close", "POST"},
        {"/api/action", "POST"},
        {"/api/play", "POST"},
        {"/api/timeline", "POST"},
        {"/api/messagebox", "POST"},
        {"/api/control", "POST"},
        {"/favicon.svg", "GET"},
        {"/favicon.ico", "GET"},
    };
    const auto route =
        std::find_if(std::begin(kRoutes), std::end(kRoutes), [&](const auto& r) { return req.path == r.first; });
    if (route == std::end(kRoutes)) return Refused(404, "nothing at \"" + Shown(req.path) + "\"");
    if (req.method != route->second) {
        http::Response refusal = Refusal(405, std::string(route->first) + " takes " + route->second + " only");
        refusal.headers.emplace_back("Allow", route->second);
        return Now(std::move(refusal));
    }
    const std::string path = req.path;

    if (req.method == "GET") {
        if (path == "/api/state") return Now(State());
        if (path == "/api/events") {
            const std::string& client = req.Query("client");
            if (!client.empty() && !ClientId(client))
                return Refused(400, "a browser names itself with up to " + std::to_string(kMaxClient) +
                                        " letters, digits and \"-\"");
            Routed routed;
            routed.lane = Routed::Lane::Stream;
            routed.response = {200, "text/event-stream", "", {{"X-Accel-Buffering", "no"}}};
            routed.stream = [this, client](StreamOut& out) { Events(out, client); };
            return routed;
        }
        if (path == "/api/display") {
            const std::string& name = req.Query("name");
            if (name.empty() || name.size() > kMaxName) return Refused(400, "name the display: /api/display?name=NAME");
            const std::string& form = req.Query("form");
            if (form.empty() || form == "numbers") return Picture(name, PictureForm::Numbers);
            if (form == "png") return Picture(name, PictureForm::LivePng);
            if (form == "download") return Picture(name, PictureForm::FilePng);
            return Refused(400, "a display comes as form=numbers, png or download");
        }
        // The page's icon under both names browsers ask for.
        const std::string name = path == "/" ? "index.html" : path == "/favicon.ico" ? "favicon.svg" : path.substr(1);
        const WebAsset* asset = FindWebAsset(name);
        if (asset == nullptr) return Refused(404, "nothing at \"" + Shown(path) + "\"");
        http::Response file{200, asset->type, std::string(reinterpret_cast<const char*>(asset->data), asset->size), {}};
        file.headers.emplace_back("Content-Security-Policy", kPagePolicy);
        return Now(std::move(file));
    }

    json body;
    Reply refusal;
    if (!ParseBody(req, &body, &refusal)) return Now(FromReply(refusal));
    if (path == "/api/control") {
        const std::string& client = req.Header("x-zv-client");
        if (!ClientId(client) || !loop_.TakeControl(client))
            return Refused(409, "only a browser with the page open can take control (X-Zv-Client names it)");
        return Now(JsonResponse(200, {{"holding", true}}));
    }
    if (Watching(req, &refusal)) return Now(FromReply(refusal));
    if (path == "/api/open") {
        std::string node;
        int64_t page = 0;
        if (!Text(body, "node", kMaxName, &node, &refusal)) return Now(FromReply(refusal));
        if (!Integer(body, "page", 0, INT32_MAX, &page, &refusal)) return Now(FromReply(refusal));
        return Command([node, page](HostLoop& l) { return OpenCommand(l, node, static_cast<int32_t>(page)); });
    }
    if (path == "/api/close") {
        return Command([](HostLoop& l) {
            l.ClosePage();
            return Reply{};
        });
    }
    if (path == "/api/action") {
        PageAction action;
        if (!ParseAction(body, &action, &refusal)) return Now(FromReply(refusal));
        return Command([action](HostLoop& l) { return ActionCommand(l, action); });
    }
    if (path == "/api/play") {
        auto on = body.find("on");
        if (on == body.end() || !on->is_boolean()) return Refused(400, "\"on\" must be true or false");
        const bool playing = on->get<bool>();
        return Command([playing](HostLoop& l) {
            l.SetPlaying(playing);
            return Reply{200, {{"playing", l.Playing()}, {"running", l.Running()}}};
        });
    }
    if (path == "/api/timeline") {
        TimelineRequest request;
        if (!ParseTimeline(body, &request, &refusal)) return Now(FromReply(refusal));
        LoopThread& loop = loop_;
        return Command([&loop, request](HostLoop& l) { return loop.TimelineCommand(l, request); });
    }
    // /api/messagebox: answered at once, whatever the loop is doing (it
    // waits for this answer).
    int64_t id = 0;
    std::string answer;
    if (!Integer(body, "id", 1, INT64_MAX, &id, &refusal)) return Now(FromReply(refusal));
    if (!Text(body, "answer", 16, &answer, &refusal)) return Now(FromReply(refusal));
    for (int32_t code : {wf::kIdOk, wf::kIdCancel, wf::kIdYes, wf::kIdNo})
        if (answer == ButtonName(code)) return Now(FromReply(loop_.AnswerBox(static_cast<uint64_t>(id), code)));
    return Refused(400, "no answer \"" + Shown(answer) + "\" (the answers: OK, Cancel, Yes, No)");
}

bool WebRoutes::Watching(const http::Request& req, Reply* refusal) const {
    std::string holder;
    if (loop_.MayAct(req.Header("x-zv-client"), &holder)) return false;
    *refusal = Reply::Error(409, (holder.empty() ? std::string("another browser") : holder) +
                                     " holds control: this browser watches (take control to act)");
    return true;
}

// ---- The server ----------------------------------------------------------------------------

namespace {

HttpServer::Options ServerOptions(const ServeOptions& serve) {
    HttpServer::Options options;
    options.limits.body = serve.maxBody;
    options.limits.rawBody = 2 * serve.maxBody;
    options.readTime = serve.readTime;
    options.maxStreams = static_cast<size_t>(std::max(serve.maxStreams, 0));
    options.common = {{"Cache-Control", "no-store"},
                      {"X-Content-Type-Options", "nosniff"},
                      {"Referrer-Policy", "no-referrer"},
                      {"X-Frame-Options", "DENY"}};
    return options;
}

}  // namespace

struct WebServer::Impl {
    ServeOptions options;
    WebRoutes routes;
    // Ends before the routes its workers use.
    HttpServer server;

    Impl(LoopThread& loop, const ServeOptions& o)
        : options(o),
          routes(loop, o),
          server(
              ServerOptions(o), [this](const http::Request& r) { return routes.Route(r); }, &WebRoutes::Refusal) {}
};

WebServer::WebServer(LoopThread& loop, const ServeOptions& options) : impl_(std::make_unique<Impl>(loop, options)) {}

WebServer::~WebServer() { Stop(); }

bool WebServer::Bind(std::string* error) {
    if (!impl_->server.Bind(impl_->options.bind, impl_->options.port, error)) return false;
    impl_->routes.SetPort(impl_->server.Port());
    return true;
}

int WebServer::Port() const { return impl_->server.Port(); }

bool WebServer::Serve() { return impl_->server.Serve(); }

void WebServer::Stop() { impl_->server.Stop(); }

}  // namespace zvhost
