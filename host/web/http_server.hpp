// The browser UI's HTTP server. One thread owns every connection: it
// accepts, reads each request whole (head and body, within the reader's
// limits and a deadline for the whole request) and writes each answer
// without blocking, so a slow or silent client costs a connection and
// never a worker. Connections are bounded: when all are taken, the one that
// has waited longest for its request makes room.
//
// A whole request goes to the router, which says where its answer comes
// from (its lane):
//  - Now: made by the router on the connection thread. For answers that
//    wait for nothing (published state, the page's files, a message box's
//    answer, refusals): these are answered whatever the other lanes do.
//  - Later: work started elsewhere that answers once, from any thread
//    (a command for the host loop, which bounds its own queue). A request
//    unanswered after its `wait` gets 504 and the late answer is dropped.
//  - Work: a bounded pool of workers for answers that may wait a little;
//    beyond it 503.
//  - Stream: a bounded number of long answers (event streams), each on a
//    worker of its own that owns the connection from then on; beyond 503.
#ifndef ZVHOST_HTTP_SERVER_HPP
#define ZVHOST_HTTP_SERVER_HPP

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http.hpp"

namespace zvhost {

// The connection of a stream, for the code that writes it.
class StreamOut {
public:
    virtual ~StreamOut() = default;
    // Writes `bytes` whole; false when the reader has gone, has read nothing
    // for the server's write time, or the server stops.
    virtual bool Write(std::string_view bytes) = 0;
    // False once the reader has closed the connection or the server stops.
    virtual bool Open() = 0;
};

// Answers a Later request; call it once, from any thread.
using Respond = std::function<void(http::Response)>;

struct Routed {
    enum class Lane { Now, Later, Work, Stream };
    Lane lane = Lane::Now;
    http::Response response;                 // Now: the answer; Stream: the head (status, type, fields)
    std::function<void(Respond)> start;      // Later
    std::chrono::milliseconds wait{0};       // Later and Work: how long the answer may take
    std::function<http::Response()> work;    // Work
    std::function<void(StreamOut&)> stream;  // Stream: writes until it returns
};

class HttpServer {
public:
    struct Options {
        http::Limits limits;
        std::chrono::milliseconds readTime{10000};   // a request, head and body, from the first wait for it
        std::chrono::milliseconds writeTime{30000};  // an answer, whole (a stream: each write)
        std::chrono::milliseconds lingerTime{2000};  // after a refusal, what the client still sends is read past
        size_t maxConnections = 256;                 // besides the streams
        size_t workers = 4;
        size_t maxWork = 32;  // Work requests waiting for a worker
        size_t maxStreams = 8;
        http::Fields common;  // header fields of every answer
    };
    // Where a request's answer comes from. May throw: the request gets 500.
    using Router = std::function<Routed(const http::Request&)>;
    // The answer to a request the server refuses itself (malformed, too
    // slow, too large, no room in a lane, the router failed).
    using Refuse = std::function<http::Response(int status, const std::string& reason)>;

    HttpServer(const Options& options, Router router, Refuse refuse);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Opens the listening socket on `address` (a numeric address or
    // "localhost") and `port` (0: any free one); false with `*error` set.
    bool Bind(const std::string& address, int port, std::string* error);
    int Port() const;
    // Serves until Stop; false when the socket failed.
    bool Serve();
    // Ends Serve and the streams; from any thread.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zvhost

#endif
