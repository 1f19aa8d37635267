#include "page_host.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "pages/page_factory.h"
#include "plugin/station_access.h"
#include "torvane/describe_pipe_app.h"

namespace pagetest {

int32_t TestDisplays::SelectLayout(int32_t layout) {
    host_->log.push_back("SelectLayout " + std::to_string(layout));
    return 1;
}

int32_t TestDisplays::GetDisplay(int32_t index, hostapi::Display** out) {
    *out = nullptr;
    if (index < 0 || index > 1) return ZV_E_RANGE;
    *out = &display[index];
    return 1;
}

int32_t TestDisplays::AddDisplayListener(int32_t index, hostapi::DisplayListener* listener) {
    host_->log.push_back("AddDisplayListener " + std::to_string(index));
    listeners.emplace_back(index, listener);
    return 1;
}

int32_t TestDisplays::RemoveDisplayListener(int32_t index, hostapi::DisplayListener* listener) {
    host_->log.push_back("RemoveDisplayListener " + std::to_string(index));
    auto it = std::find(listeners.begin(), listeners.end(), std::make_pair(index, listener));
    if (it == listeners.end()) return ZV_E_NOTFOUND;
    listeners.erase(it);
    return 1;
}

PageHost::PageHost(const std::filesystem::path& root, std::vector<uint32_t> servers) {
    std::string error;
    if (!station.OpenServers(root, {}, servers, &error)) ADD_FAILURE() << error;
    EXPECT_GT(DescribePipeApp(&app), 0);
    std::vector<zv::station::ModeDeclaration> modes;
    for (int32_t i = 0; i < zvPipeAppModeCount(app); ++i) {
        zvHandle mode = zvPipeAppModeAt(app, i);
        zv::station::ModeDeclaration d;
        d.name = zvPipeModeName(mode);
        for (int32_t p = 0; p < zvPipeModeParameterCount(mode); ++p)
            d.parameters.emplace_back(zvPipeModeParameterName(mode, p), zvPipeModeParameterInitial(mode, p));
        modes.push_back(std::move(d));
    }
    connection = std::make_unique<zv::station::Connection>(&station, std::move(modes));
    connection->SetListener([this](const zv::station::PipeEvent& e) {
        const std::string pipe = e.server == ZV_CLIENT_PIPE ? "client" : "SN" + std::to_string(e.server);
        switch (e.kind) {
            case zv::station::PipeEvent::Kind::Mode: log.push_back("mode " + pipe + " " + e.mode); break;
            case zv::station::PipeEvent::Kind::Enabled: log.push_back("enabled " + pipe + (e.on ? " 1" : " 0")); break;
            case zv::station::PipeEvent::Kind::Parameters: {
                std::string text = "parameters " + pipe + " " + e.mode;
                for (int32_t v : e.values) text += " " + std::to_string(v);
                log.push_back(text);
                break;
            }
            case zv::station::PipeEvent::Kind::Capture:
                log.push_back(std::string("capture ") + (e.on ? "1" : "0"));
                break;
            case zv::station::PipeEvent::Kind::SegmentSize: log.push_back("segment " + std::to_string(e.bytes)); break;
        }
    });
    EXPECT_GT(zvClientCreate(&client), 0);
    EXPECT_GT(connection->Attach(client), 0);
    window = wf::CreateHostWindow("test host");
    wf::SetMessageBoxHandler([this](const wf::MessageBoxRequest& request) {
        log.push_back("MessageBox " + request.text);
        return wf::kIdOk;
    });
}

PageHost::~PageHost() {
    for (auto it = pages_.rbegin(); it != pages_.rend(); ++it) (*it)->Destroy();
    for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) (*it)->Release();
    wf::SetMessageBoxHandler(nullptr);
    wf::DestroyHostWindow(window);
    zvClientDestroy(client);
    zvPipeAppDestroy(app);
}

int32_t PageHost::GetParentWindow(wf::WindowHandle* out) {
    *out = giveWindow ? window : reinterpret_cast<wf::WindowHandle>(static_cast<uintptr_t>(0xdead));
    return 1;
}

int32_t PageHost::ReportError(const char* text) {
    log.push_back(std::string("ReportError ") + text);
    return 1;
}

int32_t PageHost::ReportText(const char* text) {
    log.push_back(std::string("ReportText ") + text);
    return 1;
}

int32_t PageHost::NotifyHost() {
    log.push_back("NotifyHost");
    return 1;
}

int32_t PageHost::SetModified() {
    log.push_back("SetModified");
    return 1;
}

int32_t PageHost::GetDisplays(hostapi::DisplaySet** out) {
    *out = &displays;
    return 1;
}

int32_t PageHost::GetClient(zvHandle* out) {
    *out = client;
    return 1;
}

hostapi::Node* PageHost::Node(int32_t type, const hostapi::NodeInfo& info, hostapi::Node* parent) {
    hostapi::Node* node = NodeCreate(type);
    if (node == nullptr) {
        ADD_FAILURE() << "no node of type " << type;
        return nullptr;
    }
    node->Init(&info, parent, this);
    nodes_.push_back(node);
    return node;
}

hostapi::Node* PageHost::ServerNode(uint32_t serial, bool limited) {
    return Node(hostapi::kServerNode, {hostapi::kServerNode, serial, limited ? 1u : 0u, nullptr}, nullptr);
}

hostapi::Node* PageHost::SensorNode(hostapi::Node* server, const std::string& groupPath, const std::string& name) {
    return Node(hostapi::kSensorNode,
                {hostapi::kSensorNode, 0, hostapi::NodeInfo::Text(groupPath.c_str()), name.c_str()}, server);
}

hostapi::Page* PageHost::OpenPage(int32_t id, hostapi::Node* node) {
    hostapi::Page* page = PageFactory(id);
    if (page == nullptr) {
        ADD_FAILURE() << "no page " << id;
        return nullptr;
    }
    page->SetNode(node);
    EXPECT_EQ(page->Create(this), 1);
    pages_.push_back(page);
    return page;
}

void PageHost::ForgetPage(hostapi::Page* page) { std::erase(pages_, page); }

wf::WindowHandle PageHost::Control(hostapi::Page* page, int32_t id) const {
    wf::WindowHandle dialog = nullptr;
    page->GetWindow(&dialog);
    wf::WindowHandle control = wf::FindControl(dialog, id);
    EXPECT_NE(control, nullptr) << "no control " << id;
    return control;
}

wf::ControlState PageHost::State(hostapi::Page* page, int32_t id) const {
    wf::WindowHandle dialog = nullptr;
    page->GetWindow(&dialog);
    wf::DialogState state;
    if (wf::Snapshot(dialog, &state)) {
        for (const wf::ControlState& c : state.controls)
            if (c.id == id) return c;
    }
    ADD_FAILURE() << "no control " << id;
    return {};
}

void PageHost::Enter(hostapi::Page* page, int32_t id, const std::string& text) const {
    EXPECT_EQ(wf::driver::Type(Control(page, id), text), wf::driver::Result::Done) << "typing into " << id;
    EXPECT_EQ(wf::driver::Blur(Control(page, id)), wf::driver::Result::Done) << "leaving " << id;
}

std::vector<std::string> PageHost::Of(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& entry : log)
        if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
    return found;
}

std::string PageHost::StationMode(uint32_t serial) const {
    for (const zv::station::Server& s : station.Servers())
        if (s.serial == serial) return s.pipe.mode;
    return "";
}

}  // namespace pagetest
