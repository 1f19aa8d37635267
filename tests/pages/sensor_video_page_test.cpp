// Sensor Video (1017): both pipes to "Video", the Video parameters, the
// exposure and overlay in Settings.xml, the deadzone switch and threshold
// in the parameters, the display listener.
#include <gtest/gtest.h>

#include "page_test.hpp"
#include "pages/sensor_page_video_ids.h"
#include "plugin/page_ids.h"
#include "stored_settings.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

using namespace sensor_video;
using pagetest::StoredSettings;
using wf::driver::Result;

struct VideoPageTest : pagetest::PageTest {
    VideoPageTest() : PageTest(pagetest::PageSetup(kPageSensorVideo).OnSensor("C")) {}

    void SetStored(const std::string& element, int32_t value) {
        std::string text = space.Read("SN7/Settings.xml");
        const std::string open = "<" + element + ">";
        const size_t at = text.find(open);
        ASSERT_NE(at, std::string::npos);
        const size_t end = text.find("</", at);
        text.replace(at + open.size(), end - at - open.size(), std::to_string(value));
        space.Write("SN7/Settings.xml", text);
    }
    // The checked and enabled states of the deadzone box, and whether the
    // slider is enabled.
    std::tuple<int32_t, bool, bool> Deadzone() const {
        return {State(kDeadzoneCheck).checked, State(kDeadzoneCheck).enabled, State(kThresholdSlider).enabled};
    }
};

TEST_F(VideoPageTest, NameAndClass) {
    EXPECT_EQ(PageName(), "Video");
    EXPECT_EQ(ClassName(), "CSensorPageVideo");
}

TEST_F(VideoPageTest, ActivatePointsTheVideoModeAtTheSensor) {
    SetStored("VideoExposure", 1);
    ASSERT_EQ(host.connection->SetParameters("Video", {1000, 12, 5, 1}), 1);
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"mode SN7 Video", "mode client Video", "parameters client Video 1002 200 5 0",
                                        "SelectLayout 0", "AddDisplayListener 0", "AddDisplayListener 1"}));
    const wf::ControlState slider = State(kThresholdSlider);
    EXPECT_EQ(slider.position, 200);
    EXPECT_EQ(slider.rangeMin, 0);
    EXPECT_EQ(slider.rangeMax, 255);
    EXPECT_EQ(slider.tics, (std::vector<int32_t>{0, 50, 100, 150, 200, 255}));
    EXPECT_EQ(State(kOperationRadio).checked, 1);
    EXPECT_EQ(State(kDiagnosticRadio).checked, 0);
    EXPECT_EQ(State(kDeadzoneCheck).checked, 0);
    EXPECT_EQ(StoredSettings()->VideoExposure, 0);
}

TEST_F(VideoPageTest, AStoredOverlayIsShownWithoutLockingTheDeadzoneControls) {
    SetStored("VideoStyle", 1);
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(State(kOverlayCheck).checked, 1);
    EXPECT_EQ(Deadzone(), std::make_tuple(0, true, true));
}

TEST_F(VideoPageTest, OverlayAndDeadzoneCalibrationExcludeEachOther) {
    ASSERT_EQ(page->Activate(), 1);
    Click(kDeadzoneCheck);
    EXPECT_EQ(host.Parameters("Video"), (std::vector<int32_t>{1002, 200, 0, 1}));
    host.ClearLog();
    Click(kOverlayCheck);
    EXPECT_EQ(host.log, std::vector<std::string>{"parameters client Video 1002 200 0 0"});
    EXPECT_EQ(Deadzone(), std::make_tuple(0, false, false));
    EXPECT_EQ(StoredSettings()->VideoStyle, 1);
    host.ClearLog();
    Click(kOverlayCheck);
    EXPECT_EQ(StoredSettings()->VideoStyle, 0);
    EXPECT_EQ(Deadzone(), std::make_tuple(0, true, true));
    EXPECT_EQ(host.Parameters("Video"), (std::vector<int32_t>{1002, 200, 0, 0}));
    EXPECT_EQ(host.log, std::vector<std::string>{"parameters client Video 1002 200 0 0"});
}

