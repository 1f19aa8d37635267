#include "zvstation/net/network_station.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace zv::station::net {

namespace {

// Batches of one server a real-time batch takes at most: what a client
// that fell behind catches up on at once (the rest at the next).
constexpr int kMostTaken = 16;

}  // namespace

struct NetworkStation::Remote {
    uint32_t serial = 0;
    std::unique_ptr<ServerLink> link;
    std::unique_ptr<RemotePipe> pipe;
    std::string settingsError;  // what the server said of its Settings.xml at the last reload
    LinkStats seen;             // the link's counts when last told
    bool toldOffline = false;   // its loss was told and it has not come back since
};

// The files of the network servers' folders, each asked of its server.
class NetworkStation::ServerFiles : public zv::files::RemoteFolders {
public:
    explicit ServerFiles(const NetworkStation* station) : station_(station) {}

    bool Serves(const std::string& folder) const override { return LinkOf(folder) != nullptr; }

    zvStatus Read(const std::string& folder, const std::string& path, std::string* bytes, std::string* why) override {
        std::vector<uint8_t> data;
        const zvStatus status = LinkOf(folder)->ReadFile(path, &data, why);
        if (status > 0) bytes->assign(data.begin(), data.end());
        return status;
    }
    zvStatus Write(const std::string& folder, const std::string& path, std::string_view bytes,
                   std::string* why) override {
        return LinkOf(folder)->WriteFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()), why);
    }
    zvStatus Stat(const std::string& folder, const std::string& path, int* kind, int64_t* size,
                  std::string* why) override {
        const wire::Reply reply = Ask(folder, wire::Op::Stat, path, why);
        *kind = static_cast<int>(reply.kind);
        *size = reply.size;
        return reply.status;
    }
    zvStatus List(const std::string& folder, const std::string& path, std::vector<Entry>* entries,
                  std::string* why) override {
        const wire::Reply reply = Ask(folder, wire::Op::List, path, why);
        for (const wire::Entry& e : reply.entries) entries->push_back({e.name, e.folder, e.size});
        return reply.status;
    }
    zvStatus MakeFolder(const std::string& folder, const std::string& path, std::string* why) override {
        return Ask(folder, wire::Op::MakeFolder, path, why).status;
    }
    zvStatus Delete(const std::string& folder, const std::string& path, std::string* why) override {
        return Ask(folder, wire::Op::DeleteFile, path, why).status;
    }

private:
    ServerLink* LinkOf(const std::string& folder) const {
        uint32_t serial = 0;
        if (!ParseServerFolder(folder, &serial)) return nullptr;
        const Remote* r = station_->Find(serial);
        return r != nullptr ? r->link.get() : nullptr;
    }
    wire::Reply Ask(const std::string& folder, wire::Op op, const std::string& path, std::string* why) {
        wire::Request request;
        request.op = op;
        request.text = path;
        wire::Reply reply = LinkOf(folder)->Call(std::move(request));
        if (reply.status <= 0 && why != nullptr) *why = reply.message;
        return reply;
    }

    const NetworkStation* station_;
};

NetworkStation::NetworkStation() : files_(std::make_unique<ServerFiles>(this)) {}

NetworkStation::~NetworkStation() {
    for (Source& source : sources_)
        for (Chunk& chunk : source.ahead)
            for (zvHandle h : chunk.results) zvObjectDestroy(h);
    for (Chunk& chunk : ready_)
        for (zvHandle h : chunk.results) zvObjectDestroy(h);
}

