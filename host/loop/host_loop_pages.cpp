// The host loop's pages: opening one on a node, the user's actions on its
// controls, and what each call into it changed (controls, files).
#include <algorithm>
#include <cctype>
#include <exception>
#include <map>

#include "host_loop.hpp"
#include "text.hpp"
#include "zvapi/zv_file_commits.hpp"

namespace zvhost {

using nlohmann::json;

namespace {

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
    json j = {{"id", c.id},           {"kind", wf::KindName(c.kind)},
              {"text", c.text},       {"enabled", c.enabled},
              {"visible", c.visible}, {"rect", {c.rect.x, c.rect.y, c.rect.width, c.rect.height}}};
    switch (c.kind) {
        case wf::ControlKind::CheckBox:
        case wf::ControlKind::RadioButton: j["checked"] = c.checked != 0; break;
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
        default: break;
    }
    return j;
}

}  // namespace

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
    // Taken before the host's own file-space calls leave theirs.
    const std::string reason = status <= 0 ? zvLastErrorText() : "";
    ReportControls(before);
    ReportFiles();
    if (what != nullptr) Emit(events::PageCall(what, status));
    if (what != nullptr && status <= 0 && errorReports_ == reportsBefore) {
        // The page gave no reason: the one the platform kept, where the
        // operator reads the page's own reports.
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
    // What a page's call to a server on the network met (a failure, the
    // server lost) is told after the call.
    Watch();
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
    if (page_ != nullptr &&
        (path != pageNode_ || selected == nullptr || selected->node != liveNode_ || !retired_.empty()))
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
        Emit(events::PageOpened(id, name, pageNode_));
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
        *error = "node " + node->path + " has no page \"" + Shown(pageName) +
                 "\" (it offers: " + (offered.empty() ? std::string("none") : offered) + ")" +
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
    Emit(events::PageOpened(id, name, pageNode_));
    // Why the node offers only this page, where the page's own reports go:
    // an error when the settings are there but cannot be read.
    if (node != nullptr && node->limited && !node->reason.empty())
        Emit(events::Report(node->unreadable, pageNode_ + " is limited to its Setup page: " + node->reason, pageNode_));
    CallPage("setnode", [&] { return page_->SetNode(pageNode); });
    const int32_t created = CallPage("create", [&] { return page_->Create(SiteForPlugin()); });
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
    return {
        {"id", pageId_}, {"node", pageNode_}, {"size", {state.rect.width, state.rect.height}}, {"controls", controls}};
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

// Long: one case per page action; the control actions share their look-up of the control.
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
        default: break;
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
        if (slash != std::string::npos && (commit.path.find('/', slash + 1) != std::string::npos ||
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
        Emit(events::File(path,
                          gone          ? events::FileChange::Deleted
                          : net.existed ? events::FileChange::Written
                                        : events::FileChange::Created,
                          net.size));
    }
}

}  // namespace zvhost