TEST_F(VideoPageTest, AnOverlayThatCannotBeStoredLeavesThePageAsItWas) {
    ASSERT_EQ(page->Activate(), 1);
    Click(kDeadzoneCheck);
    host.ClearLog();
    for (const char* failing : {"zvFileWrite", "zvFileRead"}) {
        SCOPED_TRACE(failing);
        zv::testing::Scope scope;
        zv::testing::FailCall(failing, 1, -77);
        Click(kOverlayCheck);
        EXPECT_EQ(State(kOverlayCheck).checked, 0);
        EXPECT_EQ(Deadzone(), std::make_tuple(1, true, true));
        EXPECT_EQ(host.Parameters("Video"), (std::vector<int32_t>{1002, 200, 0, 1}));
    }
    EXPECT_EQ(host.log, (std::vector<std::string>{"ReportError Cannot write server settings",
                                                  "ReportError Cannot read server settings"}));
    EXPECT_EQ(StoredSettings()->VideoStyle, 0);
}

TEST_F(VideoPageTest, TheSliderSendsItsPositionWhenReleased) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    ASSERT_EQ(wf::driver::Slide(host.Control(page, kThresholdSlider), 87), Result::Done);
    EXPECT_EQ(host.log, std::vector<std::string>{"parameters client Video 1002 87 0 0"});
}

TEST_F(VideoPageTest, TheExposureButtonsWriteTheSettings) {
    ASSERT_EQ(page->Activate(), 1);
    host.ClearLog();
    Click(kDiagnosticRadio);
    EXPECT_EQ(StoredSettings()->VideoExposure, 1);
    Click(kOperationRadio);
    EXPECT_EQ(StoredSettings()->VideoExposure, 0);
    EXPECT_TRUE(host.log.empty());
    // Without a settings file nothing is written and nothing reported.
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    Click(kDiagnosticRadio);
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    EXPECT_TRUE(host.log.empty());
}

TEST_F(VideoPageTest, ASensorWithoutASerialNumberStopsAfterTheStationPipe) {
    // Sensor "C" has no readable serial number, and "Q" is in no entry.
    std::string text = space.Read("SN7/Settings.xml");
    ASSERT_TRUE(pagetest::ReplaceIn(&text, "<SerialNumber>1002</SerialNumber>", "<SerialNumber>-</SerialNumber>"));
    space.Write("SN7/Settings.xml", text);
    for (const char* name : {"C", "Q"}) {
        SCOPED_TRACE(name);
        hostapi::Page* video = host.OpenPage(kPageSensorVideo, host.SensorNode(server, "0", name));
        host.ClearLog();
        EXPECT_EQ(video->Activate(), 0);
        EXPECT_EQ(host.log, (std::vector<std::string>{"mode SN7 Video",
                                                      "ReportError Current sensor serial is invalid (not assigned?)"}));
        EXPECT_EQ(host.StationMode(7), "Video");
        EXPECT_NE(host.ClientMode(), "Video");
        // It listens to no display, so leaving removes nothing.
        host.ClearLog();
        EXPECT_EQ(video->Deactivate(), 1);
        EXPECT_TRUE(host.log.empty());
    }
}

TEST_F(VideoPageTest, ListensToBothDisplaysWhileCurrent) {
    ASSERT_EQ(page->Activate(), 1);
    ASSERT_EQ(page->Activate(), 1);  // still one listener per display
    ASSERT_EQ(host.displays.listeners.size(), 2u);
    auto* listener = host.displays.listeners[0].second;
    EXPECT_EQ(listener->PointerEvent(0, 1, 2, 3), 1);
    EXPECT_EQ(listener->ContentChanged(1, 2), 1);
    EXPECT_EQ(listener->ViewChanged(0, 1, 2), 1);
    host.ClearLog();
    EXPECT_EQ(page->Deactivate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"RemoveDisplayListener 0", "RemoveDisplayListener 1"}));
    EXPECT_TRUE(host.displays.listeners.empty());
    EXPECT_EQ(host.ClientMode(), "Video");  // the pipes stay
    // A page destroyed while it listens stops listening first.
    ASSERT_EQ(page->Activate(), 1);
    host.ForgetPage(page);
    page->Destroy();
    EXPECT_TRUE(host.displays.listeners.empty());
}

