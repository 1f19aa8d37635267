#include "host_loop.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <exception>
#include <system_error>

#include "render.hpp"
#include "server_settings.hpp"
#include "session.hpp"
#include "station_file.hpp"
#include "text.hpp"
#include "zvapi/zv_file_space.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

constexpr int32_t kMaxPagesOfNode = 16;  // room beyond the interface's six, for a node that lists more
constexpr int kPlayStepLimit = 1000000;  // a bound on one Play's batches

json PipeJson(uint32_t server) {
    json j = {{"pipe", server == ZV_CLIENT_PIPE ? "client" : "station"}};
    if (server != ZV_CLIENT_PIPE) j["server"] = server;
    return j;
}

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

// A copy of `plot` whose axes carry the chart's axis texts (where it has
// them); null when the chart has none or the copy cannot be made.
zvHandle WithChartAxes(zvHandle plot, const zvChart& chart) {
    if (chart.XAxisText().empty() && chart.YAxisText().empty()) return nullptr;
    zvHandle copy = nullptr;
    if (zvDataClone(plot, nullptr, &copy) <= 0) return nullptr;
    if (!chart.XAxisText().empty()) zvPlotSetXTitle(copy, chart.XAxisText().c_str());
    if (!chart.YAxisText().empty()) zvPlotSetYTitle(copy, chart.YAxisText().c_str());
    return copy;
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
        loop_->Emit({{"event", "report"}, {"kind", "error"}, {"text", text ? text : ""}});
        return 1;
    }
    int32_t ReportText(const char* text) override {
        loop_->Emit({{"event", "report"}, {"kind", "text"}, {"text", text ? text : ""}});
        return 1;
    }
    int32_t Reserved4() override { return 1; }
    int32_t NotifyHost() override {
        loop_->Emit({{"event", "notify"}});
        loop_->treeWanted_ = true;
        return 1;
    }
    int32_t SetModified() override {
        if (LivePage* page = loop_->Current()) page->modified = true;
        loop_->Emit({{"event", "modified"}});
        return 1;
    }
    int32_t GetDisplays(hostapi::DisplaySet** displays) override {
        if (displays == nullptr) return ZV_E_ARGUMENT;
        *displays = loop_->displays_.get();
        return 1;
    }
    int32_t GetClient(zvHandle* client) override {
        if (client == nullptr) return ZV_E_ARGUMENT;
        *client = loop_->client_;
        return loop_->client_ != nullptr ? 1 : ZV_E_STATE;
    }

private:
    HostLoop* loop_;
};

// ---- Setting up ------------------------------------------------------------------------

HostLoop::HostLoop(const Plugin& plugin, zvHandle app, const AppInfo& info)
    : plugin_(plugin), app_(app), info_(info), displays_(std::make_unique<HostDisplays>(info)) {
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
    if (client_ != nullptr) zvClientDestroy(client_);
    if (window_ != nullptr) wf::DestroyHostWindow(window_);
    wf::SetMessageBoxHandler(nullptr);
}

void HostLoop::SetEventSink(EventSink sink) { emit_ = std::move(sink); }

