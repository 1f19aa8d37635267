// The server's sockets: requests in, replies out, batches on the stream.
#include "zvstation/net/endpoint.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "zvstation/frames.hpp"
#include "zvstation/net/socket.hpp"

namespace zv::station::net {

const uint8_t* Incoming::data() const { return frame->data(); }
size_t Incoming::size() const { return frame->size(); }

namespace {

// Requests queued from one client before ZeroMQ stops reading its
// connection: a client waits for each reply, so a few suffice, and memory
// stays bounded (each at most the largest frame).
constexpr int kRequestQueue = 32;
// Heartbeats of the connections themselves: a client that vanished (power,
// cable) is disconnected after 2 s and its queues freed.
constexpr int kHeartbeatMs = 500;
constexpr int kHeartbeatTimeoutMs = 2000;
// A connection that has not finished its handshake after this is dropped.
constexpr int kHandshakeMs = 2000;

const char* ProtocolError(uint32_t code) {
    switch (code) {
        case ZMQ_PROTOCOL_ERROR_ZMTP_CRYPTOGRAPHIC:
            return "its key does not match this server's (the encrypted handshake failed)";
        case ZMQ_PROTOCOL_ERROR_ZMTP_MECHANISM_MISMATCH:
            return "it does not use this server's security (plain against encrypted, or the reverse)";
        default: return "its handshake broke the protocol";
    }
}

std::string PeerOf(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return "an unknown address";
    char host[INET6_ADDRSTRLEN] = {};
    uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        port = ntohs(v6->sin6_port);
    } else {
        return "a local socket";
    }
    return std::string(host) + ":" + std::to_string(port);
}

// The stream's endpoint when none is given: the request port + 1.
std::string StreamFor(const std::string& bind) {
    if (bind.compare(0, 6, "ipc://") == 0) return bind + ".stream";
    std::string host;
    std::string port;
    if (!SplitTcp(bind, &host, &port)) return {};
    if (port == "*") return "tcp://" + host + ":*";
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (end == port.c_str() || *end != '\0' || value < 1 || value >= 65535) return {};
    return "tcp://" + host + ":" + std::to_string(value + 1);
}

}  // namespace

struct ServerEndpoint::Impl {
    Context context;
    Socket requests;
    Socket stream;
    Socket requestMonitor;
    Socket streamMonitor;
    bool lossless = false;  // the stream's ZMQ_XPUB_NODROP
    std::string requestEndpoint;
    std::string streamEndpoint;
    std::vector<std::string> log;

    // Options both sockets share.
    bool Common(const Socket& s, const EndpointOptions& options, std::string* error) {
        // Closing never waits for a client that is gone.
        if (!s.Set(ZMQ_LINGER, 0, error)) return false;
        if (!s.Set(ZMQ_HEARTBEAT_IVL, kHeartbeatMs, error) ||
            !s.Set(ZMQ_HEARTBEAT_TIMEOUT, kHeartbeatTimeoutMs, error) || !s.Set(ZMQ_HANDSHAKE_IVL, kHandshakeMs, error))
            return false;
        if (!options.keys.empty()) {
            // Encrypted and authenticated: only clients holding this
            // server's public key complete the handshake.
            if (!s.Set(ZMQ_CURVE_SERVER, 1, error) || !s.Set(ZMQ_CURVE_SECRETKEY, options.keys.secretKey, error))
                return false;
        }
        return true;
    }

    bool Monitor(const Socket& s, Socket* monitor, const std::string& name, std::string* error) {
        const std::string address = "inproc://zvstation-monitor-" + name;
        const int events = ZMQ_EVENT_ACCEPTED | ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL |
                           ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL | ZMQ_EVENT_HANDSHAKE_FAILED_AUTH;
        if (zmq_socket_monitor(s.get(), address.c_str(), events) != 0) {
            *error = ZmqError("monitoring the " + name + " socket");
            return false;
        }
        *monitor = Socket(context, ZMQ_PAIR);
        if (!*monitor || !monitor->Set(ZMQ_LINGER, 0, error)) return false;
        if (zmq_connect(monitor->get(), address.c_str()) != 0) {
            *error = ZmqError("monitoring the " + name + " socket");
            return false;
        }
        return true;
    }

