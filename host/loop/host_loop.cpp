#include "host_loop.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <exception>
#include <system_error>

#include "describe.hpp"
#include "message_slots.hpp"
#include "server_settings.hpp"
#include "station_file.hpp"
#include "zvapi/zv_file_commits.hpp"
#include "zvstation/frames.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr int kPlayStepLimit = 1000000;  // a bound on one Play's batches

// The Video mode keeps its masks in the folder of the sensor it shows,
// named by this parameter.
constexpr char kVideoMode[] = "Video";
constexpr char kSelectedSensor[] = "SelectedSensor";

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

}  // namespace

int32_t FirstButton(uint32_t type) { return type == wf::kMbYesNo ? wf::kIdYes : wf::kIdOk; }

const char* ButtonName(int32_t answer) {
    switch (answer) {
        case wf::kIdOk: return "OK";
        case wf::kIdCancel: return "Cancel";
        case wf::kIdYes: return "Yes";
        case wf::kIdNo: return "No";
    }
    return "";
}

void HostLoop::SetMessageBoxAnswerer(MessageBoxAnswerer answerer) { answerer_ = std::move(answerer); }

// ---- The page site -------------------------------------------------------------------
// What the plug-in's nodes and pages call on the host.
class HostLoop::Site final : public hostapi::PageSite {
public:
    explicit Site(HostLoop* loop) : loop_(loop) {}
    int32_t GetParentWindow(wf::WindowHandle* window) override {
        if (window == nullptr) return ZV_E_ARGUMENT;
        *window = loop_->window_;
        return 1;
    }
    int32_t Reserved1() override { return 1; }
    int32_t ReportError(const char* text) override {
        ++loop_->errorReports_;
        loop_->Emit(events::Report(true, text ? text : ""));
        return 1;
    }
    int32_t ReportText(const char* text) override {
        loop_->Emit(events::Report(false, text ? text : ""));
        return 1;
    }
    int32_t Reserved4() override { return 1; }
    int32_t NotifyHost() override {
        loop_->Emit(events::Notify());
        loop_->treeWanted_ = true;
        return 1;
    }
    int32_t SetModified() override {
        if (LivePage* page = loop_->Current()) page->modified = true;
        loop_->Emit(events::Modified());
        return 1;
    }
    int32_t GetDisplays(hostapi::DisplaySet** displays) override {
        if (displays == nullptr) return ZV_E_ARGUMENT;
        *displays = loop_->displays_.get();
        return 1;
    }
    int32_t GetClient(zvHandle* client) override {
        if (client == nullptr) return ZV_E_ARGUMENT;
        *client = loop_->client_.Get();
        return *client != nullptr ? 1 : ZV_E_STATE;
    }

private:
    HostLoop* loop_;
};

hostapi::PageSite* HostLoop::SiteForPlugin() const { return site_.get(); }

// ---- Setting up ------------------------------------------------------------------------

HostLoop::HostLoop(const Plugin& plugin, zvHandle app, const AppInfo& info)
    : plugin_(plugin),
      app_(app),
      info_(info),
      displays_(std::make_unique<HostDisplays>(info)),
      slots_(std::make_unique<MessageSlots>()) {
    site_ = std::make_unique<Site>(this);
    displays_->SetEventSink([this](const json& event) { Emit(event); });
}

HostLoop::~HostLoop() {
    ClosePage();
    StopCapture();  // the last segment is completed, not dropped
    playing_ = false;
    if (runner_ && runner_->Running()) StopRun();
    ReleaseTree(&tree_);
    ReleaseTree(&retired_);
    displays_->ForgetOutputs();
    runner_.reset();
    client_.Reset();  // after the runner, which runs over it
    if (window_ != nullptr) wf::DestroyHostWindow(window_);
    wf::SetMessageBoxHandler(nullptr);
    zv::files::SetRemoteFolders(nullptr);  // the station's links go with it
}

void HostLoop::SetEventSink(EventSink sink) { emit_ = std::move(sink); }

void HostLoop::Emit(const json& event) {
    if (quiet_ && !IsEvent(event, EventKind::Error)) return;
    if (recording_) {
        // What an Apply or Reload wrote and what the page said meanwhile.
        if (IsEvent(event, EventKind::File) && event.value("change", "") != "deleted")
            outcome_["files"].push_back(event["path"]);
        if (IsEvent(event, EventKind::Report))
            outcome_[event.value("kind", "") == "error" ? "errors" : "texts"].push_back(event.value("text", ""));
    }
    if (emit_) emit_(event);
}