void HostLoop::Emit(const json& event) {
    if (recording_) {
        const std::string kind = event.value("event", "");
        if (kind == "file" && event.value("change", "") != "deleted") outcome_["files"].push_back(event["path"]);
        if (kind == "report")
            outcome_[event.value("kind", "") == "error" ? "errors" : "texts"].push_back(event.value("text", ""));
    }
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
                 " declares no server: run zvhost init --files DIR --servers LIST, or add SN<serial> folders "
                 "holding a Settings.xml";
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
    if (!station_.OpenServers(options_.files, options_.station, servers_, error)) return false;
    if (!options_.input.empty()) {
        replay_ = std::make_unique<zv::station::Replay>();
        if (!zv::station::LoadReplay({options_.input}, replay_.get(), error)) return false;
        for (const std::string& note : replay_->Notes()) Emit({{"event", "error"}, {"text", "replay: " + note}});
    }

    std::vector<zv::station::ModeDeclaration> modes;
    for (const ModeInfo& m : info_.modes) {
        zv::station::ModeDeclaration d;
        d.name = m.name;
        for (const ParameterInfo& p : m.parameters) d.parameters.emplace_back(p.name, p.initial);
        modes.push_back(std::move(d));
    }
    connection_ = std::make_unique<zv::station::Connection>(&station_, std::move(modes));
    connection_->SetListener([this](const zv::station::PipeEvent& event) { OnPipeEvent(event); });
    zvStatus status = zvClientCreate(&client_);
    if (status > 0) status = connection_->Attach(client_);
    if (status <= 0) {
        *error = "cannot make the client (status " + std::to_string(status) + ")";
        return false;
    }
    runner_ = std::make_unique<zv::runner::ModeRunner>(app_, client_);
    runner_->SetReadHook([this](const zv::runner::ReadRequest& request) -> zvStatus {
        Emit({{"event", "read"}, {"mode", request.mode}, {"server", request.serverId}});
        if (replay_) return ZV_OK;
        return station_.StartDelivery(request.serverId);
    });
    runner_->SetOutputObserver([this](const zv::runner::Output& o) {
        json event = {{"event", "output"}, {"mode", o.mode}, {"display", o.display}, {"kind", o.displayKind},
                      {"routed", o.routed}, {"label", o.label}};
        // Only printed JSON shows it: the text printer and the browser's
        // log leave output events out, and a batch may hold many outputs.
        if (options_.describeOutputs) event["content"] = DescribeOutput(o.object);
        Emit(event);
        HostDisplay* display = o.routed ? displays_->Find(o.mode, o.display) : nullptr;
        if (display == nullptr) {
            zvPipeEngineRelease(runner_->Engine(), o.object);
            return;
        }
        display->TakeOutput(runner_->Engine(), o.object);
    });

    window_ = wf::CreateHostWindow("zvhost");
    if (window_ == nullptr) {
        *error = "cannot make the host's window";
        return false;
    }
    wf::SetMessageBoxHandler([this](const wf::MessageBoxRequest& request) -> int32_t {
        const int32_t answer = answerer_ ? answerer_(request) : FirstButton(request.type);
        Emit({{"event", "messagebox"}, {"text", request.text}, {"caption", request.caption},
              {"type", request.type}, {"answer", ButtonName(answer)}});
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
            Emit({{"event", "error"}, {"text", std::string("the plug-in's node threw: ") + e.what()}});
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
    return {{"event", "tree"}, {"nodes", nodes}};
}

// ---- Pages -------------------------------------------------------------------------------

template <class Call>
int32_t HostLoop::CallPage(const char* what, Call&& call) {
    wf::DialogState before;
    PageState(&before);
    const std::map<std::string, FileStamp> files = StampFiles();
    int32_t status = ZV_E_FAIL;
    const int64_t reportsBefore = errorReports_;
    zvLastErrorClear();  // the reason kept from here on is this call's
    inCall_ = true;
    try {
        status = call();
    } catch (const std::exception& e) {
        Emit({{"event", "error"}, {"text", std::string("the page threw: ") + e.what()}});
    }
    inCall_ = false;
    // Taken before the host's own file-space calls leave theirs.
    const std::string reason = status <= 0 ? zvLastErrorText() : "";
    ReportControls(before);
    ReportFiles(files);
    if (what != nullptr) Emit({{"event", "page"}, {"action", what}, {"status", status}});
    if (what != nullptr && status <= 0 && errorReports_ == reportsBefore) {
        // The page gave no reason: the one the platform kept, where the
        // operator reads the page's own reports.
        std::string text = std::string(what) + " failed with status " + std::to_string(status);
        text += reason.empty() ? "." : ": " + reason;
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        Emit({{"event", "report"}, {"kind", "error"}, {"text", text}});
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

HostLoop::LivePage* HostLoop::Current() {
    for (LivePage& live : live_)
        if (live.page == page_ && page_ != nullptr) return &live;
    return nullptr;
}

// `path` is a copy: closing the page before may rebuild the tree it names.
bool HostLoop::OpenPage(std::string path, const std::string& pageName, std::string* error) {
    // The node's pages stay only while they were made for the node the
    // tree has now.
    const TreeNode* selected = FindNode(path);
    if (page_ != nullptr && (path != pageNode_ || selected == nullptr || selected->node != liveNode_ ||
                             !retired_.empty()))
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
    if (page_ != nullptr && id == pageId_) return true;
    for (LivePage& live : live_) {
        if (live.id != id) continue;
        // Made before: the open page steps back and this one comes forward.
        if (pageActive_) CallPage("deactivate", [&] { return page_->Deactivate(); });
        page_ = live.page;
        pageId_ = id;
        outcome_ = nullptr;
        char name[64] = {};
        page_->GetName(name, sizeof name - 1);
        Emit({{"event", "page"}, {"action", "open"}, {"id", id}, {"name", name}, {"node", pageNode_}});
        pageActive_ = true;
        CallPage("activate", [&] { return page_->Activate(); });
        return true;
    }
    // A limited server, or a sensor the plug-in's lookup does not find,
    // opens only the pages it lists, also when asked by identifier.
    const bool restricted = node->limited || (node->type == hostapi::kPlainNode && !node->reason.empty());
    const bool listed = std::find(node->pages.begin(), node->pages.end(), id) != node->pages.end();
    if (id == 0 || (!listed && restricted) || !MakePage(id, node->node, error)) {
        if (!error->empty()) return false;
        std::string offered;
        for (int32_t candidate : node->pages)
            offered += (offered.empty() ? "" : ", ") + std::to_string(candidate) + " " + PageName(candidate);
        *error = "node " + node->path + " has no page \"" + Shown(pageName) + "\" (it offers: " +
                 (offered.empty() ? std::string("none") : offered) + ")" +
                 (restricted && !node->reason.empty() ? ": " + node->reason : "");
        return false;
    }
    return true;
}

// Makes page `id` for `node` and opens it, beside the node's pages made
// before. False with `*error` empty when the plug-in makes no such page.
bool HostLoop::MakePage(int32_t id, hostapi::Node* pageNode, std::string* error) {
    error->clear();
    hostapi::Page* page = nullptr;
    plugin_.PageCreate(id, &page);
    if (page == nullptr) return false;
    const TreeNode* node = nullptr;
    for (const TreeNode& n : tree_)
        if (n.node == pageNode) node = &n;
    const std::string path = node != nullptr ? node->path : pageNode_;
    hostapi::Page* before = page_;
    if (before != nullptr && pageActive_) CallPage("deactivate", [&] { return before->Deactivate(); });
    pageActive_ = false;
    page_ = page;
    pageId_ = id;
    pageNode_ = path;
    liveNode_ = pageNode;
    outcome_ = nullptr;
    live_.push_back({id, page, false});
    char name[64] = {};
    page_->GetName(name, sizeof name - 1);
    Emit({{"event", "page"}, {"action", "open"}, {"id", id}, {"name", name}, {"node", pageNode_}});
    // Why the node offers only this page, where the page's own reports go:
    // an error when the settings are there but cannot be read.
    if (node != nullptr && node->limited && !node->reason.empty())
        Emit({{"event", "report"}, {"kind", node->unreadable ? "error" : "text"}, {"node", pageNode_},
              {"text", pageNode_ + " is limited to its Setup page: " + node->reason}});
    CallPage("setnode", [&] { return page_->SetNode(pageNode); });
    const int32_t created = CallPage("create", [&] { return page_->Create(site_.get()); });
    if (created <= 0) {
        live_.pop_back();
        page_ = nullptr;
        CallPage(nullptr, [&] { return page->Destroy(); });
        *error = "page " + std::to_string(id) + " could not make its window (status " + std::to_string(created) + ")";
        if (before != nullptr) {
            // The page open before comes back.
            page_ = before;
            for (const LivePage& live : live_)
                if (live.page == before) pageId_ = live.id;
            pageActive_ = true;
            CallPage("activate", [&] { return page_->Activate(); });
        } else {
            pageId_ = 0;
            pageNode_.clear();
            liveNode_ = nullptr;
            ReleaseTree(&retired_);
        }
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
    // A page is gone once Destroy returns: nothing may ask it for its
    // window afterwards.
    std::vector<LivePage> pages = std::move(live_);
    live_.clear();
    page_ = nullptr;
    for (const LivePage& live : pages) CallPage("destroy", [&] { return live.page->Destroy(); });
    pageId_ = 0;
    pageNode_.clear();
    liveNode_ = nullptr;
    outcome_ = nullptr;
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
        case PageAction::Kind::Apply: CallRecorded("apply", [&] { return page_->Apply(); }); return true;
        case PageAction::Kind::Reload: CallRecorded("reload", [&] { return page_->Reload(); }); return true;
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
    const LivePage* page = Current();
    return page != nullptr && page->modified ? 1 : 0;
}

template <class Call>
void HostLoop::CallRecorded(const char* what, Call&& call) {
    outcome_ = {{"action", what}, {"files", json::array()}, {"errors", json::array()}, {"texts", json::array()}};
    recording_ = true;
    int32_t status = ZV_E_FAIL;
    try {
        status = CallPage(what, call);
    } catch (...) {
        recording_ = false;
        throw;
    }
    recording_ = false;
    outcome_["status"] = status;
    outcome_["ok"] = status > 0;
    outcome_["seq"] = ++outcomes_;
    // Applied or read again: what the page shows is what its files hold.
    if (LivePage* page = Current(); page != nullptr && status > 0) page->modified = false;
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
        Emit({{"event", "control"}, {"id", after.controls[i].id}, {"kind", now["kind"]}, {"changes", changes}});
    }
}

std::map<std::string, HostLoop::FileStamp> HostLoop::StampFiles() const {
    // Pages write only the servers' files: the root and the servers'
    // folders, looked at through the file space, so that a folder that leads
    // out of it is never reported on, and paths are the space's own.
    std::map<std::string, FileStamp> stamps;
    std::vector<std::string> folders = {""};
    for (const zv::station::Server& server : station_.Servers())
        if (!server.folder.empty()) folders.push_back(server.folder + "/");
    for (const std::string& folder : folders) {
        std::vector<zv::files::Entry> entries;
        if (zv::files::ListFolder(folder.empty() ? "\\" : folder, &entries) <= 0) continue;
        for (const zv::files::Entry& entry : entries) {
            if (entry.kind != zv::files::Entry::Kind::kFile || entry.name[0] == '.') continue;
            stamps[folder + entry.name] = {entry.size, entry.modified, entry.inode};
        }
    }
    return stamps;
}

void HostLoop::ReportFiles(const std::map<std::string, FileStamp>& before) {
    const std::map<std::string, FileStamp> after = StampFiles();
    for (const auto& [path, stamp] : after) {
        auto it = before.find(path);
        if (it == before.end() || !(it->second == stamp))
            Emit({{"event", "file"}, {"path", path}, {"change", it == before.end() ? "created" : "written"},
                  {"size", stamp.size}});
    }
    for (const auto& [path, stamp] : before)
        if (!after.count(path)) Emit({{"event", "file"}, {"path", path}, {"change", "deleted"}});
}

// ---- Pipes and runs ----------------------------------------------------------------------------

void HostLoop::OnPipeEvent(const zv::station::PipeEvent& event) {
    json j = PipeJson(event.server);
    switch (event.kind) {
        case zv::station::PipeEvent::Kind::Mode:
            j["event"] = "mode";
            j["mode"] = event.mode;
            if (event.server == ZV_CLIENT_PIPE) {
                displays_->SetMode(event.mode);
                failedStart_.clear();
            }
            break;
        case zv::station::PipeEvent::Kind::Enabled:
            j["event"] = "enabled";
            j["on"] = event.on;
            if (event.server == ZV_CLIENT_PIPE) failedStart_.clear();
            break;
        case zv::station::PipeEvent::Kind::Parameters: {
            j["event"] = "parameters";
            j["mode"] = event.mode;
            j["values"] = event.values;
            const ModeInfo* mode = info_.Find(event.mode);
            json names = json::array();
            for (size_t i = 0; mode != nullptr && i < mode->parameters.size(); ++i) {
                names.push_back(mode->parameters[i].name);
                if (event.server != ZV_CLIENT_PIPE || i >= event.values.size()) continue;
                // The station's pipes see the client's values by name (the
                // Video mode delivers the selected sensor's camera).
                for (uint32_t serial : servers_)
                    station_.SetParameter(serial, mode->parameters[i].name, event.values[i]);
            }
            j["names"] = names;
            if (event.server == ZV_CLIENT_PIPE && runner_) runner_->SetParameters(event.mode, event.values);
            break;
        }
        case zv::station::PipeEvent::Kind::Capture: {
            j = {{"event", "capture"}, {"on", event.on}};
            const bool was = Capturing();
            if (event.on) {
                StartCapture();
            } else {
                StopCapture();
            }
            if ((event.on || was) && !captureSpaceFolder_.empty()) j["folder"] = captureSpaceFolder_;
            break;
        }
        case zv::station::PipeEvent::Kind::SegmentSize:
            j = {{"event", "capture"}, {"segmentSize", event.bytes}};
            segmentBytes_ = event.bytes;
            if (capture_) capture_->SetSegmentSize(event.bytes);  // from the next segment on
            break;
    }
    Emit(j);
    // Runs start and stop once the page's call has returned.
    if (!inCall_) ApplyRunState();
}

void HostLoop::ApplyRunState() {
    if (!runner_) return;
    const std::string& mode = connection_->ClientMode();
    const bool wanted = playing_ && connection_->ClientEnabled() && !mode.empty() && failedStart_ != mode;
    if (runner_->Running() && (!wanted || runner_->RunningMode() != mode)) StopRun();
    if (wanted && !runner_->Running()) StartRun(mode);
}

void HostLoop::StartRun(const std::string& mode) {
    // The station simulates every server from its settings: one that cannot
    // read a server's stops the mode before it starts, with the reason.
    std::string error;
    station_.ReloadSettings(&error);
    if (const std::string why = UnreadSettings(station_); !why.empty()) {
        failedStart_ = mode;
        Emit({{"event", "error"}, {"text", "mode \"" + mode + "\" cannot run: " + why}});
        return;
    }
    displays_->ForgetOutputs();
    runner_->Reset();
    const std::vector<int32_t> values = connection_->Parameters(mode);
    runner_->SetParameters(mode, values);
    // The Video mode keeps its masks in the folder of the sensor it shows.
    if (mode == "Video" && !values.empty() && values[0] != 0) MakeSensorFolder(options_.files, static_cast<uint32_t>(values[0]));
    inCall_ = true;
    zvLastErrorClear();
    const zvStatus status = runner_->Start(mode);
    const std::string reason = status <= 0 ? zvLastErrorText() : "";
    inCall_ = false;
    Drain();
    if (status <= 0) {
        failedStart_ = mode;
        Emit({{"event", "error"}, {"text", "the start handler of mode \"" + mode + "\" returned " + std::to_string(status) +
                                               (reason.empty() ? "" : ": " + reason)}});
    }
}

void HostLoop::StopRun() {
    inCall_ = true;
    runner_->Stop();
    inCall_ = false;
    Drain();
}

void HostLoop::Drain() {
    for (const std::string& text : runner_->Prints()) Emit({{"event", "console"}, {"text", text}});
    for (const zv::runner::HandlerCall& call : runner_->Calls())
        Emit({{"event", "handler"}, {"mode", call.mode}, {"phase", zv::runner::PhaseName(call.phase)},
              {"status", call.status}});
    runner_->ClearRecords();
}

void HostLoop::SetPlaying(bool playing) {
    if (playing_ == playing) return;
    playing_ = playing;
    failedStart_.clear();
    Emit({{"event", "play"}, {"on", playing}});
    ApplyRunState();
}

bool HostLoop::Step() {
    if (!Delivering()) return false;
    const bool running = Running();
    std::vector<zvHandle> payloads;
    const zvStatus status = replay_ ? replay_->NextBatch(&payloads) : station_.NextBatch(&payloads);
    if (status <= 0) {
        for (zvHandle h : payloads) zvObjectDestroy(h);
        Emit({{"event", "error"}, {"text", "the station could not make a batch (status " + std::to_string(status) + ")"}});
        return false;
    }
    if (payloads.empty()) return false;
    if (Capturing()) Record(payloads);
    if (!running) {
        for (zvHandle h : payloads) zvObjectDestroy(h);
        return true;
    }
    inCall_ = true;
    runner_->ProcessPayloads(payloads);
    inCall_ = false;
    Drain();
    AfterPluginCall();
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
    Emit({{"event", "played"}, {"mode", mode}, {"batches", batches}, {"seconds", station_.Time() - start}});
    SetPlaying(false);
}

double HostLoop::BatchPeriod() const {
    const double period = zv::station::Station::Period(DeliveringMode());
    return period > 0 ? period : 0.1;
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
    std::string error;
    captureSpaceFolder_ = zv::station::NewCaptureFolder(std::time(nullptr), &error);
    captureFolder_ = options_.files / captureSpaceFolder_;
    capture_ = std::make_unique<zv::station::CaptureWriter>();
    if (captureSpaceFolder_.empty() || !capture_->Open(captureSpaceFolder_, segmentBytes_, &error)) {
        Emit({{"event", "error"}, {"text", "no capture: " + error}});
        capture_.reset();
        captureFolder_.clear();
        captureSpaceFolder_.clear();
        return;
    }
    recordingState_ = {{"folder", captureSpaceFolder_}, {"on", true}, {"batches", 0}, {"bytes", 0},
                       {"segments", json::array()}};
    // The first server's station pipe delivers to the capture even when no
    // mode of the client reads it.
    if (!servers_.empty() && !replay_) station_.StartDelivery(servers_.front());
}

void HostLoop::StopCapture() {
    if (!capture_) return;
    std::string error;
    if (!capture_->Close(&error)) Emit({{"event", "error"}, {"text", "the capture's last segment is lost: " + error}});
    ReportSegments();
    if (recordingState_.is_object()) {
        recordingState_["on"] = false;
        recordingState_["batches"] = capture_->Batches();
    }
    capture_.reset();
}

void HostLoop::Record(const std::vector<zvHandle>& payloads) {
    std::string error;
    if (!capture_->WriteBatch(payloads, &error)) {
        Emit({{"event", "error"}, {"text", "the capture stopped: " + error}});
    } else if (!error.empty()) {
        Emit({{"event", "error"}, {"text", "capture: " + error}});
    }
    ReportSegments();
}

void HostLoop::ReportSegments() {
    constexpr size_t kSegmentsShown = 20;
    for (const zv::station::CaptureWriter::Segment& segment : capture_->TakeCompleted()) {
        Emit({{"event", "file"}, {"path", segment.path}, {"change", "created"}, {"size", segment.bytes}});
        if (!recordingState_.is_object()) continue;
        recordingState_["bytes"] = recordingState_["bytes"].get<int64_t>() + segment.bytes;
        json& segments = recordingState_["segments"];
        segments.push_back(segment.path);
        if (segments.size() > kSegmentsShown) segments.erase(segments.begin());
    }
}

void HostLoop::RecoverFileSpace() {
    for (const zv::station::Recovered& r : zv::station::RecoverCaptures()) Emit(RecoveryEvent(r));
    // What other writes interrupted before this start left behind goes now.
    zvFileSpaceSweep("\\");
}

json HostLoop::RecordingJson() const {
    json recording = recordingState_;
    if (capture_ && recording.is_object()) recording["batches"] = capture_->Batches();
    return recording;
}

json HostLoop::PipesJson() const {
    json stations = json::array();
    for (const zv::station::Server& s : station_.Servers())
        stations.push_back({{"server", s.serial}, {"mode", s.pipe.mode}, {"enabled", s.pipe.enabled}});
    return {{"client", {{"mode", connection_ ? connection_->ClientMode() : ""},
                        {"enabled", connection_ ? connection_->ClientEnabled() : false}}},
            {"stations", stations},
            {"capture", connection_ ? connection_->CaptureOn() : false},
            {"recording", RecordingJson()},
            {"layout", displays_->Layout()},
            {"playing", playing_},
            {"running", Running()}};
}

bool HostLoop::WriteDisplays(const std::filesystem::path& dir, std::vector<std::string>* written, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        *error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    const std::string mode = connection_->ClientMode();
    for (HostDisplay* display : displays_->Of(mode)) {
        const zvHandle showing = display->Showing();
        if (showing == nullptr) continue;
        // A page's drawing shows with the axis texts the page gave the chart.
        zvHandle titled = showing == display->View().Shown() ? WithChartAxes(showing, *display->View().GetInnerControl()) : nullptr;
        const zvHandle picture = titled != nullptr ? titled : showing;
        zv::runner::Output o{mode, display->Name(), display->Kind(), true, display->Name(), zvObjectType(picture), picture};
        const bool ok = WriteOutput(dir, mode, o, written, error);
        if (titled != nullptr) zvPlotDestroy(titled);
        if (!ok) return false;
    }
    return true;
}

}  // namespace zvhost
