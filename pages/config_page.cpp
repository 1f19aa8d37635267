#include "pages/config_page.h"

#include <cstring>

#include "pages/torvane_app.h"
#include "zvcontrols/zvcontrols.hpp"

WF_IMPLEMENT_DYNAMIC(ConfigPage, CDialog)

ConfigPage::ConfigPage(int32_t id) : templateId_(id) {}

ConfigPage::~ConfigPage() = default;

int32_t ConfigPage::Create(hostapi::PageSite* pageSite) {
    wf::ModuleGuard guard(TorvaneModuleState());
    wf::WindowHandle parentHandle = nullptr;
    if (pageSite != nullptr) pageSite->GetParentWindow(&parentHandle);
    wf::Window* parent = wf::Window::FromHandle(parentHandle);
    // A site without a window to parent the page gets no page window.
    if (parent == nullptr || !CDialog::Create(templateId_, parent)) return kPageWindowFailed;
    site_ = pageSite;
    return 1;
}

int32_t ConfigPage::SetNode(hostapi::Node* pageNode) {
    node_ = pageNode;
    return 1;
}

int32_t ConfigPage::IsModified(int32_t* flag) {
    if (flag != nullptr) *flag = modified_;
    return 1;
}

int32_t ConfigPage::GetWindow(wf::WindowHandle* window) {
    if (window != nullptr) *window = Handle();
    return 1;
}

int32_t ConfigPage::GetName(char* buffer, int32_t length) {
    if (buffer == nullptr || length <= 0) return 1;
    // Copies the name and fills the rest with zeros: a name of `length`
    // characters or more leaves no terminator.
    std::strncpy(buffer, PageName(), static_cast<size_t>(length));
    return 1;
}

int32_t ConfigPage::Destroy() {
    wf::ModuleGuard guard(TorvaneModuleState());
    DestroyWindow();
    delete this;
    return 1;
}

void ConfigPage::ChangeNotice() {
    if (site_ != nullptr) site_->SetModified();
    modified_ = 1;
}

zvStatus ConfigPage::SwitchStationPipe(ServerNode* server, const char* mode) {
    zvHandle pipe = 0;
    server->StationPipe(&pipe);
    return zvPipeSetCurrentMode(pipe, mode);
}

zvStatus ConfigPage::LoadServerCache(ServerNode* server, int32_t force) const {
    const zvStatus status = server->LoadCachedSettings(force);
    if (status > 0) return status;
    if (status == ZV_E_NOTFOUND)
        return Report("Settings.xml of " + ServerName(server) + " is absent: create it on the server's Setup page.",
                      status);
    return ReportReadFailure(server, status);
}

zvStatus ConfigPage::SaveServerCache(ServerNode* server) const {
    const bool loaded = server->loaded != 0;
    const zvStatus status = server->SaveCachedSettings();
    if (status > 0) return status;
    if (!loaded)
        return Report("Nothing was written: the settings of " + ServerName(server) +
                          " were not read (show the page again to read them).",
                      status);
    if (status == ZV_E_NOTFOUND)
        return Report("Nothing was written: Settings.xml of " + ServerName(server) + " is absent.", status);
    return ReportFailure("Cannot write the settings of " + ServerName(server), status);
}

int32_t ConfigPage::ApplyServerCache() const {
    ServerNode* server = Server();
    if (server == nullptr) return ZV_E_STATE;
    return SaveServerCache(server);
}

zvStatus ConfigPage::ReportFailure(const std::string& what, zvStatus status) const {
    const std::string reason = zvLastErrorText();
    return Report(reason.empty() ? what + " (status " + std::to_string(status) + ")." : what + ": " + reason, status);
}

zvStatus ConfigPage::ReportReadFailure(const ServerNode* server, zvStatus status, bool unwritten) const {
    const std::string what = (unwritten ? "Nothing was written: cannot read" : "Cannot read") +
                             std::string(" the settings of ") + ServerName(server);
    if (*zvLastErrorText() == '\0') {
        // What the platform keeps no reason for, said from what the status means here.
        if (status == ZV_E_NOTFOUND) return Report(what + ": Settings.xml is absent.", status);
        if (status == 0) return Report(what + ": Settings.xml lacks an element it must have.", status);
    }
    return ReportFailure(what, status);
}

zvStatus ConfigPage::Report(const std::string& text, zvStatus status) const {
    if (site_ != nullptr) site_->ReportError(text.c_str());
    return status;
}

zvStatus ConfigPage::ReportMissingSensor() const {
    const SensorNode* node = Sensor();
    const std::string name = node != nullptr && node->sensorName != nullptr ? node->sensorName : "";
    const std::string group = node != nullptr && node->groupPath != nullptr ? node->groupPath : "";
    return Report(
        "Sensor \"" + name + "\" of group \"" + group + "\" is not in the settings of " + ServerName(Server()) + ".",
        ZV_E_NOTFOUND);
}

std::string ConfigPage::ServerName(const ServerNode* server) {
    return server != nullptr ? "server " + std::to_string(server->serialNumber) : "the page's server";
}

zvStatus ConfigPage::Client(zvHandle* client) const {
    *client = 0;
    if (site_ == nullptr) return ZV_E_STATE;
    return site_->GetClient(client);
}

zvStatus ConfigPage::ClientPipe(zvHandle* pipe) const {
    *pipe = 0;
    zvHandle client = 0;
    const zvStatus status = Client(&client);
    if (status <= 0) return status;
    return zvClientGetPipeHandle(client, pipe);
}

zvMultiView* ConfigPage::DisplayForDrawing(int32_t layout) const {
    if (site_ == nullptr) return nullptr;
    hostapi::DisplaySet* displays = nullptr;
    site_->GetDisplays(&displays);
    if (displays == nullptr) return nullptr;
    displays->SelectLayout(layout);
    hostapi::Display* display = nullptr;
    displays->GetDisplay(0, &display);
    if (display == nullptr) return nullptr;
    zvMultiView* view = nullptr;
    display->GetMultiView(&view);
    if (view == nullptr) return nullptr;
    zvChart* chart = view->GetInnerControl();
    chart->SetXAxisText("mils");
    chart->SetYAxisText("mils");
    return view;
}

zvStatus ConfigPage::CreateIntegerList(zvHandle* list) {
    zvStatus status = zvArrayListCreate(list, 0);
    if (status > 0) status = zvArrayListInit(*list, ZV_TYPE_UINT32, 0, 1);
    return status;
}

zvStatus ConfigPage::SetIntegerItem(zvHandle list, int32_t index, int32_t value) {
    auto* item = static_cast<int32_t*>(zvArrayListAt(list, index));
    if (item == nullptr) return ZV_E_RANGE;
    *item = value;
    return 1;
}

std::string ConfigPage::ControlText(int32_t id) const {
    const wf::Window* control = GetDlgItem(id);
    return control != nullptr ? control->GetWindowText() : std::string();
}

void ConfigPage::SetControlText(int32_t id, const std::string& text) {
    if (wf::Window* control = GetDlgItem(id)) control->SetWindowText(text.c_str());
}
