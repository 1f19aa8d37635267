// The server's loop: requests answered as they come, results made and
// delivered at their time, nothing waiting on a client.
#include "station_server.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "file_service.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/frames.hpp"
#include "zvstation/net/endpoint.hpp"
#include "zvstation/net/socket.hpp"
#include "zvstation/replay.hpp"

#ifndef ZVSTATION_VERSION
#define ZVSTATION_VERSION "0"
#endif

namespace zv::station {

namespace {

using Clock = std::chrono::steady_clock;

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// A real-time server this late on its batches starts its clock afresh
// rather than sending what it missed in a rush (after SIGSTOP, say).
constexpr auto kLateness = std::chrono::milliseconds(500);
// Batches made ahead for a burst, at most this many bytes in all.
constexpr size_t kPreparedBytes = size_t{1} << 30;
// Clients whose clocks the server keeps track of.
constexpr size_t kPeers = 4096;
// The period of a replay whose pipe has no mode.
constexpr double kReplayPeriod = 0.02;

// Results owned until handed on.
struct Made {
    std::vector<zvHandle> results;
    double time = 0;
    int64_t number = 0;
    Made() = default;
    Made(const Made&) = delete;
    Made& operator=(const Made&) = delete;
    Made(Made&& other) noexcept : results(std::move(other.results)), time(other.time), number(other.number) {
        other.results.clear();
    }
    Made& operator=(Made&& other) noexcept {
        if (this != &other) {
            Release();
            results = std::move(other.results);
            other.results.clear();
            time = other.time;
            number = other.number;
        }
        return *this;
    }
    ~Made() { Release(); }
    void Release() {
        for (zvHandle h : results) zvObjectDestroy(h);
        results.clear();
    }
};

}  // namespace

struct StationServer::Impl {
    ServerOptions options;
    Station station;
    std::unique_ptr<Replay> replay;
    int64_t replayed = 0;  // batches handed out by the replay
    bool replayEnded = false;
    std::unique_ptr<FileService> files;
    net::ServerEndpoint endpoint;
    bool encrypted = false;
    uint64_t session = 0;
    std::ostream* log = nullptr;

    // The pipe's delivery.
    bool reading = false;  // a client asked for the results
    bool pull = false;     // batches only when a client pulls them
    int64_t made = 0;      // batches made so far
    uint64_t streamSequence = 0;
    uint64_t pullSequence = 0;
    uint64_t streamDropped = 0;
    uint64_t droppedTold = 0;
    Clock::time_point droppedToldAt{};

    // Real-time pacing: simulated time `anchorSim` was due at `anchorWall`.
    bool anchored = false;
    Clock::time_point anchorWall{};
    double anchorSim = 0;
    std::optional<Made> held;  // made, not yet due
    Clock::time_point nextMake{};

    // Batches made ahead for a burst, and those the burst still has to send.
    std::deque<std::unique_ptr<net::Message>> prepared;
    size_t preparedBytes = 0;
    std::deque<std::unique_ptr<net::Message>> burst;
    // A burst in real time: the prepared batches sent round and round, one
    // a batch period, each a copy stamped as it leaves.
    struct Paced {
        uint32_t left = 0;
        size_t next = 0;  // into prepared
        Clock::time_point due{};
    };
    std::optional<Paced> paced;
    struct Preparing {
        std::string peer;
        wire::Reply reply;
        uint32_t left = 0;
    };
    std::optional<Preparing> preparing;

    // The smallest difference seen between the server's clock and each
    // client's: how late a request arrives (see Stale).
    std::map<std::string, int64_t> offsets;

    const Server& Me() const { return station.Servers().front(); }

    void Log(const std::string& line) { *log << "zvstation SN" << options.serial << ": " << line << std::endl; }

    double Period() const {
        const double period = Station::Period(Me().pipe.mode);
        if (replay) return period > 0 ? period : kReplayPeriod;
        return period;
    }

