// Sensor Setup (1002): the sensor's five values, the vertex-view list
// against the calibration target, the client pipe in "Calibration".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "page_test.hpp"
#include "pages/sensor_page_setup_ids.h"
#include "plugin/page_ids.h"
#include "sensor_entry.hpp"
#include "stored_settings.hpp"
#include "support/fault_loop.hpp"

namespace {

using namespace sensor_setup;
using wf::driver::Result;

uint64_t Inode(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

struct SetupPageTest : pagetest::PageTest {
    SetupPageTest() : PageTest(pagetest::PageSetup(kPageSensorSetup).OnSensor("B")) {}

    std::vector<std::string> Numbers(int32_t count) const {
        std::vector<std::string> items;
        for (int32_t i = 0; i < count; ++i) items.push_back(std::to_string(i));
        return items;
    }
};

TEST_F(SetupPageTest, ShowsTheSensorAndTheTargetWithTheClientPipeInCalibration) {
    EXPECT_EQ(PageName(), "Setup");
    EXPECT_EQ(ClassName(), "CSensorPageSetup");
    pagetest::SetSensorValue(server, "B", "Orientation", 1);
    pagetest::SetSensorValue(server, "B", "Multiplex", 3);
    pagetest::SetSensorValue(server, "B", "DetectionThreshold", -12);
    pagetest::SetSensorValue(server, "B", "Exposure", 1);
    const std::string mode = host.StationMode(7);
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode client Calibration", "SelectLayout 0"}));
    EXPECT_EQ(host.StationMode(7), mode);  // the station pipe is left alone
    EXPECT_EQ(State(kOrientationList).items, Numbers(2));
    EXPECT_EQ(State(kOrientationList).selection, 1);
    EXPECT_EQ(State(kMultiplexList).selection, 3);
    EXPECT_EQ(State(kVertexViewList).selection, 0);
    EXPECT_EQ(State(kThresholdEdit).text, "-12");
    EXPECT_EQ(State(kExposureList).items, Numbers(2));
    EXPECT_EQ(State(kExposureList).selection, 1);

    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Calibration");
    EXPECT_EQ(view.GetInnerControl()->XAxisText(), "mils");
    EXPECT_EQ(view.GetInnerControl()->YAxisText(), "mils");
    ASSERT_EQ(zvPlotItemCount(view.Shown()), 1);
    // The closed polygon and the four vertex numbers.
    EXPECT_EQ(zvGraphicDrawingCount(zvPlotItemAt(view.Shown(), 0)), 5);

    // Applied unchanged, the values stay as they were.
    ASSERT_EQ(page->Apply(), 1);
    for (auto [element, value] : {std::pair{"Orientation", 1}, std::pair{"Multiplex", 3}, std::pair{"VertexView", 0},
                                  std::pair{"DetectionThreshold", -12}, std::pair{"Exposure", 1}}) {
        EXPECT_EQ(pagetest::SensorValue(server, "B", element), value) << element;
    }
}

TEST_F(SetupPageTest, TheVertexViewListFollowsTheTargetAndTheStoredView) {
    struct Case {
        int32_t vertices;
        int32_t view;
        int32_t entries;
        int32_t selected;  // also what Apply writes without a new choice
    };
    for (const Case& c : {Case{4, 2, 4, 2}, Case{4, 6, 6, -1}, Case{12, 11, 12, 11}, Case{1, 0, 1, 0},
                          Case{0, 2, 2, -1}, Case{4, 47, 47, -1}, Case{4, 48, 4, -1}, Case{4, -1, 4, -1},
                          Case{4, INT32_MAX, 4, -1}, Case{4, INT32_MIN, 4, -1}}) {
        SCOPED_TRACE(std::to_string(c.vertices) + " vertices, view " + std::to_string(c.view));
        pagetest::SetTarget(server, pagetest::Line(c.vertices));
        pagetest::SetSensorValue(server, "B", "VertexView", c.view);
        ASSERT_EQ(page->Activate(), 1);
        // A view no run can have (-1 after an Apply without a choice)
        // makes no list of billions.
        EXPECT_EQ(State(kVertexViewList).items, Numbers(c.entries));
        EXPECT_EQ(State(kVertexViewList).selection, c.selected);
        ASSERT_EQ(page->Apply(), 1);
        EXPECT_EQ(pagetest::SensorValue(server, "B", "VertexView"), c.selected);
    }
}

TEST_F(SetupPageTest, ChoicesAndTypedThresholdsAreWrittenAsTheyRead) {
    pagetest::SetTarget(server, pagetest::Line(12));
    ASSERT_EQ(page->Activate(), 1);
    // The list is in numeric order: entry 10 is "10".
    ASSERT_EQ(State(kVertexViewList).items.at(10), "10");
    Select(kVertexViewList, 10);
    Select(kOrientationList, 1);
    Select(kMultiplexList, 2);
    Select(kExposureList, 1);
    struct Case {
        const char* text;
        int32_t stored;
    };
    for (const Case& c : {Case{"25abc", 25}, Case{"", 0}, Case{" -7", -7}, Case{"12.9", 12}, Case{"abc", 0},
                          Case{"99999999999", INT32_MAX}}) {
        SCOPED_TRACE(c.text);
        Type(kThresholdEdit, c.text);
        ASSERT_EQ(page->Apply(), 1);
        EXPECT_EQ(pagetest::SensorValue(server, "B", "DetectionThreshold"), c.stored);
    }
    EXPECT_EQ(pagetest::SensorValue(server, "B", "VertexView"), 10);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Orientation"), 1);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Multiplex"), 2);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Exposure"), 1);
    // The other sensors keep theirs.
    EXPECT_EQ(pagetest::SensorValue(server, "A", "DetectionThreshold"), 15);
}

