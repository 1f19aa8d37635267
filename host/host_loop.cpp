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
#include "text.hpp"
#include "zvapi/zv_file_commits.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr int32_t kMaxPagesOfNode = 16;  // room beyond the interface's six, for a node that lists more
constexpr int kPlayStepLimit = 1000000;  // a bound on one Play's batches

// The Video mode keeps its masks in the folder of the sensor it shows,
// named by this parameter.
constexpr char kVideoMode[] = "Video";
constexpr char kSelectedSensor[] = "SelectedSensor";

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

const char* ActionName(PageAction::Kind kind) {
    switch (kind) {
        case PageAction::Kind::Type: return "type";
        case PageAction::Kind::Blur: return "blur";
        case PageAction::Kind::Click: return "click";
        case PageAction::Kind::Select: return "select";
        case PageAction::Kind::Slide: return "slide";
        case PageAction::Kind::Apply: return "apply";
        case PageAction::Kind::Reload: return "reload";
        case PageAction::Kind::Activate: return "activate";
        case PageAction::Kind::Deactivate: return "deactivate";
    }
    return "";
}

// A label as a user names it: without a trailing ":" and surrounding blanks.
std::string LabelKey(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == ':')) text.pop_back();
    size_t start = 0;
    while (start < text.size() && text[start] == ' ') ++start;
    return Lower(text.substr(start));
}

json ControlJson(const wf::ControlState& c) {
    json j = {{"id", c.id},
              {"kind", wf::KindName(c.kind)},
              {"text", c.text},
              {"enabled", c.enabled},
              {"visible", c.visible},
              {"rect", {c.rect.x, c.rect.y, c.rect.width, c.rect.height}}};
    switch (c.kind) {
        case wf::ControlKind::CheckBox:
        case wf::ControlKind::RadioButton:
            j["checked"] = c.checked != 0;
            break;
        case wf::ControlKind::DropDownList:
        case wf::ControlKind::DropDownCombo:
        case wf::ControlKind::ListBox:
            j["items"] = c.items;
            j["selection"] = c.selection;
            break;
        case wf::ControlKind::Slider:
            j["range"] = {c.rangeMin, c.rangeMax};
            j["position"] = c.position;
            j["tics"] = c.tics;
            break;
        default:
            break;
    }
    return j;
}

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

// ---- Setting up ------------------------------------------------------------------------

HostLoop::HostLoop(const Plugin& plugin, zvHandle app, const AppInfo& info)
    : plugin_(plugin), app_(app), info_(info), displays_(std::make_unique<HostDisplays>(info)),
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
}

void HostLoop::SetEventSink(EventSink sink) { emit_ = std::move(sink); }

