// The host loop with the real plug-in: page events and runs made one at a
// time, pipe switches acted on once a page's call has returned.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host_loop.hpp"
#include "support/link_swapper.hpp"
#include "support/temp_space.hpp"
#include "zvstation/station.hpp"

namespace {

using nlohmann::json;

class HostLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(TORVANE_PLUGIN).empty() || !std::filesystem::exists(TORVANE_PLUGIN))
            GTEST_SKIP() << "libtorvane.so is not built";
        std::string pattern = (std::filesystem::temp_directory_path() / "zvhost-loop-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        bool created = false;
        std::string error;
        ASSERT_TRUE(zv::station::EnsureDemoStation(root_, 4, 1, &created, &error)) << error;
        ASSERT_TRUE(plugin_.Load(TORVANE_PLUGIN, &error)) << error;
        ASSERT_EQ(plugin_.Describe(&app_), 1);
        info_ = zvhost::ReadApp(app_);
        loop_ = std::make_unique<zvhost::HostLoop>(plugin_, app_, info_);
        loop_->SetEventSink([this](const json& e) { events_.push_back(e); });
        zvhost::HostLoop::Options options;
        options.describeOutputs = true;
        options.files = root_;
        ASSERT_TRUE(loop_->Open(options, &error)) << error;
    }
    void TearDown() override {
        loop_.reset();
        if (app_ != nullptr) zvPipeAppDestroy(app_);
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    std::vector<std::string> Handlers() const {
        std::vector<std::string> calls;
        for (const json& e : events_)
            if (e["event"] == "handler" && e["phase"] != "process")
                calls.push_back(e["mode"].get<std::string>() + " " + e["phase"].get<std::string>());
        return calls;
    }

    std::filesystem::path root_;
    zvhost::Plugin plugin_;
    zvHandle app_ = nullptr;
    zvhost::AppInfo info_;
    std::unique_ptr<zvhost::HostLoop> loop_;
    std::vector<json> events_;
};

TEST_F(HostLoopTest, APagesModeSwitchRestartsTheRunningMode) {
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1/A", "Free", &error)) << error;
    EXPECT_FALSE(loop_->Running());  // a mode switch alone starts nothing
    loop_->SetPlaying(true);
    ASSERT_TRUE(loop_->Running());
    EXPECT_TRUE(loop_->Step());
    // The parameters the page set reached the handlers: only sensor 1000 is drawn.
    bool drawn = false;
    for (const json& e : events_) {
        if (e["event"] != "output" || e["display"] != "Free") continue;
        for (const json& g : e["content"]["graphics"]) EXPECT_EQ(g["label"], "1000");
        drawn = true;
    }
    EXPECT_TRUE(drawn);

    ASSERT_TRUE(loop_->OpenPage("SN1", "1013", &error)) << error;
    EXPECT_TRUE(loop_->Running());
    EXPECT_EQ(Handlers(), (std::vector<std::string>{"Free start", "Free stop", "Calibration start"}));

    // System Config disables the client pipe: nothing runs while it is current.
    ASSERT_TRUE(loop_->OpenPage("SN1", "Setup", &error)) << error;
    EXPECT_FALSE(loop_->Running());
    EXPECT_FALSE(loop_->Step());
    loop_->ClosePage();  // enables it again: the mode runs on
    EXPECT_TRUE(loop_->Running());
    loop_->SetPlaying(false);
    EXPECT_FALSE(loop_->Running());
    EXPECT_EQ(Handlers(), (std::vector<std::string>{"Free start", "Free stop", "Calibration start", "Calibration stop",
                                                    "Calibration start", "Calibration stop"}));
}

TEST_F(HostLoopTest, ControlsAreFoundByIdentifierOrLabel) {
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1", "1022", &error)) << error;
    EXPECT_EQ(loop_->FindControl("1025"), 1025);
    EXPECT_EQ(loop_->FindControl("Sensors:"), 1025);
    EXPECT_EQ(loop_->FindControl("sensors"), 1025);
    EXPECT_EQ(loop_->FindControl("Create Settings.xml"), 1013);
    EXPECT_EQ(loop_->FindControl("-1"), -1);
    EXPECT_EQ(loop_->FindControl("Enter number of sensors in system"), -1);  // labels nothing
    EXPECT_EQ(loop_->FindControl("4711"), -1);
    EXPECT_EQ(loop_->FindControl(""), -1);
}

