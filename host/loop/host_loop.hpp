// The host loop: the one object that owns the station, the client, the mode
// runner, the displays and the station tree, and makes every call into the
// plug-in, one at a time: node and page events (the user-interface side)
// and mode batches (the pipe engine).
//
// Pages switch pipes, set parameters and notify the host from inside their
// calls; the loop records those and acts once the call has returned:
//  - the client pipe's mode switch stops the running mode and, while the
//    user plays, starts the new one; a disabled client pipe runs nothing;
//  - parameters a page sets reach the next handler call;
//  - NotifyHost builds the tree again (the nodes of an open page stay alive
//    until the page closes).
// Everything the loop sees goes out as JSON events (`SetEventSink`; the
// kinds are those of events.hpp).
//
// Front ends only give the loop commands and read its events: `zvhost run`
// and `demo` set parameters, switch the pipes, play and step; `tree` and
// `page` open pages and act on them; the web server does both from its loop
// thread.
//
// Not thread-safe: front ends that live on other threads (the web server)
// hand their commands to the thread that owns the loop.
#ifndef ZVHOST_HOST_LOOP_HPP
#define ZVHOST_HOST_LOOP_HPP

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "displays.hpp"
#include "events.hpp"
#include "hostapi/hostapi.hpp"
#include "plugin.hpp"
#include "run_summary.hpp"
#include "winframe/winframe.hpp"
#include "zvapi/zv_handle.hpp"
#include "zvrunner/mode_runner.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/connection.hpp"
#include "zvstation/net/network_station.hpp"
#include "zvstation/replay.hpp"
#include "zvstation/station.hpp"

namespace zvhost {

class MessageSlots;

// One node of the station tree.
struct TreeNode {
    std::string path;         // "Capture", "SN1", "SN1/B"
    int32_t type = 0;         // node type of TorvaneNodeCreate
    uint32_t serial = 0;      // the server (server and sensor nodes)
    std::string groupPath;    // sensor nodes
    std::string sensorName;   // sensor nodes
    bool limited = false;     // a server whose Settings.xml is missing or cannot be read
    bool unreadable = false;  // a limited server whose Settings.xml exists
    // Why the node cannot do all a node of its type does: a limited
    // server's missing or unreadable settings (file, line, what is wrong),
    // a sensor the plug-in's lookup does not find (its node is a plain one,
    // without pages). Empty for most nodes.
    std::string reason;
    int32_t parent = -1;            // index in the tree, -1 for none
    hostapi::Node* node = nullptr;  // the plug-in's node (none when it gave none)
    std::vector<int32_t> pages;     // identifiers, in display order
};

// A page action of a script or the browser.
struct PageAction {
    enum class Kind { Type, Blur, Click, Select, Slide, Apply, Reload, Activate, Deactivate };
    Kind kind = Kind::Apply;
    int32_t control = 0;  // the control's identifier (Type to Slide)
    std::string text;     // Type: the text; Select: an item's text when index < 0
    int32_t index = -1;   // Select: the item; Slide: the position
};

// Who answers the page's message boxes: the answer (wf::kIdOk, ...) of the
// box, which stays open, and the page's call with it, until this returns.
using MessageBoxAnswerer = std::function<int32_t(const wf::MessageBoxRequest& request)>;
// The first button of a box of `type` (OK, or Yes), what an unanswered box
// gives; and an answer's name ("OK", "Cancel", "Yes", "No"; "" for others).
int32_t FirstButton(uint32_t type);
const char* ButtonName(int32_t answer);

// "the start handler of mode "Free" returned -8: <reason>".
std::string HandlerFailure(const std::string& phase, const std::string& mode, zvStatus status,
                           const std::string& reason);

class HostLoop {
public:
    struct Options {
        std::filesystem::path files;  // the client's file space
        zv::station::Options station;
        // Recorded results (files and capture folders, replayed in order as
        // one recording) instead of the simulator.
        std::vector<std::filesystem::path> input;
        bool describeOutputs = false;  // output events carry a summary of what each holds
        bool fullOutputs = false;      // ... with every number it holds
        // Servers on the network pace their batches in real time, and a
        // batch takes what has come; else (stepped runs) every batch is
        // pulled from them, the same as in-process for the same seed.
        bool realTime = false;
    };

    // `plugin` and `app` (its description, read back as `info`) outlive the loop.
    HostLoop(const Plugin& plugin, zvHandle app, const AppInfo& info);
    ~HostLoop();
    HostLoop(const HostLoop&) = delete;
    HostLoop& operator=(const HostLoop&) = delete;

