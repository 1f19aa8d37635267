// The browser UI's server: one page of plain HTML, CSS and JavaScript
// (built into the program), a JSON API over the host loop and one stream of
// server-sent events.
//
//   GET  /, /app.js, /style.css   the page, from a fixed table in memory (its scripts: app.js, page.js,
//                                 canvas.js, view3d.js, and three.min.js with OrbitControls.js from three.js)
//   GET  /api/state               everything published: tree, page, pipes, displays, message box, log
//   GET  /api/events[?client=ID]  server-sent events: tree, page, pipes, displays, box, log; with a
//                                 browser's identifier also control (who acts, who watches)
//   GET  /api/display?name=NAME[&form=numbers|png|download]
//                                 what a display of the current mode shows: its numbers as JSON (the page
//                                 draws them), the live PNG drawn by the host, or the PNG of the files as
//                                 an attachment; tables come as JSON in every form
//   POST /api/open                {"node": PATH, "page": ID}: the node's page becomes the open page
//   POST /api/close               the open page is deactivated and destroyed
//   POST /api/action              {"action": "type"|"blur"|"click"|"select"|"slide"|"apply"|"reload",
//                                  "control": ID, "text": TEXT, "index": N}
//   POST /api/play                {"on": true|false}: Play or Stop of the client pipe's mode
//   POST /api/messagebox          {"id": N, "answer": "OK"|"Cancel"|"Yes"|"No"}
//   POST /api/control             {}: the browser named by X-Zv-Client takes control
//
// One browser acts, the others watch: while a browser holds control (see
// LoopThread::JoinBrowser), open, close, action, play and messagebox are
// refused (409) unless their X-Zv-Client header names it.
//
// Every request is checked before anything happens: the Host must name this
// machine by address (or as localhost), an Origin must be the page's own,
// the token must come with it when the server has one, bodies are JSON
// objects (Content-Type application/json) of bounded size and depth, and
// nodes, pages, controls, actions and items must exist and be usable; a
// refusal is a 4xx with {"error": text}. No path from a request is ever
// opened, and no reply repeats a request's bytes unescaped.
//
// Where answers come from (see http_server.hpp): the state, the page's
// files and a message box's answer are made at once and never wait for the
// host loop, so they are answered while a page's message box holds the
// loop; open, close, action and play queue a command for the loop (its
// bounded queue answers 503 "queue full"); a display's picture waits a
// little for the loop on a worker; event streams are bounded in number.
#ifndef ZVHOST_WEB_SERVER_HPP
#define ZVHOST_WEB_SERVER_HPP

#include <chrono>
#include <memory>
#include <string>

#include "http_server.hpp"
#include "loop_thread.hpp"

namespace zvhost {

struct ServeOptions {
    std::string bind = "127.0.0.1";
    int port = 8080;                               // 0: any free port (Port() tells which)
    std::string token;                             // when not empty, every request must carry it
    std::chrono::milliseconds wait{120000};        // a command waits this long for the loop
    std::chrono::milliseconds pictureWait{10000};  // a display's picture waits this long for the loop
    std::chrono::milliseconds readTime{10000};     // a request, head and body, comes within this
    size_t maxBody = 16384;                        // bytes, whatever the body's encoding
    int maxStreams = 8;                            // event streams at once
};

// What each request gets, apart from the sockets: a served request and a
// test's go through the same checks and the same lanes.
class WebRoutes {
public:
    // `loop` outlives this object.
    WebRoutes(LoopThread& loop, const ServeOptions& options);

    // Never throws: a failure inside is a 500 without details.
    Routed Route(const http::Request& request) const;
    // Names the token's cookie after the port the server listens on.
    void SetPort(int port);
    // A refusal as the API writes every one: {"error": text}.
    static http::Response Refusal(int status, const std::string& text);

private:
    Routed Checked(const http::Request& request) const;
    Routed Dispatch(const http::Request& request) const;
    bool Authorized(const http::Request& request, bool* fromQuery) const;
    Routed Command(LoopThread::Command command) const;
    Routed Picture(const std::string& name, PictureForm form) const;
    void Events(StreamOut& out, const std::string& client) const;
    // Whether a request comes from a browser that only watches: true with
    // the refusal set.
    bool Watching(const http::Request& request, Reply* refusal) const;
    http::Response State() const;

    LoopThread& loop_;
    ServeOptions options_;
    std::string cookie_ = "zvhost-token";
};

class WebServer {
public:
    WebServer(LoopThread& loop, const ServeOptions& options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Opens the listening socket; false with `*error` set.
    bool Bind(std::string* error);
    int Port() const;
    // Serves until Stop; false when the socket failed.
    bool Serve();
    // Ends Serve and the event streams; from any thread.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The static files of the page, by name ("index.html", "app.js", ...).
struct WebAsset {
    const char* name;
    const char* type;
    const unsigned char* data;
    size_t size;
};
const WebAsset* FindWebAsset(const std::string& name);

// Whether a request's Host header names this machine by an address or as
// localhost (a name a stranger's DNS could point here is refused), and
// whether its Origin, when it has one, is the page's own ("http://" + Host).
bool HostAllowed(const std::string& host);
bool OriginAllowed(const std::string& origin, const std::string& host);
// Whether listening on `address` keeps the server to this machine
// (127.0.0.0/8, ::1, localhost).
bool LoopbackAddress(const std::string& address);
// Nesting of arrays and objects in a JSON text, counted without parsing.
int JsonDepth(const std::string& text);
// `value` as JSON text; bytes that are not UTF-8 become U+FFFD.
std::string JsonText(const nlohmann::json& value);

}  // namespace zvhost

#endif
