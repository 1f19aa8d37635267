#include "http_server.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace zvhost {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadSize = 16384;
constexpr size_t kMostDrained = 1 << 20;          // bytes read past after a refusal
constexpr std::chrono::milliseconds kSlice{500};  // streams and the connection thread look at Stop this often
const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

std::string Seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// Answers of other threads for the connection thread, which a write to
// `wake` calls.
struct Mailbox {
    struct Answer {
        uint64_t connection;
        uint64_t ticket;
        http::Response response;
    };
    std::mutex mutex;
    std::vector<Answer> answers;
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    ~Mailbox() {
        if (wake >= 0) close(wake);
    }
    void Post(Answer answer) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            answers.push_back(std::move(answer));
        }
        Wake();
    }
    void Wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake, &one, sizeof one);
    }
    std::vector<Answer> Take() {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wake, &count, sizeof count);
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(answers, {});
    }
};

// A fixed set of threads taking jobs from a bounded queue.
class Workers {
public:
    Workers(size_t threads, size_t queue) : most_(threads + queue) {
        for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
    }
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    // False when every thread is busy and the queue is full.
    bool Submit(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_ || jobs_.size() + busy_ >= most_) return false;
            jobs_.push_back(std::move(job));
        }
        cv_.notify_one();
        return true;
    }

private:
    void Run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
                ++busy_;
            }
            try {
                job();
            } catch (...) {
                // A job answers its own failures; nothing more to do here.
            }
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
    }

    const size_t most_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    size_t busy_ = 0;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// A stream's connection, owned by its worker.
class SocketStream final : public StreamOut {
public:
    SocketStream(int fd, std::chrono::milliseconds writeTime, const std::atomic<bool>& stopping)
        : fd_(fd), writeTime_(writeTime), stopping_(stopping) {}
    ~SocketStream() override { close(fd_); }

    bool Write(std::string_view bytes) override {
        const Clock::time_point deadline = Clock::now() + writeTime_;
        while (!bytes.empty()) {
            if (stopping_) return false;
            const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, static_cast<int>(std::min(left, kSlice).count()));
        }
        return true;
    }

    bool Open() override {
        if (stopping_) return false;
        pollfd p{fd_, POLLIN | POLLRDHUP, 0};
        if (poll(&p, 1, 0) <= 0) return true;
        if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
        char byte = 0;
        return recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
    }

private:
    int fd_;
    std::chrono::milliseconds writeTime_;
    const std::atomic<bool>& stopping_;
};

}  // namespace

struct HttpServer::Impl {
    enum class Phase { Reading, Waiting, Writing, Lingering };
    struct Connection {
        int fd = -1;
        Phase phase = Phase::Reading;
        http::RequestReader reader;
        std::string in;   // read and not yet taken by the reader: the next request's bytes
        std::string out;  // the answer being written
        size_t sent = 0;
        bool keepAlive = true;
        bool linger = false;     // after the answer, read past what the client still sends, then close
        bool continued = false;  // "100 Continue" went out for this request
        uint64_t ticket = 0;     // of the request waiting for its answer
        size_t drained = 0;
        Clock::time_point since;     // the current wait for a request began
        Clock::time_point deadline;  // of the current phase
    };

    Options options;
    Router router;
    Refuse refuse;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::shared_ptr<Mailbox> mailbox = std::make_shared<Mailbox>();
    std::map<uint64_t, Connection> connections;
    uint64_t nextId = 1;
    uint64_t nextTicket = 1;
    Clock::time_point acceptPaused{};
    // Made last and ended first: a stream's worker reads `stopping`.
    std::unique_ptr<Workers> work;
    std::unique_ptr<Workers> streams;

    Impl(const Options& o, Router r, Refuse f) : options(o), router(std::move(r)), refuse(std::move(f)) {
        work = std::make_unique<Workers>(options.workers, options.maxWork);
        streams = std::make_unique<Workers>(options.maxStreams, 0);
    }

    ~Impl() {
        stopping = true;
        streams.reset();
        work.reset();
        for (auto& [id, c] : connections) close(c.fd);
        if (listener >= 0) close(listener);
    }

    Respond Responder(uint64_t id, uint64_t ticket) {
        std::shared_ptr<Mailbox> box = mailbox;
        return [box, id, ticket](http::Response response) { box->Post({id, ticket, std::move(response)}); };
    }

    void Accept();
    void Close(uint64_t id);
    void Readable(uint64_t id);
    void Writable(uint64_t id);
    // Writes, then reads on when the connection takes another request.
    void Flush(uint64_t id) {
        Writable(id);
        Take(id);
    }
    void Take(uint64_t id);
    void Dispatch(uint64_t id);
    void Answer(Connection& c, const http::Response& response);
    void Expire(Clock::time_point now);
    void Delivered();
    bool Loop();
};

void HttpServer::Impl::Close(uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    close(it->second.fd);
    connections.erase(it);
}