bool NetworkStation::Open(const std::filesystem::path& root, const Options& options,
                          const std::vector<ServerAddress>& servers, const NetworkOptions& network,
                          std::string* error) {
    network_ = network;
    if (servers.empty()) {
        *error = "the station has no server";
        return false;
    }
    std::vector<uint32_t> local;
    for (const ServerAddress& s : servers) {
        order_.push_back(s.serial);
        if (s.endpoint.empty()) local.push_back(s.serial);
    }
    if (!local.empty()) {
        if (!local_.OpenServers(root, options, local, error)) return false;
        hasLocal_ = true;
        sources_.push_back(Source{});
    }
    for (const ServerAddress& s : servers) {
        if (s.endpoint.empty()) continue;
        LinkOptions link;
        link.endpoint = s.endpoint;
        link.serverKey = s.publicKey;
        link.requestTimeoutMs = network.requestTimeoutMs;
        link.heartbeatMs = network.heartbeatMs;
        link.offlineAfterMs = network.offlineAfterMs;
        link.queueBatches = network.queueBatches;
        link.queueBytes = network.queueBytes;
        // Stepped runs pull every batch: nothing need come on the stream.
        link.stream = !network.pull;
        auto remote = std::make_unique<Remote>();
        remote->serial = s.serial;
        remote->link = std::make_unique<ServerLink>(link);
        if (!remote->link->Start(error)) {
            *error = "server " + std::to_string(s.serial) + " (" + s.endpoint + "): " + *error;
            return false;
        }
        remote->pipe = std::make_unique<RemotePipe>(remote->link.get());
        remotes_.push_back(std::move(remote));
        sources_.push_back(Source{remotes_.back().get(), {}});
    }
    // The servers answer within a moment; one that does not is offline, and
    // its return is told and handled as any other.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(network.connectMs);
    for (;;) {
        bool waiting = false;
        for (const auto& r : remotes_) waiting = waiting || r->link->State() == LinkState::Connecting;
        if (!waiting || std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (const auto& r : remotes_) {
        if (r->link->State() != LinkState::Online) {
            StationNotice notice;
            notice.kind = StationNotice::Kind::Offline;
            notice.serial = r->serial;
            notice.text =
                "server " + std::to_string(r->serial) + " at " + r->link->Options().endpoint + " does not answer";
            notices_.push_back(std::move(notice));
            r->toldOffline = true;
            continue;
        }
        const wire::ServerInfo info = r->link->Info();
        if (info.serial != r->serial) {
            *error = "server " + std::to_string(r->serial) + " (" + r->link->Options().endpoint +
                     ") answers as server " + std::to_string(info.serial);
            return false;
        }
        // Stepped, each server's simulation starts again, as an in-process
        // station's does with its host. In real time, a server another client
        // had delivering has run for a while: the simulated time of this
        // station starts at its first batch.
        std::string why;
        if (network.pull) {
            if (r->link->SetPull(true, &why, /*fromStart=*/true) <= 0)
                Fail(r->serial, "asking for pulled batches", why);
        } else if (info.pipe.delivering) {
            resumed_ = true;
        }
    }
    Sync();
    return true;
}

NetworkStation::Remote* NetworkStation::Find(uint32_t serial) const {
    for (const auto& r : remotes_)
        if (r->serial == serial) return r.get();
    return nullptr;
}

Server* NetworkStation::Entry(uint32_t serial) {
    for (Server& s : servers_)
        if (s.serial == serial) return &s;
    return nullptr;
}

void NetworkStation::Sync() {
    std::vector<Server> servers;
    servers.reserve(order_.size());
    for (uint32_t serial : order_) {
        if (const Remote* r = Find(serial)) {
            Server s;
            s.serial = serial;
            // Its folder and settings are the server's own; the client
            // keeps only the pipe it set.
            s.settingsPresent = true;
            s.settingsError = r->settingsError;
            const wire::PipeState& wanted = r->pipe->Wanted();
            s.pipe.mode = wanted.mode;
            s.pipe.enabled = wanted.enabled;
            for (const auto& [name, value] : wanted.parameters) s.pipe.parameters[name] = value;
            s.delivering = wanted.delivering;
            servers.push_back(std::move(s));
            continue;
        }
        for (const Server& s : local_.Servers())
            if (s.serial == serial) servers.push_back(s);
    }
    servers_ = std::move(servers);
}

void NetworkStation::Fail(uint32_t serial, const std::string& what, const std::string& why) {
    StationNotice notice;
    notice.kind = StationNotice::Kind::Failed;
    notice.serial = serial;
    notice.text = "server " + std::to_string(serial) + ": " + what + " failed" + (why.empty() ? "" : ": " + why);
    notices_.push_back(std::move(notice));
}

bool NetworkStation::ReloadSettings(std::string* error) {
    std::string all;
    if (hasLocal_) local_.ReloadSettings(&all);
    for (const auto& r : remotes_) {
        if (r->link->State() == LinkState::Offline) continue;  // it keeps what it had
        wire::Request request;
        request.op = wire::Op::ReloadSettings;
        const wire::Reply reply = r->link->Call(request);
        if (reply.status > 0) {
            r->settingsError.clear();
        } else if (reply.status != ZV_E_IO) {
            r->settingsError = reply.message;
            all +=
                (all.empty() ? "" : "; ") + std::string("server ") + std::to_string(r->serial) + ": " + reply.message;
        }
    }
    Sync();
    if (error != nullptr) *error = all;
    return all.empty();
}

zvStatus NetworkStation::SetMode(uint32_t serial, const std::string& mode) {
    Remote* r = Find(serial);
    if (r == nullptr) {
        const zvStatus status = local_.SetMode(serial, mode);
        Sync();
        return status;
    }
    if (Station::Period(mode) <= 0) return ZV_E_NOTFOUND;
    std::string why;
    const zvStatus status = r->pipe->SetMode(mode, &why);
    if (status <= 0) Fail(serial, "setting its pipe's mode to " + mode, why);
    Sync();
    return status;
}

zvStatus NetworkStation::SetParameter(uint32_t serial, const std::string& name, int32_t value) {
    Remote* r = Find(serial);
    if (r == nullptr) {
        const zvStatus status = local_.SetParameter(serial, name, value);
        Sync();
        return status;
    }
    std::string why;
    const zvStatus status = r->pipe->SetParameters({{name, value}}, &why);
    if (status <= 0) Fail(serial, "setting its pipe's parameter " + name, why);
    Sync();
    return status;
}

zvStatus NetworkStation::Enable(uint32_t serial, bool enabled) {
    Remote* r = Find(serial);
    if (r == nullptr) {
        const zvStatus status = local_.Enable(serial, enabled);
        Sync();
        return status;
    }
    std::string why;
    const zvStatus status = r->pipe->Enable(enabled, &why);
    if (status <= 0) Fail(serial, enabled ? "enabling its pipe" : "disabling its pipe", why);
    Sync();
    return status;
}

zvStatus NetworkStation::StartDelivery(uint32_t serial) {
    Remote* r = Find(serial);
    if (r == nullptr) {
        const zvStatus status = local_.StartDelivery(serial);
        Sync();
        return status;
    }
    // Handlers ask at every batch: the server is asked once, and a server
    // that returns is asked again by its pipe's restore.
    if (r->pipe->Wanted().delivering) return ZV_OK;
    std::string why;
    const zvStatus status = r->pipe->StartDelivery(&why);
    if (status <= 0) Fail(serial, "starting its delivery", why);
    Sync();
    return status;
}

bool NetworkStation::OnNetwork(uint32_t serial) const { return Find(serial) != nullptr; }

bool NetworkStation::Online(uint32_t serial) const {
    const Remote* r = Find(serial);
    return r == nullptr || r->link->State() == LinkState::Online;
}

ServerLink* NetworkStation::Link(uint32_t serial) {
    Remote* r = Find(serial);
    return r != nullptr ? r->link.get() : nullptr;
}

double NetworkStation::Time() const {
    if (remotes_.empty()) return local_.Time();
    return started_ ? time_ - base_ : 0;
}

std::string NetworkStation::Mode() const {
    for (const Server& s : servers_)
        if (s.delivering && s.pipe.enabled && !s.pipe.mode.empty()) return s.pipe.mode;
    return "";
}

bool NetworkStation::SourceDelivering(const Source& source) const {
    if (source.remote == nullptr) return local_.Delivering();
    const wire::PipeState& wanted = source.remote->pipe->Wanted();
    return wanted.delivering && wanted.enabled && !wanted.mode.empty() &&
           source.remote->link->State() != LinkState::Offline;
}

bool NetworkStation::Fetch(Source* source) {
    Chunk chunk;
    if (source->remote == nullptr) {
        BatchOrigin origin;
        const zvStatus status = local_.NextBatch(&chunk.results, &origin);
        if (status <= 0) {
            for (zvHandle h : chunk.results) zvObjectDestroy(h);
            return false;
        }
        chunk.time = origin.time;
        chunk.servers = std::move(origin.servers);
    } else {
        Remote* r = source->remote;
        wire::BatchHeader header;
        std::string why;
        const zvStatus status = r->link->Pull(&chunk.results, &header, &why);
        if (status <= 0) {
            // An offline server's loss is told once, by Poll.
            if (r->link->State() != LinkState::Offline) Fail(r->serial, "pulling a batch", why);
            return false;
        }
        chunk.time = header.time;
        chunk.servers.assign(chunk.results.size(), r->serial);
        chunk.sent.push_back({r->serial, header.sequence, header.sentNs});
    }
    if (chunk.results.empty()) return false;
    source->ahead.push_back(std::move(chunk));
    return true;
}

void NetworkStation::Arrange(std::vector<Chunk>* chunks, std::vector<zvHandle>* payloads, BatchOrigin* origin) const {
    auto rank = [&](uint32_t serial) {
        return static_cast<size_t>(std::find(order_.begin(), order_.end(), serial) - order_.begin());
    };
    std::vector<std::pair<size_t, std::pair<zvHandle, uint32_t>>> all;
    for (Chunk& chunk : *chunks)
        for (size_t i = 0; i < chunk.results.size(); ++i)
            all.push_back({rank(chunk.servers[i]), {chunk.results[i], chunk.servers[i]}});
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [rankOf, result] : all) {
        payloads->push_back(result.first);
        if (origin != nullptr) origin->servers.push_back(result.second);
    }
    if (origin != nullptr)
        for (const Chunk& chunk : *chunks)
            origin->sent.insert(origin->sent.end(), chunk.sent.begin(), chunk.sent.end());
    chunks->clear();
}

zvStatus NetworkStation::NextBatch(std::vector<zvHandle>* payloads, BatchOrigin* origin) {
    if (payloads == nullptr) return ZV_E_ARGUMENT;
    if (remotes_.empty()) return local_.NextBatch(payloads, origin);
    if (origin != nullptr) *origin = BatchOrigin{time_, {}, {}};
    lastSent_.clear();
    if (ready_.empty()) {
        const zvStatus status = network_.pull ? Stepped() : RealTime();
        if (status <= 0) return status;
    }
    if (ready_.empty()) return ZV_OK;
    Chunk& next = ready_.front();
    lastSent_ = next.sent;
    if (origin != nullptr) *origin = BatchOrigin{next.time, next.servers, next.sent};
    payloads->insert(payloads->end(), next.results.begin(), next.results.end());
    ready_.pop_front();
    return ZV_OK;
}

// Queues the batches of `at` (what the sources made for one stretch): one
// batch of every server's results, or in Detection, where each batch holds
// one server's slices of one piece, each as it came, server by server.
void NetworkStation::Queue(std::vector<Chunk>* at, double time) {
    if (at->empty()) return;
    const std::string mode = Mode();
    if (mode == "Detection") {
        std::vector<std::pair<size_t, size_t>> byServer;  // (rank, index in at)
        for (size_t i = 0; i < at->size(); ++i) {
            const uint32_t serial = (*at)[i].servers.empty() ? 0 : (*at)[i].servers.front();
            byServer.push_back(
                {static_cast<size_t>(std::find(order_.begin(), order_.end(), serial) - order_.begin()), i});
        }
        std::stable_sort(byServer.begin(), byServer.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [rank, i] : byServer) ready_.push_back(std::move((*at)[i]));
        at->clear();
    } else {
        Chunk batch;
        batch.time = time;
        BatchOrigin origin;
        Arrange(at, &batch.results, &origin);
        batch.servers = std::move(origin.servers);
        batch.sent = std::move(origin.sent);
        ready_.push_back(std::move(batch));
    }
    if (!started_) {
        started_ = true;
        base_ = resumed_ ? time : 0;
    }
    time_ = std::max(time_, time + Station::Period(mode));
}

zvStatus NetworkStation::Stepped() {
    constexpr double kNone = std::numeric_limits<double>::infinity();
    double t = kNone;
    for (Source& source : sources_) {
        if (source.ahead.empty() && SourceDelivering(source)) Fetch(&source);
        if (!source.ahead.empty()) t = std::min(t, source.ahead.front().time);
    }
    if (t == kNone) return ZV_OK;
    // Everything every source made for the stretch at `t`, looking one
    // batch ahead to know a source has no more of it.
    std::vector<Chunk> at;
    for (Source& source : sources_) {
        while (!source.ahead.empty() && source.ahead.front().time == t) {
            at.push_back(std::move(source.ahead.front()));
            source.ahead.pop_front();
            if (source.ahead.empty() && SourceDelivering(source)) Fetch(&source);
        }
    }
    Queue(&at, t);
    return ZV_OK;
}

zvStatus NetworkStation::RealTime() {
    std::vector<Chunk> at;
    double t = time_;
    if (hasLocal_ && local_.Delivering()) {
        Source& local = sources_.front();
        if (local.ahead.empty()) Fetch(&local);
        if (!local.ahead.empty()) {
            t = local.ahead.front().time;
            at.push_back(std::move(local.ahead.front()));
            local.ahead.pop_front();
        }
    }
    // What every server has sent: all its link has queued (a few periods at
    // most), so that a client that fell behind catches up at its next batch
    // rather than staying behind by what it missed. Without in-process
    // servers to keep time, and when none has sent anything yet, the first
    // that does is waited for, a batch period at most.
    double latest = t;
    auto take = [&] {
        for (Source& source : sources_) {
            if (source.remote == nullptr || !SourceDelivering(source)) continue;
            ReceivedBatch batch;
            for (int taken = 0; taken < kMostTaken && source.remote->link->TakeBatch(&batch, 0); ++taken) {
                Chunk chunk;
                if (batch.Results(&chunk.results) <= 0) {
                    Fail(source.remote->serial, "making the results of a batch", "");
                    continue;
                }
                chunk.time = batch.Header().time;
                chunk.servers.assign(chunk.results.size(), source.remote->serial);
                chunk.sent.push_back({source.remote->serial, batch.Header().sequence, batch.Header().sentNs});
                if (at.empty()) t = latest = chunk.time;
                latest = std::max(latest, chunk.time);
                if (!chunk.results.empty()) at.push_back(std::move(chunk));
            }
        }
    };
    take();
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(Station::Period(Mode()));
    while (at.empty() && !(hasLocal_ && local_.Delivering()) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        take();
    }
    const bool any = !at.empty();
    Queue(&at, t);
    if (any) time_ = std::max(time_, latest + Station::Period(Mode()));
    return ZV_OK;
}

bool NetworkStation::BatchesWaiting() const {
    // In-process servers keep the time: their batches come a period apart.
    if (network_.pull || (hasLocal_ && local_.Delivering())) return false;
    for (const Source& source : sources_)
        if (source.remote != nullptr && SourceDelivering(source) && source.remote->link->Queued() > 0) return true;
    return false;
}

std::vector<StationNotice> NetworkStation::Poll() {
    std::vector<StationNotice> notices = std::move(notices_);
    notices_.clear();
    bool changed = false;
    for (const auto& r : remotes_) {
        for (LinkEvent& event : r->pipe->Poll()) {
            StationNotice notice;
            notice.serial = r->serial;
            notice.restarted = event.restarted;
            if (event.kind == LinkEvent::Kind::Offline) {
                if (r->toldOffline) continue;  // it never answered: told at the start
                notice.kind = StationNotice::Kind::Offline;
                r->toldOffline = true;
            } else {
                // The first answer of a server that answered at the start
                // is no return.
                const bool first = !r->toldOffline && !event.restarted;
                notice.kind = StationNotice::Kind::Online;
                r->toldOffline = false;
                std::string why;
                if (network_.pull && r->link->SetPull(true, &why) <= 0)
                    event.text += "; asking for pulled batches failed: " + why;
                if (first) {
                    changed = true;
                    continue;
                }
            }
            notice.text = std::move(event.text);
            notices.push_back(std::move(notice));
            changed = true;
        }
        const LinkStats stats = r->link->Stats();
        if (stats.droppedOldest > r->seen.droppedOldest) {
            StationNotice notice;
            notice.kind = StationNotice::Kind::Dropped;
            notice.serial = r->serial;
            notice.count = stats.droppedOldest - r->seen.droppedOldest;
            notice.text = "server " + std::to_string(r->serial) + ": " + std::to_string(notice.count) +
                          " batch(es) dropped: the client fell behind";
            notices.push_back(std::move(notice));
        }
        if (stats.lost > r->seen.lost) {
            StationNotice notice;
            notice.kind = StationNotice::Kind::Lost;
            notice.serial = r->serial;
            notice.count = stats.lost - r->seen.lost;
            notice.text = "server " + std::to_string(r->serial) + ": " + std::to_string(notice.count) +
                          " batch(es) missing from its stream";
            notices.push_back(std::move(notice));
        }
        r->seen = stats;
    }
    if (changed) Sync();
    return notices;
}

}  // namespace zv::station::net
