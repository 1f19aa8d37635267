// System Capture (1020): capture on while the page is current, the client
// pipe disabled, the capture settings and the station's mode on the first
// server.
#include <gtest/gtest.h>

#include "document_test_support.hpp"
#include "page_host.hpp"
#include "pages/system_page_capture.h"
#include "stored_settings.hpp"

namespace {

using pagetest::StoredSettings;
using wf::driver::Result;

constexpr int32_t kMode = 1031, kSource = 1032, kReduction = 1033;

struct CapturePageTest : ::testing::Test {
    doctest::TempFileSpace space;
    bool created = SettingsCreateDefault("\\SN7\\Settings.xml", 2) > 0;
    pagetest::PageHost host{space.Host(""), {7, 9}};
    hostapi::Node* capture = host.Node(hostapi::kCaptureNode, {hostapi::kCaptureNode, 0, 0, nullptr}, nullptr);
    hostapi::Page* page = host.OpenPage(1020, capture);

    void SetUp() override { ASSERT_TRUE(created); }

    void Reduce(const std::string& text) { host.Enter(page, kReduction, text); }
};

TEST(CaptureModeName, NamesTheFourModesOfTheList) {
    const std::vector<std::pair<int32_t, const char*>> cases = {
        {0, "Free"}, {1, "Calibration"}, {2, "Detection"}, {3, "Web"}, {4, "Unknown"}, {-1, "Unknown"}};
    for (const auto& [index, name] : cases) EXPECT_STREQ(CaptureModeName(index), name) << index;
}

TEST_F(CapturePageTest, TheDialogShowsTheDefaults) {
    char name[16] = {};
    page->GetName(name, sizeof name);
    EXPECT_STREQ(name, "Capture");
    EXPECT_STREQ(dynamic_cast<ConfigPage*>(page)->GetRuntimeClass()->className, "CSystemPageCapture");
    const wf::ControlState mode = host.State(page, kMode);
    EXPECT_EQ(mode.items, (std::vector<std::string>{"Free", "Calibration", "Detection", "Web"}));
    EXPECT_EQ(mode.selection, 2);
    const wf::ControlState source = host.State(page, kSource);
    EXPECT_EQ(source.items, (std::vector<std::string>{"Imager", "FPGA", "Sensor", "Server"}));
    EXPECT_EQ(source.selection, 3);
    EXPECT_EQ(host.State(page, kReduction).text, "1");
}

TEST_F(CapturePageTest, OpeningStartsTheCaptureOnTheFirstServer) {
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"enabled client 0", "capture 1", "segment 200000000",
                                                  "mode SN7 Detection"}));
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
    ASSERT_EQ(wf::driver::Select(host.Control(page, kMode), 3), Result::Done);
    EXPECT_EQ(host.log, std::vector<std::string>{"mode SN7 Web"});
    ASSERT_EQ(wf::driver::Select(host.Control(page, kSource), 1), Result::Done);
    EXPECT_EQ(StoredSettings()->CaptureSource, 1);
    struct Case {
        const char* typed;
        const char* shown;
        int32_t stored;
    };
    // A text without a number keeps the reduction; a minus sign wraps it.
    for (const Case& c : {Case{"4x", "4", 4}, Case{"x", "4", 4}, Case{"", "4", 4}, Case{" +12", "12", 12},
                          Case{"-1", "4294967295", -1}, Case{"0", "0", 0}}) {
        SCOPED_TRACE(c.typed);
        Reduce(c.typed);
        EXPECT_EQ(host.State(page, kReduction).text, c.shown);
        EXPECT_EQ(StoredSettings()->CaptureDivisor, c.stored);
    }
    EXPECT_EQ(StoredSettings()->CaptureEnabled, 1);
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
    ASSERT_EQ(wf::driver::Select(host.Control(page, kMode), 0), Result::Done);
    EXPECT_EQ(host.log, std::vector<std::string>{"mode SN7 Free"});
    EXPECT_EQ(StoredSettings()->CaptureEnabled, 0);
}

TEST_F(CapturePageTest, WithoutSettingsOnTheFirstServerNothingIsCaptured) {
    std::filesystem::remove(space.Host("SN7/Settings.xml"));
    host.ClearLog();
    ASSERT_EQ(page->Activate(), 1);
    EXPECT_EQ(host.log, std::vector<std::string>{"enabled client 0"});
    ASSERT_EQ(wf::driver::Select(host.Control(page, kMode), 3), Result::Done);
    Reduce("5");
    EXPECT_EQ(host.log, std::vector<std::string>{"enabled client 0"});
    EXPECT_FALSE(space.Exists("SN7/Settings.xml"));
    EXPECT_EQ(host.StationMode(7), "");
}

TEST_F(CapturePageTest, AClientWithoutServersHasNoFirstServer) {
    zvHandle bare = nullptr;
    ASSERT_GT(zvClientCreate(&bare), 0);
    std::swap(host.client, bare);
    EXPECT_EQ(dynamic_cast<CSystemPageCapture*>(page)->CaptureApply(), ZV_E_NOTFOUND);
    std::swap(host.client, bare);
    zvClientDestroy(bare);
}

TEST_F(CapturePageTest, FailuresEndEachStepWithTheirStatus) {
    ASSERT_EQ(page->Activate(), 1);
    const auto check = [](const zvtest::Fault& fault, zvStatus status) {
        // SettingsLoad reads a file that cannot be opened as no file, and a
        // file that does not answer is taken as absent: nothing to do.
        if (fault.Allocation()) {
            EXPECT_TRUE(status == 1 || status == ZV_E_NOMEM || status == -995 || status == 0) << status;
        } else {
            EXPECT_TRUE(status == fault.Expected() ||
                        ((fault.call == "zvFileInit" || fault.call == "zvFileExists") && status == 1))
                << status;
        }
    };
    for (bool activate : {true, false}) {
        SCOPED_TRACE(activate ? "Activate" : "Deactivate");
        zvtest::FaultLoop loop;
        loop.operation = [&] { return activate ? page->Activate() : page->Deactivate(); };
        if (!activate) {
            // The settings' own calls are those of Activate, failed there.
            loop.calls = {"zvClientGetPipeHandle", "zvPipeEnable", "zvClientEnableCapture", "zvClientServers",
                          "zvFileExists", "zvClientGetServerHandle", "zvServerGetPipeHandle", "zvPipeSetCurrentMode"};
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
        wf::driver::Select(host.Control(page, kSource), 2);
        Reduce("3");
        return 1;
    };
    edits.calls = {"zvClientServers", "zvFileExists", "zvFileWrite", "zvPipeSetCurrentMode"};
    edits.allocations = false;
    edits.check = [](const zvtest::Fault&, zvStatus) {};
    edits.verify = [&](const zvtest::Fault&) { EXPECT_TRUE(StoredSettings()->present); };
    edits.Run();
}

}  // namespace