    bool Streaming() const {
        // A burst has the stream to itself while it lasts.
        if (!reading || pull || !Me().pipe.enabled || !burst.empty() || paced) return false;
        if (replay) return !replayEnded;
        return !Me().pipe.mode.empty();
    }

    // ---- Making batches --------------------------------------------------------

    // The next batch of the source, as the in-process station makes it.
    // False for a failure of the source (logged).
    bool Make(Made* out) {
        out->results.clear();
        zvStatus status = ZV_OK;
        if (replay) {
            if (reading && Me().pipe.enabled) status = replay->NextBatch(&out->results);
            out->time = static_cast<double>(replayed) * Period();
            if (status > 0 && !out->results.empty()) ++replayed;
        } else {
            BatchOrigin origin;
            status = station.NextBatch(&out->results, &origin);
            out->time = origin.time;
        }
        if (status <= 0) {
            for (zvHandle h : out->results) zvObjectDestroy(h);
            out->results.clear();
            Log("could not make a batch (status " + std::to_string(status) + ")");
            return false;
        }
        out->number = made;
        if (!out->results.empty()) ++made;
        return true;
    }

    std::unique_ptr<net::Message> Encode(const Made& batch, uint64_t sequence, std::string* error) {
        size_t bytes = 0;
        if (!wire::MeasureBatch(batch.results, &bytes, error)) return nullptr;
        auto message = std::make_unique<net::Message>(bytes);
        if (message->size() != bytes) {
            *error = "no memory for a batch of " + std::to_string(bytes) + " bytes";
            return nullptr;
        }
        wire::BatchHeader header;
        header.serial = options.serial;
        header.session = session;
        header.sequence = sequence;
        header.batch = batch.number;
        header.time = batch.time;
        wire::WriteBatch(header, batch.results, message->data());
        wire::StampBatch(message->data(), message->size(), sequence);
        return message;
    }

    void Publish(const Made& batch) {
        std::string error;
        const uint64_t sequence = ++streamSequence;
        std::unique_ptr<net::Message> message = Encode(batch, sequence, &error);
        if (!message) {
            Log("batch " + std::to_string(batch.number) + " cannot be sent: " + error);
            ++streamDropped;
            return;
        }
        if (endpoint.Publish(message.get()) != net::ServerEndpoint::Sent::Yes) ++streamDropped;
    }

    // Real-time delivery: each batch leaves when the simulated time it
    // covers has passed.
    void Deliver(Clock::time_point now, int* waitMs) {
        if (!Streaming()) {
            held.reset();
            anchored = false;
            return;
        }
        const double period = Period();
        if (!anchored) {
            anchored = true;
            anchorWall = now;
            anchorSim = replay ? static_cast<double>(replayed) * period : station.Time();
            nextMake = now;
        }
        auto wallOf = [&](double simulated) {
            return anchorWall + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>((simulated - anchorSim) / options.pace));
        };
        for (int i = 0; i < 16; ++i) {
            if (!held) {
                if (now < nextMake) break;
                Made batch;
                if (!Make(&batch)) {
                    nextMake = now + std::chrono::seconds(1);
                    break;
                }
                if (batch.results.empty()) {
                    if (replay) {
                        // The end of the recording: an empty batch says so.
                        replayEnded = true;
                        Publish(batch);
                        Log("the recording ended after " + std::to_string(replayed) + " batches");
                        return;
                    }
                    // Nothing happened for a long stretch of simulated time:
                    // wait for the real time to catch up.
                    nextMake = std::max(now, wallOf(station.Time()));
                    break;
                }
                held = std::move(batch);
            }
            const Clock::time_point due = wallOf(held->time + period);
            if (due > now) break;
            if (now - due > kLateness) anchorWall += now - due;  // late: the clock starts afresh
            Publish(*held);
            held.reset();
        }
        const Clock::time_point next = held ? wallOf(held->time + period) : nextMake;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        *waitMs = static_cast<int>(std::clamp<int64_t>(wait, 0, *waitMs));
    }

