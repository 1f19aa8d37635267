// The browser UI's HTTP server on a loopback socket, with a router of the
// test's own: slow and silent clients cost a connection and never an
// answer, every lane is bounded and says so, the quick lane answers
// whatever the others hold, late answers are dropped, and refusals reach
// the client.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "http_server.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zvhost::HttpServer;
using zvhost::Routed;
namespace http = zvhost::http;

// A blocking loopback client that reads answers by their Content-Length.
class Client {
public:
    explicit Client(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(fd_); }
    bool Connected() const { return connected_; }

    bool Send(const std::string& bytes) {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Whether bytes (or the end) wait to be read within `timeout`.
    bool Readable(std::chrono::milliseconds timeout) {
        if (!buffer_.empty()) return true;
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
    }
    // One answer, head and body; "" when none came within `timeout`.
    std::string Answer(std::chrono::milliseconds timeout = 10s) {
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            const size_t end = buffer_.find("\r\n\r\n");
            if (end != std::string::npos) {
                size_t length = 0;
                const size_t field = buffer_.find("Content-Length: ");
                if (field != std::string::npos && field < end) length = std::stoul(buffer_.substr(field + 16));
                if (buffer_.size() >= end + 4 + length) {
                    std::string answer = buffer_.substr(0, end + 4 + length);
                    buffer_.erase(0, answer.size());
                    return answer;
                }
            }
            if (!Fill(deadline)) return "";
        }
    }
    // Whether the server closed the connection within `timeout` (what it
    // sent before is kept for Answer).
    bool Closed(std::chrono::milliseconds timeout = 10s) {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (Fill(deadline)) {
        }
        return eof_;
    }

private:
    bool Fill(Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (eof_ || left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char bytes[65536];
        const ssize_t n = recv(fd_, bytes, sizeof bytes, 0);
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        buffer_.append(bytes, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
    std::string buffer_;
};

int Status(const std::string& answer) { return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0; }
std::string Body(const std::string& answer) { return answer.substr(answer.find("\r\n\r\n") + 4); }

std::string Get(const std::string& path, const std::string& more = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + more + "\r\n";
}

// Something for the lanes to wait on.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

class HttpServerTest : public ::testing::Test {
protected:
    void TearDown() override { Stop(); }

    // Serves with the test's routes: /now echoes the body, /later answers
    // when the test calls the kept Respond, /work and /stream wait for the
    // gate, /throw fails.
    void Start() {
        auto router = [this](const http::Request& request) {
            Routed routed;
            if (request.path == "/now") {
                routed.response = {200, "text/plain", "now:" + request.body, {}};
            } else if (request.path == "/later") {
                routed.lane = Routed::Lane::Later;
                routed.wait = laterWait_;
                routed.start = [this](zvhost::Respond respond) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    later_.push_back(std::move(respond));
                };
            } else if (request.path == "/work") {
                routed.lane = Routed::Lane::Work;
                routed.wait = 60s;
                routed.work = [this] {
                    gate_.Wait();
                    return http::Response{200, "text/plain", "worked", {}};
                };
            } else if (request.path == "/stream") {
                routed.lane = Routed::Lane::Stream;
                routed.response = {200, "text/event-stream", "", {}};
                routed.stream = [this](zvhost::StreamOut& out) {
                    ++streaming_;
                    out.Write("data: hello\n\n");
                    while (out.Open()) std::this_thread::sleep_for(10ms);
                    --streaming_;
                };
            } else if (request.path == "/throw") {
                throw std::runtime_error("secret details");
            } else {
                routed.response = {404, "text/plain", "none", {}};
            }
            return routed;
        };
        auto refuse = [](int status, const std::string& reason) {
            return http::Response{status, "text/plain", reason, {}};
        };
        server_ = std::make_unique<HttpServer>(options_, router, refuse);
        std::string error;
        ASSERT_TRUE(server_->Bind("127.0.0.1", 0, &error)) << error;
        port_ = server_->Port();
        thread_ = std::thread([this] { served_ = server_->Serve(); });
    }
    void Stop() {
        if (!server_) return;
        gate_.Open();
        server_->Stop();
        thread_.join();
        server_.reset();
        EXPECT_TRUE(served_);
    }
    std::string Ask(const std::string& request) {
        Client client(port_);
        EXPECT_TRUE(client.Send(request));
        return client.Answer();
    }

    HttpServer::Options options_;
    std::chrono::milliseconds laterWait_{60s};
    std::unique_ptr<HttpServer> server_;
    std::thread thread_;
    std::atomic<bool> served_{false};
    int port_ = 0;
    Gate gate_;
    std::mutex mutex_;
    std::vector<zvhost::Respond> later_;
    std::atomic<int> streaming_{0};
};

TEST_F(HttpServerTest, SlowClientsGet408AndHoldNothingUp) {
    options_.readTime = 400ms;
    options_.maxStreams = 2;
    Start();
    // Streams hold their lane, heads come a byte at a time.
    std::vector<std::unique_ptr<Client>> streams;
    for (int i = 0; i < 2; ++i) {
        streams.push_back(std::make_unique<Client>(port_));
        streams.back()->Send(Get("/stream"));
    }
    std::vector<std::unique_ptr<Client>> slow;
    for (int i = 0; i < 20; ++i) {
        slow.push_back(std::make_unique<Client>(port_));
        slow.back()->Send("GET /now HTTP/1.1\r\nX-Slow: ");
    }
    for (int i = 0; i < 5; ++i) {
        for (auto& s : slow) s->Send("x");
        const std::string answer = Ask(Get("/now"));
        EXPECT_EQ(Status(answer), 200) << answer;
        std::this_thread::sleep_for(50ms);
    }
    // However slowly the bytes come, the request as a whole is late.
    for (auto& s : slow) {
        const std::string answer = s->Answer();
        EXPECT_EQ(Status(answer), 408) << answer;
        EXPECT_TRUE(s->Closed());
    }
    // A connection that never sends is closed without a word.
    Client idle(port_);
    EXPECT_TRUE(idle.Closed());
    EXPECT_EQ(idle.Answer(0ms), "");
}

TEST_F(HttpServerTest, LaterAnswersAreBoundedInTimeAndLateOnesDropped) {
    laterWait_ = 200ms;
    Start();
    Client client(port_);
    ASSERT_TRUE(client.Send(Get("/later")));
    const std::string timedOut = client.Answer();
    EXPECT_EQ(Status(timedOut), 504) << timedOut;
    // The connection goes on; the late answer finds no request to answer.
    ASSERT_TRUE(client.Send(Get("/later")));
    auto kept = [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return later_.size();
    };
    for (int i = 0; i < 2000 && kept() < 2; ++i) std::this_thread::sleep_for(5ms);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ASSERT_EQ(later_.size(), 2u);
        later_[0]({200, "text/plain", "late", {}});
        later_[1]({200, "text/plain", "in time", {}});
    }
    const std::string answer = client.Answer();
    EXPECT_EQ(Status(answer), 200) << answer;
    EXPECT_EQ(Body(answer), "in time");
    EXPECT_FALSE(client.Readable(100ms));
}

TEST_F(HttpServerTest, EveryLaneIsBoundedAndTheQuickLaneStaysOpen) {
    options_.workers = 1;
    options_.maxWork = 1;
    options_.maxStreams = 1;
    Start();
    Client busy(port_);
    Client queued(port_);
    busy.Send(Get("/work"));
    std::this_thread::sleep_for(100ms);
    queued.Send(Get("/work"));
    std::this_thread::sleep_for(100ms);
    const std::string full = Ask(Get("/work"));
    EXPECT_EQ(Status(full), 503) << full;
    EXPECT_NE(Body(full).find("queue full"), std::string::npos) << full;

    Client stream(port_);
    stream.Send(Get("/stream"));
    const std::string head = stream.Answer(10s);
    EXPECT_EQ(Status(head), 200) << head;
    EXPECT_EQ(head.find("Content-Length"), std::string::npos);
    const std::string second = Ask(Get("/stream"));
    EXPECT_EQ(Status(second), 503) << second;

    EXPECT_EQ(Status(Ask(Get("/now"))), 200);
    gate_.Open();
    EXPECT_EQ(Body(busy.Answer()), "worked");
    EXPECT_EQ(Body(queued.Answer()), "worked");
}

TEST_F(HttpServerTest, AStreamsPlaceIsFreedWhenItsReaderGoes) {
    options_.maxStreams = 1;
    Start();
    {
        Client first(port_);
        first.Send(Get("/stream"));
        EXPECT_EQ(Status(first.Answer()), 200);
    }
    // Closed: the worker sees it and the next stream gets the place.
    int status = 0;
    for (int i = 0; i < 100 && status != 200; ++i) {
        Client next(port_);
        next.Send(Get("/stream"));
        status = Status(next.Answer());
        if (status != 200) std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(status, 200);
}

TEST_F(HttpServerTest, WhenConnectionsRunOutTheLongestWaitingMakesRoom) {
    options_.maxConnections = 4;
    Start();
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<Client>(port_));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(Status(Ask(Get("/now"))), 200);
    EXPECT_TRUE(idle[0]->Closed(5s));
    // The others still serve.
    idle[3]->Send(Get("/now"));
    EXPECT_EQ(Status(idle[3]->Answer()), 200);
}

TEST_F(HttpServerTest, ConnectionsCarryRequestsInTurn) {
    Start();
    Client client(port_);
    const std::string post = "POST /now HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc";
    ASSERT_TRUE(client.Send(post + Get("/nothing") + post));
    EXPECT_EQ(Body(client.Answer()), "now:abc");
    EXPECT_EQ(Status(client.Answer()), 404);
    EXPECT_EQ(Body(client.Answer()), "now:abc");
    // However many come at once, each is answered in turn.
    std::string many;
    for (int i = 0; i < 2000; ++i) many += "GET /now HTTP/1.1\n\n";
    ASSERT_TRUE(client.Send(many));
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(Body(client.Answer()), "now:") << i;
    ASSERT_TRUE(client.Send(Get("/now", "Connection: close\r\n")));
    const std::string last = client.Answer();
    EXPECT_NE(last.find("Connection: close"), std::string::npos);
    EXPECT_TRUE(client.Closed());

    // A client that waits for "100 Continue" gets it before it sends the body.
    Client patient(port_);
    ASSERT_TRUE(patient.Send("POST /now HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n"));
    EXPECT_EQ(patient.Answer(), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(patient.Send("ok"));
    EXPECT_EQ(Body(patient.Answer()), "now:ok");
}

TEST_F(HttpServerTest, ARefusedBodyIsReadPastSoTheRefusalArrives) {
    options_.limits.body = 1024;
    options_.limits.rawBody = 2048;
    Start();
    Client client(port_);
    ASSERT_TRUE(client.Send("POST /now HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"));
    const std::string chunk = "1000\r\n" + std::string(4096, 'x') + "\r\n";
    size_t sent = 0;
    // A client that sends until it is answered.
    while (sent < (64u << 20) && !client.Readable(0ms) && client.Send(chunk)) sent += chunk.size();
    const std::string answer = client.Answer();
    EXPECT_EQ(Status(answer), 413) << answer;
    // Answered long before the 64 MiB end: the sockets' buffers, and a busy
    // machine that runs the client ahead of the server, let some MiB through.
    EXPECT_LT(sent, 32u << 20);
    EXPECT_TRUE(client.Closed());
}

TEST_F(HttpServerTest, AFailingRouterGets500WithoutItsText) {
    Start();
    const std::string answer = Ask(Get("/throw"));
    EXPECT_EQ(Status(answer), 500) << answer;
    EXPECT_EQ(answer.find("secret"), std::string::npos);
    const std::string malformed = Ask("GET /%zz HTTP/1.1\r\n\r\n");
    EXPECT_EQ(Status(malformed), 400) << malformed;
    EXPECT_EQ(Status(Ask(Get("/now"))), 200);
}

}  // namespace
