// The client's link to one server: bounded requests, heartbeats, and the
// result stream read on the link's own thread into a bounded queue.
#include "zvstation/net/link.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "zvstation/net/keys.hpp"
#include "zvstation/net/socket.hpp"

namespace zv::station::net {

namespace {

using Clock = std::chrono::steady_clock;

uint64_t SteadyMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

// ZeroMQ's own heartbeats on each connection: a connection whose peer
// vanished without closing it (power, cable) is closed after 2 s and
// reconnected, so that no request waits on a dead one.
constexpr int kConnectionHeartbeatMs = 500;
constexpr int kConnectionTimeoutMs = 2000;
// Reconnection: every 100 ms at first, backing off to once a second, so a
// returning server is found within a second.
constexpr int kReconnectMs = 100;
constexpr int kReconnectMaxMs = 1000;
// Frames read in one go before the loop looks at its clock again.
constexpr int kDrain = 256;

// A message owning `bytes` without copying them.
void Adopt(std::vector<uint8_t> bytes, Message* message) {
    auto* owned = new std::vector<uint8_t>(std::move(bytes));
    zmq_msg_close(message->get());
    if (zmq_msg_init_data(
            message->get(), owned->data(), owned->size(),
            [](void*, void* hint) { delete static_cast<std::vector<uint8_t>*>(hint); }, owned) != 0) {
        delete owned;
        zmq_msg_init(message->get());
    }
}

wire::Reply Failure(const wire::Request& request, zvStatus status, std::string message) {
    wire::Reply reply;
    reply.id = request.id;
    reply.op = request.op;
    reply.status = status;
    reply.message = std::move(message);
    return reply;
}

}  // namespace

// ---- ReceivedBatch --------------------------------------------------------------

ReceivedBatch::ReceivedBatch() = default;
ReceivedBatch::~ReceivedBatch() = default;
ReceivedBatch::ReceivedBatch(ReceivedBatch&&) noexcept = default;
ReceivedBatch& ReceivedBatch::operator=(ReceivedBatch&&) noexcept = default;

size_t ReceivedBatch::Bytes() const { return frame_ ? frame_->size() : 0; }

zvStatus ReceivedBatch::Results(std::vector<zvHandle>* results) const {
    if (!frame_) return ZV_E_STATE;
    return wire::BuildResults(view_, results);
}

// ---- The link -------------------------------------------------------------------

struct ServerLink::Impl {
    LinkOptions options;
    Context context;
    Socket commandIn;   // the thread's end of the callers' requests
    Socket commandOut;  // the callers' end, under sendMutex
    Socket dealer;      // requests and replies (the thread's)
    Socket sub;         // the result stream (the thread's)
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<uint32_t> nextId{1};
    bool started = false;

    std::mutex sendMutex;

    // Shared with callers, under `mutex`.
    mutable std::mutex mutex;
    std::condition_variable answered;
    std::condition_variable queued;
    struct Pending {
        bool done = false;
        wire::Reply reply;
    };
    std::map<uint32_t, Pending> pending;
    std::deque<ReceivedBatch> queue;
    size_t queuedBytes = 0;
    LinkState state = LinkState::Connecting;
    wire::ServerInfo info;
    LinkStats stats;
    std::vector<LinkEvent> events;
    Clock::time_point lastHeard;

    // The thread's own.
    uint64_t session = 0;  // of the last greeting; 0 before the first
    bool greet = true;     // greet (Hello) rather than beat (Ping)
    bool everOnline = false;
    std::string streamConnected;
    uint64_t streamSession = 0;
    uint64_t lastSequence = 0;

    std::string Who() const {
        return "server " + (info.serial != 0 ? std::to_string(info.serial) + " " : std::string()) + "at " +
               options.endpoint;
    }

    uint32_t NewId() {
        uint32_t id = nextId.fetch_add(1);
        if (id == 0) id = nextId.fetch_add(1);
        return id;
    }

    // ---- The thread ----------------------------------------------------------

