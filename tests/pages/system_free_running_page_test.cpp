// System Free Running (1014): both pipes to "Free" with all sensors shown,
// the output batch count shared with the Run and Web pages.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/config_page.h"
#include "pages/system_page_free_running_ids.h"
#include "pages/system_page_run_ids.h"
#include "pages/system_page_web_ids.h"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"

namespace {

using namespace system_free_running;

using pagetest::StoredSettings;

// Five sensors, "B" and "D" disabled.
struct SystemFreePageTest : pagetest::PageTest {
    SystemFreePageTest() : PageTest(pagetest::PageSetup(kPageSystemFreeRunning).Sensors(5).Disabled({"B", "D"})) {}
};

TEST_F(SystemFreePageTest, NameAndClass) {
    EXPECT_EQ(PageName(), "Free");
    EXPECT_EQ(ClassName(), "CSystemPageFreeRunning");
}

TEST_F(SystemFreePageTest, ShowsAllSensorsAndCountsTheEnabledOnes) {
    host.connection->SetParameters("Free", {1003, 9});
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode SN7 Free", "mode client Free", "parameters client Free 0 3",
                                                  "SelectLayout 0"}));
    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Free");
    EXPECT_EQ(view.GetInnerControl()->XAxisText(), "mils");
    EXPECT_EQ(State(kOutputBatchCountEdit).text, "1");
    EXPECT_TRUE(StoredSettings()->webPresent);
}

TEST_F(SystemFreePageTest, TransmitInputStateIsHiddenForGoodAfterActivation) {
    EXPECT_TRUE(State(kInputStateCheck).visible);
    Click(kInputStateCheck);
    EXPECT_EQ(host.Of("SetModified").size(), 1u);
    EXPECT_EQ(static_cast<ServerNode*>(server)->inputStateFlag, 1);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_FALSE(State(kInputStateCheck).visible);
    EXPECT_EQ(wf::driver::Click(host.Control(page, kInputStateCheck)), wf::driver::Result::Hidden);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_FALSE(State(kInputStateCheck).visible);
}

TEST_F(SystemFreePageTest, TheBatchCountReachesTheRunAndWebPagesOfTheSameServer) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Enter(kOutputBatchCountEdit, "8");
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(StoredSettings()->OutputBatchCount, 8);
    hostapi::Page* run = host.OpenPage(kPageSystemRun, server);
    ASSERT_EQ(run->Activate(), 1);
    EXPECT_EQ(host.State(run, system_run::kOutputBatchCountEdit).text, "8");
    hostapi::Page* web = host.OpenPage(kPageSystemWeb, server);
    // Unapplied edits of one page reach the file when another is shown.
    host.Enter(run, system_run::kOutputBatchCountEdit, "12");
    ASSERT_EQ(web->Activate(), 1);
    EXPECT_EQ(host.State(web, system_web::kOutputBatchingEdit).text, "12");
    EXPECT_EQ(StoredSettings()->OutputBatchCount, 12);
}

TEST_F(SystemFreePageTest, ReloadReadsTheFileAgain) {
    ASSERT_EQ(page->Activate(), 1);
    Enter(kOutputBatchCountEdit, "30");
    ASSERT_EQ(page->Reload(), 1);
    EXPECT_EQ(State(kOutputBatchCountEdit).text, "1");
}

TEST_F(SystemFreePageTest, WithoutSettingsNoSensorIsCountedAndNothingIsShownOrWritten) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Parameters("Free"), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    EXPECT_EQ(State(kOutputBatchCountEdit).text, "");
    EXPECT_FALSE(State(kInputStateCheck).visible);
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
}

TEST_F(SystemFreePageTest, ApplyAfterAFailedModeSwitchWritesNoZeros) {
    pagetest::ExpectNoZerosAfterAFailedSwitch(host, page, space.Host("SN7/Settings.xml"));
}

TEST_F(SystemFreePageTest, SettingsThatFailToParseEndActivateWithTheReason) {
    space.Write("SN7/Settings.xml", "<SensorGroup>\n<Capture></SensorGroup>");
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_PARSE);
    const std::vector<std::string> reports = host.Of("ReportError");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("line 2"), std::string::npos) << reports[0];
    EXPECT_EQ(host.ClientMode(), "");
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
}

TEST_F(SystemFreePageTest, FailuresEndActivateAndLeaveNoParameterList) {
    ASSERT_EQ(page->Activate(), 1);
    // The loop checks that nothing is left behind: the parameter list goes
    // also when the parameters or the chart fail.
    zvtest::FaultLoop loop;
    loop.operation = [&] { return page->Activate(); };
    loop.intact = {space.Host("SN7/Settings.xml")};
    loop.check = pagetest::ExpectActivateStatus;
    loop.Run();
    pagetest::ExpectReportedFailures(
        host, [&] { return page->Apply(); }, space.Host("SN7/Settings.xml"));
    pagetest::ExpectReportedFailures(
        host, [&] { return page->Reload(); }, space.Host("SN7/Settings.xml"));
}

}  // namespace