// The modes and their parameters as the plug-in describes them, for the station's pipes.
std::vector<zv::station::ModeDeclaration> HostLoop::DeclaredModes() const {
    std::vector<zv::station::ModeDeclaration> modes;
    for (const ModeInfo& m : info_.modes) {
        zv::station::ModeDeclaration d;
        d.name = m.name;
        for (const ParameterInfo& p : m.parameters) d.parameters.emplace_back(p.name, p.initial);
        modes.push_back(std::move(d));
    }
    return modes;
}

bool HostLoop::Open(const Options& options, std::string* error) {
    options_ = options;
    std::error_code ec;
    options_.files = std::filesystem::absolute(options.files, ec);
    StationServers servers;
    if (!ReadStationServers(options_.files, &servers, error)) return false;
    if (servers.serials.empty()) {
        *error = "the file space " + options_.files.string() +
                 " holds no server: it declares none (run zvhost init --files DIR --servers LIST) and no SN<serial> "
                 "folder holds a Settings.xml";
        return false;
    }
    servers_ = servers.serials;
    if (zvFileSpaceSetRoot(options_.files.c_str()) <= 0) {
        *error = "cannot use " + options_.files.string() + " as the file space";
        return false;
    }
    // What captures and writes interrupted before this start left behind:
    // whole batches kept, the rest gone.
    RecoverFileSpace();
    zv::files::LogCommits(true);
    std::vector<zv::station::net::ServerAddress> addresses;
    for (const ServerPlace& place : servers.places)
        addresses.push_back({place.serial, place.endpoint, place.publicKey});
    zv::station::net::NetworkOptions network;
    network.pull = !options_.realTime;
    if (!station_.Open(options_.files, options_.station, addresses, network, error)) return false;
    // The folder of a server on the network is that server's.
    zv::files::SetRemoteFolders(station_.Files());
    if (!options_.input.empty()) {
        if (!LoadRecording(options_.input, error)) return false;
    }

    connection_ = std::make_unique<zv::station::Connection>(&station_, DeclaredModes());
    connection_->SetListener([this](const zv::station::PipeEvent& event) { OnPipeEvent(event); });
    zvStatus status = zvClientCreate(client_.Out());
    if (status > 0) status = connection_->Attach(client_);
    if (status <= 0) {
        *error = "cannot make the client (status " + std::to_string(status) + ")";
        return false;
    }
    runner_ = std::make_unique<zv::runner::ModeRunner>(app_, client_);
    runner_->SetReadHook([this](const zv::runner::ReadRequest& request) -> zvStatus {
        Emit(events::Read(request.mode, request.serverId));
        if (replay_) return ZV_OK;
        return station_.StartDelivery(request.serverId);
    });
    runner_->SetOutputObserver([this](const zv::runner::Output& o) { OnOutput(o); });

    window_ = wf::CreateHostWindow("zvhost");
    if (window_ == nullptr) {
        *error = "cannot make the host's window";
        return false;
    }
    wf::SetMessageBoxHandler([this](const wf::MessageBoxRequest& request) -> int32_t {
        const int32_t answer = answerer_ ? answerer_(request) : FirstButton(request.type);
        Emit(events::MessageBox(request.text, request.caption, request.type, ButtonName(answer)));
        return answer;
    });
    BuildTree();
    return true;
}

// ---- Pipes and runs ----------------------------------------------------------------------------