    // Sends what a burst still has, as fast as the stream takes it.
    void Burst(int* waitMs) {
        while (!burst.empty()) {
            // Numbered as it leaves, after whatever went before it.
            const uint64_t sequence = streamSequence + 1;
            wire::StampBatch(burst.front()->data(), burst.front()->size(), sequence);
            const net::ServerEndpoint::Sent sent = endpoint.Publish(burst.front().get(), true);
            if (sent == net::ServerEndpoint::Sent::Full) {
                // The stream cannot say when it has room again: look again
                // shortly, answering requests in between.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                *waitMs = 0;
                return;
            }
            if (sent == net::ServerEndpoint::Sent::Failed) ++streamDropped;
            streamSequence = sequence;
            burst.pop_front();
        }
    }

    // Sends the batches of a burst in real time that are due.
    void Pace(Clock::time_point now, int* waitMs) {
        if (!paced) return;
        if (prepared.empty()) {  // a burst as fast as the stream takes them took them
            paced.reset();
            return;
        }
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(Station::Period(Me().pipe.mode) / options.pace));
        for (int i = 0; i < 16 && paced->left > 0 && now >= paced->due; ++i) {
            if (now - paced->due > kLateness) paced->due = now;  // late: the clock starts afresh
            const net::Message& source = *prepared[paced->next];
            paced->next = (paced->next + 1) % prepared.size();
            auto frame = std::make_unique<net::Message>(source.size());
            if (frame->size() != source.size()) {
                ++streamDropped;
            } else {
                std::memcpy(frame->data(), source.data(), source.size());
                wire::StampBatch(frame->data(), frame->size(), ++streamSequence);
                if (endpoint.Publish(frame.get()) != net::ServerEndpoint::Sent::Yes) ++streamDropped;
            }
            paced->due += period;
            --paced->left;
        }
        if (paced->left == 0) {
            paced.reset();
            return;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(paced->due - now).count() + 1;
        *waitMs = static_cast<int>(std::clamp<int64_t>(wait, 0, *waitMs));
    }

    // A change of the pipe: what was made for the old one is not sent.
    void PipeChanged() {
        held.reset();
        anchored = false;
        paced.reset();
    }

    // ---- Requests -------------------------------------------------------------------

    // Whether `request` reached the server later than its client waited for
    // it (a server that was stopped, or a link that stalled): the client
    // has given up on it, so it is not carried out.
    bool Stale(const std::string& peer, const wire::Request& request, int64_t* lateMs) {
        const int64_t offset = SteadyMs() - static_cast<int64_t>(request.sentMs);
        auto found = offsets.find(peer);
        if (found == offsets.end()) {
            if (offsets.size() >= kPeers) offsets.clear();
            offsets.emplace(peer, offset);
            return false;
        }
        found->second = std::min(found->second, offset);
        *lateMs = offset - found->second;
        return *lateMs > static_cast<int64_t>(request.timeoutMs);
    }

    wire::PipeState Pipe() const {
        wire::PipeState pipe;
        pipe.mode = Me().pipe.mode;
        pipe.enabled = Me().pipe.enabled;
        for (const auto& [name, value] : Me().pipe.parameters) pipe.parameters.emplace_back(name, value);
        pipe.delivering = reading;
        pipe.pull = pull;
        return pipe;
    }

    static std::string ModeList() {
        std::string list;
        for (const std::string& mode : Station::Modes()) list += (list.empty() ? "" : ", ") + mode;
        return list;
    }

