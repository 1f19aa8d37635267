// System Config (1022): the sensor count, the default document, the client
// pipe disabled while the page is current.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/system_page_config_ids.h"
#include "plugin/page_ids.h"
#include "plugin/settings.h"
#include "support/fault_loop.hpp"

namespace {

using namespace system_config;

// A limited server 7 without a Settings.xml.
struct ConfigPageTest : pagetest::PageTest {
    ConfigPageTest() : PageTest(pagetest::PageSetup(kPageSystemConfig).Sensors(0).Limited()) {}

    void Create(const std::string& text) const {
        Type(kSensorsEdit, text);
        Click(kCreateButton);
    }
    int32_t Sensors() {
        SystemSettings* settings = nullptr;
        EXPECT_GT(SettingsLoad("\\SN7\\Settings.xml", 0, &settings), 0);
        const int32_t count = settings->present ? zvArrayListCount(settings->Sensors) : -1;
        SettingsFree(settings);
        return count;
    }
};

TEST_F(ConfigPageTest, RefusesCountsOutsideOneToFortyEight) {
    for (const char* text : {"0", "-3", "abc", "", "49", " ", "+0", "100000000000"}) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        host.ClearLog();
        Create(text);
        EXPECT_EQ(host.log, std::vector<std::string>{"MessageBox Invalid number of sensors entered!"});
        EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    }
}

TEST_F(ConfigPageTest, CreatesTheDefaultDocumentAndTellsTheHost) {
    struct Case {
        const char* text;
        int32_t sensors;
    };
    for (const Case& c : {Case{"1", 1}, Case{"48", 48}, Case{"12abc", 12}, Case{"  +3", 3}}) {
        SCOPED_TRACE(c.text);
        host.ClearLog();
        Create(c.text);
        EXPECT_EQ(Sensors(), c.sensors);
        EXPECT_EQ(host.log, (std::vector<std::string>{
                                "NotifyHost", "ReportText Each sensor has to be assigned a unique vertex view!"}));
    }
}

TEST_F(ConfigPageTest, ClientPipeIsDisabledWhileThePageIsCurrent) {
    EXPECT_TRUE(host.ClientEnabled());
    Type(kSensorsEdit, "7");
    EXPECT_EQ(page->Activate(), 1);
    EXPECT_FALSE(host.ClientEnabled());
    EXPECT_EQ(State(kSensorsEdit).text, "0");
    EXPECT_EQ(page->Deactivate(), 1);
    EXPECT_TRUE(host.ClientEnabled());
    EXPECT_EQ(host.Of("enabled"), (std::vector<std::string>{"enabled client 0", "enabled client 1"}));
}

TEST_F(ConfigPageTest, ActivateAndDeactivatePassFailuresBack) {
    page->Activate();  // the client's pipe object is made on first use
    zvtest::FaultLoop activate;
    activate.operation = [&] {
        wf::driver::Type(host.Control(page, kSensorsEdit), "7");
        return page->Activate();
    };
    activate.verify = [&](const zvtest::Fault&) { EXPECT_EQ(State(kSensorsEdit).text, "7"); };  // keeps its text
    activate.Run();
    zvtest::FaultLoop deactivate;
    deactivate.operation = [&] { return page->Deactivate(); };
    deactivate.Run();
}

TEST_F(ConfigPageTest, ACreationThatFailsIsToldAndNotAnnounced) {
    zvtest::FaultLoop loop;  // the document is whole or absent
    loop.operation = [&] {
        host.ClearLog();
        Create("4");
        return 1;
    };
    loop.intact = {space.Host("SN7/Settings.xml")};
    loop.check = [](const zvtest::Fault&, zvStatus) {};
    // No new tree and no vertex-view notice for a file that was not made.
    loop.verify = [&](const zvtest::Fault&) {
        ASSERT_EQ(host.log.size(), 1u);
        EXPECT_EQ(host.log[0].rfind("ReportError Cannot create Settings.xml of server 7", 0), 0u) << host.log[0];
    };
    loop.Run();
}

}  // namespace