    void ReadMonitor(const Socket& monitor, const std::string& what) {
        for (int i = 0; i < 64; ++i) {
            Message event;
            if (zmq_msg_recv(event.get(), monitor.get(), ZMQ_DONTWAIT) < 0) return;
            uint16_t kind = 0;
            uint32_t value = 0;
            if (event.size() >= 6) {
                std::memcpy(&kind, event.data(), 2);
                std::memcpy(&value, event.data() + 2, 4);
            }
            std::string address;
            while (event.more()) {
                Message part;
                if (zmq_msg_recv(part.get(), monitor.get(), ZMQ_DONTWAIT) < 0) break;
                address.assign(reinterpret_cast<const char*>(part.data()), std::min<size_t>(part.size(), 256));
                if (!part.more()) break;
            }
            switch (kind) {
                case ZMQ_EVENT_ACCEPTED:
                    log.push_back("connection to the " + what + " from " + PeerOf(static_cast<int>(value)));
                    break;
                case ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL:
                    log.push_back("refused a connection to the " + what + " on " + address + ": " +
                                  ProtocolError(value));
                    break;
                case ZMQ_EVENT_HANDSHAKE_FAILED_AUTH:
                    log.push_back("refused a connection to the " + what + " on " + address + ": not authorised");
                    break;
                case ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL:
                    log.push_back("refused a connection to the " + what + " on " + address +
                                  ": the handshake failed (" + zmq_strerror(static_cast<int>(value)) + ")");
                    break;
                default: break;
            }
        }
    }

    // Reads one request: [identity][frame]. Anything else is read whole and
    // dropped.
    bool ReadRequest(std::vector<Incoming>* out) {
        Message identity;
        if (zmq_msg_recv(identity.get(), requests.get(), ZMQ_DONTWAIT) < 0) return false;
        auto frame = std::make_shared<Message>();
        size_t parts = 1;
        bool more = identity.more();
        if (more) {
            if (zmq_msg_recv(frame->get(), requests.get(), ZMQ_DONTWAIT) < 0) return false;
            ++parts;
            more = frame->more();
        }
        while (more) {
            Message rest;
            if (zmq_msg_recv(rest.get(), requests.get(), ZMQ_DONTWAIT) < 0) break;
            ++parts;
            more = rest.more();
        }
        if (parts != 2) {
            log.push_back("dropped a request of " + std::to_string(parts - 1) + " frames (a request is one frame)");
            return true;
        }
        Incoming in;
        in.peer.assign(reinterpret_cast<const char*>(identity.data()), identity.size());
        in.frame = std::move(frame);
        out->push_back(std::move(in));
        return true;
    }
};

ServerEndpoint::ServerEndpoint() : impl_(std::make_unique<Impl>()) {}
ServerEndpoint::~ServerEndpoint() {
    if (impl_->requests) zmq_socket_monitor(impl_->requests.get(), nullptr, 0);
    if (impl_->stream) zmq_socket_monitor(impl_->stream.get(), nullptr, 0);
    impl_->requestMonitor.Close();
    impl_->streamMonitor.Close();
    impl_->requests.Close();
    impl_->stream.Close();
}

bool ServerEndpoint::Open(const EndpointOptions& options, std::string* error, bool* addressTaken) {
    Impl& r = *impl_;
    if (addressTaken != nullptr) *addressTaken = false;
    if (r.context.get() == nullptr) {
        *error = ZmqError("cannot start ZeroMQ");
        return false;
    }
    const std::string streamBind = options.stream.empty() ? StreamFor(options.bind) : options.stream;
    if (streamBind.empty()) {
        *error = "cannot tell the stream's endpoint from " + options.bind + ": give it with --stream";
        return false;
    }
    r.requests = Socket(r.context, ZMQ_ROUTER);
    r.stream = Socket(r.context, ZMQ_XPUB);
    if (!r.requests || !r.stream) {
        *error = ZmqError("cannot make the server's sockets");
        return false;
    }
    const Socket& q = r.requests;
    if (!r.Common(q, options, error)) return false;
    // A frame larger than the largest request is refused before it is
    // held: the client is disconnected instead.
    if (!q.Set(ZMQ_MAXMSGSIZE, static_cast<int64_t>(wire::kMaxFrameBytes), error)) return false;
    if (!q.Set(ZMQ_RCVHWM, kRequestQueue, error) || !q.Set(ZMQ_SNDHWM, kRequestQueue, error)) return false;
    // A reply that cannot be delivered (client gone, or not reading) is an
    // error the server sees and logs, not a silent drop.
    if (!q.Set(ZMQ_ROUTER_MANDATORY, 1, error)) return false;
    // A client that reconnects under its identity takes over from its old,
    // half-dead connection (a stopped server, a cut cable).
    if (!q.Set(ZMQ_ROUTER_HANDOVER, 1, error)) return false;

    const Socket& s = r.stream;
    if (!r.Common(s, options, error)) return false;
    // Batches queued for one client; beyond that the batches are not
    // queued for it (it sees the gap in their sequence numbers), while the
    // other clients get them: the server never blocks on a slow client and
    // its memory stays bounded. (Bursts ask otherwise, see Publish.)
    if (!s.Set(ZMQ_SNDHWM, options.streamQueue, error)) return false;
    // Clients send only their handshake and subscriptions: a few hundred
    // bytes each.
    if (!s.Set(ZMQ_MAXMSGSIZE, int64_t{4096}, error) || !s.Set(ZMQ_RCVHWM, 16, error)) return false;

    const std::string name = std::to_string(reinterpret_cast<uintptr_t>(this));
    if (!r.Monitor(q, &r.requestMonitor, "requests-" + name, error) ||
        !r.Monitor(s, &r.streamMonitor, "stream-" + name, error))
        return false;

    auto bind = [&](const Socket& socket, const std::string& endpoint, std::string* bound) {
        if (zmq_bind(socket.get(), endpoint.c_str()) != 0) {
            const int code = zmq_errno();
            if (addressTaken != nullptr) *addressTaken = code == EADDRINUSE || code == EADDRNOTAVAIL || code == EACCES;
            *error = "cannot bind " + endpoint + ": " + zmq_strerror(code);
            return false;
        }
        *bound = socket.LastEndpoint();
        return true;
    };
    return bind(q, options.bind, &r.requestEndpoint) && bind(s, streamBind, &r.streamEndpoint);
}

