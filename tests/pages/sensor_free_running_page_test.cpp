// Sensor Free Running (1019): both pipes to "Free", the Free parameters,
// the empty plot.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"
#include "support/fault_loop.hpp"

namespace {

// Sensor "C" (1002) disabled; the page opens on "B".
struct FreePageTest : pagetest::PageTest {
    FreePageTest() : PageTest(pagetest::PageSetup(kPageSensorFreeRunning).Disabled({"C"}).OnSensor("B")) {}
};

TEST_F(FreePageTest, SelectsTheSensorAndCountsTheEnabledOnes) {
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode SN7 Free", "mode client Free", "parameters client Free 1001 3",
                                                  "SelectLayout 0"}));
    EXPECT_EQ(host.Parameters("Free"), (std::vector<int32_t>{1001, 3}));
    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Free");
    EXPECT_EQ(view.GetInnerControl()->XAxisText(), "mils");
    EXPECT_EQ(view.GetInnerControl()->YAxisText(), "mils");
}

TEST_F(FreePageTest, AnUnknownSensorIsToldAndSelectsNothing) {
    hostapi::Page* other = host.OpenPage(kPageSensorFreeRunning, host.SensorNode(server, "0", "Q"));
    host.ClearLog();
    EXPECT_EQ(other->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{
                  "mode SN7 Free", "ReportError Sensor \"Q\" of group \"0\" is not in the settings of server 7."}));
}

TEST_F(FreePageTest, ASensorWithoutASerialNumberIsPassedOnAsNone) {
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(pagetest::ReplaceIn(&text, "<SerialNumber>1001</SerialNumber>", "<SerialNumber></SerialNumber>"));
    space.Write("SN7/Settings.xml", text);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.Parameters("Free"), (std::vector<int32_t>{-1, 3}));
}

TEST_F(FreePageTest, TheStationPipeIsSwitchedFirstAndStaysSwitched) {
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
