// A station server's side of the network: a request socket that answers
// each client (ZeroMQ ROUTER) and a result stream every client may follow
// (XPUB). The endpoint never blocks: a reply or batch that cannot go at
// once is dropped and counted. Off loopback it needs a key pair, and then
// only clients that hold the server's public key get in (CURVE): every
// refused handshake is logged.
//
// Single-threaded: the server's loop owns it.
#ifndef ZVSTATION_NET_ENDPOINT_HPP
#define ZVSTATION_NET_ENDPOINT_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zvstation/net/keys.hpp"

namespace zv::station::net {

class Message;

struct EndpointOptions {
    std::string bind;      // requests: "tcp://127.0.0.1:5601" ("*" for the port: any free one)
    std::string stream;    // results; "": the request port + 1 on the same address ("*" stays "*")
    KeyPair keys;          // empty: no encryption (loopback only)
    int streamQueue = 64;  // batches queued for one client before its next are dropped
};

// A request from one client: its ZeroMQ identity and the frame.
struct Incoming {
    std::string peer;
    std::shared_ptr<Message> frame;
    const uint8_t* data() const;
    size_t size() const;
};

class ServerEndpoint {
public:
    ServerEndpoint();
    ~ServerEndpoint();
    ServerEndpoint(const ServerEndpoint&) = delete;
    ServerEndpoint& operator=(const ServerEndpoint&) = delete;

    // Binds both sockets. False with `*error` set; `*addressTaken` tells a
    // bind that failed because the address is in use or not this machine's.
    bool Open(const EndpointOptions& options, std::string* error, bool* addressTaken = nullptr);
    // As bound, with the ports "*" chose.
    const std::string& RequestEndpoint() const;
    const std::string& StreamEndpoint() const;

    // Waits at most `waitMs` for a request, then appends every request that
    // has arrived, at most `most` of them. Log lines of the connections (who
    // came, who was refused) are gathered meanwhile.
    void Wait(int waitMs, size_t most, std::vector<Incoming>* requests);
    // Sends a reply frame to `peer` without waiting (the bytes are handed
    // over, not copied); false when it cannot go (the client is gone or
    // not reading).
    bool Reply(const std::string& peer, std::vector<uint8_t> frame);

    enum class Sent { Yes, Full, Failed };
    // Publishes a batch frame (the message is consumed when it went). A
    // client whose queue is full does not get it (the others do): it sees
    // the gap in the sequence. `lossless`: nobody loses it, and while a
    // client's queue is full the batch does not go (Full; the caller keeps
    // it for later): for bursts, which are made to be measured whole.
    Sent Publish(Message* frame, bool lossless = false);
    // The log lines gathered since the last call.
    std::vector<std::string> TakeLog();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zv::station::net

#endif
