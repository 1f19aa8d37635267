// System Free Running (1014): both pipes to "Free" with all sensors shown,
// the output batch count shared with the Run and Web pages.
#include <gtest/gtest.h>

#include "document_test_support.hpp"
#include "page_host.hpp"
#include "pages/config_page.h"
#include "stored_settings.hpp"

namespace {

using pagetest::StoredSettings;

struct SystemFreePageTest : ::testing::Test {
    doctest::TempFileSpace space;
    pagetest::PageHost host{space.Host("")};
    hostapi::Node* server = host.ServerNode(7);
    hostapi::Page* page = host.OpenPage(1014, server);

    void SetUp() override {
        // Five sensors, "B" and "D" disabled.
        ASSERT_GT(SettingsCreateDefault("\\SN7\\Settings.xml", 5), 0);
        std::string text = space.Read("SN7/Settings.xml");
        for (const char* name : {"<Name>B</Name>", "<Name>D</Name>"})
            ASSERT_TRUE(pagetest::ReplaceIn(&text, "<Enabled>1</Enabled>", "<Enabled>0</Enabled>", name));
        space.Write("SN7/Settings.xml", text);
    }
    void Enter(hostapi::Page* on, int32_t id, const std::string& text) { host.Enter(on, id, text); }
};

TEST_F(SystemFreePageTest, NameAndClass) {
    char name[16] = {};
    page->GetName(name, sizeof name);
    EXPECT_STREQ(name, "Free");
    EXPECT_STREQ(dynamic_cast<ConfigPage*>(page)->GetRuntimeClass()->className, "CSystemPageFreeRunning");
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
    EXPECT_EQ(host.State(page, 1026).text, "1");
    EXPECT_TRUE(StoredSettings()->webPresent);
}

TEST_F(SystemFreePageTest, TransmitInputStateIsHiddenForGoodAfterActivation) {
    EXPECT_TRUE(host.State(page, 1034).visible);
    ASSERT_EQ(wf::driver::Click(host.Control(page, 1034)), wf::driver::Result::Done);
    EXPECT_EQ(host.Of("SetModified").size(), 1u);
    EXPECT_EQ(static_cast<ServerNode*>(server)->inputStateFlag, 1);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_FALSE(host.State(page, 1034).visible);
    EXPECT_EQ(wf::driver::Click(host.Control(page, 1034)), wf::driver::Result::Hidden);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_FALSE(host.State(page, 1034).visible);
}

TEST_F(SystemFreePageTest, TheBatchCountReachesTheRunAndWebPagesOfTheSameServer) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Enter(page, 1026, "8");
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(StoredSettings()->OutputBatchCount, 8);
    hostapi::Page* run = host.OpenPage(1015, server);
    ASSERT_EQ(run->Activate(), 1);
    EXPECT_EQ(host.State(run, 1026).text, "8");
    hostapi::Page* web = host.OpenPage(1023, server);
    // Unapplied edits of one page reach the file when another is shown.
    Enter(run, 1026, "12");
    ASSERT_EQ(web->Activate(), 1);
    EXPECT_EQ(host.State(web, 1047).text, "12");
    EXPECT_EQ(StoredSettings()->OutputBatchCount, 12);
}

TEST_F(SystemFreePageTest, ReloadReadsTheFileAgain) {
    ASSERT_EQ(page->Activate(), 1);
    Enter(page, 1026, "30");
    ASSERT_EQ(page->Reload(), 1);
    EXPECT_EQ(host.State(page, 1026).text, "1");
}

TEST_F(SystemFreePageTest, WithoutSettingsNoSensorIsCountedAndNothingIsShownOrWritten) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Parameters("Free"), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    EXPECT_EQ(host.State(page, 1026).text, "");
    EXPECT_FALSE(host.State(page, 1034).visible);
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
    pagetest::ExpectReportedFailures(host, [&] { return page->Apply(); }, space.Host("SN7/Settings.xml"));
    pagetest::ExpectReportedFailures(host, [&] { return page->Reload(); }, space.Host("SN7/Settings.xml"));
}

}  // namespace