    void Handle(const net::Incoming& in) {
        wire::Request request;
        std::string error;
        wire::Reply reply;
        if (!wire::DecodeRequest(in.data(), in.size(), &request, &error)) {
            Log(error);
            // A refusal the client can match, when its header could be read.
            if (request.id == 0) return;
            reply.id = request.id;
            reply.op = wire::Op::Ping;
            reply.status = ZV_E_PARSE;
            reply.message = error;
            Send(in.peer, reply);
            return;
        }
        reply.id = request.id;
        reply.op = request.op;
        int64_t late = 0;
        if (Stale(in.peer, request, &late)) {
            reply.status = ZV_E_STATE;
            reply.message = wire::OpName(static_cast<uint16_t>(request.op)) + " arrived " + std::to_string(late) +
                            " ms late, after its client had given up: not carried out";
            if (request.op != wire::Op::Ping && request.op != wire::Op::Hello) Log(reply.message);
            Send(in.peer, reply);
            return;
        }
        if (Answer(in.peer, request, &reply)) Send(in.peer, reply);
    }

    void Send(const std::string& peer, const wire::Reply& reply) {
        std::vector<uint8_t> frame;
        wire::EncodeReply(reply, &frame);
        if (!endpoint.Reply(peer, std::move(frame)))
            Log("the reply to " + wire::OpName(static_cast<uint16_t>(reply.op)) +
                " could not go: its client is gone or not reading");
    }

    // False when the reply comes later (Prepare).
    bool Answer(const std::string& peer, const wire::Request& request, wire::Reply* reply) {
        const uint32_t serial = options.serial;
        zvStatus& status = reply->status;
        std::string& why = reply->message;
        status = ZV_OK;
        switch (request.op) {
            case wire::Op::Hello:
                reply->server.serial = serial;
                reply->server.session = session;
                reply->server.program = std::string("zvstation ") + ZVSTATION_VERSION;
                reply->server.stream = endpoint.StreamEndpoint();
                reply->server.source = replay ? "replay" : "simulated";
                reply->server.pipe = Pipe();
                break;
            case wire::Op::Ping: reply->server.session = session; break;
            case wire::Op::SetMode:
                status = station.SetMode(serial, request.text);
                if (status <= 0) {
                    why = "no mode \"" + request.text + "\" (the modes are: " + ModeList() + ")";
                } else {
                    PipeChanged();
                    Log("mode " + request.text);
                }
                break;
            case wire::Op::SetParameters: {
                size_t added = 0;
                for (const auto& [name, value] : request.parameters)
                    if (Me().pipe.parameters.count(name) == 0) ++added;
                if (Me().pipe.parameters.size() + added > wire::kMaxParameters) {
                    status = ZV_E_RANGE;
                    why = "a pipe holds at most " + std::to_string(wire::kMaxParameters) + " parameters";
                    break;
                }
                for (const auto& [name, value] : request.parameters) station.SetParameter(serial, name, value);
                PipeChanged();
                break;
            }
            case wire::Op::Enable:
                station.Enable(serial, request.flag != 0);
                PipeChanged();
                Log(request.flag != 0 ? "pipe enabled" : "pipe disabled");
                break;
            case wire::Op::GetPipe: reply->pipe = Pipe(); break;
            case wire::Op::StartDelivery:
                station.StartDelivery(serial);
                if (!reading) Log("delivering");
                reading = true;
                break;
            case wire::Op::StopDelivery:
                if (reading) Log("delivery stopped");
                reading = false;
                PipeChanged();
                break;
            case wire::Op::SetPull:
                if (request.flag == wire::kPullFromStart) {
                    station.Rewind();
                    if (replay && replay->Seek(0) > 0) replayed = 0;
                    made = 0;
                    Log("batches pulled by a client, from the start");
                } else if (pull != (request.flag != 0)) {
                    Log(request.flag != 0 ? "batches pulled by a client" : "batches in real time");
                }
                pull = request.flag != 0;
                PipeChanged();
                break;
            case wire::Op::Pull: {
                if (!pull) {
                    status = ZV_E_STATE;
                    why = "the server delivers in real time: ask for pull mode first";
                    break;
                }
                Made batch;
                if (!Make(&batch)) {
                    status = ZV_E_FAIL;
                    why = "the server could not make a batch";
                    break;
                }
                std::unique_ptr<net::Message> frame = Encode(batch, ++pullSequence, &why);
                if (!frame) {
                    status = ZV_E_RANGE;
                    break;
                }
                reply->bytes.assign(frame->data(), frame->data() + frame->size());
                break;
            }
            case wire::Op::ReloadSettings:
                if (!station.ReloadSettings(&why)) status = ZV_E_PARSE;
                break;
            case wire::Op::StorageDelete: status = files->StorageDelete(request.text, &why); break;
            case wire::Op::StorageSize: status = files->StorageSize(request.text, &reply->size, &why); break;
            case wire::Op::ReadFile: status = files->Read(request.text, &reply->bytes, &why); break;
            case wire::Op::WriteFile: status = files->Write(request.text, request.bytes, &why); break;
            case wire::Op::DeleteFile: status = files->Delete(request.text, &why); break;
            case wire::Op::List: status = files->List(request.text, &reply->entries, &why); break;
            case wire::Op::Stat: status = files->Stat(request.text, &reply->kind, &reply->size, &why); break;
            case wire::Op::MakeFolder: status = files->MakeFolder(request.text, &why); break;
            case wire::Op::Prepare: return !Prepare(peer, request.count, reply);
            case wire::Op::Burst:
                if (preparing) {
                    status = ZV_E_STATE;
                    why = "batches are still being made for the burst";
                    break;
                }
                if (request.count > 0) {
                    if (prepared.empty() || !(Station::Period(Me().pipe.mode) > 0)) {
                        status = ZV_E_STATE;
                        why = prepared.empty() ? "no batches were made ahead" : "the pipe's mode has no batch period";
                        break;
                    }
                    paced = Paced{request.count, 0, Clock::now()};
                    reply->size = request.count;
                    break;
                }
                reply->size = static_cast<int64_t>(prepared.size());
                for (auto& message : prepared) burst.push_back(std::move(message));
                prepared.clear();
                preparedBytes = 0;
                break;
        }
        return true;
    }

