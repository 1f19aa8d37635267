// System Capture (1020): capture on while the page is current, the client
// pipe disabled, the capture settings and the station's mode on the first
// server.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "page_test.hpp"
#include "pages/system_page_capture.h"
#include "pages/system_page_capture_ids.h"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"
#include "zvapi/zv_handle.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

using namespace system_capture;
using pagetest::StoredSettings;

// Servers 7 and 9, the page on the capture node.
struct CapturePageTest : pagetest::PageTest {
    CapturePageTest() : PageTest(pagetest::PageSetup(kPageSystemCapture).Sensors(2).OnCapture().Servers({7, 9})) {}

    void Reduce(const std::string& text) const { Enter(kReductionEdit, text); }
};

TEST(CaptureModeName, NamesTheFourModesOfTheList) {
    const std::vector<std::pair<int32_t, const char*>> cases = {{0, "Free"}, {1, "Calibration"}, {2, "Detection"},
                                                                {3, "Web"},  {4, "Unknown"},     {-1, "Unknown"}};
    for (const auto& [index, name] : cases) EXPECT_STREQ(CaptureModeName(index), name) << index;
}

TEST_F(CapturePageTest, TheDialogShowsTheDefaults) {
    EXPECT_EQ(PageName(), "Capture");
    EXPECT_EQ(ClassName(), "CSystemPageCapture");
    const wf::ControlState mode = State(kModeList);
    EXPECT_EQ(mode.items, (std::vector<std::string>{"Free", "Calibration", "Detection", "Web"}));
    EXPECT_EQ(mode.selection, 2);
    const wf::ControlState source = State(kSourceList);
    EXPECT_EQ(source.items, (std::vector<std::string>{"Imager", "FPGA", "Sensor", "Server"}));
    EXPECT_EQ(source.selection, 3);
    EXPECT_EQ(State(kReductionEdit).text, "1");
}

TEST_F(CapturePageTest, OpeningStartsTheCaptureOnTheFirstServer) {
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"enabled client 0", "capture 1", "segment 200000000", "mode SN7 Detection"}));
    EXPECT_TRUE(host.connection->CaptureOn());
    StoredSettings stored;
    EXPECT_EQ(stored->CaptureEnabled, 1);
    EXPECT_EQ(stored->CaptureSource, 3);
    EXPECT_EQ(stored->CaptureDivisor, 1);
    EXPECT_EQ(host.StationMode(9), "");
}

TEST_F(CapturePageTest, ChangesApplyAtOnce) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Select(kModeList, 3);
    EXPECT_EQ(host.log, std::vector<std::string>{"mode SN7 Web"});
    Select(kSourceList, 1);
    EXPECT_EQ(StoredSettings()->CaptureSource, 1);
    EXPECT_EQ(StoredSettings()->CaptureEnabled, 1);
}

TEST_F(CapturePageTest, TheReductionShownIsTheReductionStored) {
    ASSERT_EQ(page->Activate(), 1);
    struct Case {
        const char* typed;
        const char* shown;  // also what "Divisor" holds
        bool refused;
    };
    // A text without a number keeps the reduction; so does a number that
    // "Divisor" cannot hold, and the operator is told.
    for (const Case& c : {Case{"4x", "4", false}, Case{"x", "4", false}, Case{"", "4", false},
                          Case{" +12", "12", false}, Case{"-1", "12", true}, Case{"99999999999", "12", true},
                          Case{"4294967295", "12", true}, Case{"2147483648", "12", true},
                          Case{"2147483647", "2147483647", false}, Case{"-0", "0", false}, Case{"0", "0", false}}) {
        SCOPED_TRACE(c.typed);
        host.ClearLog();
        Reduce(c.typed);
        EXPECT_EQ(State(kReductionEdit).text, c.shown);
        EXPECT_EQ(std::to_string(StoredSettings()->CaptureDivisor), c.shown);
        const std::vector<std::string> refusal = {
            "ReportError The reduction must be a whole number from 0 to 2147483647."};
        EXPECT_EQ(host.Of("ReportError"), c.refused ? refusal : std::vector<std::string>{});
    }
}

TEST_F(CapturePageTest, TheSettingsAreWrittenBeforeTheStationPipeIsSwitched) {
    ASSERT_EQ(page->Activate(), 1);
    zv::testing::Scope scope;
    zv::testing::JournalStart();
    Select(kModeList, 0);
    zv::testing::JournalStop();
    std::vector<std::string> calls;
    for (const std::string& entry : zv::testing::Journal()) calls.push_back(entry.substr(0, entry.find(' ')));
    // The file is whole once closed: its last close comes before the switch.
    const auto last = [&](const char* call) {
        return std::find(calls.rbegin(), calls.rend(), call).base() - calls.begin() - 1;
    };
    ASSERT_GE(last("zvPipeSetCurrentMode"), 0);
    ASSERT_GE(last("zvFileWrite"), 0);
    EXPECT_LT(last("zvFileWrite"), last("zvFileDestroy"));
    EXPECT_LT(last("zvFileDestroy"), last("zvPipeSetCurrentMode"));
    // A write that fails switches nothing: the station keeps its mode.
    host.ClearLog();
    zv::testing::FailCall("zvFileCommit", 1, ZV_E_IO);
    Select(kModeList, 3);
    zv::testing::ClearFaults();
    EXPECT_EQ(host.StationMode(7), "Free");
    EXPECT_TRUE(host.Of("mode").empty());
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
}