const std::string& ServerEndpoint::RequestEndpoint() const { return impl_->requestEndpoint; }
const std::string& ServerEndpoint::StreamEndpoint() const { return impl_->streamEndpoint; }

void ServerEndpoint::Wait(int waitMs, size_t most, std::vector<Incoming>* requests) {
    Impl& r = *impl_;
    zmq_pollitem_t items[] = {
        {r.requests.get(), 0, ZMQ_POLLIN, 0},
        {r.stream.get(), 0, ZMQ_POLLIN, 0},
        {r.requestMonitor.get(), 0, ZMQ_POLLIN, 0},
        {r.streamMonitor.get(), 0, ZMQ_POLLIN, 0},
    };
    if (zmq_poll(items, 4, waitMs) <= 0) return;  // nothing, or a signal
    if ((items[2].revents & ZMQ_POLLIN) != 0) r.ReadMonitor(r.requestMonitor, "requests");
    if ((items[3].revents & ZMQ_POLLIN) != 0) r.ReadMonitor(r.streamMonitor, "stream");
    // Subscriptions: read and forgotten (every client gets every batch).
    for (int i = 0; i < 64 && (items[1].revents & ZMQ_POLLIN) != 0; ++i) {
        Message subscription;
        if (zmq_msg_recv(subscription.get(), r.stream.get(), ZMQ_DONTWAIT) < 0) break;
    }
    if ((items[0].revents & ZMQ_POLLIN) == 0) return;
    for (size_t i = 0; i < most; ++i)
        if (!r.ReadRequest(requests)) break;
}

bool ServerEndpoint::Reply(const std::string& peer, std::vector<uint8_t> frame) {
    Impl& r = *impl_;
    if (zmq_send(r.requests.get(), peer.data(), peer.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) return false;
    // The frame's bytes are handed to ZeroMQ as they are; it frees them
    // once they went.
    auto* owned = new std::vector<uint8_t>(std::move(frame));
    Message message;
    zmq_msg_close(message.get());
    const int made = zmq_msg_init_data(
        message.get(), owned->data(), owned->size(),
        [](void*, void* hint) { delete static_cast<std::vector<uint8_t>*>(hint); }, owned);
    if (made != 0) {
        delete owned;
        zmq_msg_init(message.get());
        zmq_send(r.requests.get(), "", 0, ZMQ_DONTWAIT);  // ends the message begun
        return false;
    }
    // The first part went, so the last goes too: a message is all or none.
    return zmq_msg_send(message.get(), r.requests.get(), ZMQ_DONTWAIT) >= 0;
}

ServerEndpoint::Sent ServerEndpoint::Publish(Message* frame, bool lossless) {
    Impl& r = *impl_;
    if (lossless != r.lossless) {
        // Without dropping, a full client queue makes the send fail (EAGAIN)
        // instead of dropping the batch for that client.
        std::string error;
        if (!r.stream.Set(ZMQ_XPUB_NODROP, lossless ? 1 : 0, &error)) return Sent::Failed;
        r.lossless = lossless;
    }
    if (zmq_msg_send(frame->get(), r.stream.get(), ZMQ_DONTWAIT) >= 0) return Sent::Yes;
    return zmq_errno() == EAGAIN ? Sent::Full : Sent::Failed;
}

std::vector<std::string> ServerEndpoint::TakeLog() {
    std::vector<std::string> lines;
    lines.swap(impl_->log);
    return lines;
}

}  // namespace zv::station::net