void HostLoop::Emit(const json& event) {
    if (emit_) emit_(event);
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
    if (!station_.OpenServers(options_.files, options_.station, servers_, error)) return false;
    if (!options_.input.empty()) {
        replay_ = std::make_unique<zv::station::Replay>();
        if (!zv::station::LoadReplay(options_.input, replay_.get(), error)) return false;
    }
    if (zvFileSpaceSetRoot(options_.files.c_str()) <= 0) {
        *error = "cannot use " + options_.files.string() + " as the file space";
        return false;
    }
    // What writes interrupted before this start left behind goes now.
    zvFileSpaceSweep("\\");
    zv::files::LogCommits(true);

    std::vector<zv::station::ModeDeclaration> modes;
    for (const ModeInfo& m : info_.modes) {
        zv::station::ModeDeclaration d;
        d.name = m.name;
        for (const ParameterInfo& p : m.parameters) d.parameters.emplace_back(p.name, p.initial);
        modes.push_back(std::move(d));
    }
    connection_ = std::make_unique<zv::station::Connection>(&station_, std::move(modes));
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

// ---- The tree ------------------------------------------------------------------------------

void HostLoop::ReleaseTree(std::vector<TreeNode>* tree) {
    // Children first, so that no node outlives its parent.
    for (auto it = tree->rbegin(); it != tree->rend(); ++it) {
        if (it->node != nullptr) it->node->Release();
        it->node = nullptr;
    }
    tree->clear();
}

void HostLoop::BuildTree() {
    // An open page keeps the nodes of the tree it was opened on until it
    // closes; later trees it never saw go at once.
    const bool pageUsesTree = page_ != nullptr && !tree_.empty() && retired_.empty();
    if (pageUsesTree) {
        retired_ = std::move(tree_);
    } else {
        ReleaseTree(&tree_);
    }
    tree_.clear();
    std::string error;
    station_.ReloadSettings(&error);

    auto add = [&](TreeNode node, const hostapi::NodeInfo& info) {
        hostapi::Node* made = nullptr;
        plugin_.NodeCreate(node.type, &made);
        hostapi::Node* parent = node.parent >= 0 ? tree_[static_cast<size_t>(node.parent)].node : nullptr;
        inCall_ = true;
        try {
            if (made != nullptr) made->Init(&info, parent, site_.get());
            if (made != nullptr) {
                int32_t ids[kMaxPagesOfNode] = {};
                int32_t count = 0;
                made->GetPages(ids, &count);
                for (int32_t i = 0; i < std::clamp(count, 0, hostapi::Node::kMaxPages); ++i) node.pages.push_back(ids[i]);
            }
        } catch (const std::exception& e) {
            Emit(events::Error(std::string("the plug-in's node threw: ") + e.what()));
        }
        inCall_ = false;
        node.node = made;
        tree_.push_back(std::move(node));
        return static_cast<int32_t>(tree_.size() - 1);
    };

    TreeNode capture;
    capture.path = "Capture";
    capture.type = hostapi::kCaptureNode;
    add(capture, hostapi::NodeInfo{hostapi::kCaptureNode, 0, 0, nullptr});
    for (uint32_t serial : servers_) {
        const ServerSettingsView settings = ReadServerSettingsView(serial);
        TreeNode server;
        server.path = "SN" + std::to_string(serial);
        server.type = hostapi::kServerNode;
        server.serial = serial;
        // A server whose settings are missing, or cannot be read by the
        // plug-in or the station, offers only the page that creates them.
        server.reason = settings.problem.empty() ? StationSettingsError(serial) : settings.problem;
        if (!settings.present) server.reason = "no Settings.xml (\\SN" + std::to_string(serial) + "\\Settings.xml)";
        server.limited = !server.reason.empty();
        server.unreadable = server.limited && settings.present;
        if (!server.limited && settings.omitted > 0)
            server.reason = "its Settings.xml lists " + std::to_string(settings.sensors.size() + settings.omitted) +
                            " sensors: the tree shows the first " + std::to_string(settings.sensors.size());
        const int32_t index =
            add(server, hostapi::NodeInfo{hostapi::kServerNode, serial, server.limited ? 1u : 0u, nullptr});
        if (server.limited) continue;
        const std::vector<std::string> paths = SensorPaths(server.path, settings.sensors);
        for (size_t i = 0; i < settings.sensors.size(); ++i) {
            const SensorEntry& entry = settings.sensors[i];
            TreeNode sensor;
            sensor.path = paths[i];
            sensor.serial = serial;
            sensor.groupPath = entry.group;
            sensor.sensorName = entry.name;
            sensor.parent = index;
            // A sensor the plug-in's lookup does not find gets a node without
            // pages: a sensor node would act on another sensor.
            sensor.reason = entry.unreachable;
            sensor.type = entry.unreachable.empty() ? hostapi::kSensorNode : hostapi::kPlainNode;
            add(sensor, sensor.type == hostapi::kSensorNode
                            ? hostapi::NodeInfo{hostapi::kSensorNode, 0, hostapi::NodeInfo::Text(entry.group.c_str()),
                                                entry.name.c_str()}
                            : hostapi::NodeInfo{hostapi::kPlainNode, 0, 0, nullptr});
        }
    }
    treeWanted_ = false;
}

std::string HostLoop::StationSettingsError(uint32_t serial) const {
    for (const zv::station::Server& s : station_.Servers())
        if (s.serial == serial) return s.settingsError;
    return "";
}

// Paths are exact: on a station whose sensors are named "A" and "a", each
// path names one of them.
const TreeNode* HostLoop::FindNode(const std::string& path) const {
    for (const TreeNode& n : tree_)
        if (n.path == path) return &n;
    return nullptr;
}

std::string HostLoop::PageName(int32_t id) {
    hostapi::Page* page = nullptr;
    plugin_.PageCreate(id, &page);
    if (page == nullptr) return "";
    char name[64] = {};
    page->GetName(name, sizeof name - 1);
    page->Destroy();
    return name;
}

json HostLoop::TreeJson() {
    json nodes = json::array();
    std::map<int32_t, std::string> names;
    for (const TreeNode& n : tree_) {
        json pages = json::array();
        for (int32_t id : n.pages) {
            if (!names.count(id)) names[id] = PageName(id);
            pages.push_back({{"id", id}, {"name", names[id]}});
        }
        json j = {{"path", n.path}, {"type", n.type}, {"pages", pages}};
        static const char* const kTypes[] = {"capture", "server", "plain", "sensor"};
        if (n.type >= 0 && n.type < 4) j["kind"] = kTypes[n.type];
        if (n.type == hostapi::kServerNode) {
            j["serial"] = n.serial;
            j["limited"] = n.limited;
        }
        if (n.type == hostapi::kSensorNode || (n.type == hostapi::kPlainNode && n.parent >= 0)) {
            j["group"] = n.groupPath;
            j["sensor"] = n.sensorName;
        }
        if (!n.reason.empty()) j["reason"] = n.reason;
        if (n.parent >= 0) j["parent"] = tree_[static_cast<size_t>(n.parent)].path;
        if (n.node == nullptr) j["missing"] = true;
        nodes.push_back(j);
    }
    return events::Tree(std::move(nodes));
}

// ---- Pages -------------------------------------------------------------------------------

template <class Call>
int32_t HostLoop::CallPage(const char* what, Call&& call) {
    wf::DialogState before;
    PageState(&before);
    zv::files::TakeCommits();  // the changes of this call are those logged from here
    int32_t status = ZV_E_FAIL;
    const int64_t reportsBefore = errorReports_;
    zvLastErrorClear();  // the reason kept from here on is this call's
    inCall_ = true;
    try {
        status = call();
    } catch (const std::exception& e) {
        Emit(events::Error(std::string("the page threw: ") + e.what()));
    }
    inCall_ = false;
    ReportControls(before);
    ReportFiles();
    if (what != nullptr) Emit(events::PageCall(what, status));
    if (what != nullptr && status <= 0 && errorReports_ == reportsBefore) {
        // The page gave no reason: the one the platform kept, where the
        // operator reads the page's own reports.
        const std::string reason = zvLastErrorText();
        std::string text = std::string(what) + " failed with status " + std::to_string(status);
        text += reason.empty() ? "." : ": " + reason;
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        Emit(events::Report(true, text));
    }
    AfterPluginCall();
    return status;
}

void HostLoop::AfterPluginCall() {
    if (treeWanted_) {
        BuildTree();
        Emit(TreeJson());
    }
    ApplyRunState();
}

// `path` is a copy: closing the page before may rebuild the tree it names.
bool HostLoop::OpenPage(std::string path, const std::string& pageName, std::string* error) {
    ClosePage();
    const TreeNode* node = FindNode(path);
    if (node == nullptr) {
        std::string known;
        std::string like;
        for (const TreeNode& n : tree_) {
            known += (known.empty() ? "" : ", ") + n.path;
            if (Lower(n.path) == Lower(path)) like = n.path;
        }
        *error = "no node \"" + Shown(path, 200) + "\" in the tree (" +
                 (like.empty() ? "" : "paths are matched exactly: did you mean " + like + "? ") +
                 "the nodes are: " + known + ")";
        return false;
    }
    int32_t id = 0;
    if (!IdentifierText(pageName, &id)) {
        for (int32_t candidate : node->pages)
            if (Lower(PageName(candidate)) == Lower(pageName)) id = candidate;
    }
    // A limited server, or a sensor the plug-in's lookup does not find,
    // opens only the pages it lists, also when asked by identifier.
    const bool restricted = node->limited || (node->type == hostapi::kPlainNode && !node->reason.empty());
    const bool listed = std::find(node->pages.begin(), node->pages.end(), id) != node->pages.end();
    hostapi::Page* page = nullptr;
    if (id != 0 && (listed || !restricted)) plugin_.PageCreate(id, &page);
    if (page == nullptr) {
        std::string offered;
        for (int32_t candidate : node->pages)
            offered += (offered.empty() ? "" : ", ") + std::to_string(candidate) + " " + PageName(candidate);
        *error = "node " + node->path + " has no page \"" + Shown(pageName) + "\" (it offers: " +
                 (offered.empty() ? std::string("none") : offered) + ")" +
                 (restricted && !node->reason.empty() ? ": " + node->reason : "");
        return false;
    }
    page_ = page;
    pageId_ = id;
    pageNode_ = node->path;
    hostapi::Node* pageNode = node->node;
    char name[64] = {};
    page_->GetName(name, sizeof name - 1);
    Emit(events::PageOpened(id, name, pageNode_));
    // Why the node offers only this page, where the page's own reports go:
    // an error when the settings are there but cannot be read.
    if (node->limited && !node->reason.empty())
        Emit(events::Report(node->unreadable, pageNode_ + " is limited to its Setup page: " + node->reason, pageNode_));
    CallPage("setnode", [&] { return page_->SetNode(pageNode); });
    const int32_t created = CallPage("create", [&] { return page_->Create(site_.get()); });
    if (created <= 0) {
        hostapi::Page* failed = page_;
        page_ = nullptr;
        CallPage(nullptr, [&] { return failed->Destroy(); });
        ReleaseTree(&retired_);
        *error = "page " + std::to_string(id) + " could not make its window (status " + std::to_string(created) + ")";
        return false;
    }
    pageActive_ = true;
    CallPage("activate", [&] { return page_->Activate(); });
    return true;
}

void HostLoop::ClosePage() {
    if (page_ == nullptr) return;
    if (pageActive_) CallPage("deactivate", [&] { return page_->Deactivate(); });
    pageActive_ = false;
    // The page is gone once Destroy returns: nothing may ask it for its
    // window afterwards.
    hostapi::Page* page = page_;
    page_ = nullptr;
    CallPage("destroy", [&] { return page->Destroy(); });
    pageId_ = 0;
    pageNode_.clear();
    ReleaseTree(&retired_);
}

wf::WindowHandle HostLoop::PageWindow() const {
    if (page_ == nullptr) return nullptr;
    wf::WindowHandle window = nullptr;
    page_->GetWindow(&window);
    return window;
}

bool HostLoop::PageState(wf::DialogState* state) const {
    *state = {};
    const wf::WindowHandle window = PageWindow();
    return window != nullptr && wf::Snapshot(window, state);
}

json HostLoop::PageStateJson() const {
    wf::DialogState state;
    if (!PageState(&state)) return json::object();
    json controls = json::array();
    for (const wf::ControlState& c : state.controls) controls.push_back(ControlJson(c));
    return {{"id", pageId_}, {"node", pageNode_}, {"size", {state.rect.width, state.rect.height}},
            {"controls", controls}};
}

int32_t HostLoop::FindControl(const std::string& name) const {
    wf::DialogState state;
    if (!PageState(&state)) return -1;
    if (int32_t id = 0; IdentifierText(name, &id)) {
        for (const wf::ControlState& c : state.controls)
            if (c.id == id && id != wf::kStaticId) return id;
        return -1;
    }
    const std::string key = LabelKey(name);
    std::vector<int32_t> found;
    for (size_t i = 0; i < state.controls.size(); ++i) {
        const wf::ControlState& c = state.controls[i];
        if (LabelKey(c.text) != key) continue;
        if (c.id != wf::kStaticId && c.kind != wf::ControlKind::Static && c.kind != wf::ControlKind::GroupBox) {
            found.push_back(c.id);  // a button, box or edit named by its own text
        } else if (c.kind == wf::ControlKind::Static) {
            // A label names the control right after it.
            if (i + 1 < state.controls.size()) {
                const wf::ControlState& next = state.controls[i + 1];
                const bool text = next.kind == wf::ControlKind::Static || next.kind == wf::ControlKind::GroupBox;
                if (!text && next.id != wf::kStaticId) found.push_back(next.id);
            }
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found.size() == 1 ? found.front() : -1;
}

bool HostLoop::Act(const PageAction& action, std::string* error, wf::driver::Result* outcome) {
    wf::driver::Result ignored = wf::driver::Result::Done;
    wf::driver::Result& result = outcome != nullptr ? *outcome : ignored;
    result = wf::driver::Result::Done;
    if (page_ == nullptr) {
        *error = "no page is open";
        return false;
    }
    switch (action.kind) {
        case PageAction::Kind::Apply: CallPage("apply", [&] { return page_->Apply(); }); return true;
        case PageAction::Kind::Reload: CallPage("reload", [&] { return page_->Reload(); }); return true;
        case PageAction::Kind::Activate:
            pageActive_ = true;
            CallPage("activate", [&] { return page_->Activate(); });
            return true;
        case PageAction::Kind::Deactivate:
            pageActive_ = false;
            CallPage("deactivate", [&] { return page_->Deactivate(); });
            return true;
        default:
            break;
    }
    const wf::WindowHandle control = wf::FindControl(PageWindow(), action.control);
    if (control == nullptr || action.control == wf::kStaticId) {
        result = wf::driver::Result::NoWindow;
        *error = "page " + std::to_string(pageId_) + " has no control " + std::to_string(action.control);
        return false;
    }
    int32_t index = action.index;
    if (action.kind == PageAction::Kind::Select && index < 0) {
        wf::DialogState state;
        PageState(&state);
        for (const wf::ControlState& c : state.controls) {
            if (c.id != action.control) continue;
            for (size_t i = 0; i < c.items.size() && index < 0; ++i)
                if (c.items[i] == action.text) index = static_cast<int32_t>(i);
        }
        if (index < 0) {
            result = wf::driver::Result::NoSuchItem;
            *error = "control " + std::to_string(action.control) + " has no item \"" + Shown(action.text) + "\"";
            return false;
        }
    }
    CallPage(nullptr, [&] {
        switch (action.kind) {
            case PageAction::Kind::Type: result = wf::driver::Type(control, action.text); break;
            case PageAction::Kind::Blur: result = wf::driver::Blur(control); break;
            case PageAction::Kind::Click: result = wf::driver::Click(control); break;
            case PageAction::Kind::Select: result = wf::driver::Select(control, index); break;
            case PageAction::Kind::Slide: result = wf::driver::Slide(control, action.index); break;
            default: break;
        }
        return 1;
    });
    if (result != wf::driver::Result::Done) {
        *error = std::string(ActionName(action.kind)) + " on control " + std::to_string(action.control) + ": " +
                 wf::driver::ResultText(result);
        return false;
    }
    return true;
}

int32_t HostLoop::PageModified() {
    int32_t modified = 0;
    if (page_ != nullptr) page_->IsModified(&modified);
    return modified;
}

void HostLoop::ReportControls(const wf::DialogState& before) {
    wf::DialogState after;
    if (!PageState(&after) || after.handle != before.handle) return;
    for (size_t i = 0; i < after.controls.size() && i < before.controls.size(); ++i) {
        const json was = ControlJson(before.controls[i]);
        const json now = ControlJson(after.controls[i]);
        if (was == now) continue;
        json changes = json::object();
        for (auto it = now.begin(); it != now.end(); ++it)
            if (!was.contains(it.key()) || was[it.key()] != it.value()) changes[it.key()] = it.value();
        Emit(events::Control(after.controls[i].id, now["kind"], std::move(changes)));
    }
}

void HostLoop::ReportFiles() {
    struct Net {
        bool existed = true;  // before the first change
        zv::files::Commit::Change last = zv::files::Commit::Change::Written;
        int64_t size = -1;
    };
    std::map<std::string, Net> changed;
    for (zv::files::Commit& commit : zv::files::TakeCommits()) {
        // Pages write only the servers' files: the root and the servers' folders.
        const size_t slash = commit.path.find('/');
        uint32_t serial = 0;
        if (slash != std::string::npos &&
            (commit.path.find('/', slash + 1) != std::string::npos ||
             !zv::station::ParseServerFolder(commit.path.substr(0, slash), &serial) ||
             std::find(servers_.begin(), servers_.end(), serial) == servers_.end()))
            continue;
        auto [it, first] = changed.try_emplace(std::move(commit.path));
        if (first) it->second.existed = commit.change != zv::files::Commit::Change::Created;
        it->second.last = commit.change;
        it->second.size = commit.size;
    }
    for (const auto& [path, net] : changed) {
        const bool gone = net.last == zv::files::Commit::Change::Deleted;
        if (gone && !net.existed) continue;  // made and deleted again
        Emit(events::File(path, gone ? events::FileChange::Deleted
                                : net.existed ? events::FileChange::Written
                                              : events::FileChange::Created,
                          net.size));
    }
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
            std::error_code ec;
            const bool named = (event.on || was) && !captureFolder_.empty();
            Emit(events::Capture(event.on,
                                 named ? std::filesystem::relative(captureFolder_, options_.files, ec).string() : ""));
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
    return connection_->SetParameter(mode, name, value);
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

bool HostLoop::Step() {
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
    if (payloads.empty()) return false;
    if (Capturing()) Record(payloads);
    if (!running) {
        for (zvHandle h : payloads) zvObjectDestroy(h);
        return true;
    }
    run_.stationSeconds += made;
    const bool processed = Process(payloads);
    run_.hostSeconds += std::max(0.0, Since(t0) - (run_.stationSeconds + run_.handlerSeconds + run_.displaySeconds - others));
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

// ---- Capture ---------------------------------------------------------------------------------

void HostLoop::StartCapture() {
    if (Capturing()) return;  // switched on again: the same capture goes on
    captureFolder_ = zv::station::NewCaptureFolder(options_.files, std::time(nullptr));
    capture_ = std::make_unique<zv::station::CaptureWriter>();
    std::string error;
    if (!capture_->Open(captureFolder_, segmentBytes_, &error)) {
        Emit(events::Error("no capture: " + error));
        capture_.reset();
        captureFolder_.clear();
        return;
    }
    // The first server's station pipe delivers to the capture even when no
    // mode of the client reads it.
    if (!servers_.empty() && !replay_) station_.StartDelivery(servers_.front());
}

void HostLoop::StopCapture() {
    if (!capture_) return;
    std::string error;
    if (!capture_->Close(&error)) Emit(events::Error("the capture's last segment is lost: " + error));
    ReportSegments();
    capture_.reset();
}

void HostLoop::Record(const std::vector<zvHandle>& payloads) {
    std::string error;
    if (!capture_->WriteBatch(payloads, &error)) {
        Emit(events::Error("the capture stopped: " + error));
    } else if (!error.empty()) {
        Emit(events::Error("capture: " + error));
    }
    ReportSegments();
}

void HostLoop::ReportSegments() {
    std::error_code ec;
    for (const std::filesystem::path& segment : capture_->TakeCompleted()) {
        const auto size = static_cast<int64_t>(std::filesystem::file_size(segment, ec));
        Emit(events::File(std::filesystem::relative(segment, options_.files, ec).string(),
                          events::FileChange::Created, size));
    }
}

json HostLoop::PipesJson() const {
    json stations = json::array();
    for (const zv::station::Server& s : station_.Servers())
        stations.push_back({{"server", s.serial}, {"mode", s.pipe.mode}, {"enabled", s.pipe.enabled}});
    return {{"client", {{"mode", connection_ ? connection_->ClientMode() : ""},
                        {"enabled", connection_ ? connection_->ClientEnabled() : false}}},
            {"stations", stations},
            {"capture", connection_ ? connection_->CaptureOn() : false},
            {"layout", displays_->Layout()},
            {"playing", playing_},
            {"running", Running()}};
}

}  // namespace zvhost