    void SetEventSink(EventSink sink);
    // Message boxes are answered by `answerer` (set before Open); without
    // one, with their first button at once.
    void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
    // Sends an event to the sink (front ends add their own).
    void Emit(const nlohmann::json& event);
    // Whether anyone reads the events: those of every batch are built only then.
    bool Listening() const { return static_cast<bool>(emit_) && !quiet_; }
    // Opens the station of the file space (its servers: ReadStationServers),
    // makes the client and the host window, and builds the tree. False with
    // `*error` set when the file space cannot be used.
    bool Open(const Options& options, std::string* error);

    // ---- The tree ----------------------------------------------------------------
    const std::vector<TreeNode>& Tree() const { return tree_; }
    // The node of `path`, matched exactly; null when none.
    const TreeNode* FindNode(const std::string& path) const;
    // The tree as JSON: nodes with their paths, types and pages (identifier
    // and name), and the reason of a node that has one.
    nlohmann::json TreeJson();
    // The name a page of `id` gives (GetName), "" when the plug-in has no
    // such page.
    std::string PageName(int32_t id);

    // ---- Pages -------------------------------------------------------------------
    // Makes page `page` (an identifier, or the name of one of the node's
    // pages) of node `path` the open page, as a property sheet does: the
    // pages of one node stay created while it is selected, so opening
    // another of its pages deactivates the open one and activates that one
    // (made first with factory, SetNode and Create when it is new); opening
    // the open page again changes nothing. A page of another node (or of a
    // node whose tree was rebuilt since) first closes every page. False with `*error` set for an unknown node or page,
    // a page the plug-in does not make, or one a node with a reason does
    // not list; a page whose Create fails is destroyed again (its status
    // goes out as an event). A limited server's reason goes out as a report
    // when its page opens.
    bool OpenPage(std::string path, const std::string& page, std::string* error);
    // Deactivate of the open page and Destroy of every page of its node.
    void ClosePage();
    bool PageOpen() const { return page_ != nullptr; }
    int32_t OpenPageId() const { return pageId_; }
    const std::string& OpenPageNode() const { return pageNode_; }
    // The open page's window, or none.
    wf::WindowHandle PageWindow() const;
    // The control of the open page named by `name`: its identifier, or a
    // label (the control's own text, or the static text before it; a
    // trailing ":" may be left out). -1 when none or several match.
    int32_t FindControl(const std::string& name) const;
    // Performs `action` on the open page. False with `*error` set when no
    // page is open, the control is not on it, or the user could not do it
    // (disabled, hidden, no such item); the page is then not called.
    // `*outcome` (when given) tells which: NoWindow for a control the page
    // lacks, NoSuchItem for an item its list lacks, or the driver's result.
    bool Act(const PageAction& action, std::string* error, wf::driver::Result* outcome = nullptr);
    // The state of every control of the open page.
    bool PageState(wf::DialogState* state) const;
    nlohmann::json PageStateJson() const;
    // Whether the open page holds edits not applied yet: set when the page
    // calls SetModified, cleared when its Apply or Reload succeeds.
    int32_t PageModified();
    // What the open page's last Apply or Reload did, null before one:
    // {"seq", "action", "status", "ok", "files": [paths written], "errors",
    // "texts": [what the page reported during it]}.
    const nlohmann::json& PageOutcome() const { return outcome_; }

    // ---- Running -----------------------------------------------------------------
    // What a page does with zv calls, for front ends without a page: sets
    // one parameter of `mode` on the client pipe (ZV_E_NOTFOUND for an
    // unknown mode or parameter), and switches every station pipe that runs
    // `mode`, then the client pipe, to it (the client pipe's status).
    zvStatus SetParameter(const std::string& mode, const std::string& name, int32_t value);
    zvStatus SwitchMode(const std::string& mode);
    // The user's Play and Stop of the client pipe's current mode.
    void SetPlaying(bool playing);
    bool Playing() const { return playing_; }
    // One batch of the running mode (or of the capture); false when
    // nothing was delivered: the recording ended, or the station failed
    // (DeliveryError says how).
    bool Step();
    // Plays for `seconds` of simulated time, then stops.
    void Play(double seconds);
    bool Running() const { return runner_ && runner_->Running(); }
    // Whether Step delivers batches: a mode runs, or a capture goes on
    // reading the station while the user plays (the client pipe disabled).
    bool Delivering() const { return Running() || (Capturing() && playing_); }
    // Seconds between two batches of what is delivered.
    double BatchPeriod() const;
    // The current or last run of a mode: statuses, failures, outputs per
    // display, console prints and where the time went. The written files
    // and tables are the front end's to add.
    const RunSummary& LastRun() const { return run_; }
    // Why the last mode asked to run could not start (its settings do not
    // read): "" when it could, or a start handler failed instead.
    const std::string& RunRefusal() const { return refusal_; }
    // Why the last Step delivered nothing, when the station failed; "".
    const std::string& DeliveryError() const { return deliveryError_; }