    // Makes `count` batches ahead, encoded, for a burst; only in pull mode,
    // where nothing else goes on the stream. They are made a few at a time
    // between requests (the server keeps answering), and the reply goes
    // when they are all made. True when the reply is deferred.
    bool Prepare(const std::string& peer, uint32_t count, wire::Reply* reply) {
        if (!pull || preparing) {
            reply->status = ZV_E_STATE;
            reply->message = preparing ? "batches are being made already" : "batches are made ahead only in pull mode";
            return false;
        }
        preparing = Preparing{peer, *reply, count};
        return true;
    }

    void PrepareSome(int* waitMs) {
        if (!preparing) return;
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(20);
        wire::Reply& reply = preparing->reply;
        while (preparing->left > 0 && preparedBytes < kPreparedBytes && Clock::now() < until) {
            Made batch;
            std::string error;
            if (!Make(&batch) || batch.results.empty()) {
                preparing->left = 0;
                break;
            }
            std::unique_ptr<net::Message> frame = Encode(batch, 0, &error);  // numbered when it leaves
            if (!frame) {
                reply.status = ZV_E_RANGE;
                reply.message = error;
                preparing->left = 0;
                break;
            }
            preparedBytes += frame->size();
            prepared.push_back(std::move(frame));
            --preparing->left;
        }
        if (preparing->left > 0 && preparedBytes < kPreparedBytes) {
            *waitMs = 0;
            return;
        }
        reply.size = static_cast<int64_t>(prepared.size());
        Send(preparing->peer, reply);
        preparing.reset();
    }

    void TellDrops(Clock::time_point now) {
        if (streamDropped == droppedTold || now - droppedToldAt < std::chrono::seconds(1)) return;
        Log(std::to_string(streamDropped - droppedTold) + " batches could not be sent (" +
            std::to_string(streamDropped) + " in all)");
        droppedTold = streamDropped;
        droppedToldAt = now;
    }
};

