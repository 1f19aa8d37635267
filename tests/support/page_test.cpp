#include "page_test.hpp"

#include "plugin/settings.h"
#include "stored_settings.hpp"

namespace pagetest {

namespace {

hostapi::Node* PageNode(PageHost& host, hostapi::Node* server, const PageSetup& setup) {
    if (setup.capture) return host.Node(hostapi::kCaptureNode, {hostapi::kCaptureNode, 0, 0, nullptr}, nullptr);
    return setup.sensor != nullptr ? host.SensorNode(server, "0", setup.sensor) : server;
}

// Server 7's default Settings.xml of `setup`, its named sensors disabled.
zvStatus MakeSettings(const zvtest::ServerFileSpace& space, const PageSetup& setup) {
    if (setup.sensors <= 0) return ZV_OK;
    const zvStatus status = SettingsCreateDefault("\\SN7\\Settings.xml", setup.sensors);
    if (status <= 0 || setup.disabled.empty()) return status;
    std::string text = space.Read("SN7/Settings.xml");
    for (const std::string& name : setup.disabled)
        if (!ReplaceIn(&text, "<Enabled>1</Enabled>", "<Enabled>0</Enabled>", "<Name>" + name + "</Name>")) return 0;
    space.Write("SN7/Settings.xml", text);
    return status;
}

}  // namespace

PageTest::PageTest(const PageSetup& setup)
    : created(MakeSettings(space, setup)),
      host(space.Host(""), setup.servers),
      server(setup.capture ? nullptr : host.ServerNode(7, setup.limited)),
      node(PageNode(host, server, setup)),
      page(host.OpenPage(setup.page, node)) {}

void PageTest::SetUp() { ASSERT_GT(created, 0) << "the default Settings.xml of server 7 was not made"; }

std::string PageTest::PageName() const {
    char name[64] = {};
    page->GetName(name, sizeof name - 1);
    return name;
}

std::string PageTest::ClassName() const { return dynamic_cast<wf::Object*>(page)->GetRuntimeClass()->className; }

void PageTest::Type(int32_t id, const std::string& text) const {
    EXPECT_EQ(wf::driver::Type(host.Control(page, id), text), wf::driver::Result::Done) << "typing into " << id;
}

void PageTest::Blur(int32_t id) const {
    EXPECT_EQ(wf::driver::Blur(host.Control(page, id)), wf::driver::Result::Done) << "leaving " << id;
}

void PageTest::Click(int32_t id) const {
    EXPECT_EQ(wf::driver::Click(host.Control(page, id)), wf::driver::Result::Done) << "clicking " << id;
}

void PageTest::Select(int32_t id, int32_t index) const {
    EXPECT_EQ(wf::driver::Select(host.Control(page, id), index), wf::driver::Result::Done)
        << "selecting item " << index << " of " << id;
}

}  // namespace pagetest
