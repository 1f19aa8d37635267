// Captures taken through the System Capture page: what the station delivers
// while the client pipe is disabled is recorded, and replays through a run
// to the outputs of the live run.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "describe.hpp"
#include "event_text.hpp"
#include "exit_codes.hpp"
#include "host_loop.hpp"
#include "run.hpp"
#include "support/temp_space.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/station.hpp"

namespace {

using nlohmann::json;

class CaptureLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(TORVANE_PLUGIN).empty() || !std::filesystem::exists(TORVANE_PLUGIN))
            GTEST_SKIP() << "libtorvane.so is not built";
        std::string error;
        ASSERT_TRUE(plugin_.Load(TORVANE_PLUGIN, &error)) << error;
        ASSERT_EQ(plugin_.Describe(&app_), 1);
        info_ = zvhost::ReadApp(app_);
    }
    void TearDown() override {
        if (app_ != nullptr) zvPipeAppDestroy(app_);
    }
    // A host loop on a demonstration station in `space`.
    std::unique_ptr<zvhost::HostLoop> Loop(const zvtest::TempFileSpace& space) {
        bool created = false;
        std::string error;
        EXPECT_TRUE(zv::station::EnsureDemoStation(space.Path(), 4, 1, &created, &error)) << error;
        auto loop = std::make_unique<zvhost::HostLoop>(plugin_, app_, info_);
        loop->SetEventSink([this](const json& e) { events_.push_back(e); });
        zvhost::HostLoop::Options options;
        options.files = space.Path();
        EXPECT_TRUE(loop->Open(options, &error)) << error;
        return loop;
    }
    // The output events of a run of `mode` (replaying `input` when given),
    // as display and content; `*batches` is the run's batch count.
    std::vector<json> Outputs(const zvtest::TempFileSpace& space, const std::string& mode,
                              const std::vector<std::filesystem::path>& input, int64_t batches, int64_t* ran) {
        zvhost::RunOptions run;
        run.mode = mode;
        run.files = space.Path();
        run.input = input;
        run.batches = batches;
        run.json = true;
        std::ostringstream out;
        zvhost::RunSummary summary;
        std::string error;
        EXPECT_EQ(zvhost::RunMode(plugin_, app_, info_, run, out, &summary, &error), zvhost::kExitOk) << error;
        *ran = summary.batches;
        std::vector<json> outputs;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            const json e = json::parse(line);
            if (e["event"] == "output") outputs.push_back({{"display", e["display"]}, {"content", e["content"]}});
        }
        return outputs;
    }
    // The segment files the loop reported.
    size_t Segments() const {
        size_t n = 0;
        for (const json& e : events_)
            if (e["event"] == "file" && e["path"].get<std::string>().rfind("Capture/", 0) == 0) ++n;
        return n;
    }
    std::vector<json> Of(const std::string& kind) const {
        std::vector<json> found;
        for (const json& e : events_)
            if (e["event"] == kind) found.push_back(e);
        return found;
    }

    zvhost::Plugin plugin_;
    zvHandle app_ = nullptr;
    zvhost::AppInfo info_;
    std::vector<json> events_;
};

TEST_F(CaptureLoopTest, ADetectionCaptureReplaysToTheOutputsOfTheLiveRun) {
    // The page's segment size, and one small enough to make several
    // segments, with batches split across them.
    for (int64_t segmentBytes : {int64_t{0}, int64_t{20000}}) {
        SCOPED_TRACE(segmentBytes);
        zvtest::TempFileSpace space("zvhost-capture");
        events_.clear();
        auto loop = Loop(space);
        std::string error;
        ASSERT_TRUE(loop->OpenPage("Capture", "Capture", &error)) << error;
        EXPECT_TRUE(loop->Capturing());
        EXPECT_FALSE(loop->Running());  // the client pipe is disabled
        if (segmentBytes > 0) {
            ASSERT_EQ(zvClientSetCaptureSegmentSize(loop->Client(), segmentBytes), ZV_OK);
        }
        loop->Play(1.5);
        loop->ClosePage();
        EXPECT_FALSE(loop->Capturing());
        const std::filesystem::path folder = loop->CaptureFolder();
        EXPECT_EQ(folder.parent_path(), space.Path() / "Capture");
        std::vector<std::filesystem::path> segments;
        ASSERT_TRUE(zv::station::ReplayFiles({folder}, &segments, &error)) << error;
        EXPECT_EQ(segments.size() > 1, segmentBytes > 0);
        EXPECT_EQ(Segments(), segments.size());
        for (const auto& segment : segments) {
            // Within the size, unless one batch alone is larger.
            const std::string text = zvtest::ReadHostFile(segment);
            if (segmentBytes > 0 && text.find("\n# end of batch ") != text.rfind("\n# end of batch ")) {
                EXPECT_LE(text.size(), static_cast<size_t>(segmentBytes)) << segment;
            }
        }
        loop.reset();

        int64_t replayed = 0;
        int64_t live = 0;
        const std::vector<json> fromCapture = Outputs(space, "Detection", {folder}, -1, &replayed);
        ASSERT_GT(replayed, 5);
        const std::vector<json> fromStation = Outputs(space, "Detection", {}, replayed, &live);
        EXPECT_EQ(live, replayed);
        ASSERT_FALSE(fromCapture.empty());
        EXPECT_TRUE(fromCapture == fromStation) << "the replay's outputs differ from the live run's";
    }
}

