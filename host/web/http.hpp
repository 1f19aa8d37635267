// HTTP/1.1 for the browser UI's server, apart from sockets: a reader that
// takes a connection's bytes as they come and makes one request of them
// (head and body, with limits on every part whatever the body's encoding),
// and the text of a response.
//
// What the reader accepts: a request line "METHOD /target HTTP/1.x", header
// lines "Name: value" (lines end with CRLF or LF), and a body given by
// Content-Length or by chunked transfer coding. Anything else is refused
// with the status to answer: 400 malformed, 413 body too large, 431 head too
// large, 417 an expectation other than 100-continue, 501 another transfer
// coding, 505 another HTTP version. Request bytes are kept as they came
// (header values may hold any byte but controls): whoever shows them must
// escape them.
#ifndef ZVHOST_HTTP_HPP
#define ZVHOST_HTTP_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zvhost::http {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Limits {
    size_t head = 8192;      // request line and header lines, in bytes
    size_t headers = 64;     // header lines
    size_t body = 16384;     // the body as the handler gets it
    size_t rawBody = 32768;  // the body's bytes as sent (chunk sizes, extensions and trailers included)
};

struct Request {
    std::string method;
    std::string target;           // as sent: path and query, percent-encoded
    std::string path;             // percent-decoded: may hold any byte
    Fields query;                 // decoded names and values, in order
    Fields headers;               // names in lower case, values without surrounding blanks
    std::string body;             // decoded
    bool keepAlive = true;        // the connection may carry another request after this one
    bool expectContinue = false;  // the client waits for "100 Continue" before sending the body

    // The first value of header `name` (lower case), "" when there is none.
    const std::string& Header(std::string_view name) const;
    // The first value of query parameter `name`, "" when there is none.
    const std::string& Query(std::string_view name) const;
};

class RequestReader {
public:
    enum class State { Head, Body, Done, Failed };

    explicit RequestReader(const Limits& limits = Limits{});

    // Takes the next bytes of the connection and returns how many belong to
    // this request; the rest start the next one. Takes nothing once Done or
    // Failed.
    size_t Feed(std::string_view bytes);

    State state() const { return state_; }
    // Whether any byte of this request has come (blank lines before it count).
    bool Started() const { return started_; }
    // The request so far; whole once Done (its head once the state is Body).
    const Request& request() const { return request_; }
    Request& request() { return request_; }
    // For Failed: the status to answer and why, in words that hold no
    // request byte.
    int Status() const { return status_; }
    const std::string& Reason() const { return reason_; }

private:
    enum class Chunk { Size, Data, DataEnd, Trailer };
    size_t FeedHead(std::string_view bytes);
    size_t FeedBody(std::string_view bytes);
    bool ParseHead();
    bool ParseRequestLine(std::string_view line);
    bool ParseHeaderLine(std::string_view line);
    bool Fail(int status, std::string reason);
    // One line of the chunked coding (size line or trailer), ended by LF.
    bool ChunkLine(std::string_view line);

    Limits limits_;
    State state_ = State::Head;
    bool started_ = false;
    Request request_;
    std::string head_;
    size_t blank_ = 0;  // bytes of blank lines before the request line
    bool chunked_ = false;
    uint64_t length_ = 0;  // Content-Length, or what is left of the current chunk
    size_t raw_ = 0;       // body bytes as sent
    Chunk chunk_ = Chunk::Size;
    std::string line_;  // a chunk size or trailer line so far
    int status_ = 0;
    std::string reason_;
};

struct Response {
    int status = 200;
    std::string type;  // Content-Type; none when empty
    std::string body;
    Fields headers;  // more header fields (values never hold CR or LF)
};

// "OK", "Not Found", ...; "" for a status this server never answers.
const char* StatusText(int status);
// The status line and header fields of `response`, with Content-Length
// (unless `streamed`: then the body ends with the connection), Connection
// and `common` (sent with every response).
std::string ResponseHead(const Response& response, bool keepAlive, const Fields& common, bool streamed = false);

// `text` percent-decoded (with '+' as a space when `plus`); false for a '%'
// not followed by two hexadecimal digits.
bool PercentDecode(std::string_view text, bool plus, std::string* decoded);
// Whether Content-Type `value` names `type` (ASCII case ignored), with any
// parameters: "application/json; charset=utf-8" names "application/json",
// "application/jsonp" does not.
bool MediaTypeIs(std::string_view value, std::string_view type);
// Whether `a` and `b` are the same, in a time that depends only on their
// lengths (for secrets).
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace zvhost::http

#endif
