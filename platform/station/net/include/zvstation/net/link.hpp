// The client's link to one station server on the network.
//
// Requests (pipe, storage, files) get their reply or a failure within a
// bound: never a wait without end. A thread of the link keeps it alive and
// reads the server's result stream:
//  - heartbeats every heartbeatMs; a server silent for offlineAfterMs is
//    offline (an event), and requests fail at once with the reason until
//    it answers again; ZeroMQ reconnects by itself;
//  - when the server answers again, or answers from a new start (a new
//    session: its pipe is fresh), an Online event says so (`restarted`),
//    so that the client can restore the pipe it had set;
//  - result batches are checked as they arrive and queued, at most
//    queueBatches and queueBytes: when the client falls behind, the oldest
//    are dropped and counted, and batches missing from the stream (gaps in
//    the sequence numbers) are counted too. The server never waits for the
//    client.
// Pull mode (SetPull, Pull) hands out batches one request at a time,
// exactly as the server makes them.
//
// Every method may be called from any thread.
#ifndef ZVSTATION_NET_LINK_HPP
#define ZVSTATION_NET_LINK_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvstation/frames.hpp"

namespace zv::station::net {

class Message;

struct LinkOptions {
    std::string endpoint;   // the server's requests: "tcp://host:port"
    std::string serverKey;  // its public key (Z85) for an encrypted link; "": plain
    int requestTimeoutMs = 2000;
    int heartbeatMs = 250;
    int offlineAfterMs = 1500;
    size_t queueBatches = 256;
    size_t queueBytes = size_t{256} << 20;
    bool stream = true;  // follow the result stream
};

enum class LinkState { Connecting, Online, Offline };

struct LinkEvent {
    enum class Kind { Online, Offline };
    Kind kind = Kind::Online;
    bool restarted = false;  // Online: the server started anew since it was last seen
    std::string text;        // what happened, for the operator
};

struct LinkStats {
    uint64_t received = 0;       // batches that arrived and passed the checks
    uint64_t taken = 0;          // batches handed to the client
    uint64_t droppedOldest = 0;  // queued batches dropped for newer ones
    uint64_t lost = 0;           // batches missing from the stream (sequence gaps)
    uint64_t refused = 0;        // frames that failed the checks
    uint64_t lateReplies = 0;    // replies after their request had given up
    uint64_t returns = 0;        // times the server came back (after being offline, or restarted)
    std::string lastRefusal;     // why the last refused frame was refused
};

// A batch from the stream, checked; its results are made on demand.
class ReceivedBatch {
public:
    ReceivedBatch();
    ~ReceivedBatch();
    ReceivedBatch(ReceivedBatch&&) noexcept;
    ReceivedBatch& operator=(ReceivedBatch&&) noexcept;

    const wire::BatchHeader& Header() const { return view_.header; }
    const wire::BatchView& View() const { return view_; }
    size_t Bytes() const;
    // Appends the batch's results (default allocator; the caller owns them).
    zvStatus Results(std::vector<zvHandle>* results) const;

private:
    friend class ServerLink;
    std::unique_ptr<Message> frame_;
    wire::BatchView view_;
};

class ServerLink {
public:
    explicit ServerLink(LinkOptions options);
    ~ServerLink();  // stops the thread; nothing is left behind
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;

    // Makes the sockets and starts the link's thread; it does not wait for
    // the server. False with `*error` set for options that cannot work.
    bool Start(std::string* error);

    // Sends `request` (its id, clock and timeout are set here) and returns
    // the server's reply, or a failure (ZV_E_IO and the reason in
    // `message`) when the server is offline or does not answer within
    // `timeoutMs` (the link's bound when negative).
    wire::Reply Call(wire::Request request, int timeoutMs = -1);

    // Shorthands: the reply's status, with its message in `*why`.
    zvStatus SetMode(const std::string& mode, std::string* why = nullptr);
    zvStatus SetParameters(const std::vector<std::pair<std::string, int32_t>>& values, std::string* why = nullptr);
    zvStatus Enable(bool on, std::string* why = nullptr);
    zvStatus StartDelivery(std::string* why = nullptr);
    zvStatus StopDelivery(std::string* why = nullptr);
    // `fromStart`: the server's simulation begins again at time 0.
    zvStatus SetPull(bool on, std::string* why = nullptr, bool fromStart = false);
    // The next batch in pull mode: its results appended to `results` (none
    // at the end), its header in `*header`.
    zvStatus Pull(std::vector<zvHandle>* results, wire::BatchHeader* header, std::string* why = nullptr);
    zvStatus ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why = nullptr);
    zvStatus WriteFile(const std::string& path, std::vector<uint8_t> bytes, std::string* why = nullptr);

    // The next batch of the stream, waiting at most `waitMs`; false when
    // none came.
    bool TakeBatch(ReceivedBatch* batch, int waitMs);

    LinkState State() const;
    // What the server said of itself when it was last greeted.
    wire::ServerInfo Info() const;
    LinkStats Stats() const;
    // Batches received and not taken yet.
    size_t Queued() const;
    // The events since the last call, in order.
    std::vector<LinkEvent> TakeEvents();
    const LinkOptions& Options() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zv::station::net

#endif
