// System Web (1023): the synchronisation settings in the server node's
// cache, the station pipe switched before the client pipe.
#include <gtest/gtest.h>

#include <span>

#include "page_test.hpp"
#include "pages/config_page.h"
#include "pages/system_page_web_ids.h"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"

namespace {

using namespace system_web;
using pagetest::StoredSettings;

struct WebPageTest : pagetest::PageTest {
    WebPageTest() : PageTest(pagetest::PageSetup(kPageSystemWeb)) {}

    // Whether each control is enabled.
    std::vector<bool> Enabled(std::span<const int32_t> ids) const {
        std::vector<bool> enabled;
        for (int32_t id : ids) enabled.push_back(State(id).enabled);
        return enabled;
    }
    void WriteWeb(int32_t method) {
        std::string text = space.Read("SN7/Settings.xml");
        ASSERT_TRUE(pagetest::ReplaceIn(&text, "<MaxSlices>0</MaxSlices>",
                                        "<MaxSlices>0</MaxSlices><Web><SynchronizeMethod>" + std::to_string(method) +
                                            "</SynchronizeMethod><XResolution>2.5</XResolution><SyncResolution>"
                                            "<Distance>40.25</Distance><Time>15</Time></SyncResolution></Web>"));
        space.Write("SN7/Settings.xml", text);
    }
};

TEST_F(WebPageTest, NameAndClass) {
    EXPECT_EQ(PageName(), "Web");
    EXPECT_EQ(ClassName(), "CSystemPageWeb");
}

TEST_F(WebPageTest, SwitchesTheStationPipeFirstAndClearsTheDisplay) {
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode SN7 Web", "mode client Web", "SelectLayout 0"}));
    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Free");
    EXPECT_EQ(view.GetInnerControl()->XAxisText(), "mils");
    EXPECT_EQ(view.GetInnerControl()->YAxisText(), "mils");
    // A file without "Web" gets one, holding the cache's zeros.
    StoredSettings stored;
    EXPECT_TRUE(stored->webPresent);
    EXPECT_EQ(stored->SynchronizeMethod, 0);
}

TEST_F(WebPageTest, TheStoredMethodChoosesTheRadioButtonAndItsControls) {
    struct Case {
        int32_t stored;
        int32_t timeChecked;
        std::vector<bool> time, encoder;
    };
    const std::vector<bool> on3(3, true), off3(3, false), on6(6, true), off6(6, false);
    // A stored value other than 0 or 1 checks "Time Sync" and leaves the
    // controls as they were (enabled on a fresh page).
    for (const Case& c : {Case{0, 0, off3, on6}, Case{1, 1, on3, off6}, Case{5, 1, on3, on6}}) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(SettingsCreateDefault("\\SN7\\Settings.xml", 4) > 0);
        WriteWeb(c.stored);
        hostapi::Page* fresh = host.OpenPage(kPageSystemWeb, host.ServerNode(7));
        ASSERT_EQ(fresh->Activate(), 1);
        EXPECT_EQ(host.State(fresh, kTimeSyncRadio).checked, c.timeChecked);
        EXPECT_EQ(host.State(fresh, kEncoderSyncRadio).checked, 1 - c.timeChecked);
        page = fresh;
        EXPECT_EQ(Enabled(kTimeControls), c.time);
        EXPECT_EQ(Enabled(kEncoderControls), c.encoder);
        EXPECT_EQ(host.State(fresh, kTimeEdit).text, "15");
        EXPECT_EQ(host.State(fresh, kXResolutionEdit).text, "2.500");
        EXPECT_EQ(host.State(fresh, kDistanceEdit).text, "40.250");
        EXPECT_EQ(host.State(fresh, kOutputBatchingEdit).text, "1");
        EXPECT_EQ(host.State(fresh, kEncoderResolutionEdit).text, "0.000");
        EXPECT_EQ(StoredSettings()->SynchronizeMethod, c.stored != 0 ? 1 : 0);
    }
}

TEST_F(WebPageTest, TimeSyncSwapsTheEnabledControlsAndApplyStoresIt) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Click(kTimeSyncRadio);
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    EXPECT_EQ(Enabled(kTimeControls), std::vector<bool>(3, true));
    EXPECT_EQ(Enabled(kEncoderControls), std::vector<bool>(6, false));
    EXPECT_TRUE(State(kOutputBatchingEdit).enabled);
    EXPECT_TRUE(State(kXResolutionEdit).enabled);
    EXPECT_EQ(StoredSettings()->SynchronizeMethod, 0);
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(StoredSettings()->SynchronizeMethod, 1);
    Click(kEncoderSyncRadio);
    EXPECT_EQ(Enabled(kTimeControls), std::vector<bool>(3, false));
    EXPECT_EQ(Enabled(kEncoderControls), std::vector<bool>(6, true));
}

