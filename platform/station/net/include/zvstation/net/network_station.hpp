// A station whose servers are in-process, zvstation processes on the
// network, or some of each: what the host opens.
//
// In-process servers are simulated here by one Station; each network server
// is reached through a ServerLink, with its station pipe kept by a
// RemotePipe (restored when the server returns). The servers keep the
// order they are declared in, and a batch holds their results in that
// order, as one station of them all gives it.
//
// Two ways of delivering:
//  - stepped (`pull`): each network server hands out its batches one
//    request at a time, and a batch is made of what every delivering server
//    made for the same stretch of simulated time, so that the same seed
//    gives the same batches as in-process;
//  - real time: each server paces itself and a batch takes what its link
//    has queued (a server's batch that has not come yet is not waited for
//    beyond one batch period).
// A server that is offline delivers nothing and its pipe's calls fail at
// once with ZV_E_IO; its pipe keeps what the client set, for its return.
// What happens to the links (a server lost or back, batches dropped or
// missing) is told by Poll, never left unsaid.
//
// Not thread-safe: the host's loop thread uses it.
#ifndef ZVSTATION_NET_NETWORK_STATION_HPP
#define ZVSTATION_NET_NETWORK_STATION_HPP

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "zvapi/zv_remote_folders.hpp"
#include "zvstation/net/link.hpp"
#include "zvstation/net/remote_pipe.hpp"
#include "zvstation/station.hpp"

namespace zv::station::net {

// Where one server is: in-process (no endpoint) or a zvstation endpoint,
// with its public key for an encrypted link.
struct ServerAddress {
    uint32_t serial = 0;
    std::string endpoint;
    std::string publicKey;
};

struct NetworkOptions {
    bool pull = true;             // stepped: batches pulled (deterministic); else real time
    int requestTimeoutMs = 2000;  // every call to a server
    int connectMs = 3000;         // how long Open waits for the servers to answer
    int heartbeatMs = 250;
    int offlineAfterMs = 1500;
    size_t queueBatches = 256;              // real time: batches a link keeps for a client that falls behind
    size_t queueBytes = size_t{256} << 20;  // ... and their bytes at most
};

// Something that happened to a network server, for the host to tell.
struct StationNotice {
    enum class Kind {
        Offline,  // the server stopped answering
        Online,   // it answers again (`restarted`: from a new start); its pipe was restored
        Dropped,  // batches the client fell behind on were dropped (`count`)
        Lost,     // batches missing from the server's stream (`count`)
        Failed    // a call to the server failed (the reason in `text`)
    };
    Kind kind = Kind::Offline;
    uint32_t serial = 0;
    bool restarted = false;
    uint64_t count = 0;
    std::string text;
};

class NetworkStation : public StationBackend {
public:
    NetworkStation();
    ~NetworkStation() override;
    NetworkStation(const NetworkStation&) = delete;
    NetworkStation& operator=(const NetworkStation&) = delete;

    // Opens the in-process servers of `root` (as Station::OpenServers) and
    // starts a link to every network server, waiting at most
    // `network.connectMs` for them to answer: one that does not is offline
    // (told by Poll), not an error. False with `*error` set for an empty
    // list, in-process servers that cannot be opened, or a link that
    // cannot be made.
    bool Open(const std::filesystem::path& root, const Options& options, const std::vector<ServerAddress>& servers,
              const NetworkOptions& network, std::string* error);

    const std::vector<Server>& Servers() const override { return servers_; }
    bool ReloadSettings(std::string* error) override;
    zvStatus SetMode(uint32_t serial, const std::string& mode) override;
    zvStatus SetParameter(uint32_t serial, const std::string& name, int32_t value) override;
    zvStatus Enable(uint32_t serial, bool enabled) override;
    zvStatus StartDelivery(uint32_t serial) override;
    zvStatus NextBatch(std::vector<zvHandle>* payloads, BatchOrigin* origin) override;
    using StationBackend::NextBatch;
    // In real time with only network servers delivering: whether one has
    // sent a batch that no NextBatch took yet (a loop that steps once a
    // period takes it at once, not a period late).
    bool BatchesWaiting() const;
    double Time() const override;

    // Whether server `serial` is on the network, and whether it answers
    // (an in-process server always does).
    bool OnNetwork(uint32_t serial) const;
    bool Online(uint32_t serial) const;
    // The link of network server `serial`, or null.
    ServerLink* Link(uint32_t serial);
    // The network servers' batches in the batch NextBatch handed out last,
    // with the time each left its server (for callers that take no origin).
    const std::vector<SentBatch>& LastSent() const { return lastSent_; }
    // What happened since the last call, in order; restores the pipe of a
    // server that came back first.
    std::vector<StationNotice> Poll();
    // The file calls on the folders \SN<serial>\ of the network servers,
    // each served by its server: the table to install with
    // zv::files::SetRemoteFolders while the station is open. Safe from any
    // thread.
    zv::files::RemoteFolders* Files() { return files_.get(); }

private:
    struct Remote;
    class ServerFiles;
    // One batch of one source: its results with their servers, and the
    // simulated time it began at.
    struct Chunk {
        double time = 0;
        std::vector<zvHandle> results;
        std::vector<uint32_t> servers;
        std::vector<SentBatch> sent;
    };
    struct Source {
        Remote* remote = nullptr;  // null: the in-process station
        std::deque<Chunk> ahead;   // made and not delivered yet
    };

    Remote* Find(uint32_t serial) const;
    Server* Entry(uint32_t serial);
    void Sync();  // the servers' entries from the in-process station and the remote pipes
    void Fail(uint32_t serial, const std::string& what, const std::string& why);
    bool SourceDelivering(const Source& source) const;
    // Makes one more chunk of `source` into its `ahead`; false when it has none now.
    bool Fetch(Source* source);
    // Make the next batches into ready_.
    zvStatus Stepped();
    zvStatus RealTime();
    void Queue(std::vector<Chunk>* at, double time);
    // The results of `chunks` in the servers' order.
    void Arrange(std::vector<Chunk>* chunks, std::vector<zvHandle>* payloads, BatchOrigin* origin) const;
    std::string Mode() const;

    NetworkOptions network_;
    Station local_;
    bool hasLocal_ = false;
    std::vector<uint32_t> order_;  // every server, declared order
    std::vector<std::unique_ptr<Remote>> remotes_;
    std::vector<Source> sources_;
    std::vector<Server> servers_;
    std::deque<Chunk> ready_;  // batches made, still to hand out (several of one stretch)
    double time_ = 0;          // the end of the last batch handed out, in the servers' time
    double base_ = 0;          // the servers' time this station's began at
    bool started_ = false;
    bool resumed_ = false;  // a server delivered to another client before
    std::vector<StationNotice> notices_;
    std::vector<SentBatch> lastSent_;
    std::unique_ptr<zv::files::RemoteFolders> files_;
};

}  // namespace zv::station::net

#endif
