// Sensor Clipping (1021): the four clipping values of one sensor, stored
// as typed, with the target shown while the page is current.
#include <gtest/gtest.h>

#include "document_test_support.hpp"
#include "page_host.hpp"
#include "support/fault_loop.hpp"
#include "plugin/settings.h"
#include "sensor_entry.hpp"
#include "stored_settings.hpp"

namespace {

using wf::driver::Result;

constexpr int32_t kEdits[] = {1027, 1028, 1029, 1030};
constexpr const char* kElements[] = {"RangeClipMinY", "RangeClipMaxY", "RangeClipMinX", "RangeClipMaxX"};

struct ClippingPageTest : ::testing::Test {
    doctest::TempFileSpace space;
    pagetest::PageHost host{space.Host("")};
    hostapi::Node* server = host.ServerNode(7);
    hostapi::Node* sensor = nullptr;
    hostapi::Page* page = nullptr;

    void SetUp() override {
        ASSERT_GT(SettingsCreateDefault("\\SN7\\Settings.xml", 4), 0);
        sensor = host.SensorNode(server, "0", "C");
        page = host.OpenPage(1021, sensor);
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (int32_t id : kEdits) texts.push_back(host.State(page, id).text);
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
    char name[16] = {};
    page->GetName(name, sizeof name);
    EXPECT_STREQ(name, "Clipping");
    EXPECT_STREQ(dynamic_cast<wf::Object*>(page)->GetRuntimeClass()->className, "CSensorPageClipping");
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
        for (size_t i = 0; i < c.typed.size(); ++i)
            ASSERT_EQ(wf::driver::Type(host.Control(page, kEdits[i]), c.typed[i]), Result::Done);
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
        ASSERT_EQ(wf::driver::Blur(host.Control(page, id)), Result::Done);
        EXPECT_EQ(host.log, std::vector<std::string>{"SetModified"});
    }
    int32_t modified = 0;
    page->IsModified(&modified);
    EXPECT_EQ(modified, 1);
}

TEST_F(ClippingPageTest, AMissingSensorKeepsTheEditsAfterDrawingAndIsTold) {
    Store({-1, 1, -2, 2});
    hostapi::Page* other = host.OpenPage(1021, host.SensorNode(server, "0", "Q"));
    ASSERT_EQ(wf::driver::Type(host.Control(other, 1027), "5"), Result::Done);
    host.ClearLog();
    EXPECT_EQ(other->Activate(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("SelectLayout").size(), 1u);
    EXPECT_EQ(host.State(other, 1027).text, "5");
    const std::string before = space.Read("SN7/Settings.xml");
    EXPECT_EQ(other->Apply(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.Of("ReportError"),
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
    ASSERT_EQ(wf::driver::Type(host.Control(page, 1030), "6000"), Result::Done);
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