TEST_F(WebPageTest, EditsAreReadLenientlyAndStoredAsTyped) {
    ASSERT_EQ(page->Activate(), 1);
    Click(kTimeSyncRadio);
    host.ClearLog();
    Enter(kTimeEdit, "12.5");
    Enter(kXResolutionEdit, "3.25mil");
    Enter(kOutputBatchingEdit, "4");
    Click(kEncoderSyncRadio);
    Enter(kDistanceEdit, "-80.5");
    Enter(kEncoderResolutionEdit, "x");
    EXPECT_EQ(host.Of("SetModified").size(), 6u);
    ASSERT_EQ(page->Apply(), 1);
    StoredSettings stored;
    EXPECT_EQ(stored->Time, 12);
    EXPECT_DOUBLE_EQ(stored->XResolution, 3.25);
    EXPECT_EQ(stored->OutputBatchCount, 4);
    EXPECT_DOUBLE_EQ(stored->Distance, -80.5);
    EXPECT_DOUBLE_EQ(stored->EncoderResolution, 0.0);
    EXPECT_EQ(stored->SynchronizeMethod, 0);
}

TEST_F(WebPageTest, WithoutSettingsNothingIsShownOrWrittenAndTheOperatorIsTold) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    for (int32_t id : {kOutputBatchingEdit, kXResolutionEdit, kTimeEdit, kDistanceEdit, kEncoderResolutionEdit})
        EXPECT_EQ(State(id).text, "") << id;
    EXPECT_EQ(State(kTimeSyncRadio).checked, 0);
    EXPECT_EQ(State(kEncoderSyncRadio).checked, 0);
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
}

TEST_F(WebPageTest, ApplyAfterAFailedModeSwitchWritesNoZeros) {
    WriteWeb(1);
    pagetest::ExpectNoZerosAfterAFailedSwitch(host, page, space.Host("SN7/Settings.xml"));
    StoredSettings stored;
    EXPECT_EQ(stored->SynchronizeMethod, 1);
    EXPECT_DOUBLE_EQ(stored->XResolution, 2.5);
    EXPECT_DOUBLE_EQ(stored->Distance, 40.25);
    EXPECT_EQ(stored->Time, 15);
}

TEST_F(WebPageTest, AWebBlockThatDoesNotReadEndsActivateAndIsNeverOverwritten) {
    // "Web" without its "SyncResolution": the settings do not read.
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(pagetest::ReplaceIn(&text, "<MaxSlices>0</MaxSlices>",
                                    "<MaxSlices>0</MaxSlices><Web><SynchronizeMethod>1</SynchronizeMethod>"
                                    "<XResolution>2.5</XResolution></Web>"));
    space.Write("SN7/Settings.xml", text);
    host.ClearLog();
    EXPECT_EQ(page->Activate(), 0);
    // The station pipe was switched; the client pipe and the display not.
    EXPECT_EQ(host.log,
              (std::vector<std::string>{
                  "mode SN7 Web",
                  "ReportError Cannot read the settings of server 7: Settings.xml lacks an element it must have."}));
    EXPECT_EQ(host.ClientMode(), "");
    // The operator mends the file; an Apply before the page is shown again
    // still holds no values of it.
    std::string mended = text;
    ASSERT_TRUE(pagetest::ReplaceIn(&mended, "</XResolution></Web>",
                                    "</XResolution><SyncResolution><Distance>40.25</Distance><Time>15</Time>"
                                    "</SyncResolution></Web>"));
    space.Write("SN7/Settings.xml", mended);
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), mended);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(State(kTimeEdit).text, "15");
    EXPECT_EQ(StoredSettings()->Time, 15);
}

TEST_F(WebPageTest, SettingsThatFailToParseEndActivateWithTheReason) {
    space.Write("SN7/Settings.xml", "<SensorGroup><Broken></SensorGroup>");
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_PARSE);
    const std::vector<std::string> reports = host.Of("ReportError");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Cannot read the settings of server 7: "), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("line 1"), std::string::npos) << reports[0];
    EXPECT_EQ(host.ClientMode(), "");
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "<SensorGroup><Broken></SensorGroup>");
}

TEST_F(WebPageTest, FailuresEndActivateBeforeTheCacheIsShown) {
    ASSERT_EQ(page->Activate(), 1);
    zvtest::FaultLoop loop;
    loop.operation = [&] { return page->Activate(); };
    loop.intact = {space.Host("SN7/Settings.xml")};
    loop.check = pagetest::ExpectActivateStatus;
    loop.Run();
    pagetest::ExpectReportedFailures(
        host, [&] { return page->Apply(); }, space.Host("SN7/Settings.xml"));
}

}  // namespace
