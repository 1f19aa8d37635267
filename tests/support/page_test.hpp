// The fixture of the page suites: a temporary file space with server 7's
// folder and, unless told otherwise, a default Settings.xml there (made
// before the station opens), a page host over it, server 7's node, and one
// page opened as the host opens it, on the server node, a sensor node under
// it or a capture node. Its helpers act on that page as a user would.
//
//   struct ClippingPageTest : pagetest::PageTest {
//       ClippingPageTest() : PageTest(PageSetup(kPageSensorClipping).OnSensor("C")) {}
//   };
#ifndef TESTS_SUPPORT_PAGE_TEST_HPP
#define TESTS_SUPPORT_PAGE_TEST_HPP

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "page_host.hpp"
#include "support/document_test_support.hpp"

namespace pagetest {

// What a suite's fixture makes and opens: by default a Settings.xml of four
// sensors and the page on server 7's node.
struct PageSetup {
    explicit PageSetup(int32_t id) : page(id) {}
    // `count` sensors in the default Settings.xml; 0: no file.
    PageSetup& Sensors(int32_t count) { return sensors = count, *this; }
    // These sensors of that file disabled.
    PageSetup& Disabled(std::vector<std::string> names) { return disabled = std::move(names), *this; }
    // The page on the node of sensor `name` of group "0".
    PageSetup& OnSensor(const char* name) { return sensor = name, *this; }
    // The page on a capture node, and no server node made.
    PageSetup& OnCapture() { return capture = true, *this; }
    // Server 7's node limited.
    PageSetup& Limited() { return limited = true, *this; }
    // The station's servers.
    PageSetup& Servers(std::vector<uint32_t> serials) { return servers = std::move(serials), *this; }

    int32_t page;
    int32_t sensors = 4;
    std::vector<std::string> disabled;
    const char* sensor = nullptr;
    bool capture = false;
    bool limited = false;
    std::vector<uint32_t> servers = {7};
};

class PageTest : public ::testing::Test {
protected:
    explicit PageTest(const PageSetup& setup);
    // Settings that could not be made fail the test here.
    void SetUp() override;

    // The page's name (GetName) and the name of its run-time class.
    std::string PageName() const;
    std::string ClassName() const;
    // The control `id` of the page now, and its text.
    wf::ControlState State(int32_t id) const { return host.State(page, id); }
    std::string Text(int32_t id) const { return State(id).text; }
    // The user's events on the control `id`; each must reach the control.
    void Type(int32_t id, const std::string& text) const;
    void Enter(int32_t id, const std::string& text) const { host.Enter(page, id, text); }
    void Blur(int32_t id) const;
    void Click(int32_t id) const;
    void Select(int32_t id, int32_t index) const;
    // Server 7's Settings.xml on this machine.
    std::filesystem::path SettingsFile() const { return space.Host("SN7/Settings.xml"); }

    zvtest::ServerFileSpace space;
    zvStatus created;  // the status of making the default Settings.xml (1 without one, 0 when
                       // a sensor to disable is not in it)
    PageHost host;
    hostapi::Node* server;  // server 7's node; none beside a capture node
    hostapi::Node* node;    // the node the page is opened on
    hostapi::Page* page;
};

}  // namespace pagetest

#endif