    // ---- Replay ------------------------------------------------------------------
    // The recording replayed instead of the simulator, or none.
    const zv::station::Replay* Replaying() const { return replay_.get(); }
    // Seconds from the recording's first batch to batch `batch`: by the
    // time its stamps hold, else by its number and the mode's period.
    double ReplayTime(size_t batch) const;
    // The first batch at `seconds` or later (the batch count past the end).
    size_t ReplayBatchAt(double seconds) const;
    // Makes `batch` the next one the running mode gets, with its displays
    // as a live run leaves them after the batch before: a mode's state
    // grows from the batches it was given, so the run starts again when it
    // went past `batch` (or when that is shorter), and the batches before it
    // that the mode's state rests on go through the mode's handler and to
    // its displays silently (no events but errors). False
    // with `*error` set when no recording or no mode runs, or `batch` lies
    // beyond the recording's end (its batch count).
    bool SeekReplay(size_t batch, std::string* error);
    // Replays capture `folder` of the file space ("Capture/<name>", as a
    // capture's events name it) from now on instead of what was delivered:
    // the open page closes (a capture it records ends) and the run stops
    // first. False with `*error` set for a name that is no capture folder
    // of the file space (or leads out of it: nothing changes then), or a
    // capture that does not read (what was replayed before stays).
    bool ReplayCapture(const std::string& folder, std::string* error);
    // The capture or files replayed.
    const std::vector<std::filesystem::path>& ReplayInputs() const { return options_.input; }

    // ---- Capture -----------------------------------------------------------------
    // While the client's capture is on (zvClientEnableCapture) every batch
    // the client receives is recorded, in the replay format, into segment
    // files of a new folder Capture/<date-time> of the file space (see
    // zvstation/capture.hpp); turning it off completes the last segment.
    // With the client pipe disabled and no mode running, the loop still
    // reads the first server's station pipe while the user plays, so that
    // what the station delivers is recorded.
    bool Capturing() const { return capture_ && capture_->IsOpen(); }
    // The folder of the current or the last capture; empty when none.
    const std::filesystem::path& CaptureFolder() const { return captureFolder_; }

    // ---- State and pictures --------------------------------------------------------
    zvHandle Client() const { return client_.Get(); }
    zv::station::Connection& Connection() { return *connection_; }
    zv::station::net::NetworkStation& Station() { return station_; }
    // Whether a server is on the network: its losses and returns come
    // whether or not anything runs, so the loop's owner calls Watch now and
    // then (a few times a second).
    bool HasNetworkServers() const;
    // A real-time run's servers on the network have sent a batch not yet
    // stepped: the loop's owner steps now rather than at its next period.
    bool BatchesWaiting() const;
    // Tells what happened to the servers on the network since the last
    // call (lost, back with its pipe restored, batches dropped or missing,
    // calls that failed), as events; a server lost or back sends the tree
    // again with its node marked.
    void Watch();
    HostDisplays& Displays() { return *displays_; }
    // Pipes, capture (with what the current or last capture wrote), layout,
    // play state.
    nlohmann::json PipesJson() const;
    nlohmann::json RecordingJson() const;

private:
    class Site;

    std::vector<zv::station::ModeDeclaration> DeclaredModes() const;

