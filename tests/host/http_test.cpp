// The browser UI's request reader: requests made whole from bytes as they
// come, every part bounded whatever the body's encoding, and a clear status
// for anything malformed. And the helpers that keep request bytes out of
// replies.
#include <gtest/gtest.h>

#include <string>

#include "http.hpp"
#include "text.hpp"

namespace {

using zvhost::http::Limits;
using zvhost::http::RequestReader;
using State = RequestReader::State;

// Feeds `bytes` `step` at a time; the reader's state at the end.
RequestReader Read(const std::string& bytes, size_t step = SIZE_MAX, Limits limits = Limits{}) {
    RequestReader reader(limits);
    for (size_t at = 0; at < bytes.size() && reader.state() != State::Done && reader.state() != State::Failed;) {
        const std::string piece = bytes.substr(at, step);
        const size_t used = reader.Feed(piece);
        EXPECT_LE(used, piece.size());
        at += used;
        if (used < piece.size()) break;
    }
    return reader;
}

TEST(HttpReader, MakesARequestFromBytesHoweverTheyAreCut) {
    const std::string bytes =
        "\r\nPOST /api/disp%6cay?name=Free+View&x=%2F&flag HTTP/1.1\r\nHost: 127.0.0.1:80\r\n"
        "Content-Type: application/json\r\nX-Blank:\t  \r\nContent-Length: 11\r\n\r\n{\"on\":true}";
    for (size_t step : {size_t{1}, size_t{7}, bytes.size()}) {
        SCOPED_TRACE(step);
        const RequestReader reader = Read(bytes, step);
        ASSERT_EQ(reader.state(), State::Done) << reader.Reason();
        const zvhost::http::Request& r = reader.request();
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/api/display");
        EXPECT_EQ(r.Query("name"), "Free View");
        EXPECT_EQ(r.Query("x"), "/");
        EXPECT_EQ(r.Query("flag"), "");
        EXPECT_EQ(r.Header("host"), "127.0.0.1:80");
        EXPECT_EQ(r.Header("x-blank"), "");
        EXPECT_EQ(r.body, "{\"on\":true}");
        EXPECT_TRUE(r.keepAlive);
    }
}

TEST(HttpReader, LeavesTheNextRequestsBytes) {
    const std::string first = "GET /a HTTP/1.1\nHost: h\n\n";
    const std::string second = "GET /b HTTP/1.0\r\nHost: h\r\n\r\n";
    RequestReader reader;
    EXPECT_EQ(reader.Feed(first + second), first.size());
    ASSERT_EQ(reader.state(), State::Done);
    EXPECT_EQ(reader.request().path, "/a");
    EXPECT_EQ(reader.Feed("more"), 0u);

    RequestReader next;
    EXPECT_EQ(next.Feed(second), second.size());
    ASSERT_EQ(next.state(), State::Done);
    EXPECT_FALSE(next.request().keepAlive);  // HTTP/1.0
    EXPECT_FALSE(Read("GET / HTTP/1.1\r\nConnection: Keep-Alive, Close\r\n\r\n").request().keepAlive);
}

TEST(HttpReader, DecodesChunkedBodies) {
    const std::string bytes =
        "POST /x HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n"
        "4;name=value\r\n{\"on\r\n7\r\n\": true\r\n1\n}\n0\r\nX-Trailer: 1\r\n\r\nGET";
    for (size_t step : {size_t{1}, size_t{5}, bytes.size()}) {
        SCOPED_TRACE(step);
        RequestReader reader;
        size_t used = 0;
        for (size_t at = 0; at < bytes.size() && (reader.state() == State::Head || reader.state() == State::Body);) {
            const size_t n = reader.Feed(bytes.substr(at, step));
            used += n;
            at += n;
            if (n == 0) break;
        }
        ASSERT_EQ(reader.state(), State::Done) << reader.Reason();
        EXPECT_EQ(reader.request().body, "{\"on\": true}");
        EXPECT_EQ(used, bytes.size() - 3);  // "GET" is the next request's
    }
}

TEST(HttpReader, OneBodyLimitWhateverTheEncoding) {
    Limits limits;
    limits.body = 100;
    limits.rawBody = 200;
    const std::string head = "POST /x HTTP/1.1\r\nHost: h\r\n";
    // Refused from the head alone.
    RequestReader declared = Read(head + "Content-Length: 101\r\n\r\n", SIZE_MAX, limits);
    EXPECT_EQ(declared.state(), State::Failed);
    EXPECT_EQ(declared.Status(), 413);
    EXPECT_EQ(Read(head + "Content-Length: 100\r\n\r\n" + std::string(100, 'x'), SIZE_MAX, limits).state(),
              State::Done);
    // A chunk larger than the limit is refused at its size line.
    EXPECT_EQ(Read(head + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFFFFFF\r\n", SIZE_MAX, limits).Status(),
              413);
    // Chunks that add up beyond it, long before the whole body came.
    std::string many = head + "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 1000; ++i) many += "20\r\n" + std::string(32, 'x') + "\r\n";
    RequestReader chunks = Read(many, 64, limits);
    EXPECT_EQ(chunks.state(), State::Failed);
    EXPECT_EQ(chunks.Status(), 413);
    EXPECT_LE(chunks.request().body.size(), 100u);
    // Tiny chunks, extensions and trailers count as the bytes they are.
    std::string framing = head + "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 100; ++i) framing += "1;padding=" + std::string(20, 'p') + "\r\nx\r\n";
    EXPECT_EQ(Read(framing, SIZE_MAX, limits).Status(), 413);
    EXPECT_EQ(Read(head + "Transfer-Encoding: chunked\r\n\r\n0\r\n" + std::string(300, 't'), SIZE_MAX, limits).Status(),
              413);
}

TEST(HttpReader, RefusesWhatIsMalformedWithItsStatus) {
    Limits small;
    small.head = 256;
    small.headers = 4;
    const std::string many = "GET / HTTP/1.1\r\nA: 1\r\nB: 1\r\nC: 1\r\nD: 1\r\nE: 1\r\n\r\n";
    const std::tuple<std::string, int, Limits> cases[] = {
        {"GET /\r\n\r\n", 400, Limits{}},
        {"GET  / HTTP/1.1\r\n\r\n", 400, Limits{}},
        {"GET / HTTP/1.1 \r\n\r\n", 400, Limits{}},
        {"G(T / HTTP/1.1\r\n\r\n", 400, Limits{}},
        {"GET http://evil/ HTTP/1.1\r\n\r\n", 400, Limits{}},
        {"GET /\xff HTTP/1.1\r\n\r\n", 400, Limits{}},
        {"GET /%f HTTP/1.1\r\n\r\n", 400, Limits{}},
        {"GET /?a=%zz HTTP/1.1\r\n\r\n", 400, Limits{}},
        {"GET / HTTP/2.0\r\n\r\n", 505, Limits{}},
        {"GET / SPDY/1.1\r\n\r\n", 400, Limits{}},
        {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", 400, Limits{}},
        {"GET / HTTP/1.1\r\nBad name: 1\r\n\r\n", 400, Limits{}},
        {"GET / HTTP/1.1\r\nA: 1\r\n folded\r\n\r\n", 400, Limits{}},
        {std::string("GET / HTTP/1.1\r\nA: x\0y\r\n\r\n", 27), 400, Limits{}},
        {"GET / HTTP/1.1\r\nA: x\ry\r\n\r\n", 400, Limits{}},
        {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", 501, Limits{}},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nxy\r\n", 400, Limits{}},
        {"POST / HTTP/1.1\r\nExpect: something\r\n\r\n", 417, Limits{}},
        {"GET /" + std::string(300, 'a') + " HTTP/1.1\r\n\r\n", 431, small},
        {many, 431, small},
        {std::string(300, '\n'), 400, small},
    };
    for (const auto& [bytes, status, limits] : cases) {
        SCOPED_TRACE(zvhost::Shown(bytes, 80));
        const RequestReader reader = Read(bytes, SIZE_MAX, limits);
        EXPECT_EQ(reader.state(), State::Failed);
        EXPECT_EQ(reader.Status(), status) << reader.Reason();
        EXPECT_FALSE(reader.request().keepAlive);
        // The reason never repeats what was sent.
        EXPECT_EQ(reader.Reason().find('\xff'), std::string::npos);
    }
}

TEST(HttpReader, AcceptsWhatBrowsersSend) {
    const RequestReader expect = Read("POST / HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\n", SIZE_MAX);
    EXPECT_EQ(expect.state(), State::Body);
    EXPECT_TRUE(expect.request().expectContinue);
    // Header values may hold any byte but controls; the path any byte once decoded.
    const RequestReader bytes = Read("GET /%ff%00 HTTP/1.1\r\nHost: \xff\xfe\r\n\r\n");
    ASSERT_EQ(bytes.state(), State::Done);
    EXPECT_EQ(bytes.request().path, std::string("/\xff\0", 3));
    EXPECT_EQ(bytes.request().Header("host"), "\xff\xfe");
    EXPECT_TRUE(Read("\r\n").Started());
    EXPECT_FALSE(RequestReader().Started());
}

TEST(HttpText, MediaTypesMatchExactly) {
    const std::pair<const char*, bool> cases[] = {
        {"application/json", true},
        {"Application/JSON", true},
        {"application/json; charset=utf-8", true},
        {" application/json ;charset=UTF-8", true},
        {"application/jsonp", false},
        {"application/json-patch+json", false},
        {"text/plain", false},
        {"", false},
        {"application/json\xff", false},
    };
    for (const auto& [value, json] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(zvhost::http::MediaTypeIs(value, "application/json"), json);
    }
}

TEST(HttpText, SecretsAndPercentDecoding) {
    EXPECT_TRUE(zvhost::http::SameSecret("abc", "abc"));
    EXPECT_FALSE(zvhost::http::SameSecret("abc", "abd"));
    EXPECT_FALSE(zvhost::http::SameSecret("abc", "abcd"));
    EXPECT_FALSE(zvhost::http::SameSecret("", "a"));
    std::string decoded;
    EXPECT_TRUE(zvhost::http::PercentDecode("a+b%20c%2B", true, &decoded));
    EXPECT_EQ(decoded, "a b c+");
    EXPECT_TRUE(zvhost::http::PercentDecode("a+b", false, &decoded));
    EXPECT_EQ(decoded, "a+b");
    for (const char* bad : {"%", "%a", "%ag", "x%"}) EXPECT_FALSE(zvhost::http::PercentDecode(bad, true, &decoded));
}

TEST(HttpText, AResponseHeadNamesItsLengthAndConnection) {
    zvhost::http::Response response{404, "application/json", "{}", {{"X-Bad", "a\r\nInjected: 1"}}};
    const std::string head = zvhost::http::ResponseHead(response, false, {{"Cache-Control", "no-store"}});
    EXPECT_EQ(head,
              "HTTP/1.1 404 Not Found\r\nCache-Control: no-store\r\nContent-Type: application/json\r\n"
              "X-Bad: aInjected: 1\r\nContent-Length: 2\r\nConnection: close\r\n\r\n");
    const std::string stream = zvhost::http::ResponseHead({200, "text/event-stream", "", {}}, true, {}, true);
    EXPECT_EQ(stream.find("Content-Length"), std::string::npos);
}

}  // namespace
