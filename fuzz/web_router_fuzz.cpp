// Feeds arbitrary bytes to the browser UI's server as a connection would
// bring them: the request reader makes requests of them (several, as a
// kept-alive connection carries them), and the routes answer each on a
// running host loop over a demo station, every lane run to its answer.
// An answer is a real HTTP status, and a JSON answer is JSON (UTF-8) with
// an error text for a refusal; a command the loop never answers is a
// finding.
#include <stdlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "web_server.hpp"
#include "zvstation/station.hpp"

namespace {

char g_root[256];  // a plain buffer: the exit handler runs after the statics are gone

void RemoveStation() {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
}

struct World {
    zvhost::Plugin plugin;
    zvHandle app = nullptr;
    zvhost::AppInfo info;
    std::unique_ptr<zvhost::LoopThread> loop;
    std::unique_ptr<zvhost::WebRoutes> routes;
    zvhost::http::Limits limits;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "web router: %s\n", what);
    abort();
}

// Made once: a demo station in a private folder, the plug-in, the loop.
World& TheWorld() {
    static World* world = [] {
        const std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-web-XXXXXX").string();
        if (pattern.size() >= sizeof g_root) abort();
        pattern.copy(g_root, pattern.size());
        if (::mkdtemp(g_root) == nullptr) abort();
        atexit(RemoveStation);
        if (zvInitialize() <= 0) Fail("the platform did not start");
        auto* w = new World;
        bool created = false;
        std::string error;
        if (!zv::station::EnsureDemoStation(g_root, 4, 1, &created, &error)) Fail(error.c_str());
        if (!w->plugin.Load(TORVANE_PLUGIN, &error)) Fail(error.c_str());
        if (w->plugin.Describe(&w->app) <= 0) Fail("the plug-in described nothing");
        w->info = zvhost::ReadApp(w->app);
        zvhost::LoopThread::Options options;
        options.loop.files = g_root;
        options.boxTimeout = std::chrono::milliseconds(0);  // a box takes its first button at once
        w->loop = std::make_unique<zvhost::LoopThread>(w->plugin, w->app, w->info);
        if (!w->loop->Start(options, &error)) Fail(error.c_str());
        zvhost::ServeOptions serve;
        w->routes = std::make_unique<zvhost::WebRoutes>(*w->loop, serve);
        w->routes->SetPort(8080);
        w->limits.body = serve.maxBody;
        w->limits.rawBody = 2 * serve.maxBody;
        return w;
    }();
    return *world;
}

// A stream that takes what the routes write once, then ends.
class OnceStream final : public zvhost::StreamOut {
public:
    bool Write(std::string_view bytes) override {
        written_ += bytes.size();
        return true;
    }
    bool Open() override { return written_ == 0; }

private:
    size_t written_ = 0;
};

zvhost::http::Response Answer(const zvhost::Routed& routed) {
    using Lane = zvhost::Routed::Lane;
    switch (routed.lane) {
        case Lane::Now: return routed.response;
        case Lane::Work: return routed.work();
        case Lane::Stream: {
            OnceStream out;
            routed.stream(out);
            return routed.response;
        }
        case Lane::Later: {
            auto answer = std::make_shared<std::promise<zvhost::http::Response>>();
            routed.start([answer](zvhost::http::Response r) { answer->set_value(std::move(r)); });
            auto future = answer->get_future();
            if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready)
                Fail("the host loop never answered a command");
            return future.get();
        }
    }
    Fail("no lane");
}

void Check(const zvhost::http::Response& answer) {
    if (zvhost::http::StatusText(answer.status)[0] == '\0') Fail("an answer's status is not one the server gives");
    if (answer.type != "application/json") return;
    const nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
    if (body.is_discarded()) Fail("a JSON answer is not JSON");
    if (answer.status >= 400 && !(body.is_object() && body.contains("error") && body["error"].is_string()))
        Fail("a refusal has no error text");
}

}  // namespace

// Fontconfig keeps the caches that drawing a display's picture makes where
// the leak checker does not find them until they are freed at exit: not
// the router's to answer for. The outcome of an Apply is a member of the
// host loop, which lives on the loop thread's stack; the fuzzer's check
// after each input runs while that thread works on and reports it, though
// the host loop's own tests free it under the leak checker at their end.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:zvhost::HostLoop::CallRecorded\n";
}
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& world = TheWorld();
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (int n = 0; n < 4 && !bytes.empty(); ++n) {
        zvhost::http::RequestReader reader(world.limits);
        bytes.remove_prefix(reader.Feed(bytes));
        if (reader.state() == zvhost::http::RequestReader::State::Failed) {
            Check(zvhost::WebRoutes::Refusal(reader.Status(), reader.Reason()));
            break;
        }
        if (reader.state() != zvhost::http::RequestReader::State::Done) break;
        Check(Answer(world.routes->Route(reader.request())));
    }
    return 0;
}