TEST_F(SetupPageTest, OutOfRangeValuesShowNoSelectionAndAMissingExposureShowsZero) {
    pagetest::SetSensorValue(server, "B", "Orientation", 2);
    pagetest::SetSensorValue(server, "B", "Multiplex", 4);
    pagetest::RemoveSensorValue(server, "B", "Exposure");
    ASSERT_EQ(pagetest::SensorValue(server, "B", "Exposure"), INT_MIN);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(State(kOrientationList).selection, -1);
    EXPECT_EQ(State(kMultiplexList).selection, -1);
    EXPECT_EQ(State(kExposureList).selection, 0);
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Orientation"), -1);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Multiplex"), -1);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Exposure"), 0);
}

TEST_F(SetupPageTest, ListChoicesAndLeavingTheThresholdMarkThePageModified) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Type(kThresholdEdit, "30");
    EXPECT_TRUE(host.log.empty());  // typing alone is no change notice
    int32_t modified = -1;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 0);
    for (int32_t id : {kOrientationList, kMultiplexList, kVertexViewList, kExposureList}) {
        SCOPED_TRACE(id);
        host.ClearLog();
        Select(id, 0);
        EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    }
    host.ClearLog();
    Blur(kThresholdEdit);
    EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    ASSERT_EQ(page->Apply(), 1);
    page->IsModified(&modified);
    EXPECT_EQ(modified, 1);
}

TEST_F(SetupPageTest, AMissingSensorOrGroupKeepsTheControlsIsToldAndNothingIsWritten) {
    ASSERT_EQ(page->Activate(), 1);
    Type(kThresholdEdit, "77");
    const std::filesystem::path file = space.Host("SN7/Settings.xml");
    for (auto [group, name] : {std::pair{"0", "Q"}, std::pair{"9", "B"}}) {
        SCOPED_TRACE(std::string(group) + "/" + name);
        hostapi::Page* other = host.OpenPage(kPageSensorSetup, host.SensorNode(server, group, name));
        ASSERT_EQ(wf::driver::Type(host.Control(other, kThresholdEdit), "77"), Result::Done);
        host.ClearLog();
        EXPECT_EQ(other->Activate(), ZV_E_NOTFOUND);
        // The target is drawn when the group is there.
        EXPECT_EQ(host.Of("SelectLayout").size(), std::string(group) == "0" ? 1u : 0u);
        const std::string told = "ReportError Sensor \"" + std::string(name) + "\" of group \"" + group +
                                 "\" is not in the settings of server 7.";
        EXPECT_EQ(host.Of("ReportError"), std::vector<std::string>{told});
        EXPECT_EQ(host.State(other, kThresholdEdit).text, "77");
        const std::string before = space.Read("SN7/Settings.xml");
        const uint64_t inode = Inode(file);
        host.ClearLog();
        EXPECT_EQ(other->Apply(), ZV_E_NOTFOUND);
        EXPECT_EQ(host.Of("ReportError"), std::vector<std::string>{told});
        EXPECT_EQ(Inode(file), inode);  // not written
        EXPECT_EQ(space.Read("SN7/Settings.xml"), before);
    }
    EXPECT_EQ(pagetest::SensorValue(server, "B", "DetectionThreshold"), 15);
}