TEST_F(HostLoopTest, NotifyHostRebuildsTheTreeWhileThePageStaysOpen) {
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1", "Setup", &error)) << error;
    ASSERT_TRUE(loop_->Act({zvhost::PageAction::Kind::Type, 1025, "2", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({zvhost::PageAction::Kind::Click, 1013, "", -1}, &error)) << error;
    EXPECT_EQ(loop_->Tree().size(), 4u);  // capture, server, two sensors
    // The page works on: its node of the old tree lives until it closes.
    ASSERT_TRUE(loop_->Act({zvhost::PageAction::Kind::Type, 1025, "3", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({zvhost::PageAction::Kind::Click, 1013, "", -1}, &error)) << error;
    EXPECT_EQ(loop_->Tree().size(), 5u);
    loop_->ClosePage();
    // Refusals change nothing and say why.
    EXPECT_FALSE(loop_->Act({zvhost::PageAction::Kind::Apply, 0, "", -1}, &error));
    EXPECT_EQ(error, "no page is open");
    ASSERT_TRUE(loop_->OpenPage("SN1", "Setup", &error)) << error;
    EXPECT_FALSE(loop_->Act({zvhost::PageAction::Kind::Click, 9999, "", -1}, &error));
    EXPECT_FALSE(loop_->Act({zvhost::PageAction::Kind::Select, 1025, "x", -1}, &error));
}

// The modified mark follows the page's SetModified and clears only when
// Apply or Reload succeeds; the outcome says what Apply wrote.
TEST_F(HostLoopTest, TheModifiedMarkFollowsSetModifiedApplyAndReload) {
    using Kind = zvhost::PageAction::Kind;
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1", "Free", &error)) << error;
    EXPECT_EQ(loop_->PageModified(), 0);
    EXPECT_TRUE(loop_->PageOutcome().is_null());
    ASSERT_TRUE(loop_->Act({Kind::Type, 1026, "7", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Blur, 1026, "", -1}, &error)) << error;
    EXPECT_EQ(loop_->PageModified(), 1);
    ASSERT_TRUE(loop_->Act({Kind::Apply, 0, "", -1}, &error)) << error;
    EXPECT_EQ(loop_->PageModified(), 0);
    const json applied = loop_->PageOutcome();
    EXPECT_EQ(applied["action"], "apply");
    EXPECT_TRUE(applied["ok"].get<bool>());
    EXPECT_EQ(applied["files"], json::array({"SN1/Settings.xml"}));

    ASSERT_TRUE(loop_->Act({Kind::Type, 1026, "9", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Blur, 1026, "", -1}, &error)) << error;
    EXPECT_EQ(loop_->PageModified(), 1);
    ASSERT_TRUE(loop_->Act({Kind::Reload, 0, "", -1}, &error)) << error;
    EXPECT_EQ(loop_->PageModified(), 0);
    EXPECT_EQ(loop_->PageOutcome()["action"], "reload");
    EXPECT_GT(loop_->PageOutcome()["seq"].get<uint64_t>(), applied["seq"].get<uint64_t>());

    // An Apply that fails leaves the mark and says so: the settings are gone.
    ASSERT_TRUE(loop_->Act({Kind::Type, 1026, "5", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Blur, 1026, "", -1}, &error)) << error;
    std::filesystem::remove_all(root_ / "SN1");
    ASSERT_TRUE(loop_->Act({Kind::Apply, 0, "", -1}, &error)) << error;
    EXPECT_FALSE(loop_->PageOutcome()["ok"].get<bool>());
    EXPECT_TRUE(loop_->PageOutcome()["files"].empty());
    EXPECT_FALSE(loop_->PageOutcome()["errors"].empty());
    EXPECT_EQ(loop_->PageModified(), 1);
}

// A node's pages live as a property sheet's: switching tabs deactivates
// and activates, edits stay; another node destroys them.
TEST_F(HostLoopTest, ANodesPagesStayCreatedWhileItIsSelected) {
    using Kind = zvhost::PageAction::Kind;
    auto calls = [&] {
        std::vector<std::string> seen;
        for (const json& e : events_)
            if (e["event"] == "page") seen.push_back(e["action"].get<std::string>());
        events_.clear();
        return seen;
    };
    auto text = [&](int32_t id) {
        const json state = loop_->PageStateJson();
        for (const json& c : state.value("controls", json::array()))
            if (c["id"] == id) return c["text"].get<std::string>();
        return std::string("(none)");
    };
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1", "Free", &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Type, 1026, "42", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Blur, 1026, "", -1}, &error)) << error;
    calls();
    ASSERT_TRUE(loop_->OpenPage("SN1", "Free", &error)) << error;
    EXPECT_TRUE(calls().empty()) << "opening the open page again changes nothing";
    ASSERT_TRUE(loop_->OpenPage("SN1", "Detection", &error)) << error;
    EXPECT_EQ(calls(), (std::vector<std::string>{"deactivate", "open", "setnode", "create", "activate"}));
    EXPECT_EQ(loop_->PageModified(), 0);
    ASSERT_TRUE(loop_->OpenPage("SN1", "Free", &error)) << error;
    EXPECT_EQ(calls(), (std::vector<std::string>{"deactivate", "open", "activate"}));
    EXPECT_EQ(text(1026), "42");
    EXPECT_EQ(loop_->PageModified(), 1);
    ASSERT_TRUE(loop_->OpenPage("SN1/A", "Free", &error)) << error;
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"deactivate", "destroy", "destroy", "open", "setnode", "create", "activate"}));
    loop_->ClosePage();
    EXPECT_EQ(calls(), (std::vector<std::string>{"deactivate", "destroy"}));
}

// What `zvhost run` does, without a page: parameters, the pipes, play and
// steps, through the same calls and events as a page's run.
TEST_F(HostLoopTest, AFrontEndRunsAModeWithoutAPage) {
    EXPECT_EQ(loop_->SetParameter("Free", "Speed", 3), ZV_E_NOTFOUND);
    ASSERT_EQ(loop_->SetParameter("Free", "SelectedSensor", 1001), ZV_OK);
    ASSERT_GT(loop_->SwitchMode("Free"), 0);
    std::vector<std::string> pipes;
    for (const json& e : events_)
        if (e["event"] == "mode") pipes.push_back(e["pipe"]);
    EXPECT_EQ(pipes, (std::vector<std::string>{"station", "client"}));
    loop_->SetPlaying(true);
    ASSERT_TRUE(loop_->Running());
    ASSERT_TRUE(loop_->Step());
    ASSERT_TRUE(loop_->Step());
    loop_->SetPlaying(false);
    const zvhost::RunSummary& run = loop_->LastRun();
    EXPECT_EQ(run.mode, "Free");
    EXPECT_EQ(run.batches, 2);
    EXPECT_EQ(run.startStatus, 1);
    EXPECT_EQ(run.stopStatus, 1);
    EXPECT_EQ(run.failedBatches, 0);
    ASSERT_FALSE(run.displays.empty());
    EXPECT_GT(run.displays[0].outputs, 0);
    // Console prints name the mode that printed them.
    bool printed = false;
    for (const json& e : events_) {
        if (e["event"] != "console") continue;
        EXPECT_EQ(e["mode"], "Free");
        printed = true;
    }
    EXPECT_EQ(printed, !run.console.empty());
}

// The Video mode keeps the masks of the sensor it shows in that sensor's
// folder: the loop makes it before the mode starts.
TEST_F(HostLoopTest, TheVideoModeFindsTheFolderOfItsSensor) {
    ASSERT_FALSE(std::filesystem::exists(root_ / "SN1002"));
    ASSERT_EQ(loop_->SetParameter("Video", "SelectedSensor", 1002), ZV_OK);
    ASSERT_GT(loop_->SwitchMode("Video"), 0);
    loop_->SetPlaying(true);
    EXPECT_TRUE(loop_->Running());
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "SN1002"));
    loop_->SetPlaying(false);
}