    void Run() {
        {
            std::lock_guard lock(mutex);
            lastHeard = Clock::now();
        }
        Clock::time_point nextBeat = Clock::now();
        while (!stopping.load()) {
            Clock::time_point now = Clock::now();
            if (now >= nextBeat) {
                Beat();
                nextBeat = now + std::chrono::milliseconds(options.heartbeatMs);
            }
            CheckLiveness(now);
            zmq_pollitem_t items[] = {
                {commandIn.get(), 0, ZMQ_POLLIN, 0},
                {dealer.get(), 0, ZMQ_POLLIN, 0},
                {sub.get(), 0, ZMQ_POLLIN, 0},
            };
            const int count = streamConnected.empty() ? 2 : 3;
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextBeat - Clock::now()).count();
            if (zmq_poll(items, count, static_cast<long>(std::max<int64_t>(0, wait))) < 0) {
                if (zmq_errno() == ETERM) break;
                continue;
            }
            if ((items[0].revents & ZMQ_POLLIN) != 0) Forward();
            if ((items[1].revents & ZMQ_POLLIN) != 0) ReadReplies();
            if (count == 3 && (items[2].revents & ZMQ_POLLIN) != 0) ReadStream();
        }
    }

    // Callers' requests go on to the server; one that cannot go (no
    // connection) fails at once.
    void Forward() {
        for (int i = 0; i < kDrain; ++i) {
            Message message;
            if (zmq_msg_recv(message.get(), commandIn.get(), ZMQ_DONTWAIT) < 0) return;
            if (message.size() < 12) continue;  // a wake-up
            uint32_t id = 0;
            std::memcpy(&id, message.data() + 8, sizeof id);
            if (zmq_msg_send(message.get(), dealer.get(), ZMQ_DONTWAIT) >= 0) continue;
            std::lock_guard lock(mutex);
            auto found = pending.find(id);
            if (found == pending.end()) continue;
            found->second.done = true;
            found->second.reply.status = ZV_E_IO;
            found->second.reply.message = "not connected to " + Who();
            answered.notify_all();
        }
    }

    void Send(wire::Op op) {
        wire::Request request;
        request.id = NewId();
        request.op = op;
        request.timeoutMs = static_cast<uint32_t>(options.heartbeatMs);
        request.sentMs = SteadyMs();
        std::vector<uint8_t> bytes;
        wire::EncodeRequest(request, &bytes);
        // Without a connection this fails at once: the next beat tries again.
        zmq_send(dealer.get(), bytes.data(), bytes.size(), ZMQ_DONTWAIT);
    }

    void Beat() { Send(greet ? wire::Op::Hello : wire::Op::Ping); }