void HostLoop::OnPipeEvent(const zv::station::PipeEvent& event) {
    switch (event.kind) {
        case zv::station::PipeEvent::Kind::Mode:
            if (event.server == ZV_CLIENT_PIPE) {
                displays_->SetMode(event.mode);
                failedStart_.clear();
            }
            Emit(events::Mode(event.server, event.mode));
            break;
        case zv::station::PipeEvent::Kind::Enabled:
            if (event.server == ZV_CLIENT_PIPE) failedStart_.clear();
            Emit(events::Enabled(event.server, event.on));
            break;
        case zv::station::PipeEvent::Kind::Parameters: {
            const ModeInfo* mode = info_.Find(event.mode);
            std::vector<std::string> names;
            for (size_t i = 0; mode != nullptr && i < mode->parameters.size(); ++i) {
                names.push_back(mode->parameters[i].name);
                if (event.server != ZV_CLIENT_PIPE || i >= event.values.size()) continue;
                // The station's pipes see the client's values by name (the
                // Video mode delivers the selected sensor's camera).
                for (uint32_t serial : servers_)
                    station_.SetParameter(serial, mode->parameters[i].name, event.values[i]);
            }
            if (event.server == ZV_CLIENT_PIPE && runner_) runner_->SetParameters(event.mode, event.values);
            Emit(events::Parameters(event.server, event.mode, event.values, names));
            break;
        }
        case zv::station::PipeEvent::Kind::Capture: {
            const bool was = Capturing();
            if (event.on) {
                StartCapture();
            } else {
                StopCapture();
            }
            Emit(events::Capture(event.on, (event.on || was) ? captureSpaceFolder_ : ""));
            break;
        }
        case zv::station::PipeEvent::Kind::SegmentSize:
            segmentBytes_ = event.bytes;
            if (capture_) capture_->SetSegmentSize(event.bytes);  // from the next segment on
            Emit(events::CaptureSegmentSize(event.bytes));
            break;
    }
    // Runs start and stop once the page's call has returned.
    if (!inCall_) ApplyRunState();
}

zvStatus HostLoop::SetParameter(const std::string& mode, const std::string& name, int32_t value) {
    if (!connection_) return ZV_E_STATE;
    const zvStatus status = connection_->SetParameter(mode, name, value);
    Watch();  // what a server on the network made of it
    return status;
}

zvStatus HostLoop::SwitchMode(const std::string& mode) {
    if (!connection_) return ZV_E_STATE;
    // The station pipes first, then the client pipe, as a page does. A
    // station pipe that does not run the mode keeps its own: the client's
    // mode runs on what the station delivers.
    for (uint32_t serial : servers_) {
        zvHandle server = nullptr;
        zvHandle pipe = nullptr;
        if (zvClientGetServerHandle(client_, serial, &server) > 0 && zvServerGetPipeHandle(server, &pipe) > 0)
            zvPipeSetCurrentMode(pipe, mode.c_str());
    }
    Watch();  // what a server on the network made of it
    return connection_->SetClientMode(mode);
}

void HostLoop::ApplyRunState() {
    if (!runner_) return;
    const std::string& mode = connection_->ClientMode();
    const bool wanted = playing_ && connection_->ClientEnabled() && !mode.empty() && failedStart_ != mode;
    if (runner_->Running() && (!wanted || runner_->RunningMode() != mode)) StopRun();
    if (wanted && !runner_->Running()) StartRun(mode);
}

void HostLoop::StartRun(const std::string& mode) {
    run_ = RunSummary{};
    run_.mode = mode;
    refusal_.clear();
    // The station simulates every server from its settings: one that cannot
    // read a server's stops the mode before it starts, with the reason.
    std::string error;
    station_.ReloadSettings(&error);
    if (const std::string why = UnreadSettings(station_); !why.empty()) {
        failedStart_ = mode;
        refusal_ = why;
        Emit(events::Error("mode \"" + mode + "\" cannot run: " + why));
        return;
    }
    displays_->ForgetOutputs();
    runner_->Reset();
    const std::vector<int32_t> values = connection_->Parameters(mode);
    runner_->SetParameters(mode, values);
    if (const ModeInfo* info = info_.Find(mode); info != nullptr && mode == kVideoMode) {
        for (size_t i = 0; i < info->parameters.size() && i < values.size(); ++i)
            if (info->parameters[i].name == kSelectedSensor && values[i] != 0)
                MakeSensorFolder(options_.files, static_cast<uint32_t>(values[i]));
    }
    inCall_ = true;
    zvLastErrorClear();
    run_.startStatus = runner_->Start(mode);
    run_.startReason = run_.startStatus <= 0 ? zvLastErrorText() : "";
    inCall_ = false;
    Drain(run_.startReason);
    if (run_.startStatus <= 0) {
        failedStart_ = mode;
        Emit(events::Error(HandlerFailure("start", mode, run_.startStatus, run_.startReason)));
    }
}

