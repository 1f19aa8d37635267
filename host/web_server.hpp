// The browser UI's server: one page of plain HTML, CSS and JavaScript
// (built into the program), a JSON API over the host loop and one stream of
// server-sent events.
//
//   GET  /, /app.js, /style.css   the page, from a fixed table in memory
//   GET  /api/state               everything published: tree, page, pipes, displays, message box, log
//   GET  /api/events              server-sent events: tree, page, pipes, displays, box, log
//   GET  /api/display?name=NAME   the latest picture of a display of the current mode (PNG, or JSON for tables)
//   POST /api/open                {"node": PATH, "page": ID}: the node's page becomes the open page
//   POST /api/close               the open page is deactivated and destroyed
//   POST /api/action              {"action": "type"|"blur"|"click"|"select"|"slide"|"apply"|"reload",
//                                  "control": ID, "text": TEXT, "index": N}
//   POST /api/play                {"on": true|false}: Play or Stop of the client pipe's mode
//   POST /api/messagebox          {"id": N, "answer": "OK"|"Cancel"|"Yes"|"No"}
//
// Every request is checked before anything happens: the Host must name this
// machine by address (or as localhost), an Origin must be the page's own,
// bodies are JSON objects of bounded size and depth, and nodes, pages,
// controls, actions and items must exist and be usable; a refusal is a 4xx
// with {"error": text}. No path from a request is ever opened.
#ifndef ZVHOST_WEB_SERVER_HPP
#define ZVHOST_WEB_SERVER_HPP

#include <chrono>
#include <memory>
#include <string>

#include "loop_thread.hpp"

namespace zvhost {

struct ServeOptions {
    std::string bind = "127.0.0.1";
    int port = 8080;                            // 0: any free port (Port() tells which)
    std::chrono::milliseconds wait{120000};     // a request waits this long for the loop
    size_t maxBody = 16384;                     // bytes
    int maxStreams = 8;                         // event streams at once
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
// Nesting of arrays and objects in a JSON text, counted without parsing.
int JsonDepth(const std::string& text);

}  // namespace zvhost

#endif
