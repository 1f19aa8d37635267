// System Run (1015): the detection settings in the server node's cache, the
// client pipe switched before the station pipe.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/config_page.h"
#include "pages/system_page_run_ids.h"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"

namespace {

using namespace system_run;
using pagetest::StoredSettings;

struct RunPageTest : pagetest::PageTest {
    RunPageTest() : PageTest(pagetest::PageSetup(kPageSystemRun)) {}
};

TEST_F(RunPageTest, NameAndClass) {
    EXPECT_EQ(PageName(), "Detection");
    EXPECT_EQ(ClassName(), "CSystemPageRun");
}

TEST_F(RunPageTest, SwitchesTheClientPipeFirstAndShowsTheCachedValues) {
    EXPECT_FALSE(StoredSettings()->webPresent);
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode client Detection", "SelectLayout 0", "mode SN7 Detection"}));
    EXPECT_EQ(Text(kOutputBatchCountEdit), "1");
    EXPECT_EQ(Text(kEncoderResolutionEdit), "0.000");
    EXPECT_EQ(Text(kOutputIntervalEdit), "0");
    EXPECT_EQ(Text(kDetectionThresholdEdit), "20");
    EXPECT_EQ(Text(kObstructionYEdit), "0");
    EXPECT_EQ(State(kOverlapFilterCheck).checked, 1);
    // Saving the cache at activation gives the file its "Web" element.
    EXPECT_TRUE(StoredSettings()->webPresent);
}

TEST_F(RunPageTest, EditsReachTheCacheOnFocusLossAndTheFileOnApply) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Enter(kOutputBatchCountEdit, "5");
    Enter(kEncoderResolutionEdit, "0.0127");
    Enter(kOutputIntervalEdit, "2.5");
    Enter(kDetectionThresholdEdit, "-30x");
    Enter(kObstructionYEdit, "abc");
    Click(kOverlapFilterCheck);
    EXPECT_EQ(host.log, std::vector<std::string>(6, "SetModified"));
    // Nothing is written before Apply.
    EXPECT_EQ(StoredSettings()->OutputInterval, 0);
    ASSERT_EQ(page->Apply(), 1);
    StoredSettings stored;
    EXPECT_EQ(stored->OutputBatchCount, 5);
    EXPECT_DOUBLE_EQ(stored->EncoderResolution, 0.0127);
    EXPECT_EQ(stored->OutputInterval, 2);
    EXPECT_EQ(stored->DetectionThreshold, -30);
    EXPECT_EQ(stored->ObstructionY, 0);
    EXPECT_EQ(stored->OverlapFilterEnable, 0);
    // The next filling of the controls shows three decimals.
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Text(kEncoderResolutionEdit), "0.013");
    EXPECT_EQ(State(kOverlapFilterCheck).checked, 0);
    int32_t modified = -1;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 0);  // the host is told; the page keeps no mark of its own
}

TEST_F(RunPageTest, FocusLossWithoutAChangeStillTellsTheHost) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Blur(kDetectionThresholdEdit);
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
}

TEST_F(RunPageTest, ReloadReadsTheFileAgainWhileActivationKeepsTheCache) {
    ASSERT_EQ(page->Activate(), 1);
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(
        pagetest::ReplaceIn(&text, "<OutputInterval>0</OutputInterval>", "<OutputInterval>750</OutputInterval>"));
    space.Write("SN7/Settings.xml", text);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Text(kOutputIntervalEdit), "0");
    // The activation saved the cache over the change; change it again.
    space.Write("SN7/Settings.xml", text);
    ASSERT_EQ(page->Reload(), 1);
    EXPECT_EQ(Text(kOutputIntervalEdit), "750");
}

TEST_F(RunPageTest, WithoutSettingsNothingIsShownOrWrittenAndTheOperatorIsTold) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("ReportError"),
              std::vector<std::string>{
                  "ReportError Settings.xml of server 7 is absent: create it on the server's Setup page."});
    // No values read: none shown (zeros would look stored).
    for (int32_t id : {kOutputBatchCountEdit, kEncoderResolutionEdit, kOutputIntervalEdit, kDetectionThresholdEdit,
                       kObstructionYEdit})
        EXPECT_EQ(Text(id), "") << id;
    EXPECT_EQ(State(kOverlapFilterCheck).checked, 0);
    host.ClearLog();
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
}

TEST_F(RunPageTest, ApplyAfterAFailedModeSwitchWritesNoZeros) {
    pagetest::ExpectNoZerosAfterAFailedSwitch(host, page, space.Host("SN7/Settings.xml"));
}

TEST_F(RunPageTest, SettingsThatDoNotReadAreToldAndNeverOverwritten) {
    // One byte that is no UTF-8 text in a sensor's name: the document is
    // refused whole, and the operator learns where.
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(pagetest::ReplaceIn(&text, "<Name>B</Name>", "<Name>B\xE9</Name>"));
    space.Write("SN7/Settings.xml", text);
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_PARSE);
    const std::vector<std::string> reports = host.Of("ReportError");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Cannot read the settings of server 7: \"\\SN7\\Settings.xml\": line "),
              std::string::npos)
        << reports[0];
    EXPECT_NE(reports[0].find("not UTF-8"), std::string::npos) << reports[0];
    EXPECT_EQ(Text(kOutputBatchCountEdit), "");
    EXPECT_LE(page->Apply(), 0);
    EXPECT_LE(page->Reload(), 0);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), text);
}

TEST_F(RunPageTest, WithoutAServerNodeNothingHappens) {
    hostapi::Page* orphan = host.OpenPage(kPageSystemRun, nullptr);
    host.ClearLog();
    EXPECT_EQ(orphan->Activate(), ZV_E_STATE);
    EXPECT_EQ(orphan->Apply(), ZV_E_STATE);
    EXPECT_EQ(orphan->Reload(), ZV_E_STATE);
    ASSERT_EQ(wf::driver::Type(host.Control(orphan, kOutputIntervalEdit), "9"), wf::driver::Result::Done);
    ASSERT_EQ(wf::driver::Blur(host.Control(orphan, kOutputIntervalEdit)), wf::driver::Result::Done);
    EXPECT_TRUE(host.log.empty());
}

TEST_F(RunPageTest, FailuresEndActivateWithTheirStatus) {
    ASSERT_EQ(page->Activate(), 1);
    zvtest::FaultLoop loop;
    loop.operation = [&] { return page->Activate(); };
    loop.intact = {space.Host("SN7/Settings.xml")};
    // The station pipe's own status is not examined (the switch of no pipe
    // fails); the cache, loaded before, fails at its save.
    loop.check = pagetest::ExpectActivateStatus;
    loop.Run();
}

TEST_F(RunPageTest, ApplyAndReloadPassFailuresBackTellThemAndKeepTheFileWhole) {
    ASSERT_EQ(page->Activate(), 1);
    Enter(kOutputIntervalEdit, "40");
    pagetest::ExpectReportedFailures(
        host, [&] { return page->Apply(); }, space.Host("SN7/Settings.xml"));
    pagetest::ExpectReportedFailures(
        host, [&] { return page->Reload(); }, space.Host("SN7/Settings.xml"));
    // The control handlers only change the cache: no platform call to fail.
}

}  // namespace