StationServer::StationServer() : impl_(std::make_unique<Impl>()) {}
StationServer::~StationServer() = default;

int StationServer::Open(const ServerOptions& options, std::string* error) {
    Impl& r = *impl_;
    r.options = options;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(options.folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        *error = "the server's folder " + options.folder.string() + " is not a folder";
        return kExitBadInput;
    }
    if (options.serial == 0) {
        *error = "a server's serial number is 1 or more";
        return kExitBadInput;
    }
    if (!(options.pace > 0) || options.pace > 1000) {
        *error = "the pace is more than 0 and at most 1000";
        return kExitBadInput;
    }
    if (!r.station.OpenServer(folder, options.serial, options.station, error)) return kExitBadInput;
    if (!options.inputs.empty()) {
        r.replay = std::make_unique<Replay>();
        if (!LoadReplay(options.inputs, r.replay.get(), error)) return kExitBadInput;
    }
    if (zvFileSpaceSetRoot(folder.c_str()) <= 0) {
        *error = "cannot serve the files of " + folder.string();
        return kExitBadInput;
    }
    // What writes interrupted before this start left behind goes now.
    zvFileSpaceSweep("\\");
    r.files = std::make_unique<FileService>(folder);

    net::EndpointOptions endpoint;
    endpoint.bind = options.bind;
    endpoint.stream = options.stream;
    endpoint.streamQueue = options.streamQueue;
    const net::KeysFound keys = net::LoadKeys(folder, &endpoint.keys, error);
    if (keys == net::KeysFound::Bad) return kExitBadInput;
    const bool loopback = net::IsLoopback(options.bind) && (options.stream.empty() || net::IsLoopback(options.stream));
    if (!loopback && keys != net::KeysFound::Read) {
        *error = "a server reachable from other computers needs its key pair: run zvstation keys --files " +
                 options.folder.string() + " and give clients its public key";
        return kExitBadInput;
    }
    r.encrypted = keys == net::KeysFound::Read;
    bool taken = false;
    if (!r.endpoint.Open(endpoint, error, &taken)) return taken ? kExitNoBind : kExitFailed;
    net::KeepFrameMemory();
    std::random_device random;
    r.session = (static_cast<uint64_t>(random()) << 32) ^ random() ^ static_cast<uint64_t>(SteadyMs());
    if (r.session == 0) r.session = 1;
    return kExitStopped;
}

const std::string& StationServer::RequestEndpoint() const { return impl_->endpoint.RequestEndpoint(); }
const std::string& StationServer::StreamEndpoint() const { return impl_->endpoint.StreamEndpoint(); }
bool StationServer::Encrypted() const { return impl_->encrypted; }

int StationServer::Run(const volatile std::sig_atomic_t* stop, std::ostream& log) {
    Impl& r = *impl_;
    r.log = &log;
    // Settings the server cannot read are repaired through it: it serves
    // without sensors meanwhile.
    if (!r.Me().settingsError.empty())
        r.Log(r.Me().settingsError + "; serving without sensors until Settings.xml is repaired and read again");
    std::vector<net::Incoming> incoming;
    while (*stop == 0) {
        int waitMs = 100;
        const Clock::time_point now = Clock::now();
        r.Deliver(now, &waitMs);
        r.Burst(&waitMs);
        r.Pace(now, &waitMs);
        r.PrepareSome(&waitMs);
        r.TellDrops(now);
        incoming.clear();
        r.endpoint.Wait(waitMs, 256, &incoming);
        for (const std::string& line : r.endpoint.TakeLog()) r.Log(line);
        for (const net::Incoming& in : incoming) r.Handle(in);
    }
    r.Log("stopped");
    return kExitStopped;
}

}  // namespace zv::station