TEST_F(CaptureLoopTest, NothingIsRecordedWithoutSettingsOrAfterTheCaptureStops) {
    zvtest::TempFileSpace space("zvhost-capture");
    auto loop = Loop(space);
    std::string error;
    ASSERT_TRUE(loop->OpenPage("Capture", "Capture", &error)) << error;
    loop->ClosePage();
    loop->Play(0.5);  // the page is closed: nothing is captured
    // A capture without batches leaves neither segment nor folder.
    EXPECT_EQ(Segments(), 0u);
    EXPECT_TRUE(space.List("Capture").empty());
    std::filesystem::remove(space.Host("SN1/Settings.xml"));
    ASSERT_TRUE(loop->OpenPage("Capture", "Capture", &error)) << error;
    EXPECT_FALSE(loop->Capturing());
    loop->Play(0.5);
    loop->ClosePage();
    EXPECT_EQ(Segments(), 0u);
}

TEST_F(CaptureLoopTest, ARunningModeIsRecordedAsItReceives) {
    zvtest::TempFileSpace space("zvhost-capture");
    auto loop = Loop(space);
    std::string error;
    ASSERT_TRUE(loop->OpenPage("SN1", "Detection", &error)) << error;
    ASSERT_EQ(zvClientEnableCapture(loop->Client(), 1), ZV_OK);
    loop->Play(0.5);
    ASSERT_EQ(zvClientEnableCapture(loop->Client(), 0), ZV_OK);
    loop->ClosePage();
    const std::vector<json> captures = Of("capture");
    ASSERT_EQ(captures.size(), 2u);
    EXPECT_EQ(captures[0]["folder"], captures[1]["folder"]);
    std::vector<std::filesystem::path> segments;
    ASSERT_TRUE(zv::station::ReplayFiles({loop->CaptureFolder()}, &segments, &error)) << error;
    int64_t handled = 0;
    for (const json& e : Of("handler")) handled += e["phase"] == "process" ? 1 : 0;
    int64_t replayed = 0;
    Outputs(space, "Detection", {loop->CaptureFolder()}, -1, &replayed);
    EXPECT_EQ(replayed, handled);
}

// A host killed while it recorded leaves the segment it was writing; the
// next start recovers it up to its last whole batch and says so, and the
// capture replays.
TEST_F(CaptureLoopTest, WhatAKilledCaptureLeftIsRecoveredWhenTheHostStarts) {
    zvtest::TempFileSpace space("zvhost-capture");
    std::string error;
    {
        auto loop = Loop(space);
        ASSERT_TRUE(loop->OpenPage("Capture", "Capture", &error)) << error;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            loop->Play(0.5);
            ::_exit(0);  // killed, as far as the capture knows: nothing completed
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        // The capture of this process recorded nothing: its folder goes.
        loop->ClosePage();
    }
    std::vector<std::filesystem::path> folders;
    for (const auto& entry : std::filesystem::directory_iterator(space.Path() / "Capture"))
        folders.push_back(entry.path());
    ASSERT_EQ(folders.size(), 1u);
    const std::vector<std::string> left = space.List("Capture/" + folders[0].filename().string());
    ASSERT_EQ(left.size(), 1u);  // the segment's temporary file
    // Killed in the middle of a line.
    std::ofstream(folders[0] / left[0], std::ios::app) << "{\"ba";

    events_.clear();
    auto loop = Loop(space);
    const std::string segment = "Capture/" + folders[0].filename().string() + "/segment-0001.jsonl";
    std::string told;
    for (const json& e : Of("file")) {
        if (e["path"] == segment && e["change"] == "recovered" && e["size"].get<int64_t>() > 0 && e["cut"] == 4)
            told = zvhost::EventText(e);
    }
    EXPECT_NE(told.find(segment + " recovered (4 bytes after its last whole batch cut)"), std::string::npos)
        << "the recovered segment was not reported with what was cut: " << told;
    loop.reset();
    int64_t replayed = 0;
    Outputs(space, "Detection", {folders[0]}, -1, &replayed);
    EXPECT_GT(replayed, 5);
}

}  // namespace