// A start that fails says why, in its handler event and its error.
TEST_F(HostLoopTest, AFailingStartCarriesThePlatformsReason) {
    const std::filesystem::path settings = root_ / "SN1" / "Settings.xml";
    std::ifstream in(settings);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find("<Name>A</Name>");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 14, "<Name>A\xFF</Name>");
    std::ofstream(settings) << text;
    ASSERT_GT(loop_->SwitchMode("Free"), 0);
    loop_->SetPlaying(true);
    EXPECT_FALSE(loop_->Running());
    EXPECT_LE(loop_->LastRun().startStatus, 0);
    EXPECT_TRUE(loop_->RunRefusal().empty());
    json start;
    for (const json& e : events_)
        if (e["event"] == "handler" && e["phase"] == "start") start = e;
    ASSERT_FALSE(start.is_null());
    EXPECT_NE(start.value("reason", "").find("not UTF-8"), std::string::npos) << start.dump();
}

// A page's file events are the files its own calls changed, each once, as
// the file space reports them; what others write between calls is not the
// page's.
TEST_F(HostLoopTest, APagesFileEventsAreTheFilesItsCallsChanged) {
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1", "Setup", &error)) << error;
    auto write = [](const char* path) {
        zvHandle file = nullptr;
        ASSERT_EQ(zvFileCreate(&file, nullptr), ZV_OK);
        ASSERT_EQ(zvFileInit(file, path, ZV_FILE_WRITE), ZV_OK);
        ASSERT_EQ(zvFileWrite(file, "x", 1), ZV_OK);
        ASSERT_EQ(zvFileDestroy(file), ZV_OK);
    };
    write("\\SN1\\notes.txt");
    write("\\station-notes.txt");
    auto files = [&] {
        std::vector<std::string> seen;
        for (const json& e : events_)
            if (e["event"] == "file")
                seen.push_back(e["path"].get<std::string>() + " " + e["change"].get<std::string>());
        events_.clear();
        return seen;
    };
    events_.clear();
    ASSERT_TRUE(loop_->Act({zvhost::PageAction::Kind::Type, 1025, "2", -1}, &error)) << error;
    EXPECT_EQ(files(), std::vector<std::string>{});
    ASSERT_TRUE(loop_->Act({zvhost::PageAction::Kind::Click, 1013, "", -1}, &error)) << error;
    EXPECT_EQ(files(), std::vector<std::string>{"SN1/Settings.xml written"});
}