void HttpServer::Impl::Accept() {
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: look again a little later rather than spin.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptPaused = Clock::now() + std::chrono::milliseconds(100);
            return;
        }
        if (connections.size() >= options.maxConnections) {
            // Room is made by the connection that has waited longest for
            // its request; when every one is busy with an answer, the new
            // one waits for none.
            uint64_t oldest = 0;
            Clock::time_point since = Clock::time_point::max();
            for (const auto& [id, c] : connections)
                if ((c.phase == Phase::Reading || c.phase == Phase::Lingering) && c.since < since) {
                    since = c.since;
                    oldest = id;
                }
            if (oldest == 0) {
                close(fd);
                continue;
            }
            Close(oldest);
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Connection& c = connections[nextId++];
        c.fd = fd;
        c.reader = http::RequestReader(options.limits);
        c.since = Clock::now();
        c.deadline = c.since + options.readTime;
    }
}

void HttpServer::Impl::Answer(Connection& c, const http::Response& response) {
    if (stopping) c.keepAlive = false;
    c.out = http::ResponseHead(response, c.keepAlive, options.common) + response.body;
    c.sent = 0;
    c.phase = Phase::Writing;
    c.deadline = Clock::now() + options.writeTime;
}

// The reader takes what was read; a whole request is dispatched, a
// malformed one refused. Requests that came together are taken in turn,
// each once the answer before it is written.
void HttpServer::Impl::Take(uint64_t id) {
    for (;;) {
        auto it = connections.find(id);
        if (it == connections.end()) return;
        Connection& c = it->second;
        if (c.phase != Phase::Reading || c.in.empty()) return;
        const size_t used = c.reader.Feed(c.in);
        c.in.erase(0, used);
        switch (c.reader.state()) {
            case http::RequestReader::State::Head: return;
            case http::RequestReader::State::Body:
                if (c.reader.request().expectContinue && !c.continued) {
                    c.continued = true;
                    // Nothing else is being written: the few bytes go at once.
                    const ssize_t n = send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n != static_cast<ssize_t>(sizeof kContinue - 1)) return Close(id);
                }
                if (c.in.empty()) return;
                break;
            case http::RequestReader::State::Failed:
                c.keepAlive = false;
                c.linger = true;
                c.in.clear();
                Answer(c, refuse(c.reader.Status(), c.reader.Reason()));
                return Writable(id);
            case http::RequestReader::State::Done: Dispatch(id); break;
        }
    }
}

// Long: one branch per lane (at once, the loop, the picture workers, a stream), each with its own bound.
void HttpServer::Impl::Dispatch(uint64_t id) {
    Connection& c = connections.at(id);
    http::Request request = std::move(c.reader.request());
    c.keepAlive = request.keepAlive;
    c.ticket = nextTicket++;
    Routed routed;
    try {
        routed = router(request);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zvhost: a request failed: %s\n", e.what());
        routed = Routed{};
        routed.response = refuse(500, "the server failed on this request");
    } catch (...) {
        routed = Routed{};
        routed.response = refuse(500, "the server failed on this request");
    }
    switch (routed.lane) {
        case Routed::Lane::Now: Answer(c, routed.response); return Writable(id);
        case Routed::Lane::Later: {
            c.phase = Phase::Waiting;
            c.deadline = Clock::now() + routed.wait;
            const Respond respond = Responder(id, c.ticket);
            try {
                routed.start(respond);
            } catch (...) {
                respond(refuse(500, "the server failed on this request"));
            }
            return;
        }
        case Routed::Lane::Work: {
            c.phase = Phase::Waiting;
            c.deadline = Clock::now() + routed.wait;
            auto job = [make = std::move(routed.work), respond = Responder(id, c.ticket), refuse = refuse] {
                http::Response response;
                try {
                    response = make();
                } catch (...) {
                    response = refuse(500, "the server failed on this request");
                }
                respond(std::move(response));
            };
            if (!work->Submit(std::move(job))) {
                Answer(c, refuse(503, "the server is busy: " + std::to_string(options.maxWork) +
                                          " requests wait already (queue full)"));
                Writable(id);
            }
            return;
        }
        case Routed::Lane::Stream: {
            const int fd = c.fd;
            const std::string head = http::ResponseHead(routed.response, false, options.common, true);
            auto job = [fd, head, stream = std::move(routed.stream), this] {
                SocketStream out(fd, options.writeTime, stopping);
                if (out.Write(head)) stream(out);
            };
            if (!streams->Submit(std::move(job))) {
                Answer(c, refuse(503, "too many event streams are open (" + std::to_string(options.maxStreams) + ")"));
                return Writable(id);
            }
            // The stream's worker owns the connection now.
            connections.erase(id);
            return;
        }
    }
}

void HttpServer::Impl::Readable(uint64_t id) {
    Connection& c = connections.at(id);
    char buffer[kReadSize];
    const ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return Close(id);
    if (n < 0) return;
    if (c.phase == Phase::Lingering) {
        c.drained += static_cast<size_t>(n);
        if (c.drained > kMostDrained) Close(id);
        return;
    }
    c.in.append(buffer, static_cast<size_t>(n));
    Take(id);
}