    void CheckLiveness(Clock::time_point now) {
        std::lock_guard lock(mutex);
        if (state == LinkState::Offline) return;
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastHeard).count();
        if (silent <= options.offlineAfterMs) return;
        const bool wasOnline = state == LinkState::Online;
        state = LinkState::Offline;
        greet = true;
        LinkEvent event;
        event.kind = LinkEvent::Kind::Offline;
        event.text = Who() + (wasOnline ? " is offline: no answer for " : " cannot be reached: no answer for ") +
                     std::to_string(silent) + " ms";
        events.push_back(std::move(event));
        answered.notify_all();
    }

    void ReadReplies() {
        for (int i = 0; i < kDrain; ++i) {
            Message message;
            if (zmq_msg_recv(message.get(), dealer.get(), ZMQ_DONTWAIT) < 0) return;
            if (message.more()) {
                // A reply is one frame: drop the rest of this message.
                while (message.more()) {
                    if (zmq_msg_recv(message.get(), dealer.get(), ZMQ_DONTWAIT) < 0) break;
                }
                Refuse("a reply of several frames");
                continue;
            }
            wire::Reply reply;
            std::string error;
            if (!wire::DecodeReply(message.data(), message.size(), &reply, &error)) {
                Refuse(error);
                continue;
            }
            OnReply(std::move(reply));
        }
    }

    void Refuse(const std::string& why) {
        std::lock_guard lock(mutex);
        ++stats.refused;
        stats.lastRefusal = why;
    }

    void OnReply(wire::Reply reply) {
        const bool greeting = reply.op == wire::Op::Hello && reply.status > 0;
        if (greeting) Greeted(reply.server);
        if (reply.op == wire::Op::Ping && reply.status > 0 && session != 0 && reply.server.session != session)
            greet = true;  // a new start of the server: greet it to learn its state
        std::lock_guard lock(mutex);
        lastHeard = Clock::now();
        auto found = pending.find(reply.id);
        if (found == pending.end() || found->second.done) {
            if (reply.op != wire::Op::Ping && reply.op != wire::Op::Hello) ++stats.lateReplies;
            return;
        }
        found->second.done = true;
        found->second.reply = std::move(reply);
        answered.notify_all();
    }

    void Greeted(const wire::ServerInfo& server) {
        const bool restarted = session != 0 && server.session != session;
        session = server.session;
        greet = false;
        if (options.stream) FollowStream(server.stream);
        std::lock_guard lock(mutex);
        const bool wasOnline = state == LinkState::Online;
        const uint32_t serialBefore = info.serial;
        info = server;
        state = LinkState::Online;
        if (wasOnline && !restarted) return;
        LinkEvent event;
        event.kind = LinkEvent::Kind::Online;
        event.restarted = restarted;
        if (!everOnline) {
            event.text = Who() + " is online";
        } else {
            ++stats.returns;
            event.text = Who() + (restarted ? " is back, started anew (its pipe must be set again)" : " is back");
            if (serialBefore != 0 && serialBefore != server.serial)
                event.text += "; it was server " + std::to_string(serialBefore) + " before";
        }
        everOnline = true;
        events.push_back(std::move(event));
    }

    // The stream is on the server's host, at the port the server names.
    void FollowStream(const std::string& announced) {
        std::string endpoint = announced;
        std::string host;
        std::string port;
        std::string streamHost;
        std::string streamPort;
        if (SplitTcp(options.endpoint, &host, &port) && SplitTcp(announced, &streamHost, &streamPort))
            endpoint = "tcp://" + host + ":" + streamPort;
        if (endpoint == streamConnected || endpoint.empty()) return;
        if (!streamConnected.empty()) zmq_disconnect(sub.get(), streamConnected.c_str());
        streamConnected.clear();
        if (zmq_connect(sub.get(), endpoint.c_str()) == 0)
            streamConnected = endpoint;
        else
            Refuse(ZmqError("cannot follow the stream at " + endpoint));
    }

    void ReadStream() {
        for (int i = 0; i < kDrain; ++i) {
            auto frame = std::make_unique<Message>();
            if (zmq_msg_recv(frame->get(), sub.get(), ZMQ_DONTWAIT) < 0) return;
            if (frame->more()) {
                while (frame->more()) {
                    if (zmq_msg_recv(frame->get(), sub.get(), ZMQ_DONTWAIT) < 0) break;
                }
                Refuse("a batch of several frames");
                continue;
            }
            ReceivedBatch batch;
            std::string error;
            if (!wire::ParseBatch(frame->data(), frame->size(), &batch.view_, &error)) {
                Refuse(error);
                continue;
            }
            batch.frame_ = std::move(frame);
            Queue(std::move(batch));
        }
    }

    void Queue(ReceivedBatch batch) {
        const wire::BatchHeader& h = batch.Header();
        std::lock_guard lock(mutex);
        if (info.serial != 0 && h.serial != info.serial) {
            ++stats.refused;
            stats.lastRefusal = "a batch of server " + std::to_string(h.serial) + " on the link to " + Who();
            return;
        }
        if (h.session != streamSession) {
            // A new start of the server: its sequence begins again.
            streamSession = h.session;
        } else if (h.sequence <= lastSequence) {
            ++stats.refused;
            stats.lastRefusal =
                "batch " + std::to_string(h.sequence) + " came after batch " + std::to_string(lastSequence);
            return;
        } else {
            stats.lost += h.sequence - lastSequence - 1;
        }
        lastSequence = h.sequence;
        const size_t bytes = batch.Bytes();
        while (!queue.empty() && (queue.size() >= options.queueBatches || queuedBytes + bytes > options.queueBytes)) {
            queuedBytes -= queue.front().Bytes();
            queue.pop_front();
            ++stats.droppedOldest;
        }
        queuedBytes += bytes;
        queue.push_back(std::move(batch));
        ++stats.received;
        queued.notify_one();
    }

    // ---- Setting up -------------------------------------------------------------

    bool Connection(const Socket& s, const KeyPair& client, std::string* error) {
        if (!s.Set(ZMQ_LINGER, 0, error)) return false;  // closing never waits for the server
        // A frame beyond the largest the protocol has is refused before it is
        // held: the connection is dropped (and made again) instead.
        if (!s.Set(ZMQ_MAXMSGSIZE, static_cast<int64_t>(wire::kMaxFrameBytes), error)) return false;
        if (!s.Set(ZMQ_RECONNECT_IVL, kReconnectMs, error) || !s.Set(ZMQ_RECONNECT_IVL_MAX, kReconnectMaxMs, error))
            return false;
        if (!s.Set(ZMQ_HEARTBEAT_IVL, kConnectionHeartbeatMs, error) ||
            !s.Set(ZMQ_HEARTBEAT_TIMEOUT, kConnectionTimeoutMs, error) ||
            !s.Set(ZMQ_HEARTBEAT_TTL, kConnectionTimeoutMs, error))
            return false;
        // A host that does not answer a connection attempt is tried again
        // after a second rather than after the system's long TCP timeout.
        if (!s.Set(ZMQ_CONNECT_TIMEOUT, 1000, error) || !s.Set(ZMQ_HANDSHAKE_IVL, kConnectionTimeoutMs, error))
            return false;
        if (!options.serverKey.empty()) {
            if (!s.Set(ZMQ_CURVE_SERVERKEY, options.serverKey, error) ||
                !s.Set(ZMQ_CURVE_PUBLICKEY, client.publicKey, error) ||
                !s.Set(ZMQ_CURVE_SECRETKEY, client.secretKey, error))
                return false;
        }
        return true;
    }

    bool Setup(std::string* error) {
        if (context.get() == nullptr) {
            *error = ZmqError("cannot start ZeroMQ");
            return false;
        }
        if (options.heartbeatMs < 10 || options.offlineAfterMs <= options.heartbeatMs || options.requestTimeoutMs < 1 ||
            options.queueBatches < 1) {
            *error = "link options out of range (heartbeat at least 10 ms and below the offline time; a queue)";
            return false;
        }
        KeyPair client;
        if (!options.serverKey.empty()) {
            if (!ValidKey(options.serverKey)) {
                *error = "the server's key is not 40 characters of Z85 text";
                return false;
            }
            // The client's own pair is made for this link: the server checks
            // that the client knows its key, not who the client is.
            char publicKey[41] = {};
            char secretKey[41] = {};
            if (zmq_curve_keypair(publicKey, secretKey) != 0) {
                *error = ZmqError("cannot make the link's keys");
                return false;
            }
            client.publicKey = publicKey;
            client.secretKey = secretKey;
        }
        dealer = Socket(context, ZMQ_DEALER);
        sub = Socket(context, ZMQ_SUB);
        commandIn = Socket(context, ZMQ_PAIR);
        commandOut = Socket(context, ZMQ_PAIR);
        if (!dealer || !sub || !commandIn || !commandOut) {
            *error = ZmqError("cannot make the link's sockets");
            return false;
        }
        if (!Connection(dealer, client, error) || !Connection(sub, client, error)) return false;
        // The link's own identity, the same on every connection: a
        // reconnecting link takes over its old connection on the server, and
        // the server tells its requests apart from other clients'.
        std::random_device random;
        std::string identity(16, '\0');
        for (char& c : identity) c = static_cast<char>(random() % 255 + 1);
        if (!dealer.Set(ZMQ_ROUTING_ID, identity, error)) return false;
        // A request is only queued on a connection that is up: with none it
        // fails at once, instead of waiting to reach a server that may come
        // back much later.
        if (!dealer.Set(ZMQ_IMMEDIATE, 1, error)) return false;
        // Requests wait for their replies one by one: a short queue.
        if (!dealer.Set(ZMQ_SNDHWM, 64, error) || !dealer.Set(ZMQ_RCVHWM, 64, error)) return false;
        // The thread drains the stream as it comes; the link's own queue is
        // the one that drops the oldest. This only absorbs a pause of the
        // thread.
        if (!sub.Set(ZMQ_RCVHWM, 64, error) || !sub.Set(ZMQ_SUBSCRIBE, std::string(), error)) return false;
        if (!commandIn.Set(ZMQ_LINGER, 0, error) || !commandOut.Set(ZMQ_LINGER, 0, error)) return false;
        const std::string inproc = "inproc://zvstation-link-" + std::to_string(reinterpret_cast<uintptr_t>(this));
        if (zmq_bind(commandIn.get(), inproc.c_str()) != 0 || zmq_connect(commandOut.get(), inproc.c_str()) != 0) {
            *error = ZmqError("cannot make the link's request channel");
            return false;
        }
        if (zmq_connect(dealer.get(), options.endpoint.c_str()) != 0) {
            *error = ZmqError("cannot connect to " + options.endpoint);
            return false;
        }
        return true;
    }
};