namespace {

// What each display of the loop's current mode shows, every number of it.
json Showing(zvhost::HostLoop& loop) {
    json shown = json::object();
    for (zvhost::HostDisplay* d : loop.Displays().Of(loop.Connection().ClientMode()))
        shown[d->Name()] = d->Showing() != nullptr ? zvhost::DescribeOutput(d->Showing(), true) : json();
    return shown;
}

}  // namespace

// A capture of the file space replayed in the loop, by its name only; a seek
// there leaves every display as going there batch by batch does, forward
// and back.
TEST_F(CaptureLoopTest, ACaptureReplaysByNameAndSeeksExactly) {
    zvtest::TempFileSpace space("zvhost-seek");
    auto loop = Loop(space);
    std::string error;
    ASSERT_TRUE(loop->OpenPage("Capture", "Capture", &error)) << error;
    loop->Play(2.5);
    const std::string folder = "Capture/" + loop->CaptureFolder().filename().string();
    std::filesystem::create_directory_symlink(std::filesystem::temp_directory_path(), space.Host("Capture/out"));
    for (const std::string bad : {"Capture/../SN1", "Capture/out", "Capture/none", "SN1", "/tmp", "Capture/"}) {
        EXPECT_FALSE(loop->ReplayCapture(bad, &error)) << bad;
        EXPECT_EQ(loop->Replaying(), nullptr);
        EXPECT_TRUE(loop->Capturing()) << "a refused name changed nothing";
    }
    EXPECT_FALSE(loop->SeekReplay(0, &error));
    // The capture the open page records ends first, and replays whole.
    ASSERT_TRUE(loop->ReplayCapture(folder, &error)) << error;
    EXPECT_FALSE(loop->Capturing());
    ASSERT_NE(loop->Replaying(), nullptr);
    const size_t count = loop->Replaying()->BatchCount();
    ASSERT_GT(count, 30u);
    EXPECT_FALSE(loop->SeekReplay(0, &error)) << "no mode runs yet";
    loop->SwitchMode("Detection");
    loop->SetPlaying(true);
    ASSERT_TRUE(loop->Running());

    // Batch by batch, what the displays show after each.
    std::vector<json> stepped;
    while (loop->Step()) stepped.push_back(Showing(*loop));
    ASSERT_EQ(stepped.size(), count);
    size_t changes = 0;
    for (size_t b = 1; b < count; ++b) changes += stepped[b] != stepped[b - 1] ? 1 : 0;
    EXPECT_GE(changes, 2u) << "nothing to tell the batches apart by";
    const size_t events = events_.size();
    for (const size_t n : {count / 2, size_t{3}, count - 1, count / 3, count / 3 + 1}) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(loop->SeekReplay(n + 1, &error)) << error;
        EXPECT_EQ(loop->Replaying()->Position(), n + 1);
        EXPECT_TRUE(Showing(*loop) == stepped[n]);
    }
    // The batches gone through silently sent no outputs out.
    for (size_t e = events; e < events_.size(); ++e) EXPECT_NE(events_[e]["event"], "output");
    EXPECT_FALSE(loop->SeekReplay(count + 1, &error));
    EXPECT_NE(error.find("beyond the recording"), std::string::npos) << error;
    ASSERT_TRUE(loop->SeekReplay(0, &error)) << error;
    const json atStart = Showing(*loop);
    for (const auto& [name, shown] : atStart.items()) EXPECT_TRUE(shown.is_null()) << name;
}
