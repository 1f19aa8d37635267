// A station whose servers are zvstation processes: the same runs as
// in-process, a server lost and back while the host runs, and the file
// space of a network server served by that server.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_loop.hpp"
#include "station_file.hpp"
#include "support/station_process.hpp"
#include "support/temp_space.hpp"
#include "support/wait.hpp"
#include "zvapi/zv_file_space.hpp"
#include "zvhost_process.hpp"
#include "zvstation/station.hpp"

namespace {

using nlohmann::json;
using zvhost::ServerPlace;
using zvtest::StationProcess;

constexpr uint64_t kSeed = 7;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteText(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

// A demonstration server's folder at `folder`: four sensors, numbered from
// 1000 * serial so that every server's profiles tell whose they are.
void MakeServerFolder(const std::filesystem::path& folder, uint32_t serial) {
    zvtest::TempFileSpace scratch("zvnet-make", zvtest::TempFileSpace::Root::kLeave);
    bool created = false;
    std::string error;
    ASSERT_TRUE(zv::station::EnsureDemoStation(scratch.Path(), 4, 1, &created, &error)) << error;
    std::filesystem::create_directories(folder);
    for (const char* name : {"Settings.xml", "Calibration.xml"}) {
        std::string text = ReadText(scratch.Host(std::string("SN1/") + name));
        for (size_t at = 0; (at = text.find(">100", at)) != std::string::npos; ++at)
            text.replace(at + 1, 1, std::to_string(serial));
        WriteText(folder / name, text);
    }
}

// A server process of `folder` for the tests, with the seed of the runs.
bool StartServer(StationProcess* server, const std::filesystem::path& folder, uint32_t serial,
                 const std::string& bind = "") {
    std::vector<std::string> arguments = {"--files", folder.string(),      "--server", std::to_string(serial),
                                          "--seed",  std::to_string(kSeed)};
    if (!bind.empty()) arguments.insert(arguments.end(), {"--bind", bind});
    return server->Start(ZVSTATION_PROGRAM, arguments);
}

// The events of a run without what differs from one run to the next (its timings).
std::vector<json> Comparable(const zvhosttest::ZvhostResult& r) {
    std::vector<json> events = r.Events();
    for (json& e : events) e.erase("timing");
    return events;
}

// The same seed gives the same run whether the servers are in-process, all
// on the network, or some of each.
TEST(NetworkStation, ARunIsTheSameWithServersInProcessAndOnTheNetwork) {
    if (!zvhosttest::HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace local("zvnet-local", zvtest::TempFileSpace::Root::kLeave);
    MakeServerFolder(local.Host("SN1"), 1);
    MakeServerFolder(local.Host("SN2"), 2);
    std::string error;
    ASSERT_TRUE(zvhost::DeclareStationServers(local.Path(), {1, 2}, &error)) << error;
    auto run = [](const std::string& mode, double seconds, const std::filesystem::path& files) {
        return zvhosttest::RunZvhost("--plugin '" + std::string(TORVANE_PLUGIN) + "' run " + mode +
                                     " --json --full --seconds " + std::to_string(seconds) + " --seed " +
                                     std::to_string(kSeed) + " --files '" + files.string() + "'");
    };
    const std::pair<std::string, double> modes[] = {
        {"Free", 0.3}, {"Detection", 2.5}, {"Web", 0.5}, {"Calibration", 2}};
    for (const auto& [mode, seconds] : modes) {
        SCOPED_TRACE(mode);
        const zvhosttest::ZvhostResult expected = run(mode, seconds, local.Path());
        ASSERT_EQ(expected.code, 0) << expected.err;
        ASSERT_FALSE(expected.Of("output").empty());
        // Fresh servers for each run, as the in-process station is.
        for (bool mixed : {false, true}) {
            SCOPED_TRACE(mixed ? "server 1 in-process" : "both on the network");
            zvtest::TempFileSpace client("zvnet-client", zvtest::TempFileSpace::Root::kLeave);
            zvtest::TempFileSpace folders("zvnet-servers", zvtest::TempFileSpace::Root::kLeave);
            StationProcess one, two;
            std::vector<ServerPlace> places;
            if (mixed) {
                MakeServerFolder(client.Host("SN1"), 1);
                places.push_back(zvhost::InProcessServer(1));
            } else {
                MakeServerFolder(folders.Host("1"), 1);
                ASSERT_TRUE(StartServer(&one, folders.Host("1"), 1)) << one.Log();
                places.push_back({1, one.RequestEndpoint(), ""});
            }
            MakeServerFolder(folders.Host("2"), 2);
            ASSERT_TRUE(StartServer(&two, folders.Host("2"), 2)) << two.Log();
            places.push_back({2, two.RequestEndpoint(), ""});
            ASSERT_TRUE(zvhost::DeclareStationPlaces(client.Path(), places, &error)) << error;
            const zvhosttest::ZvhostResult got = run(mode, seconds, client.Path());
            ASSERT_EQ(got.code, 0) << got.err;
            const std::vector<json> want = Comparable(expected);
            const std::vector<json> have = Comparable(got);
            ASSERT_EQ(have.size(), want.size());
            for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(have[i], want[i]) << "event " << i;
        }
    }
}

// Whether nothing listens on `port` of the loopback any more.
bool PortFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// demo --network runs every mode through zvstation processes, and none of
// them outlives it.
TEST(NetworkStation, TheDemoOnTheNetworkRunsItsServersAndStopsThem) {
    if (!zvhosttest::HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
    zvtest::TempFileSpace out("zvnet-demo", zvtest::TempFileSpace::Root::kLeave);
    const zvhosttest::ZvhostResult demo =
        zvhosttest::RunZvhost("--plugin '" + std::string(TORVANE_PLUGIN) + "' demo --network --seconds 0.3 --out '" +
                              out.Path().string() + "'");
    ASSERT_EQ(demo.code, 0) << demo.out << demo.err;
    EXPECT_TRUE(out.Exists("Free-Free.png"));
    const std::string key =
        "on the network: 1 zvstation process(es) on copies of the servers' folders tcp://127.0.0.1:";
    const size_t at = demo.out.find(key);
    ASSERT_NE(at, std::string::npos) << demo.out;
    const int port = std::stoi(demo.out.substr(at + key.size()));
    EXPECT_TRUE(PortFree(port)) << "a server still listens on " << port;
}

// The host loop on a station of server 2, a process the test kills, stops
// and restarts, and server 1 in-process. The modes read the first server.
class NetworkLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zvhosttest::HaveTorvane()) GTEST_SKIP() << "libtorvane.so is not built";
        MakeServerFolder(client_.Host("SN1"), 1);
        MakeServerFolder(folders_.Host("2"), 2);
        ASSERT_TRUE(StartServer(&server_, folders_.Host("2"), 2)) << server_.Log();
        endpoint_ = server_.RequestEndpoint();
        std::string error;
        ASSERT_TRUE(
            zvhost::DeclareStationPlaces(client_.Path(), {{2, endpoint_, ""}, zvhost::InProcessServer(1)}, &error))
            << error;
        ASSERT_TRUE(plugin_.Load(TORVANE_PLUGIN, &error)) << error;
        ASSERT_EQ(plugin_.Describe(&app_), 1);
        info_ = zvhost::ReadApp(app_);
        loop_ = std::make_unique<zvhost::HostLoop>(plugin_, app_, info_);
        loop_->SetEventSink([this](const json& e) { events_.push_back(e); });
        zvhost::HostLoop::Options options;
        options.describeOutputs = true;
        options.files = client_.Path();
        options.station.seed = kSeed;
        options.realTime = realTime_;
        ASSERT_TRUE(loop_->Open(options, &error)) << error;
    }
    void TearDown() override {
        loop_.reset();
        if (app_ != nullptr) zvPipeAppDestroy(app_);
    }

    // The "server" events of server 2 with `change`.
    std::vector<json> ServerEvents(const std::string& change) const {
        std::vector<json> found;
        for (const json& e : events_)
            if (e["event"] == "server" && e["server"] == 2 && e["change"] == change) found.push_back(e);
        return found;
    }
    // Whether the last tree event marks server 2's node offline.
    bool MarkedOffline() const {
        for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
            if ((*it)["event"] != "tree") continue;
            for (const json& n : (*it)["nodes"])
                if (n["path"] == "SN2") return n.value("offline", false);
        }
        return false;
    }
    // The sensors whose profiles the Free display drew in the events from `from` on.
    std::set<std::string> Drawn(size_t from) const {
        std::set<std::string> labels;
        for (size_t i = from; i < events_.size(); ++i) {
            const json& e = events_[i];
            if (e["event"] != "output" || e["display"] != "Free") continue;
            for (const json& g : e["content"]["graphics"]) labels.insert(g["label"].get<std::string>());
        }
        return labels;
    }
    // Steps the running mode until `done`, at most `ms`; every step is bounded.
    bool StepUntil(const std::function<bool()>& done, int ms) {
        const zvtest::Clock::time_point start = zvtest::Clock::now();
        while (zvtest::MsSince(start) < ms) {
            const zvtest::Clock::time_point step = zvtest::Clock::now();
            loop_->Step();
            EXPECT_LT(zvtest::MsSince(step), 2500) << "a step waited on a lost server";
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void PlayFree() {
        ASSERT_EQ(loop_->SwitchMode("Free"), 1);
        loop_->SetPlaying(true);
        ASSERT_TRUE(loop_->Running());
        const size_t from = events_.size();
        ASSERT_TRUE(loop_->Step());
        EXPECT_TRUE(Drawn(from).count("2000")) << "server 2's sensors are drawn";
    }

    bool realTime_ = false;  // as serve runs: batches as the server paces them
    zvtest::TempFileSpace client_{"zvnet-client"};
    zvtest::TempFileSpace folders_{"zvnet-servers", zvtest::TempFileSpace::Root::kLeave};
    StationProcess server_;
    std::string endpoint_;
    zvhost::Plugin plugin_;
    zvHandle app_ = nullptr;
    zvhost::AppInfo info_;
    std::unique_ptr<zvhost::HostLoop> loop_;
    std::vector<json> events_;
};

TEST_F(NetworkLoopTest, AKilledServerIsMarkedOfflineTheRunWaitsAndItsRestartResumesDelivery) {
    PlayFree();
    server_.Kill();
    const zvtest::Clock::time_point lost = zvtest::Clock::now();
    ASSERT_TRUE(StepUntil([&] { return !ServerEvents("offline").empty(); }, 4000)) << "the loss is never told";
    EXPECT_LE(zvtest::MsSince(lost), 2500);
    EXPECT_TRUE(MarkedOffline());
    // The run waits for it, and says so once (a batch that came before the
    // loss may still be handed over first).
    for (int i = 0; i < 3 && loop_->Step(); ++i) {
    }
    EXPECT_FALSE(loop_->Step());
    EXPECT_FALSE(loop_->Step());
    EXPECT_NE(loop_->DeliveryError().find("waiting for server 2"), std::string::npos) << loop_->DeliveryError();
    size_t waits = 0;
    for (const json& e : events_)
        waits += e["event"] == "error" && e["text"].get<std::string>().find("waiting for server 2") == 0;
    EXPECT_EQ(waits, 1u);
    // A page's call on the lost server fails, and says why.
    size_t from = events_.size();
    EXPECT_LE(loop_->SwitchMode("Web"), 1);
    bool told = false;
    for (size_t i = from; i < events_.size(); ++i)
        told = told || (events_[i]["event"] == "error" &&
                        events_[i]["text"].get<std::string>().find("server 2") != std::string::npos);
    EXPECT_TRUE(told) << "the failure on server 2 is not told";
    ASSERT_EQ(loop_->SwitchMode("Free"), 1);

    // Restarted on the same endpoint: it is back from a new start, with the
    // pipe the client set (its mode switched while it was gone), the mode
    // that could not start without it starts, and it delivers.
    ASSERT_TRUE(StartServer(&server_, folders_.Host("2"), 2, endpoint_)) << server_.Log();
    ASSERT_TRUE(StepUntil([&] { return !ServerEvents("online").empty(); }, 4000)) << "the return is never told";

    const json back = ServerEvents("online").front();
    EXPECT_TRUE(back["restarted"].get<bool>());
    EXPECT_NE(back["text"].get<std::string>().find("restored"), std::string::npos) << back;
    EXPECT_FALSE(MarkedOffline());
    from = events_.size();
    ASSERT_TRUE(StepUntil([&] { return Drawn(from).count("2000") != 0; }, 4000)) << "delivery did not resume";
    EXPECT_NE(server_.Log().find("mode Free"), std::string::npos) << server_.Log();
}

TEST_F(NetworkLoopTest, AStoppedServerIsOfflineWithinTwoSecondsAndBackWhenItContinues) {
    PlayFree();
    server_.Pause();
    const zvtest::Clock::time_point stopped = zvtest::Clock::now();
    ASSERT_TRUE(StepUntil([&] { return !ServerEvents("offline").empty(); }, 4000));
    EXPECT_LE(zvtest::MsSince(stopped), 2500);
    server_.Resume();
    ASSERT_TRUE(StepUntil([&] { return !ServerEvents("online").empty(); }, 4000));
    EXPECT_FALSE(ServerEvents("online").front()["restarted"].get<bool>());
    const size_t from = events_.size();
    ASSERT_TRUE(StepUntil([&] { return Drawn(from).count("2000") != 0; }, 4000)) << "delivery did not resume";
}

// As serve runs it, the server paces its batches and the loop takes what
// has come; a lost server is told and its return delivers again.
class RealTimeLoopTest : public NetworkLoopTest {
protected:
    void SetUp() override {
        realTime_ = true;
        NetworkLoopTest::SetUp();
    }
};

TEST_F(RealTimeLoopTest, BatchesComeAsTheServerPacesThemAndResumeAfterAStop) {
    ASSERT_EQ(loop_->SwitchMode("Free"), 1);
    loop_->SetPlaying(true);
    ASSERT_TRUE(loop_->Running());
    size_t from = events_.size();
    ASSERT_TRUE(StepUntil([&] { return Drawn(from).count("2000") != 0; }, 4000)) << "nothing came";
    server_.Pause();
    ASSERT_TRUE(StepUntil([&] { return !ServerEvents("offline").empty(); }, 4000));
    server_.Resume();
    ASSERT_TRUE(StepUntil([&] { return !ServerEvents("online").empty(); }, 4000));
    from = events_.size();
    ASSERT_TRUE(StepUntil([&] { return Drawn(from).count("2000") != 0; }, 4000)) << "delivery did not resume";
}

// \SN2\ is the server's folder: reads see its file as it is now, writes
// land whole on its disk, and while it is gone both fail with the reason;
// the client's own folder of that name is never read in its place.
TEST_F(NetworkLoopTest, ANetworkServersFilesAreItsOwn) {
    client_.Write("SN2/Settings.xml", "<the client's stale copy/>");
    std::string text;
    ASSERT_EQ(zv::files::ReadFile("\\SN2\\Settings.xml", 1 << 20, &text), 1) << zvLastErrorText();
    EXPECT_EQ(text, ReadText(folders_.Host("2/Settings.xml")));
    WriteText(folders_.Host("2/notes.txt"), "changed on the server");
    ASSERT_EQ(zv::files::ReadFile("sn2/notes.txt", 1 << 20, &text), 1) << zvLastErrorText();
    EXPECT_EQ(text, "changed on the server");
    EXPECT_EQ(zvFileExists("\\SN2\\notes.txt"), 1);
    EXPECT_EQ(zvFileExists("\\SN2\\nothing.txt"), 0);

    ASSERT_EQ(zv::files::WriteFile("\\SN2\\written.txt", "whole"), 1) << zvLastErrorText();
    EXPECT_EQ(ReadText(folders_.Host("2/written.txt")), "whole");
    EXPECT_FALSE(client_.Exists("SN2/written.txt"));
    std::vector<zv::files::Entry> entries;
    ASSERT_EQ(zv::files::ListFolder("SN2", &entries), 1) << zvLastErrorText();
    std::set<std::string> names;
    for (const auto& e : entries) names.insert(e.name);
    EXPECT_TRUE(names.count("written.txt") && names.count("Settings.xml"));

    server_.Kill();
    ASSERT_TRUE(zvtest::WaitFor([&] { return !loop_->Station().Online(2); }, 4000));
    zvLastErrorClear();
    EXPECT_LE(zv::files::ReadFile("\\SN2\\Settings.xml", 1 << 20, &text), 0);
    EXPECT_NE(std::string(zvLastErrorText()).find("Settings.xml"), std::string::npos) << zvLastErrorText();
    EXPECT_LE(zv::files::WriteFile("\\SN2\\written.txt", "never"), 0);
    EXPECT_EQ(ReadText(folders_.Host("2/written.txt")), "whole");
}

// A page's Apply on the network server writes its Settings.xml there, and
// the tree reads it back from there.
TEST_F(NetworkLoopTest, APagesApplyWritesTheServersSettingsAndTheTreeReadsThemBack) {
    using Kind = zvhost::PageAction::Kind;
    const std::string before = ReadText(folders_.Host("2/Settings.xml"));
    std::string error;
    ASSERT_TRUE(loop_->OpenPage("SN2", "Free", &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Type, 1026, "7", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Blur, 1026, "", -1}, &error)) << error;
    ASSERT_TRUE(loop_->Act({Kind::Apply, 0, "", -1}, &error)) << error;
    EXPECT_TRUE(loop_->PageOutcome()["ok"].get<bool>()) << loop_->PageOutcome();
    EXPECT_EQ(loop_->PageOutcome()["files"], json::array({"SN2/Settings.xml"}));
    EXPECT_NE(ReadText(folders_.Host("2/Settings.xml")), before);
    EXPECT_FALSE(client_.Exists("SN2/Settings.xml"));
    loop_->ClosePage();
    const json tree = loop_->TreeJson();
    std::set<std::string> paths;
    for (const json& n : tree["nodes"]) paths.insert(n["path"].get<std::string>());
    EXPECT_TRUE(paths.count("SN2/A")) << tree.dump();
}

}  // namespace