ServerLink::ServerLink(LinkOptions options) : impl_(std::make_unique<Impl>()) { impl_->options = std::move(options); }

ServerLink::~ServerLink() {
    Impl& r = *impl_;
    r.stopping.store(true);
    if (r.thread.joinable()) {
        {
            std::lock_guard lock(r.sendMutex);
            zmq_send(r.commandOut.get(), "", 0, ZMQ_DONTWAIT);  // wakes the thread
        }
        r.thread.join();
    }
    {
        std::lock_guard lock(r.mutex);
        r.answered.notify_all();
        r.queued.notify_all();
    }
    r.queue.clear();
    r.commandOut.Close();
    r.commandIn.Close();
    r.dealer.Close();
    r.sub.Close();
}

bool ServerLink::Start(std::string* error) {
    Impl& r = *impl_;
    if (r.started) return true;
    if (!r.Setup(error)) return false;
    KeepFrameMemory();
    r.started = true;
    r.thread = std::thread([&r] { r.Run(); });
    return true;
}

wire::Reply ServerLink::Call(wire::Request request, int timeoutMs) {
    Impl& r = *impl_;
    const int timeout = timeoutMs < 0 ? r.options.requestTimeoutMs : timeoutMs;
    if (!r.started) return Failure(request, ZV_E_STATE, "the link to " + r.options.endpoint + " is not started");
    {
        std::lock_guard lock(r.mutex);
        if (r.state == LinkState::Offline) {
            const auto silent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - r.lastHeard).count();
            return Failure(request, ZV_E_IO, r.Who() + " is offline: no answer for " + std::to_string(silent) + " ms");
        }
    }
    request.id = r.NewId();
    request.timeoutMs = static_cast<uint32_t>(timeout);
    request.sentMs = SteadyMs();
    std::vector<uint8_t> bytes;
    wire::EncodeRequest(request, &bytes);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout);
    {
        std::lock_guard lock(r.mutex);
        r.pending[request.id] = {};
    }
    bool sent = false;
    {
        Message message;
        Adopt(std::move(bytes), &message);
        std::lock_guard lock(r.sendMutex);
        sent = zmq_msg_send(message.get(), r.commandOut.get(), ZMQ_DONTWAIT) >= 0;
    }
    std::unique_lock lock(r.mutex);
    if (!sent) {
        r.pending.erase(request.id);
        return Failure(request, ZV_E_IO, "too many requests under way to " + r.Who());
    }
    const uint32_t id = request.id;
    r.answered.wait_until(lock, deadline,
                          [&] { return r.pending[id].done || r.stopping.load() || r.state == LinkState::Offline; });
    Impl::Pending slot = std::move(r.pending[id]);
    r.pending.erase(id);
    if (slot.done) {
        if (slot.reply.status > 0 && slot.reply.op != request.op)
            return Failure(request, ZV_E_IO,
                           r.Who() + " answered " + wire::OpName(static_cast<uint16_t>(request.op)) +
                               " with a reply to " + wire::OpName(static_cast<uint16_t>(slot.reply.op)));
        if (slot.reply.status <= 0 && slot.reply.message.empty())
            slot.reply.message = r.Who() + " refused " + wire::OpName(static_cast<uint16_t>(request.op));
        return std::move(slot.reply);
    }
    if (r.state == LinkState::Offline)
        return Failure(
            request, ZV_E_IO,
            r.Who() + " went offline while " + wire::OpName(static_cast<uint16_t>(request.op)) + " was under way");
    return Failure(request, ZV_E_IO,
                   r.Who() + " did not answer " + wire::OpName(static_cast<uint16_t>(request.op)) + " within " +
                       std::to_string(timeout) + " ms");
}