void HostLoop::StopRun() {
    inCall_ = true;
    zvLastErrorClear();
    run_.stopStatus = runner_->Stop();
    run_.stopReason = run_.stopStatus <= 0 ? zvLastErrorText() : "";
    inCall_ = false;
    Drain(run_.stopReason);
    run_.simulatedSeconds = replay_ ? 0 : station_.Time();
}

void HostLoop::Drain(const std::string& reason) {
    const std::string& mode = runner_->RunningMode().empty() ? run_.mode : runner_->RunningMode();
    for (const std::string& text : runner_->Prints()) {
        if (run_.console.size() < RunSummary::kConsoleKept) run_.console.push_back(text);
        if (Listening()) Emit(events::Console(mode, text));
    }
    for (const zv::runner::HandlerCall& call : runner_->Calls()) {
        if (Listening()) Emit(events::Handler(call.mode, call.phase, call.status, call.status <= 0 ? reason : ""));
        if (call.phase == zv::runner::Phase::Process && call.status <= 0) {
            if (run_.failedBatches == 0) {
                run_.firstFailure = call.status;
                run_.firstFailedBatch = run_.batches;
                run_.firstFailureReason = reason;
            }
            ++run_.failedBatches;
        }
    }
    runner_->ClearRecords();
}

void HostLoop::OnOutput(const zv::runner::Output& o) {
    // What the displays do with an output (describe it for the events, keep
    // it, drop the one it replaces) happens inside the handler's sends; it
    // is timed apart as display work, like drawing.
    const Clock::time_point t0 = Clock::now();
    if (Listening()) {
        Emit(events::Output(o, options_.describeOutputs ? DescribeOutput(o.object, options_.fullOutputs) : json()));
    }
    HostDisplay* display = o.routed ? displays_->Find(o.mode, o.display) : nullptr;
    if (display == nullptr) {
        ++run_.unrouted;
        zvPipeEngineRelease(runner_->Engine(), o.object);
    } else {
        display->TakeOutput(runner_->Engine(), o.object);
        auto it = std::find_if(run_.displays.begin(), run_.displays.end(),
                               [&](const DisplaySummary& d) { return d.name == o.display; });
        if (it == run_.displays.end()) it = run_.displays.insert(run_.displays.end(), {o.display, o.displayKind, 0});
        ++it->outputs;
    }
    run_.displaySeconds += Since(t0);
}

void HostLoop::SetPlaying(bool playing) {
    if (playing_ == playing) return;
    playing_ = playing;
    failedStart_.clear();
    Emit(events::Play(playing));
    ApplyRunState();
}

bool HostLoop::BatchesWaiting() const { return !replay_ && options_.realTime && station_.BatchesWaiting(); }

bool HostLoop::HasNetworkServers() const {
    for (uint32_t serial : servers_)
        if (station_.OnNetwork(serial)) return true;
    return false;
}

void HostLoop::Watch() {
    using Kind = zv::station::net::StationNotice::Kind;
    bool treeChanged = false;
    for (const zv::station::net::StationNotice& n : station_.Poll()) {
        switch (n.kind) {
            case Kind::Offline:
                Emit(events::Server(n.serial, "offline", false, 0, n.text));
                treeChanged = true;
                break;
            case Kind::Online:
                Emit(events::Server(n.serial, "online", n.restarted, 0, n.text));
                treeChanged = true;
                break;
            case Kind::Dropped: Emit(events::Server(n.serial, "dropped", false, n.count, n.text)); break;
            case Kind::Lost: Emit(events::Server(n.serial, "lost", false, n.count, n.text)); break;
            case Kind::Failed: Emit(events::Error(n.text)); break;
        }
    }
    if (treeChanged) {
        Emit(TreeJson());
        // A mode that could not start without a server may start now.
        failedStart_.clear();
        if (!inCall_) ApplyRunState();
    }
}