TEST_F(SetupPageTest, WithoutATargetNothingIsShownAndApplyWritesNoValues) {
    pagetest::SetSensorValue(server, "B", "Orientation", 1);
    space.Write("SN7/Settings.xml", pagetest::WithoutTarget(space.Read("SN7/Settings.xml")));
    EXPECT_EQ(page->Activate(), 0);  // no target to read
    EXPECT_EQ(State(kOrientationList).selection, -1);
    // The empty controls are not written over the sensor's values.
    Type(kThresholdEdit, "5");
    host.ClearLog();
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "Orientation"), 1);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "VertexView"), 0);
    EXPECT_EQ(pagetest::SensorValue(server, "B", "DetectionThreshold"), 15);
}

TEST_F(SetupPageTest, SettingsThatCannotBeReadLeaveTheControlsAreToldAndAreNotWritten) {
    ASSERT_EQ(page->Activate(), 1);
    Type(kThresholdEdit, "77");
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    for (const char* text : {"", "<Settings"}) {
        SCOPED_TRACE(text);
        if (*text != '\0') space.Write("SN7/Settings.xml", text);
        const zvStatus status = *text != '\0' ? ZV_E_PARSE : ZV_E_NOTFOUND;
        host.ClearLog();
        EXPECT_EQ(page->Activate(), status);
        EXPECT_EQ(State(kThresholdEdit).text, "77");
        EXPECT_EQ(page->Apply(), status);
        const std::vector<std::string> reports = host.Of("ReportError");
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[0].rfind("ReportError Cannot read the settings of server 7: ", 0), 0u) << reports[0];
        EXPECT_NE(reports[0].find("Settings.xml"), std::string::npos) << reports[0];
        EXPECT_EQ(reports[1].rfind("ReportError Nothing was written: cannot read the settings of server 7: ", 0), 0u)
            << reports[1];
        EXPECT_EQ(space.Exists("SN7/Settings.xml"), *text != '\0');
        if (*text != '\0') {
            EXPECT_EQ(space.Read("SN7/Settings.xml"), text);
        }
    }
}

TEST_F(SetupPageTest, ActivateAndApplyUnderFailures) {
    ASSERT_EQ(page->Activate(), 1);  // the client's handles are made on first use
    zvtest::FaultLoop activate;
    activate.operation = [&] {
        host.ClearLog();
        return page->Activate();
    };
    activate.check = [&](const zvtest::Fault& fault, zvStatus status) {
        // Every failure comes back as the platform gave it; the pipe's
        // before anything is read.
        pagetest::ExpectPageStatus(fault, status);
        if (fault.call == "zvClientGetPipeHandle" || fault.call == "zvPipeSetCurrentMode") {
            EXPECT_TRUE(host.Of("SelectLayout").empty());
        }
        EXPECT_EQ(State(kVertexViewList).items, Numbers(4));
    };
    EXPECT_GT(activate.Run(), 0);

    ASSERT_EQ(page->Activate(), 1);
    const std::string before = space.Read("SN7/Settings.xml");
    Type(kThresholdEdit, "44");
    zvtest::FaultLoop apply;
    apply.operation = [&] {
        host.ClearLog();
        return page->Apply();
    };
    apply.check = pagetest::ExpectPageStatus;
    apply.verify = [&](const zvtest::Fault&) {
        // Told, and the old file kept whole.
        EXPECT_EQ(host.Of("ReportError").size(), 1u);
        EXPECT_EQ(space.Read("SN7/Settings.xml"), before);
    };
    apply.cleanup = [&] { space.Write("SN7/Settings.xml", before); };
    EXPECT_GT(apply.Run(), 0);
}

}  // namespace