TEST_F(CapturePageTest, LeavingStopsTheCaptureAndEnablesTheClientPipe) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    ASSERT_EQ(page->Deactivate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"enabled client 1", "capture 0", "mode SN7 Detection"}));
    EXPECT_FALSE(host.connection->CaptureOn());
    EXPECT_EQ(StoredSettings()->CaptureEnabled, 0);
    // Edits while inactive write "Enabled" 0 and switch the station.
    host.ClearLog();
    Select(kModeList, 0);
    EXPECT_EQ(host.log, std::vector<std::string>{"mode SN7 Free"});
    EXPECT_EQ(StoredSettings()->CaptureEnabled, 0);
}

TEST_F(CapturePageTest, WithoutSettingsOnTheFirstServerNothingIsCapturedAndTheOperatorIsTold) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.log, (std::vector<std::string>{"enabled client 0",
                                                  "ReportError Nothing is captured: Settings.xml of server 7 is "
                                                  "absent (create it on the server's Setup page)."}));
    host.ClearLog();
    Select(kModeList, 3);
    Reduce("5");
    EXPECT_EQ(host.log,
              std::vector<std::string>(2, "ReportError Nothing was written: the first server has no Settings.xml."));
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    EXPECT_EQ(host.StationMode(7), "");
    // Leaving the page has nothing to undo in the file.
    host.ClearLog();
    EXPECT_EQ(page->Deactivate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"enabled client 1", "capture 0"}));
}

TEST_F(CapturePageTest, SettingsThatFailToParseEndActivateUnwritten) {
    space.Write("SN7/Settings.xml", "<SensorGroup>");
    host.ClearLog();
    EXPECT_EQ(page->Activate(), ZV_E_PARSE);
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "<SensorGroup>");
    EXPECT_EQ(host.StationMode(7), "");
    // A change reports the reason the platform gives.
    host.ClearLog();
    Select(kSourceList, 0);
    const std::vector<std::string> reports = host.Of("ReportError");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("The capture settings were not applied: "), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("Settings.xml"), std::string::npos) << reports[0];
}

TEST_F(CapturePageTest, AClientWithoutServersHasNoFirstServer) {
    zv::OwnedClient bare;
    ASSERT_GT(zvClientCreate(bare.Out()), 0);
    const zvHandle own = std::exchange(host.client, bare.Get());
    EXPECT_EQ(dynamic_cast<CSystemPageCapture*>(page)->CaptureApply(), ZV_E_NOTFOUND);
    host.client = own;
}

TEST_F(CapturePageTest, FailuresEndEachStepWithTheirStatus) {
    ASSERT_EQ(page->Activate(), 1);
    for (bool activate : {true, false}) {
        // A file that does not answer whether it is there counts as absent:
        // nothing is captured, and leaving has nothing to undo.
        const auto check = [activate](const zvtest::Fault& fault, zvStatus status) {
            if (fault.call == "zvFileExists") {
                EXPECT_EQ(status, activate ? ZV_E_NOTFOUND : 1);
            } else {
                pagetest::ExpectPassedBack(fault, status);
            }
        };
        SCOPED_TRACE(activate ? "Activate" : "Deactivate");
        zvtest::FaultLoop loop;
        loop.operation = [&] { return activate ? page->Activate() : page->Deactivate(); };
        if (!activate) {
            // The settings' own calls are those of Activate, failed there.
            loop.calls = {"zvClientGetPipeHandle", "zvPipeEnable",        "zvClientEnableCapture",
                          "zvClientServers",       "zvFileExists",        "zvClientGetServerHandle",
                          "zvServerGetPipeHandle", "zvPipeSetCurrentMode"};
            loop.allocations = false;
        }
        loop.check = check;
        // Earlier steps stay done (the settings may be written before the
        // mode switch fails), but the file is never left in part.
        loop.verify = [&](const zvtest::Fault&) { EXPECT_TRUE(StoredSettings()->present); };
        loop.Run();
    }
    zvtest::FaultLoop edits;
    edits.operation = [&] {
        wf::driver::Select(host.Control(page, kSourceList), 2);
        Reduce("3");
        return 1;
    };
    edits.calls = {"zvClientServers", "zvFileExists", "zvFileWrite", "zvPipeSetCurrentMode"};
    edits.allocations = false;
    edits.check = [](const zvtest::Fault&, zvStatus) {};
    // Every failed change is told (a list change and the reduction: two).
    edits.verify = [&](const zvtest::Fault&) {
        EXPECT_TRUE(StoredSettings()->present);
        EXPECT_GE(host.Of("ReportError").size(), 1u);
    };
    edits.cleanup = [&] { host.ClearLog(); };
    edits.Run();
}

}  // namespace