namespace {

zvStatus Status(const wire::Reply& reply, std::string* why) {
    if (why != nullptr) *why = reply.status > 0 ? std::string() : reply.message;
    return reply.status;
}

wire::Request Of(wire::Op op) {
    wire::Request request;
    request.op = op;
    return request;
}

}  // namespace

zvStatus ServerLink::SetMode(const std::string& mode, std::string* why) {
    wire::Request request = Of(wire::Op::SetMode);
    request.text = mode;
    return Status(Call(std::move(request)), why);
}

zvStatus ServerLink::SetParameters(const std::vector<std::pair<std::string, int32_t>>& values, std::string* why) {
    wire::Request request = Of(wire::Op::SetParameters);
    request.parameters = values;
    return Status(Call(std::move(request)), why);
}

zvStatus ServerLink::Enable(bool on, std::string* why) {
    wire::Request request = Of(wire::Op::Enable);
    request.flag = on ? 1 : 0;
    return Status(Call(std::move(request)), why);
}

zvStatus ServerLink::StartDelivery(std::string* why) { return Status(Call(Of(wire::Op::StartDelivery)), why); }
zvStatus ServerLink::StopDelivery(std::string* why) { return Status(Call(Of(wire::Op::StopDelivery)), why); }

zvStatus ServerLink::SetPull(bool on, std::string* why, bool fromStart) {
    wire::Request request = Of(wire::Op::SetPull);
    request.flag = !on ? 0 : fromStart ? wire::kPullFromStart : 1;
    return Status(Call(std::move(request)), why);
}