    // The page site the plug-in's nodes and pages call.
    hostapi::PageSite* SiteForPlugin() const;
    void BuildTree();
    // Makes the plug-in's node for `node` and appends it; its index.
    int32_t AddNode(TreeNode node, const hostapi::NodeInfo& info);
    // A server's node and, unless it is limited, its sensors' nodes.
    void AddServer(uint32_t serial);
    // The station's reason for server `serial`'s settings ("" when none).
    std::string StationSettingsError(uint32_t serial) const;
    void ReleaseTree(std::vector<TreeNode>* tree);
    // Calls into the open page, then reports what changed and acts on what
    // the page asked for. A page operation (`what`) that fails without the
    // page reporting an error gets the platform's reason reported for it.
    template <class Call>
    int32_t CallPage(const char* what, Call&& call);
    void AfterPluginCall();
    void OnPipeEvent(const zv::station::PipeEvent& event);
    void ApplyRunState();
    void StartRun(const std::string& mode);
    void StopRun();
    bool RestartForSeek(const std::string& mode, std::string* error);
    bool SeekRecording(size_t batch, std::string* error);
    bool StepQuietly(size_t batch, std::string* error);
    // Sends the console prints and handler calls of the last call into the
    // plug-in (`reason`: what the platform kept for it) and keeps them for
    // the run's summary.
    void Drain(const std::string& reason);
    // Hands one batch to the running mode's process handler; false when
    // its messages could not be made (DeliveryError says why).
    bool Process(const std::vector<zvHandle>& payloads);
    void OnOutput(const zv::runner::Output& output);
    // Reads the recording of `input` (its index made if need be) as the
    // one replayed; its notes go out as errors.
    bool LoadRecording(const std::vector<std::filesystem::path>& input, std::string* error);
    void StartCapture();
    void StopCapture();
    // Records a batch the client received while capturing.
    void Record(const std::vector<zvHandle>& payloads);
    void ReportSegments();
    // Recovers what interrupted captures left and sweeps the temporary files
    // of interrupted writes, reporting each file recovered or removed.
    void RecoverFileSpace();
    // The mode whose batches Step delivers: the running one, else (while
    // capturing) the first server's station pipe's.
    std::string DeliveringMode() const;
    // Reports the files the file space changed in the root and the
    // servers' folders since it was last asked (the page's files), one
    // event per file for its net change.
    void ReportFiles();
    void ReportControls(const wf::DialogState& before);

    const Plugin& plugin_;
    zvHandle app_;
    const AppInfo& info_;
    Options options_;
    EventSink emit_;
    MessageBoxAnswerer answerer_;

    zv::station::net::NetworkStation station_;
    std::unique_ptr<zv::station::Connection> connection_;
    std::unique_ptr<zv::station::Replay> replay_;
    zv::OwnedClient client_;
    std::unique_ptr<zv::runner::ModeRunner> runner_;
    std::unique_ptr<HostDisplays> displays_;
    std::unique_ptr<Site> site_;
    wf::WindowHandle window_ = nullptr;
    std::vector<uint32_t> servers_;

    // A created page of the open page's node.
    struct LivePage {
        int32_t id = 0;
        hostapi::Page* page = nullptr;
        bool modified = false;
    };
    LivePage* Current();
    // Apply or Reload of the open page, recorded as its outcome.
    template <class Call>
    void CallRecorded(const char* what, Call&& call);
    bool MakePage(int32_t id, hostapi::Node* node, std::string* error);

    std::vector<TreeNode> tree_;
    std::vector<TreeNode> retired_;  // the tree an open page was opened on, when rebuilt since
    hostapi::Page* page_ = nullptr;
    int32_t pageId_ = 0;
    std::string pageNode_;
    bool pageActive_ = false;
    std::vector<LivePage> live_;         // the open page's node's created pages, the open one among them
    hostapi::Node* liveNode_ = nullptr;  // the node they were made for
    nlohmann::json outcome_;
    uint64_t outcomes_ = 0;
    bool recording_ = false;

    bool inCall_ = false;
    int64_t errorReports_ = 0;  // ReportError calls of the plug-in so far
    bool treeWanted_ = false;
    bool playing_ = false;
    bool quiet_ = false;       // batches go through silently (a seek)
    size_t firstStamped_ = 0;  // the replay's first batch that holds a stamp
    std::string failedStart_;  // a mode whose start failed, not retried until something changes
    std::string refusal_;
    std::string deliveryError_;
    uint32_t waitingFor_ = 0;  // the lost server a run waits for, told once
    RunSummary run_;
    std::unique_ptr<MessageSlots> slots_;
    std::unique_ptr<zv::station::CaptureWriter> capture_;
    std::filesystem::path captureFolder_;  // on this machine
    std::string captureSpaceFolder_;       // in the file space
    // What the current or last capture wrote, for the pipes' state:
    // {"folder", "on", "batches", "bytes", "segments": [the latest paths]}.
    nlohmann::json recordingState_;
    int64_t segmentBytes_ = zv::station::kDefaultSegmentBytes;
};

}  // namespace zvhost

#endif
