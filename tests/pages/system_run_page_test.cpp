// System Run (1015): the detection settings in the server node's cache, the
// client pipe switched before the station pipe.
#include <gtest/gtest.h>

#include "document_test_support.hpp"
#include "page_host.hpp"
#include "pages/config_page.h"
#include "stored_settings.hpp"

namespace {

using pagetest::StoredSettings;

struct RunPageTest : ::testing::Test {
    doctest::TempFileSpace space;
    bool created = SettingsCreateDefault("\\SN7\\Settings.xml", 4) > 0;
    pagetest::PageHost host{space.Host("")};
    hostapi::Node* server = host.ServerNode(7);
    hostapi::Page* page = host.OpenPage(1015, server);

    void SetUp() override { ASSERT_TRUE(created); }

    void Enter(int32_t id, const std::string& text) { host.Enter(page, id, text); }
    std::string Text(int32_t id) const { return host.State(page, id).text; }
};

TEST_F(RunPageTest, NameAndClass) {
    char name[16] = {};
    page->GetName(name, sizeof name);
    EXPECT_STREQ(name, "Detection");
    EXPECT_STREQ(dynamic_cast<ConfigPage*>(page)->GetRuntimeClass()->className, "CSystemPageRun");
}

TEST_F(RunPageTest, SwitchesTheClientPipeFirstAndShowsTheCachedValues) {
    EXPECT_FALSE(StoredSettings()->webPresent);
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode client Detection", "SelectLayout 0", "mode SN7 Detection"}));
    EXPECT_EQ(Text(1026), "1");
    EXPECT_EQ(Text(1003), "0.000");
    EXPECT_EQ(Text(1001), "0");
    EXPECT_EQ(Text(1017), "20");
    EXPECT_EQ(Text(1018), "0");
    EXPECT_EQ(host.State(page, 1021).checked, 1);
    // Saving the cache at activation gives the file its "Web" element.
    EXPECT_TRUE(StoredSettings()->webPresent);
}

TEST_F(RunPageTest, EditsReachTheCacheOnFocusLossAndTheFileOnApply) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Enter(1026, "5");
    Enter(1003, "0.0127");
    Enter(1001, "2.5");
    Enter(1017, "-30x");
    Enter(1018, "abc");
    ASSERT_EQ(wf::driver::Click(host.Control(page, 1021)), wf::driver::Result::Done);
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
    EXPECT_EQ(Text(1003), "0.013");
    EXPECT_EQ(host.State(page, 1021).checked, 0);
    int32_t modified = -1;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 0);  // the host is told; the page keeps no mark of its own
}

TEST_F(RunPageTest, FocusLossWithoutAChangeStillTellsTheHost) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    ASSERT_EQ(wf::driver::Blur(host.Control(page, 1017)), wf::driver::Result::Done);
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
}

TEST_F(RunPageTest, ReloadReadsTheFileAgainWhileActivationKeepsTheCache) {
    ASSERT_EQ(page->Activate(), 1);
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(pagetest::ReplaceIn(&text, "<OutputInterval>0</OutputInterval>", "<OutputInterval>750</OutputInterval>"));
    space.Write("SN7/Settings.xml", text);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Text(1001), "0");
    // The activation saved the cache over the change; change it again.
    space.Write("SN7/Settings.xml", text);
    ASSERT_EQ(page->Reload(), 1);
    EXPECT_EQ(Text(1001), "750");
}

TEST_F(RunPageTest, WithoutSettingsNothingIsShownOrWrittenAndTheOperatorIsTold) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("ReportError"),
              std::vector<std::string>{
                  "ReportError Settings.xml of server 7 is absent: create it on the server's Setup page."});
    // No values read: none shown (zeros would look stored).
    for (int32_t id : {1026, 1003, 1001, 1017, 1018}) EXPECT_EQ(Text(id), "") << id;
    EXPECT_EQ(host.State(page, 1021).checked, 0);
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
    EXPECT_EQ(Text(1026), "");
    EXPECT_LE(page->Apply(), 0);
    EXPECT_LE(page->Reload(), 0);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), text);
}

TEST_F(RunPageTest, WithoutAServerNodeNothingHappens) {
    hostapi::Page* orphan = host.OpenPage(1015, nullptr);
    host.ClearLog();
    EXPECT_EQ(orphan->Activate(), ZV_E_STATE);
    EXPECT_EQ(orphan->Apply(), ZV_E_STATE);
    EXPECT_EQ(orphan->Reload(), ZV_E_STATE);
    ASSERT_EQ(wf::driver::Type(host.Control(orphan, 1001), "9"), wf::driver::Result::Done);
    ASSERT_EQ(wf::driver::Blur(host.Control(orphan, 1001)), wf::driver::Result::Done);
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
    Enter(1001, "40");
    pagetest::ExpectReportedFailures(host, [&] { return page->Apply(); }, space.Host("SN7/Settings.xml"));
    pagetest::ExpectReportedFailures(host, [&] { return page->Reload(); }, space.Host("SN7/Settings.xml"));
    // The control handlers only change the cache: no platform call to fail.
}

}  // namespace