void HttpServer::Impl::Writable(uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) return;
    Connection& c = it->second;
    while (c.sent < c.out.size()) {
        const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;  // the rest when the socket takes it
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return Close(id);
        }
    }
    c.out.clear();
    c.out.shrink_to_fit();
    if (c.linger) {
        // The client may still be sending what was refused: reading it
        // lets the answer arrive before the connection closes.
        shutdown(c.fd, SHUT_WR);
        c.phase = Phase::Lingering;
        c.deadline = Clock::now() + options.lingerTime;
        return;
    }
    if (!c.keepAlive) return Close(id);
    c.phase = Phase::Reading;
    c.reader = http::RequestReader(options.limits);
    c.continued = false;
    c.since = Clock::now();
    c.deadline = c.since + options.readTime;
}

void HttpServer::Impl::Delivered() {
    for (Mailbox::Answer& answer : mailbox->Take()) {
        auto it = connections.find(answer.connection);
        // An answer after its request's 504, or for a closed connection.
        if (it == connections.end() || it->second.phase != Phase::Waiting || it->second.ticket != answer.ticket)
            continue;
        Answer(it->second, answer.response);
        Flush(answer.connection);
    }
}

void HttpServer::Impl::Expire(Clock::time_point now) {
    std::vector<uint64_t> late;
    for (const auto& [id, c] : connections)
        if (c.deadline <= now) late.push_back(id);
    for (uint64_t id : late) {
        Connection& c = connections.at(id);
        switch (c.phase) {
            case Phase::Reading:
                if (!c.reader.Started()) {
                    Close(id);  // an idle connection
                    break;
                }
                c.keepAlive = false;
                c.linger = true;
                Answer(c, refuse(408, "the request did not come whole within " + Seconds(options.readTime)));
                Flush(id);
                break;
            case Phase::Waiting:
                Answer(c, refuse(504, "no answer came in time (the host is still busy with the request)"));
                Flush(id);
                break;
            case Phase::Writing:
            case Phase::Lingering: Close(id); break;
        }
    }
}

bool HttpServer::Impl::Loop() {
    std::vector<pollfd> fds;
    std::vector<uint64_t> ids;
    while (!stopping) {
        const Clock::time_point now = Clock::now();
        fds.clear();
        ids.clear();
        fds.push_back({mailbox->wake, POLLIN, 0});
        fds.push_back({listener, static_cast<short>(now >= acceptPaused ? POLLIN : 0), 0});
        Clock::time_point next = now + kSlice;
        for (const auto& [id, c] : connections) {
            short events = 0;
            if (c.phase == Phase::Reading || c.phase == Phase::Lingering) events = POLLIN;
            if (c.phase == Phase::Writing) events = POLLOUT;
            fds.push_back({c.fd, events, 0});
            ids.push_back(id);
            next = std::min(next, c.deadline);
        }
        const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(next - now);
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(timeout.count(), 0)));
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0) {
            if (fds[0].revents & POLLIN) Delivered();
            for (size_t i = 0; i < ids.size(); ++i) {
                const short revents = fds[i + 2].revents;
                auto it = connections.find(ids[i]);
                if (revents == 0 || it == connections.end()) continue;
                if (it->second.phase == Phase::Writing && (revents & (POLLOUT | POLLERR | POLLHUP))) {
                    Flush(ids[i]);
                } else if (revents & (POLLIN | POLLERR | POLLHUP)) {
                    Readable(ids[i]);
                }
            }
            if (fds[1].revents & POLLIN) Accept();
        }
        Expire(Clock::now());
    }
    return true;
}

HttpServer::HttpServer(const Options& options, Router router, Refuse refuse)
    : impl_(std::make_unique<Impl>(options, std::move(router), std::move(refuse))) {}

HttpServer::~HttpServer() = default;

bool HttpServer::Bind(const std::string& address, int port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = getaddrinfo(address.c_str(), service.c_str(), &hints, &found);
    std::string why = resolved != 0 ? gai_strerror(resolved) : "";
    for (addrinfo* a = found; a != nullptr && impl_->listener < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 128) == 0) {
            impl_->listener = fd;
        } else {
            why = std::strerror(errno);
            close(fd);
        }
    }
    if (found != nullptr) freeaddrinfo(found);
    if (impl_->listener < 0) {
        *error = "cannot listen on " + address + " port " + std::to_string(port) + " (" + why + ")";
        return false;
    }
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&bound), &size);
    impl_->port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return true;
}

int HttpServer::Port() const { return impl_->port; }

bool HttpServer::Serve() {
    if (impl_->listener < 0) return false;
    const bool served = impl_->Loop();
    for (auto& [id, c] : impl_->connections) close(c.fd);
    impl_->connections.clear();
    return served;
}

void HttpServer::Stop() {
    impl_->stopping = true;
    impl_->mailbox->Wake();
}

}  // namespace zvhost
