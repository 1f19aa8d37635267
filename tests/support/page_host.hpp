// The host's side of Torvane's nodes and pages, for their tests: a page site
// whose every call is logged, displays with multi-views, a client attached
// to a simulated station over the file space, the host's window, and
// helpers to make nodes and pages as the host does.
//
// Everything that reaches the host goes into one ordered log, so tests can
// assert the order of mode switches, parameter writes and site calls:
//   "ReportError <text>", "ReportText <text>", "NotifyHost", "SetModified",
//   "SelectLayout <n>", "AddDisplayListener <i>", "RemoveDisplayListener <i>",
//   "mode client <mode>", "mode SN7 <mode>", "enabled client 0|1",
//   "parameters client <mode> v0 v1 ...", "capture 0|1", "segment <bytes>",
//   "MessageBox <text>".
#ifndef TESTS_SUPPORT_PAGE_HOST_HPP
#define TESTS_SUPPORT_PAGE_HOST_HPP

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hostapi/hostapi.hpp"
#include "winframe/winframe.hpp"
#include "zvcontrols/zvcontrols.hpp"
#include "zvstation/connection.hpp"
#include "zvstation/station.hpp"

namespace pagetest {

class PageHost;

class TestDisplay final : public hostapi::Display {
public:
    int32_t Reserved0() override { return 1; }
    int32_t Reserved1() override { return 1; }
    int32_t Reserved2() override { return 1; }
    int32_t Reserved3() override { return 1; }
    int32_t Reserved4() override { return 1; }
    int32_t GetMultiView(zvMultiView** view) override {
        *view = &multiView;
        return 1;
    }
    zvMultiView multiView;
};

class TestDisplays final : public hostapi::DisplaySet {
public:
    explicit TestDisplays(PageHost* host) : host_(host) {}
    int32_t Reserved0() override { return 1; }
    int32_t Reserved1() override { return 1; }
    int32_t SelectLayout(int32_t layout) override;
    int32_t Reserved3() override { return 1; }
    int32_t GetDisplay(int32_t index, hostapi::Display** display) override;
    int32_t AddDisplayListener(int32_t index, hostapi::DisplayListener* listener) override;
    int32_t RemoveDisplayListener(int32_t index, hostapi::DisplayListener* listener) override;

    TestDisplay display[2];
    std::vector<std::pair<int32_t, hostapi::DisplayListener*>> listeners;

private:
    PageHost* host_;
};

class PageHost final : public hostapi::PageSite {
public:
    // A station of the servers `servers` in the file space at `root` (the
    // file space's root already), with the pipe app described by Torvane.
    explicit PageHost(const std::filesystem::path& root, std::vector<uint32_t> servers = {7});
    ~PageHost();
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    // ---- The page site --------------------------------------------------------
    int32_t GetParentWindow(wf::WindowHandle* window) override;
    int32_t Reserved1() override { return 1; }
    int32_t ReportError(const char* text) override;
    int32_t ReportText(const char* text) override;
    int32_t Reserved4() override { return 1; }
    int32_t NotifyHost() override;
    int32_t SetModified() override;
    int32_t GetDisplays(hostapi::DisplaySet** displays) override;
    int32_t GetClient(zvHandle* client) override;

    // ---- Nodes and pages as the host makes them ------------------------------------
    // Released with the host, children first.
    hostapi::Node* ServerNode(uint32_t serial, bool limited = false);
    hostapi::Node* SensorNode(hostapi::Node* server, const std::string& groupPath, const std::string& name);
    hostapi::Node* Node(int32_t type, const hostapi::NodeInfo& info, hostapi::Node* parent);
    // PageFactory, SetNode, Create (asserting it gives 1). Destroyed with
    // the host unless destroyed before (ForgetPage).
    hostapi::Page* OpenPage(int32_t id, hostapi::Node* node);
    void ForgetPage(hostapi::Page* page);
    // The control `id` of the page's window.
    wf::WindowHandle Control(hostapi::Page* page, int32_t id) const;
    // Its text, check, selection, items, enabled and visible state.
    wf::ControlState State(hostapi::Page* page, int32_t id) const;
    // Types `text` into the edit `id` as a user does, then leaves it.
    void Enter(hostapi::Page* page, int32_t id, const std::string& text) const;

    // ---- What reached the host -------------------------------------------------------
    std::vector<std::string> log;
    std::vector<std::string> Of(const std::string& prefix) const;
    void ClearLog() { log.clear(); }
    // The client pipe's and station pipes' state.
    std::string ClientMode() const { return connection->ClientMode(); }
    bool ClientEnabled() const { return connection->ClientEnabled(); }
    std::string StationMode(uint32_t serial) const;
    std::vector<int32_t> Parameters(const std::string& mode) const { return connection->Parameters(mode); }
    // Whether GetParentWindow gives a live window (false: a dead handle).
    bool giveWindow = true;

    TestDisplays displays{this};
    zv::station::Station station;
    std::unique_ptr<zv::station::Connection> connection;
    zvHandle client = nullptr;
    zvHandle app = nullptr;
    wf::WindowHandle window = nullptr;

private:
    std::vector<hostapi::Node*> nodes_;
    std::vector<hostapi::Page*> pages_;
};

}  // namespace pagetest

#endif