zvStatus ServerLink::Pull(std::vector<zvHandle>* results, wire::BatchHeader* header, std::string* why) {
    const wire::Reply reply = Call(Of(wire::Op::Pull));
    if (reply.status <= 0) return Status(reply, why);
    wire::BatchView view;
    std::string error;
    if (!wire::ParseBatch(reply.bytes.data(), reply.bytes.size(), &view, &error)) {
        {
            std::lock_guard lock(impl_->mutex);
            ++impl_->stats.refused;
            impl_->stats.lastRefusal = error;
        }
        if (why != nullptr) *why = impl_->Who() + ": " + error;
        return ZV_E_PARSE;
    }
    const wire::ServerInfo info = Info();
    if (info.serial != 0 && view.header.serial != info.serial) {
        if (why != nullptr) *why = "a batch of server " + std::to_string(view.header.serial) + " from " + impl_->Who();
        return ZV_E_PARSE;
    }
    if (header != nullptr) *header = view.header;
    const zvStatus status = wire::BuildResults(view, results);
    if (why != nullptr) *why = status > 0 ? std::string() : "cannot make the batch's results";
    return status;
}

zvStatus ServerLink::ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
    wire::Request request = Of(wire::Op::ReadFile);
    request.text = path;
    wire::Reply reply = Call(std::move(request));
    if (reply.status > 0) *bytes = std::move(reply.bytes);
    return Status(reply, why);
}

zvStatus ServerLink::WriteFile(const std::string& path, std::vector<uint8_t> bytes, std::string* why) {
    wire::Request request = Of(wire::Op::WriteFile);
    request.text = path;
    request.bytes = std::move(bytes);
    return Status(Call(std::move(request)), why);
}

bool ServerLink::TakeBatch(ReceivedBatch* batch, int waitMs) {
    Impl& r = *impl_;
    std::unique_lock lock(r.mutex);
    if (!r.queued.wait_for(lock, std::chrono::milliseconds(std::max(0, waitMs)),
                           [&] { return !r.queue.empty() || r.stopping.load(); }) ||
        r.queue.empty())
        return false;
    r.queuedBytes -= r.queue.front().Bytes();
    *batch = std::move(r.queue.front());
    r.queue.pop_front();
    ++r.stats.taken;
    return true;
}

LinkState ServerLink::State() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->state;
}

wire::ServerInfo ServerLink::Info() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->info;
}

size_t ServerLink::Queued() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->queue.size();
}

LinkStats ServerLink::Stats() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stats;
}

std::vector<LinkEvent> ServerLink::TakeEvents() {
    std::lock_guard lock(impl_->mutex);
    std::vector<LinkEvent> events;
    events.swap(impl_->events);
    return events;
}

const LinkOptions& ServerLink::Options() const { return impl_->options; }

}  // namespace zv::station::net
