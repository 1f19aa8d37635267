// Sensor Free Running (1019): both pipes to "Free", the Free parameters,
// the empty plot.
#include <gtest/gtest.h>

#include "document_test_support.hpp"
#include "page_host.hpp"
#include "plugin/settings.h"
#include "support/fault_loop.hpp"
#include "stored_settings.hpp"

namespace {

struct FreePageTest : ::testing::Test {
    doctest::TempFileSpace space;
    void SetUp() override {
        ASSERT_GT(SettingsCreateDefault("\\SN7\\Settings.xml", 4), 0);
        // Sensor "C" (1002) disabled.
        std::string text = space.Read("SN7/Settings.xml");
        ASSERT_TRUE(pagetest::ReplaceIn(&text, "<Enabled>1</Enabled>", "<Enabled>0</Enabled>", "<Name>C</Name>"));
        space.Write("SN7/Settings.xml", text);
    }
};

TEST_F(FreePageTest, SelectsTheSensorAndCountsTheEnabledOnes) {
    pagetest::PageHost host(space.Host(""));
    hostapi::Node* server = host.ServerNode(7);
    hostapi::Page* page = host.OpenPage(1019, host.SensorNode(server, "0", "B"));
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"mode SN7 Free", "mode client Free", "parameters client Free 1001 3",
                                        "SelectLayout 0"}));
    EXPECT_EQ(host.Parameters("Free"), (std::vector<int32_t>{1001, 3}));
    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Free");
    EXPECT_EQ(view.GetInnerControl()->XAxisText(), "mils");
    EXPECT_EQ(view.GetInnerControl()->YAxisText(), "mils");
}

TEST_F(FreePageTest, AnUnknownSensorIsToldAndSelectsNothing) {
    pagetest::PageHost host(space.Host(""));
    hostapi::Page* page = host.OpenPage(1019, host.SensorNode(host.ServerNode(7), "0", "Q"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.log, (std::vector<std::string>{
                            "mode SN7 Free",
                            "ReportError Sensor \"Q\" of group \"0\" is not in the settings of server 7."}));
}

TEST_F(FreePageTest, ASensorWithoutASerialNumberIsPassedOnAsNone) {
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(pagetest::ReplaceIn(&text, "<SerialNumber>1001</SerialNumber>", "<SerialNumber></SerialNumber>"));
    space.Write("SN7/Settings.xml", text);
    pagetest::PageHost host(space.Host(""));
    hostapi::Page* page = host.OpenPage(1019, host.SensorNode(host.ServerNode(7), "0", "B"));
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.Parameters("Free"), (std::vector<int32_t>{-1, 3}));
}

TEST_F(FreePageTest, TheStationPipeIsSwitchedFirstAndStaysSwitched) {
    pagetest::PageHost host(space.Host(""));
    hostapi::Page* page = host.OpenPage(1019, host.SensorNode(host.ServerNode(7), "0", "A"));
    // The client's handles are made on first use, and the display keeps
    // one plot: both exist before the loop counts objects.
    ASSERT_EQ(page->Activate(), 1);
    zvtest::FaultLoop loop;
    loop.operation = [&] { return page->Activate(); };
    loop.check = [&](const zvtest::Fault& fault, zvStatus status) {
        // Every failure comes back as the platform gave it, also those of
        // reading the sensor's serial number.
        pagetest::ExpectPageStatus(fault, status);
        if (fault.call == "zvClientGetPipeHandle") {
            EXPECT_EQ(host.StationMode(7), "Free");
        }
    };
    loop.Run();
}

}  // namespace