TEST_F(VideoPageTest, ApplyRewritesTheSettingsWithoutChangingThem) {
    std::string text = space.Read("SN7/Settings.xml");
    std::erase(text, '\n');
    space.Write("SN7/Settings.xml", text);
    host.ClearLog();
    EXPECT_EQ(page->Apply(), 1);
    EXPECT_NE(space.Read("SN7/Settings.xml"), text);  // written again, indented
    EXPECT_TRUE(host.log.empty());
    StoredSettings stored;
    EXPECT_EQ(zvArrayListCount(stored->Sensors), 4);
}

TEST_F(VideoPageTest, ApplyThatCannotRewriteTheSettingsSaysWhy) {
    hostapi::Page* other = host.OpenPage(kPageSensorVideo, host.SensorNode(server, "0", "Q"));
    const std::string before = space.Read("SN7/Settings.xml");
    host.ClearLog();
    EXPECT_EQ(other->Apply(), ZV_E_NOTFOUND);
    EXPECT_EQ(host.log,
              std::vector<std::string>{"ReportError Sensor \"Q\" of group \"0\" is not in the settings of server 7."});
    space.Write("SN7/Settings.xml", "<SensorGroup>");
    host.ClearLog();
    EXPECT_EQ(page->Apply(), ZV_E_PARSE);
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0].rfind("ReportError Cannot rewrite the settings of server 7: ", 0), 0u) << host.log[0];
    EXPECT_EQ(space.Read("SN7/Settings.xml"), "<SensorGroup>");
}

TEST_F(VideoPageTest, FailuresEndActivateAndTheHandlersQuietly) {
    ASSERT_EQ(page->Activate(), 1);
    zvtest::FaultLoop activate;
    activate.operation = [&] { return page->Activate(); };
    activate.intact = {space.Host("SN7/Settings.xml")};
    activate.check = [](const zvtest::Fault& fault, zvStatus status) {
        // A sensor that is not found has no serial number: 0 after the
        // report. Every other failure comes back as the platform gave it.
        if (fault.call == "zvAppInfoGroupFromPath" || fault.call == "zvAppInfoSensorFromParent" ||
            fault.call == "zvAppInfoSensorSerial") {
            EXPECT_EQ(status, 0);
        } else {
            pagetest::ExpectPageStatus(fault, status);
        }
    };
    activate.Run();

    zvtest::FaultLoop apply;
    apply.operation = [&] {
        host.ClearLog();
        return page->Apply();
    };
    apply.intact = {space.Host("SN7/Settings.xml")};
    apply.check = pagetest::ExpectPageStatus;
    apply.verify = [&](const zvtest::Fault&) { EXPECT_EQ(host.Of("ReportError").size(), 1u); };
    apply.Run();
    EXPECT_EQ(host.displays.listeners.size(), 2u);

    // The handlers report only what the exposure and the overlay cannot
    // read or write; the file stays whole whatever fails.
    host.ClearLog();
    for (int32_t id :
         {kDiagnosticRadio, kOperationRadio, kDeadzoneCheck, kOverlayCheck, kOverlayCheck, kDeadzoneCheck}) {
        SCOPED_TRACE(id);
        zvtest::FaultLoop handler;
        handler.operation = [&] {
            Click(id);
            return 1;
        };
        handler.check = [](const zvtest::Fault&, zvStatus) {};
        handler.verify = [&](const zvtest::Fault&) { EXPECT_TRUE(StoredSettings()->present); };
        handler.Run();
    }
    zvtest::FaultLoop slider;
    slider.operation = [&] {
        return wf::driver::Slide(host.Control(page, kThresholdSlider), 40) == Result::Done ? 1 : 0;
    };
    slider.check = [](const zvtest::Fault&, zvStatus) {};
    slider.Run();
    EXPECT_EQ(host.Parameters("Video")[1], 40);
    for (const std::string& entry : host.Of("ReportError"))
        EXPECT_TRUE(entry == "ReportError Cannot read server settings" ||
                    entry == "ReportError Cannot write server settings")
            << entry;
}

}  // namespace