bool HostLoop::Step() {
    Watch();
    deliveryError_.clear();
    if (!Delivering()) return false;
    const bool running = Running();
    std::vector<zvHandle> payloads;
    // What the station, the handler and the displays do not take of this
    // step is the host's own.
    const double others = run_.stationSeconds + run_.handlerSeconds + run_.displaySeconds;
    const Clock::time_point t0 = Clock::now();
    const zvStatus status = replay_ ? replay_->NextBatch(&payloads) : station_.NextBatch(&payloads);
    const double made = Since(t0);
    if (status <= 0) {
        for (zvHandle h : payloads) zvObjectDestroy(h);
        deliveryError_ = "the station could not make a batch (status " + std::to_string(status) + ")";
        Emit(events::Error(deliveryError_));
        return false;
    }
    if (payloads.empty()) {
        // A mode that reads a server that is lost waits for it, and says so.
        for (const zv::station::Server& s : station_.Servers()) {
            if (!s.delivering || station_.Online(s.serial)) continue;
            deliveryError_ = "waiting for server " + std::to_string(s.serial) + ", which does not answer";
            if (waitingFor_ != s.serial) Emit(events::Error(deliveryError_));
            waitingFor_ = s.serial;
            return false;
        }
        return false;
    }
    waitingFor_ = 0;
    if (Capturing()) Record(payloads);
    if (!running) {
        for (zvHandle h : payloads) zvObjectDestroy(h);
        return true;
    }
    run_.stationSeconds += made;
    const bool processed = Process(payloads);
    run_.hostSeconds +=
        std::max(0.0, Since(t0) - (run_.stationSeconds + run_.handlerSeconds + run_.displaySeconds - others));
    AfterPluginCall();
    return processed;
}

bool HostLoop::Process(const std::vector<zvHandle>& payloads) {
    const zvStatus filled = slots_->Fill(payloads);
    if (filled <= 0) {
        deliveryError_ = "cannot make the messages of a batch (status " + std::to_string(filled) + ")";
        Emit(events::Error(deliveryError_));
        return false;
    }
    ++run_.batches;
    const double display = run_.displaySeconds;
    inCall_ = true;
    zvLastErrorClear();
    Clock::time_point t0 = Clock::now();
    run_.lastProcessNs = zv::station::wire::WallNs();
    const zvStatus status = runner_->Process(slots_->List());
    run_.handlerSeconds += std::max(0.0, Since(t0) - (run_.displaySeconds - display));
    const std::string reason = status <= 0 ? zvLastErrorText() : "";
    inCall_ = false;
    Drain(reason);
    // The station's results end with the call that received them.
    t0 = Clock::now();
    slots_->Release();
    run_.stationSeconds += Since(t0);
    return true;
}

void HostLoop::Play(double seconds) {
    SetPlaying(true);
    const std::string mode = DeliveringMode();
    const double period = BatchPeriod();
    const double start = station_.Time();
    int64_t batches = 0;
    for (int step = 0; step < kPlayStepLimit; ++step) {
        if (replay_ ? batches * period >= seconds : station_.Time() - start >= seconds) break;
        if (!Step()) break;
        ++batches;
    }
    Emit(events::Played(mode, batches, station_.Time() - start));
    SetPlaying(false);
}

double HostLoop::BatchPeriod() const {
    const double period = zv::station::Station::Period(DeliveringMode());
    return period > 0 ? period : 0.1;
}

std::string HandlerFailure(const std::string& phase, const std::string& mode, zvStatus status,
                           const std::string& reason) {
    return "the " + phase + " handler of mode \"" + mode + "\" returned " + std::to_string(status) +
           (reason.empty() ? std::string() : ": " + reason);
}

std::string HostLoop::DeliveringMode() const {
    if (Running() || !Capturing() || servers_.empty()) return connection_->ClientMode();
    for (const zv::station::Server& s : station_.Servers())
        if (s.serial == servers_.front()) return s.pipe.mode;
    return connection_->ClientMode();
}

json HostLoop::PipesJson() const {
    json stations = json::array();
    for (const zv::station::Server& s : station_.Servers())
        stations.push_back({{"server", s.serial}, {"mode", s.pipe.mode}, {"enabled", s.pipe.enabled}});
    return {{"client",
             {{"mode", connection_ ? connection_->ClientMode() : ""},
              {"enabled", connection_ ? connection_->ClientEnabled() : false}}},
            {"stations", stations},
            {"capture", connection_ ? connection_->CaptureOn() : false},
            {"recording", RecordingJson()},
            {"layout", displays_->Layout()},
            {"playing", playing_},
            {"running", Running()}};
}

}  // namespace zvhost
