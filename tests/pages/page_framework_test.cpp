// The page base: names, window creation, the factory's identifiers.
#include <gtest/gtest.h>

#include <cstring>

#include "page_host.hpp"
#include "pages/config_page.h"
#include "pages/page_factory.h"
#include "plugin/statuses.h"
#include "support/document_test_support.hpp"

namespace {

TEST(PageFramework, FactoryKnowsItsPagesOnly) {
    for (int32_t id : {1016, 1003, 0, -1, 1025, 1001}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(PageFactory(id), nullptr);
    }
    struct Case {
        int32_t id;
        const char* name;
        const char* className;
    };
    for (const Case& c : {Case{1013, "Calibration", "CSystemPageCalibration"},
                          Case{1019, "Free", "CSensorPageFreeRunning"}, Case{1022, "Setup", "CSystemPageConfig"}}) {
        SCOPED_TRACE(c.id);
        hostapi::Page* page = PageFactory(c.id);
        ASSERT_NE(page, nullptr);
        char name[32] = {};
        page->GetName(name, sizeof name);
        EXPECT_STREQ(name, c.name);
        EXPECT_STREQ(dynamic_cast<ConfigPage*>(page)->GetRuntimeClass()->className, c.className);
        int32_t modified = -1;
        page->IsModified(&modified);
        EXPECT_EQ(modified, 0);
        page->Destroy();
    }
}

TEST(PageFramework, GetNameFillsTheBufferWithoutATerminatorWhenFull) {
    hostapi::Page* page = PageFactory(1013);
    ASSERT_NE(page, nullptr);
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    page->GetName(buffer, 4);
    EXPECT_EQ(std::string(buffer, 5), "Calix");
    std::memset(buffer, 'x', sizeof buffer);
    page->GetName(buffer, 16);
    EXPECT_EQ(std::string(buffer, 11), "Calibration");
    for (int i = 11; i < 16; ++i) EXPECT_EQ(buffer[i], '\0') << i;
    std::memset(buffer, 'x', sizeof buffer);
    page->GetName(buffer, 11);
    EXPECT_EQ(std::string(buffer, 12), "Calibrationx");
    page->GetName(nullptr, 8);
    page->GetName(buffer, 0);
    page->Destroy();
}

TEST(PageFramework, AWindowThatCannotBeMadeGivesMinus992AndNoSite) {
    zvtest::ServerFileSpace space;
    pagetest::PageHost host(space.Host(""));
    hostapi::Node* server = host.ServerNode(7);
    // A page wraps the host's window in a framework object that lives as
    // long as that window: count from after the first page.
    host.OpenPage(1013, server);
    const int64_t windows = wf::testing::LiveWindows();

    hostapi::Page* page = PageFactory(1022);
    page->SetNode(server);
    host.giveWindow = false;
    EXPECT_EQ(page->Create(&host), kPageWindowFailed);
    wf::WindowHandle window = nullptr;
    page->GetWindow(&window);
    EXPECT_EQ(window, nullptr);
    // Without a site the page reaches no client.
    EXPECT_EQ(page->Activate(), ZV_E_STATE);
    page->Destroy();

    host.giveWindow = true;
    page = PageFactory(1022);
    page->SetNode(server);
    wf::testing::FailWindowCreation(2);  // the dialog's second window: a control
    EXPECT_EQ(page->Create(&host), kPageWindowFailed);
    wf::testing::ClearFaults();
    EXPECT_EQ(wf::testing::LiveWindows(), windows);
    page->Destroy();
    EXPECT_EQ(wf::testing::LiveWindows(), windows);
}

TEST(PageFramework, PagesWithoutAServerNodeFailWithAStatus) {
    zvtest::ServerFileSpace space;
    pagetest::PageHost host(space.Host(""));
    hostapi::Node* plain = host.Node(hostapi::kPlainNode, {hostapi::kPlainNode, 0, 0, nullptr}, nullptr);
    for (int32_t id : {1013, 1019}) {
        SCOPED_TRACE(id);
        hostapi::Page* page = host.OpenPage(id, plain);
        EXPECT_EQ(page->Activate(), ZV_E_STATE);
    }
    hostapi::Page* config = host.OpenPage(1022, plain);
    EXPECT_EQ(config->Activate(), 1);
    EXPECT_EQ(wf::driver::Type(host.Control(config, 1025), "4"), wf::driver::Result::Done);
    EXPECT_EQ(wf::driver::Click(host.Control(config, 1013)), wf::driver::Result::Done);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
}

}  // namespace
