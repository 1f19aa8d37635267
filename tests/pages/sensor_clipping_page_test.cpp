// Sensor Clipping (1021): the four clipping values of one sensor, stored
// as typed, with the target shown while the page is current.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/sensor_page_clipping_ids.h"
#include "plugin/page_ids.h"
#include "sensor_entry.hpp"
#include "stored_settings.hpp"

namespace {

using namespace sensor_clipping;

constexpr int32_t kEdits[] = {kMinYEdit, kMaxYEdit, kMinXEdit, kMaxXEdit};
constexpr const char* kElements[] = {"RangeClipMinY", "RangeClipMaxY", "RangeClipMinX", "RangeClipMaxX"};

struct ClippingPageTest : pagetest::PageTest {
    ClippingPageTest() : PageTest(pagetest::PageSetup(kPageSensorClipping).OnSensor("C")) {}

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (int32_t id : kEdits) texts.push_back(Text(id));
        return texts;
    }
    std::vector<int32_t> Stored() const {
        std::vector<int32_t> values;
        for (const char* element : kElements) values.push_back(pagetest::SensorValue(server, "C", element));
        return values;
    }
    void Store(std::vector<int32_t> values) const {
        for (size_t i = 0; i < values.size(); ++i) pagetest::SetSensorValue(server, "C", kElements[i], values[i]);
    }
};

TEST_F(ClippingPageTest, ShowsTheBoxInOrderAndWritesItBackUnchanged) {
    EXPECT_EQ(PageName(), "Clipping");
    EXPECT_EQ(ClassName(), "CSensorPageClipping");
    Store({-2000, 2000, -5000, 5000});
    const std::string before = space.Read("SN7/Settings.xml");
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"mode client Calibration", "SelectLayout 0"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"-2000", "2000", "-5000", "5000"}));
    zvMultiView& view = host.displays.display[0].multiView;
    ASSERT_NE(view.Shown(), nullptr);
    EXPECT_STREQ(zvPlotTitle(view.Shown()), "Calibration");
    EXPECT_EQ(view.GetInnerControl()->XAxisText(), "mils");
    ASSERT_EQ(page->Apply(), 1);
    EXPECT_EQ(Stored(), (std::vector<int32_t>{-2000, 2000, -5000, 5000}));
    EXPECT_EQ(space.Read("SN7/Settings.xml"), before);
}

TEST_F(ClippingPageTest, MissingValuesShowZeroAndTypedTextsAreStoredAsTheyRead) {
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"0", "0", "0", "0"}));
    struct Case {
        std::vector<std::string> typed;
        std::vector<int32_t> stored;
    };
    for (const Case& c : {Case{{" -150", "abc", "100", "-100"}, {-150, 0, 100, -100}},  // a minimum above its maximum
                          Case{{"+7mils", "", "12.9", "99999999999"}, {7, 0, 12, INT32_MAX}}}) {
        SCOPED_TRACE(c.typed[0]);
        for (size_t i = 0; i < c.typed.size(); ++i) Type(kEdits[i], c.typed[i]);
        ASSERT_EQ(page->Apply(), 1);
        EXPECT_EQ(Stored(), c.stored);
    }
    // Only this sensor's entry changes.
    EXPECT_EQ(pagetest::SensorValue(server, "B", "RangeClipMinY"), INT_MIN);
}

TEST_F(ClippingPageTest, LeavingAnEditMarksThePageModifiedEvenWithoutAChange) {
    ASSERT_EQ(page->Activate(), 1);
    for (int32_t id : kEdits) {
        SCOPED_TRACE(id);
        host.ClearLog();
        Blur(id);
        EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    }
    int32_t modified = 0;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 1);
}

TEST_F(ClippingPageTest, AMissingSensorKeepsTheEditsAfterDrawingAndIsTold) {
    Store({-1, 1, -2, 2});
    hostapi::Page* other = host.OpenPage(kPageSensorClipping, host.SensorNode(server, "0", "Q"));
    ASSERT_EQ(wf::driver::Type(host.Control(other, kMinYEdit), "5"), wf::driver::Result::Done);
    host.ClearLog();
    EXPECT_EQ(other->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("SelectLayout").size(), 1u);
    EXPECT_EQ(host.State(other, kMinYEdit).text, "5");
    const std::string before = space.Read("SN7/Settings.xml");
    EXPECT_EQ(other->Apply(), ZV_E_NOTFOUND);
    EXPECT_EQ(
        host.Of("ReportError"),
        std::vector<std::string>(2, "ReportError Sensor \"Q\" of group \"0\" is not in the settings of server 7."));
    EXPECT_EQ(space.Read("SN7/Settings.xml"), before);
    EXPECT_EQ(Stored(), (std::vector<int32_t>{-1, 1, -2, 2}));
}

TEST_F(ClippingPageTest, WithoutATargetNothingIsShownAndApplyWritesNoBox) {
    Store({-1, 1, -2, 2});
    space.Write("SN7/Settings.xml", pagetest::WithoutTarget(space.Read("SN7/Settings.xml")));
    EXPECT_EQ(page->Activate(), 0);  // no target to read
    EXPECT_EQ(Texts(), (std::vector<std::string>{"", "", "", ""}));
    host.ClearLog();
    EXPECT_EQ(page->Apply(), ZV_E_STATE);
    EXPECT_EQ(host.Of("ReportError").size(), 1u);
    EXPECT_EQ(Stored(), (std::vector<int32_t>{-1, 1, -2, 2}));
}

TEST_F(ClippingPageTest, ActivateAndApplyUnderFailures) {
    Store({-2000, 2000, -5000, 5000});
    ASSERT_EQ(page->Activate(), 1);
    zvtest::FaultLoop activate;
    activate.operation = [&] {
        host.ClearLog();
        for (int32_t id : kEdits) wf::driver::Type(host.Control(page, id), "1");
        return page->Activate();
    };
    activate.check = [&](const zvtest::Fault& fault, zvStatus status) {
        // Every failure comes back as the platform gave it; until the box
        // is read the edits keep what they held.
        pagetest::ExpectPageStatus(fault, status);
        if (fault.call != "zvXMLGetChildInt") {
            EXPECT_EQ(Texts(), (std::vector<std::string>{"1", "1", "1", "1"}));
        }
        if (fault.call == "zvClientGetPipeHandle" || fault.call == "zvPipeSetCurrentMode") {
            EXPECT_TRUE(host.Of("SelectLayout").empty());
        }
    };
    EXPECT_GT(activate.Run(), 0);

    const std::string before = space.Read("SN7/Settings.xml");
    ASSERT_EQ(page->Activate(), 1);
    Type(kMaxXEdit, "6000");
    zvtest::FaultLoop apply;
    apply.operation = [&] {
        host.ClearLog();
        return page->Apply();
    };
    apply.check = pagetest::ExpectPageStatus;
    apply.verify = [&](const zvtest::Fault&) {
        // Told, and the old file kept whole.
        EXPECT_EQ(host.Of("ReportError").size(), 1u);
        EXPECT_EQ(pagetest::SensorValue(server, "C", "RangeClipMaxX"), 5000);
    };
    apply.cleanup = [&] { space.Write("SN7/Settings.xml", before); };
    EXPECT_GT(apply.Run(), 0);
}

}  // namespace