// The host reports the files a page writes as the file space names them,
// looking through the space only: a server folder that trades places with
// a link out of the space, while a page saves again and again, never makes
// an event name a file outside, and nothing outside is written.
TEST_F(HostLoopTest, FileEventsNameOnlyFilesOfTheSpaceWhenAFolderIsSwappedForALinkOut) {
    zvtest::TempFileSpace outside("zvhost-outside", zvtest::TempFileSpace::Root::kLeave);
    outside.Write("Settings.xml", zvtest::ReadHostFile(root_ / "SN1" / "Settings.xml"));
    outside.Write("notes.txt", "outside");
    const std::string settings = outside.Read("Settings.xml");
    std::filesystem::create_directory_symlink(outside.Path(), root_ / "swap");
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN1", "Setup", &error)) << error;
    {
        zvtest::LinkSwapper swapper(root_ / "SN1", root_ / "swap");
        for (int i = 0; i < 150; ++i) {
            loop_->Act({zvhost::PageAction::Kind::Type, 1025, std::to_string(2 + i % 3), -1}, &error);
            loop_->Act({zvhost::PageAction::Kind::Click, 1013, "", -1}, &error);
        }
        swapper.Stop();
        EXPECT_GT(swapper.Swaps(), 0);
    }
    loop_->ClosePage();
    int files = 0;
    for (const json& e : events_) {
        if (e["event"] != "file") continue;
        ++files;
        const std::string path = e["path"];
        EXPECT_TRUE(path.rfind("SN1/", 0) == 0 || path.find('/') == std::string::npos) << path;
        EXPECT_EQ(path.find(".."), std::string::npos) << path;
        EXPECT_EQ(path.find(outside.Path().filename().string()), std::string::npos) << path;
    }
    EXPECT_GT(files, 0);
    EXPECT_EQ(outside.Read("Settings.xml"), settings);
    EXPECT_EQ(outside.List(), (std::vector<std::string>{"Settings.xml", "notes.txt"}));
}

}  // namespace
