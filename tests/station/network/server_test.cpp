// zvstation processes on loopback, started and stopped by each test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "support/result_text.hpp"
#include "support/station_process.hpp"
#include "support/temp_space.hpp"
#include "support/wait.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/net/keys.hpp"
#include "zvstation/net/link.hpp"
#include "zvstation/net/remote_pipe.hpp"
#include "zvstation/net/socket.hpp"
#include "zvstation/replay.hpp"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace net = zv::station::net;
namespace wire = zv::station::wire;
namespace zs = zv::station;

namespace {

using zvtest::Clock;
using zvtest::MsSince;
using zvtest::WaitFor;

// The next event of `link`, waiting at most `ms`.
bool NextEvent(net::ServerLink* link, net::LinkEvent* event, int ms) {
    std::vector<net::LinkEvent> events;
    if (!WaitFor(
            [&] {
                events = link->TakeEvents();
                return !events.empty();
            },
            ms))
        return false;
    *event = events.front();
    return true;
}

struct Outcome {
    int code = -1;
    std::string out;
};

// Runs zvstation to its end: exit code and everything it printed.
Outcome RunStation(const std::string& arguments) {
    zvtest::TempFileSpace scratch("zvstation-run", zvtest::TempFileSpace::Root::kLeave);
    const std::string command =
        std::string("'") + ZVSTATION_PROGRAM + "' " + arguments + " >'" + scratch / "out" + "' 2>&1";
    Outcome run;
    const int status = std::system(command.c_str());
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = zvtest::ReadHostFile(scratch.Host("out"));
    return run;
}

class ServerTest : public ::testing::Test {
protected:
    // The folder of server `serial` with `sensors` sensors.
    std::string Folder(uint32_t serial, int sensors = 4) {
        const std::filesystem::path folder = space_.Path() / ("SN" + std::to_string(serial));
        std::filesystem::create_directories(folder);
        const zs::ServerSettings settings = zs::DemoSettings(sensors, 1000 * serial);
        std::string error;
        const std::string name = folder.filename().string();
        zvFileSpaceSetRoot(space_.Path().c_str());
        EXPECT_TRUE(zs::WriteServerSettings(name + "/Settings.xml", settings, &error)) << error;
        EXPECT_TRUE(zs::WriteCalibration(name + "/Calibration.xml", settings.sensors, &error)) << error;
        return folder.string();
    }
    std::unique_ptr<zvtest::StationProcess> Start(uint32_t serial, std::vector<std::string> more = {}) {
        auto server = std::make_unique<zvtest::StationProcess>();
        std::vector<std::string> arguments = {"--files", Folder(serial), "--server", std::to_string(serial)};
        arguments.insert(arguments.end(), more.begin(), more.end());
        EXPECT_TRUE(server->Start(ZVSTATION_PROGRAM, arguments)) << server->Log();
        return server;
    }
    std::unique_ptr<net::ServerLink> Link(const zvtest::StationProcess& server, net::LinkOptions options = {}) {
        options.endpoint = server.RequestEndpoint();
        auto link = std::make_unique<net::ServerLink>(options);
        std::string error;
        EXPECT_TRUE(link->Start(&error)) << error;
        EXPECT_TRUE(WaitFor([&] { return link->State() == net::LinkState::Online; }, 5000)) << server.Log();
        link->TakeEvents();
        return link;
    }
    zvtest::TempFileSpace space_{"zvnet", zvtest::TempFileSpace::Root::kLeave};
    zv::testing::Scope scope_;
};

wire::Request Of(wire::Op op, const std::string& text = "") {
    wire::Request request;
    request.op = op;
    request.text = text;
    return request;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST_F(ServerTest, ThePipeAndTheFilesAreTheServers) {
    auto server = Start(1);
    auto link = Link(*server);
    const wire::ServerInfo info = link->Info();
    EXPECT_EQ(info.serial, 1u);
    EXPECT_NE(info.session, 0u);
    EXPECT_EQ(info.source, "simulated");
    EXPECT_EQ(info.stream, server->StreamEndpoint());

    std::string why;
    EXPECT_EQ(link->SetMode("Sleep", &why), ZV_E_NOTFOUND);
    EXPECT_NE(why.find("the modes are: Free, Calibration"), std::string::npos) << why;
    EXPECT_EQ(link->SetMode("Video"), ZV_OK);
    EXPECT_EQ(link->SetParameters({{"SelectedSensor", 1002}}), ZV_OK);
    EXPECT_EQ(link->Enable(false), ZV_OK);
    wire::Reply pipe = link->Call(Of(wire::Op::GetPipe));
    ASSERT_EQ(pipe.status, ZV_OK) << pipe.message;
    EXPECT_EQ(pipe.pipe.mode, "Video");
    EXPECT_FALSE(pipe.pipe.enabled);
    EXPECT_EQ(pipe.pipe.parameters, (std::vector<std::pair<std::string, int32_t>>{{"SelectedSensor", 1002}}));

    // Files: written whole in the server's folder, read back, listed.
    const std::filesystem::path folder = space_.Path() / "SN1";
    EXPECT_EQ(link->WriteFile("\\notes\\a.txt", Bytes("x")), ZV_E_NOTFOUND);
    EXPECT_EQ(link->Call(Of(wire::Op::MakeFolder, "notes")).status, ZV_OK);
    const std::string text(70000, 'q');
    ASSERT_EQ(link->WriteFile("\\NOTES\\a.txt", Bytes(text), &why), ZV_OK) << why;
    EXPECT_EQ(zvtest::ReadHostFile(folder / "notes" / "a.txt"), text);
    std::vector<uint8_t> read;
    ASSERT_EQ(link->ReadFile("notes/A.TXT", &read), ZV_OK);
    EXPECT_EQ(read, Bytes(text));
    wire::Reply stat = link->Call(Of(wire::Op::Stat, "notes\\a.txt"));
    EXPECT_EQ(stat.kind, wire::StatKind::File);
    EXPECT_EQ(stat.size, 70000);
    stat = link->Call(Of(wire::Op::Stat, "nothing.txt"));
    EXPECT_EQ(stat.status, ZV_OK);
    EXPECT_EQ(stat.kind, wire::StatKind::None);
    const wire::Reply listed = link->Call(Of(wire::Op::List, "\\"));
    ASSERT_EQ(listed.status, ZV_OK) << listed.message;
    std::vector<std::string> names;
    for (const wire::Entry& e : listed.entries) names.push_back(e.name + (e.folder ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"notes/", "Calibration.xml", "Settings.xml"}));

    // Nothing outside the folder.
    EXPECT_EQ(link->ReadFile("..\\SN2\\Settings.xml", &read, &why), ZV_E_ACCESS);
    EXPECT_EQ(link->WriteFile("../escape.txt", Bytes("x")), ZV_E_ACCESS);
    EXPECT_FALSE(std::filesystem::exists(space_.Path() / "escape.txt"));

    // The storage: plain names only.
    const wire::Reply size = link->Call(Of(wire::Op::StorageSize, "settings.xml"));
    EXPECT_EQ(size.size, static_cast<int64_t>(std::filesystem::file_size(folder / "Settings.xml")));
    EXPECT_EQ(link->Call(Of(wire::Op::StorageDelete, "notes\\a.txt")).status, ZV_E_ACCESS);
    EXPECT_EQ(link->Call(Of(wire::Op::StorageDelete, "Calibration.xml")).status, ZV_OK);
    EXPECT_FALSE(std::filesystem::exists(folder / "Calibration.xml"));
    EXPECT_EQ(link->Call(Of(wire::Op::DeleteFile, "notes/a.txt")).status, ZV_OK);

    // Settings the server cannot read are refused with the reason, and the
    // pipe keeps the sensors it had.
    zvtest::WriteHostFile(folder / "Settings.xml", "<SensorGroup><Members>");
    const wire::Reply reload = link->Call(Of(wire::Op::ReloadSettings));
    EXPECT_EQ(reload.status, ZV_E_PARSE);
    EXPECT_NE(reload.message.find("Settings.xml"), std::string::npos) << reload.message;
    EXPECT_EQ(server->Stop(), 0);
}

// Settings the server cannot read: it starts without sensors and says
// why, and a client repairs them through it.
TEST_F(ServerTest, UnreadableSettingsAreRepairedThroughTheServer) {
    const std::string folder = Folder(1, 2);
    const std::string good = zvtest::ReadHostFile(folder + "/Settings.xml");
    zvtest::WriteHostFile(folder + "/Settings.xml", "<SensorGroup><Members>");
    zvtest::StationProcess server;
    ASSERT_TRUE(server.Start(ZVSTATION_PROGRAM, {"--files", folder, "--server", "1", "--points", "64"}))
        << server.Log();
    EXPECT_TRUE(WaitFor([&] { return server.Log().find("serving without sensors") != std::string::npos; }, 2000))
        << server.Log();
    net::LinkOptions options;
    options.stream = false;
    auto link = Link(server, options);
    ASSERT_EQ(link->SetPull(true), ZV_OK);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    std::vector<zvHandle> results;
    ASSERT_EQ(link->Pull(&results, nullptr), ZV_OK);
    EXPECT_TRUE(results.empty());
    ASSERT_EQ(link->WriteFile("Settings.xml", Bytes(good)), ZV_OK);
    ASSERT_EQ(link->Call(Of(wire::Op::ReloadSettings)).status, ZV_OK);
    ASSERT_EQ(link->Pull(&results, nullptr), ZV_OK);
    EXPECT_EQ(results.size(), 2u);
    for (zvHandle h : results) zvObjectDestroy(h);
}

// A stream of batches numbered one after the other, each whole.
TEST_F(ServerTest, TheStreamNumbersItsBatches) {
    auto server = Start(1, {"--points", "2048", "--pace", "4"});
    auto link = Link(*server);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    uint64_t sequence = 0;
    int64_t number = -1;
    for (int b = 0; b < 20; ++b) {
        net::ReceivedBatch batch;
        ASSERT_TRUE(link->TakeBatch(&batch, 2000)) << server->Log();
        const wire::BatchHeader& h = batch.Header();
        EXPECT_EQ(h.serial, 1u);
        if (b > 0) {
            EXPECT_EQ(h.sequence, sequence + 1);
            EXPECT_EQ(h.batch, number + 1);
        }
        sequence = h.sequence;
        number = h.batch;
        std::vector<zvHandle> results;
        ASSERT_EQ(batch.Results(&results), ZV_OK);
        ASSERT_EQ(results.size(), 4u);
        zvHandle points = nullptr;
        zvResultData(results[0], 1, &points);
        EXPECT_EQ(zvArrayLength(points, 0), 2048);
        for (zvHandle h : results) zvObjectDestroy(h);
    }
    EXPECT_EQ(link->Stats().lost, 0u);
    EXPECT_EQ(link->Stats().refused, 0u);
}

// Pulled batches of two servers are what the station of both makes for
// each, in every mode.
TEST_F(ServerTest, PulledBatchesAreTheInProcessStations) {
    const std::vector<std::string> options = {"--seed", "11", "--points", "256"};
    zs::Options inProcess;
    inProcess.seed = 11;
    inProcess.profilePoints = 256;
    Folder(1, 4);
    Folder(2, 2);
    for (const std::string& mode : zs::Station::Modes()) {
        SCOPED_TRACE(mode);
        const size_t count = mode == "Detection" ? 6 : 3;
        std::map<uint32_t, std::vector<std::string>> expected;
        {
            zs::Station station;
            std::string error;
            ASSERT_TRUE(station.OpenServers(space_.Path(), inProcess, {1, 2}, &error)) << error;
            for (uint32_t serial : {1u, 2u}) {
                station.SetMode(serial, mode);
                station.StartDelivery(serial);
            }
            while (expected[1].size() < count || expected[2].size() < count) {
                std::vector<zvHandle> results;
                zs::BatchOrigin origin;
                ASSERT_EQ(station.NextBatch(&results, &origin), ZV_OK);
                ASSERT_FALSE(results.empty());
                std::map<uint32_t, std::vector<zvHandle>> split;
                for (size_t i = 0; i < results.size(); ++i) split[origin.servers[i]].push_back(results[i]);
                for (const auto& [serial, part] : split)
                    expected[serial].push_back(std::to_string(origin.time) + "\n" + zvtest::ResultsText(part));
                for (zvHandle h : results) zvObjectDestroy(h);
            }
        }
        std::unique_ptr<zvtest::StationProcess> servers[2];
        for (uint32_t serial : {1u, 2u}) {
            servers[serial - 1] = std::make_unique<zvtest::StationProcess>();
            std::vector<std::string> arguments = {"--files", (space_.Path() / ("SN" + std::to_string(serial))).string(),
                                                  "--server", std::to_string(serial)};
            arguments.insert(arguments.end(), options.begin(), options.end());
            ASSERT_TRUE(servers[serial - 1]->Start(ZVSTATION_PROGRAM, arguments)) << servers[serial - 1]->Log();
        }
        for (uint32_t serial : {1u, 2u}) {
            SCOPED_TRACE(serial);
            net::LinkOptions plain;
            plain.stream = false;
            auto link = Link(*servers[serial - 1], plain);
            ASSERT_EQ(link->SetPull(true), ZV_OK);
            ASSERT_EQ(link->SetMode(mode), ZV_OK);
            ASSERT_EQ(link->StartDelivery(), ZV_OK);
            for (size_t b = 0; b < count; ++b) {
                std::vector<zvHandle> results;
                wire::BatchHeader header;
                std::string why;
                ASSERT_EQ(link->Pull(&results, &header, &why), ZV_OK) << why;
                EXPECT_EQ(header.batch, static_cast<int64_t>(b));
                EXPECT_EQ(std::to_string(header.time) + "\n" + zvtest::ResultsText(results), expected[serial][b])
                    << "batch " << b;
                for (zvHandle h : results) zvObjectDestroy(h);
            }
            EXPECT_EQ(servers[serial - 1]->Stop(), 0);
        }
    }
}

// A replay server hands out the recording's batches, then none.
TEST_F(ServerTest, AReplayServerHandsOutTheRecording) {
    const std::filesystem::path recording = space_.Path() / "recording.jsonl";
    std::vector<std::string> lines;
    {
        zs::Station station;
        std::string error;
        Folder(1, 2);
        ASSERT_TRUE(station.OpenServers(space_.Path(), {}, {1}, &error)) << error;
        station.SetMode(1, "Web");
        station.StartDelivery(1);
        std::ofstream out(recording);
        for (int b = 0; b < 3; ++b) {
            std::vector<zvHandle> results;
            station.NextBatch(&results);
            lines.push_back(zvtest::ResultsText(results));
            for (zvHandle h : results) out << zs::ReplayLine(h, b) << "\n";
            for (zvHandle h : results) zvObjectDestroy(h);
        }
    }
    auto server = Start(1, {"--input", recording.string()});
    auto link = Link(*server);
    EXPECT_EQ(link->Info().source, "replay");
    ASSERT_EQ(link->SetPull(true), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    for (int b = 0; b < 4; ++b) {
        std::vector<zvHandle> results;
        ASSERT_EQ(link->Pull(&results, nullptr), ZV_OK);
        EXPECT_EQ(zvtest::ResultsText(results), b < 3 ? lines[static_cast<size_t>(b)] : "");
        for (zvHandle h : results) zvObjectDestroy(h);
    }
}

// Killed and started again on the same endpoint: offline within 2 s,
// requests fail at once meanwhile, and the return says the server is new.
TEST_F(ServerTest, AKilledServerIsOfflineWithinTwoSecondsAndItsReturnIsTold) {
    auto server = Start(1);
    auto link = Link(*server);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    const std::string requests = server->RequestEndpoint();
    const std::string stream = server->StreamEndpoint();
    const uint64_t session = link->Info().session;

    Clock::time_point t0 = Clock::now();
    server->Kill();
    net::LinkEvent event;
    ASSERT_TRUE(NextEvent(link.get(), &event, 3000));
    EXPECT_EQ(event.kind, net::LinkEvent::Kind::Offline);
    EXPECT_LE(MsSince(t0), 2000);
    t0 = Clock::now();
    const wire::Reply failed = link->Call(Of(wire::Op::GetPipe));
    EXPECT_EQ(failed.status, ZV_E_IO);
    EXPECT_NE(failed.message.find("is offline"), std::string::npos) << failed.message;
    EXPECT_LT(MsSince(t0), 50);

    server = Start(1, {"--bind", requests, "--stream", stream});
    t0 = Clock::now();
    ASSERT_TRUE(NextEvent(link.get(), &event, 3000)) << server->Log();
    EXPECT_EQ(event.kind, net::LinkEvent::Kind::Online);
    EXPECT_TRUE(event.restarted);
    EXPECT_LE(MsSince(t0), 2000);
    EXPECT_NE(link->Info().session, session);
    EXPECT_EQ(link->Stats().returns, 1u);
    const wire::Reply pipe = link->Call(Of(wire::Op::GetPipe));
    EXPECT_EQ(pipe.status, ZV_OK);
    EXPECT_EQ(pipe.pipe.mode, "");  // a new start: the client sets its pipe again
}

// Started anew on the same endpoint before the link saw it go: the link
// still tells that the server is new.
TEST_F(ServerTest, AServerThatRestartsAtOnceIsToldAsNew) {
    auto server = Start(1);
    auto link = Link(*server);
    const std::string requests = server->RequestEndpoint();
    const std::string stream = server->StreamEndpoint();
    server->Kill();
    server = Start(1, {"--bind", requests, "--stream", stream});
    net::LinkEvent event;
    ASSERT_TRUE(NextEvent(link.get(), &event, 4000));
    if (event.kind == net::LinkEvent::Kind::Offline) {
        ASSERT_TRUE(NextEvent(link.get(), &event, 4000));
    }
    EXPECT_EQ(event.kind, net::LinkEvent::Kind::Online);
    EXPECT_TRUE(event.restarted) << event.text;
}

// Stopped and continued: offline within 2 s, back as the same server, and
// a request it received while stopped, long given up by its client, is
// not carried out late.
TEST_F(ServerTest, AStoppedServerIsOfflineAndARequestItMissedIsNotCarriedOutLate) {
    auto server = Start(1);
    auto link = Link(*server);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    const Clock::time_point t0 = Clock::now();
    server->Pause();
    wire::Request web = Of(wire::Op::SetMode, "Web");
    EXPECT_EQ(link->Call(web, 200).status, ZV_E_IO);
    net::LinkEvent event;
    ASSERT_TRUE(NextEvent(link.get(), &event, 3000));
    EXPECT_EQ(event.kind, net::LinkEvent::Kind::Offline);
    EXPECT_LE(MsSince(t0), 2000);
    server->Resume();
    ASSERT_TRUE(NextEvent(link.get(), &event, 3000));
    EXPECT_EQ(event.kind, net::LinkEvent::Kind::Online);
    EXPECT_FALSE(event.restarted);
    EXPECT_EQ(link->Call(Of(wire::Op::GetPipe)).pipe.mode, "Free");
    EXPECT_TRUE(WaitFor([&] { return server->Log().find("SetMode arrived") != std::string::npos; }, 1000))
        << server->Log();
}

// A client that stops taking batches loses the oldest, counted; the ones
// it keeps are the newest, and the server answers as quickly as ever.
TEST_F(ServerTest, AClientThatStopsReadingLosesTheOldestBatchesCounted) {
    auto server = Start(1, {"--points", "2048", "--pace", "5"});
    net::LinkOptions options;
    options.queueBatches = 16;
    auto link = Link(*server, options);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    ASSERT_TRUE(WaitFor([&] { return link->Stats().received > 60; }, 5000)) << server->Log();
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(link->Call(Of(wire::Op::Ping)).status, ZV_OK);
    EXPECT_LT(MsSince(t0), 200);
    ASSERT_EQ(link->StopDelivery(), ZV_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // what was under way arrives
    const net::LinkStats stats = link->Stats();
    EXPECT_EQ(stats.droppedOldest, stats.received - 16);
    uint64_t last = 0;
    for (int b = 0; b < 16; ++b) {
        net::ReceivedBatch batch;
        ASSERT_TRUE(link->TakeBatch(&batch, 0));
        if (b > 0) {
            EXPECT_EQ(batch.Header().sequence, last + 1);
        }
        last = batch.Header().sequence;
    }
    net::ReceivedBatch none;
    EXPECT_FALSE(link->TakeBatch(&none, 0));
    // The newest are kept: the last taken is the last that arrived (the
    // stream began at 1 once the link followed it).
    EXPECT_EQ(last, stats.received + stats.lost);
}

// A client that connects to the stream and never reads: the server goes on
// at its pace, answers requests, and its memory stays bounded (what the
// client cannot take is dropped).
TEST_F(ServerTest, AClientThatNeverReadsNeitherBlocksTheServerNorGrowsIt) {
    // The sanitizer's quarantine would hide the server's own memory.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string previous = asan != nullptr ? asan : "";
    setenv("ASAN_OPTIONS", (previous + (previous.empty() ? "" : ":") + "quarantine_size_mb=4").c_str(), 1);
    auto server = Start(1, {"--points", "2048", "--pace", "20", "--stream-queue", "16"});
    setenv("ASAN_OPTIONS", previous.c_str(), 1);
    net::Context context;
    net::Socket sleeper(context, ZMQ_SUB);
    std::string error;
    ASSERT_TRUE(sleeper.Set(ZMQ_LINGER, 0, &error));
    ASSERT_TRUE(sleeper.Set(ZMQ_RCVHWM, 1, &error));
    ASSERT_TRUE(sleeper.Set(ZMQ_RCVBUF, 4096, &error));
    ASSERT_TRUE(sleeper.Set(ZMQ_SUBSCRIBE, std::string(), &error));
    ASSERT_EQ(zmq_connect(sleeper.get(), server->StreamEndpoint().c_str()), 0);
    net::LinkOptions options;
    options.stream = false;
    auto link = Link(*server, options);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long before = server->ResidentKb();
    for (int i = 0; i < 10; ++i) {
        const Clock::time_point t0 = Clock::now();
        EXPECT_EQ(link->Call(Of(wire::Op::Ping)).status, ZV_OK);
        EXPECT_LT(MsSince(t0), 250);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const long after = server->ResidentKb();
    EXPECT_LT(after - before, 48 * 1024) << before << " kB, then " << after << " kB";
}

// Batches made ahead keep the server answering while they are made, and a
// burst delivers every one of them, in order, numbered after what the
// stream carried meanwhile, to a client that keeps up.
TEST_F(ServerTest, ABurstOfPreparedBatchesArrivesWhole) {
    auto server = Start(1, {"--points", "2048"});
    net::LinkOptions options;
    options.queueBatches = 1000;
    auto link = Link(*server, options);
    ASSERT_EQ(link->Call(Of(wire::Op::Prepare)).status, ZV_E_STATE);  // only in pull mode
    ASSERT_EQ(link->SetPull(true), ZV_OK);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    wire::Reply prepared;
    std::thread preparing([&] {
        wire::Request prepare = Of(wire::Op::Prepare);
        prepare.count = 300;
        prepared = link->Call(prepare, 30000);
    });
    for (int i = 0; i < 5; ++i) {
        const Clock::time_point t0 = Clock::now();
        EXPECT_EQ(link->Call(Of(wire::Op::Ping)).status, ZV_OK);
        EXPECT_LT(MsSince(t0), 250);
    }
    preparing.join();
    ASSERT_EQ(prepared.status, ZV_OK) << prepared.message;
    EXPECT_EQ(prepared.size, 300);

    // A few batches in real time before the burst.
    ASSERT_EQ(link->SetPull(false), ZV_OK);
    net::ReceivedBatch batch;
    for (int b = 0; b < 3; ++b) ASSERT_TRUE(link->TakeBatch(&batch, 2000));
    ASSERT_EQ(link->SetPull(true), ZV_OK);
    while (link->TakeBatch(&batch, 200)) {
    }
    uint64_t expected = batch.Header().sequence + 1;

    // Batches made ahead are stamped as they leave, not when they were made.
    const int64_t burstAsked = wire::WallNs();
    EXPECT_EQ(link->Call(Of(wire::Op::Burst)).size, 300);
    int64_t sent = burstAsked;
    for (int b = 0; b < 300; ++b) {
        ASSERT_TRUE(link->TakeBatch(&batch, 5000)) << b;
        EXPECT_EQ(batch.Header().sequence, expected++);
        EXPECT_GE(batch.Header().sentNs, sent) << b;
        sent = batch.Header().sentNs;
    }
    EXPECT_LE(sent, wire::WallNs());
    EXPECT_EQ(link->Stats().lost, 0u);
    EXPECT_EQ(link->Stats().refused, 0u);
    EXPECT_EQ(link->State(), net::LinkState::Online);
}

// A burst in real time sends what was made ahead round and round, one
// batch a period, each numbered and stamped as it leaves; a server of
// 10 kHz sensors makes batches of 200 profiles a sensor.
TEST_F(ServerTest, ABurstInRealTimeSendsThePreparedBatchesAtTheirPeriod) {
    auto server = Start(1, {"--points", "256", "--profiles", "5"});
    auto link = Link(*server);
    ASSERT_EQ(link->SetPull(true), ZV_OK);
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    wire::Request burst = Of(wire::Op::Burst);
    burst.count = 12;
    EXPECT_EQ(link->Call(burst).status, ZV_E_STATE);  // nothing made ahead
    wire::Request prepare = Of(wire::Op::Prepare);
    prepare.count = 3;
    ASSERT_EQ(link->Call(prepare, 10000).size, 3);

    const int64_t asked = wire::WallNs();
    EXPECT_EQ(link->Call(burst).size, 12);
    std::vector<int64_t> sent;
    std::vector<std::string> texts;
    uint64_t sequence = 0;
    for (int b = 0; b < 12; ++b) {
        net::ReceivedBatch batch;
        ASSERT_TRUE(link->TakeBatch(&batch, 2000)) << b << server->Log();
        if (b > 0) {
            EXPECT_EQ(batch.Header().sequence, sequence + 1);
        }
        sequence = batch.Header().sequence;
        sent.push_back(batch.Header().sentNs);
        std::vector<zvHandle> results;
        ASSERT_EQ(batch.Results(&results), ZV_OK);
        EXPECT_EQ(results.size(), 4u * 5u);
        texts.push_back(zvtest::ResultsText(results));
        for (zvHandle h : results) zvObjectDestroy(h);
    }
    EXPECT_GE(sent.front(), asked);
    // Eleven periods of 20 ms between the first and the last (the machine
    // may be busy: only never faster).
    EXPECT_GE(sent.back() - sent.front(), 11 * 20'000'000 - 2'000'000);
    EXPECT_EQ(texts[0], texts[3]);
    EXPECT_NE(texts[0], texts[1]);
    net::ReceivedBatch extra;
    EXPECT_FALSE(link->TakeBatch(&extra, 100));  // twelve, no more
    EXPECT_EQ(link->Stats().lost, 0u);
}

// Frames no client should send: refused (with a refusal the client can
// match when its header could be read), and the server goes on.
TEST_F(ServerTest, HostileRequestsAreRefusedAndTheServerGoesOn) {
    auto server = Start(1);
    net::Context context;
    net::Socket raw(context, ZMQ_DEALER);
    std::string error;
    ASSERT_TRUE(raw.Set(ZMQ_LINGER, 0, &error));
    ASSERT_TRUE(raw.Set(ZMQ_RCVTIMEO, 2000, &error));
    ASSERT_EQ(zmq_connect(raw.get(), server->RequestEndpoint().c_str()), 0);
    auto send = [&](const std::vector<uint8_t>& frame) {
        ASSERT_EQ(zmq_send(raw.get(), frame.data(), frame.size(), 0), static_cast<int>(frame.size()));
    };
    send({'g', 'a', 'r', 'b', 'a', 'g', 'e'});
    wire::Request request;
    request.id = 7;
    request.op = wire::Op::WriteFile;
    request.text = "x.txt";
    request.bytes = {1, 2, 3};
    std::vector<uint8_t> frame;
    wire::EncodeRequest(request, &frame);
    const uint64_t claimed = uint64_t{1} << 40;           // the contents' length: far beyond the frame
    std::memcpy(frame.data() + 28 + 4 + 5, &claimed, 8);  // after the header and the path
    send(frame);
    std::vector<uint8_t> reply(4096);
    const int got = zmq_recv(raw.get(), reply.data(), reply.size(), 0);
    ASSERT_GT(got, 0);
    wire::Reply refused;
    ASSERT_TRUE(wire::DecodeReply(reply.data(), static_cast<size_t>(got), &refused, &error)) << error;
    EXPECT_EQ(refused.id, 7u);
    EXPECT_EQ(refused.status, ZV_E_PARSE);
    EXPECT_NE(refused.message.find("the file's contents"), std::string::npos) << refused.message;
    EXPECT_FALSE(std::filesystem::exists(space_.Path() / "SN1" / "x.txt"));
    // A frame beyond the largest a request may be: the sender is cut off.
    send(std::vector<uint8_t>(wire::kMaxFrameBytes + 1, 0));
    // The server goes on for everyone else.
    auto link = Link(*server);
    EXPECT_EQ(link->Call(Of(wire::Op::Ping)).status, ZV_OK);
    EXPECT_NE(server->Log().find("refused request: not a station frame"), std::string::npos) << server->Log();
    EXPECT_EQ(server->Stop(), 0);
}

// Off loopback a server needs its keys; with keys, a client without the
// server's public key is refused and the refusal logged, and the keys are
// never served.
TEST_F(ServerTest, ClientsWithoutTheServersKeyAreRefused) {
    const std::string folder = Folder(1);
    Outcome run = RunStation("--files '" + folder + "' --server 1 --bind tcp://0.0.0.0:5999");
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.out.find("needs its key pair: run zvstation keys"), std::string::npos) << run.out;

    run = RunStation("keys --files '" + folder + "'");
    ASSERT_EQ(run.code, 0) << run.out;
    struct stat info {};
    ASSERT_EQ(::stat((folder + "/.station-keys/server.key").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(RunStation("keys --files '" + folder + "'").code, 2);  // not replaced unasked
    std::string key;
    std::string error;
    ASSERT_TRUE(net::ReadPublicKey(folder + "/.station-keys/server.pub", &key, &error)) << error;

    zvtest::StationProcess server;
    ASSERT_TRUE(server.Start(ZVSTATION_PROGRAM, {"--files", folder, "--server", "1"})) << server.Log();
    net::LinkOptions keyed;
    keyed.serverKey = key;
    auto link = Link(server, keyed);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(link->ReadFile(".STATION-KEYS/server.key", &bytes), ZV_E_ACCESS);
    EXPECT_TRUE(bytes.empty());
    const wire::Reply listed = link->Call(Of(wire::Op::List, ""));
    for (const wire::Entry& e : listed.entries) EXPECT_NE(e.name, ".station-keys");

    // The keyed link gets the stream too.
    ASSERT_EQ(link->SetMode("Free"), ZV_OK);
    ASSERT_EQ(link->StartDelivery(), ZV_OK);
    net::ReceivedBatch batch;
    EXPECT_TRUE(link->TakeBatch(&batch, 2000)) << server.Log();

    auto refusals = [&] {
        const std::string log = server.Log();
        size_t count = 0;
        for (size_t at = log.find("refused a connection"); at != std::string::npos;
             at = log.find("refused a connection", at + 1))
            ++count;
        return count;
    };
    char otherPublic[41] = {};
    char otherSecret[41] = {};
    ASSERT_EQ(zmq_curve_keypair(otherPublic, otherSecret), 0);
    for (const std::string& wrong : {std::string(otherPublic), std::string()}) {
        SCOPED_TRACE(wrong.empty() ? "plain" : "another key");
        const size_t before = refusals();
        net::LinkOptions options;
        options.endpoint = server.RequestEndpoint();
        options.serverKey = wrong;
        options.offlineAfterMs = 500;
        net::ServerLink stranger(options);
        ASSERT_TRUE(stranger.Start(&error)) << error;
        EXPECT_FALSE(WaitFor([&] { return stranger.State() == net::LinkState::Online; }, 800));
        EXPECT_EQ(stranger.Call(Of(wire::Op::GetPipe), 300).status, ZV_E_IO);
        EXPECT_TRUE(WaitFor([&] { return refusals() > before; }, 2000)) << server.Log();
    }
    // A wrong key is named as such (a plain client may hang up first).
    EXPECT_NE(server.Log().find("its key does not match this server's"), std::string::npos) << server.Log();
}

TEST_F(ServerTest, TheCommandLineSaysWhatIsWrong) {
    Outcome run = RunStation("--help");
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.out.find("Exit codes"), std::string::npos);
    EXPECT_NE(run.out.find("--input"), std::string::npos);
    run = RunStation("--files '" + (space_.Path() / "missing").string() + "' --server 1");
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.out.find("is not a folder"), std::string::npos) << run.out;
    run = RunStation("--files '" + Folder(1) + "'");
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.out.find("--server"), std::string::npos) << run.out;
    auto server = Start(1);
    run = RunStation("--files '" + Folder(2) + "' --server 2 --bind " + server->RequestEndpoint());
    EXPECT_EQ(run.code, 3);
    EXPECT_NE(run.out.find("cannot bind"), std::string::npos) << run.out;
}

// The pipe as the client set it comes back by itself: after a new start
// on the same endpoint, and after a pause in which a change could not
// reach the server. A change the server refused is not kept.
TEST_F(ServerTest, APipeIsRestoredAsTheClientSetItWhenItsServerReturns) {
    auto server = Start(1);
    auto link = Link(*server);
    net::RemotePipe pipe(link.get());
    ASSERT_EQ(pipe.SetMode("Video"), ZV_OK);
    ASSERT_EQ(pipe.SetParameters({{"SelectedSensor", 1002}}), ZV_OK);
    ASSERT_EQ(pipe.Enable(false), ZV_OK);
    ASSERT_EQ(pipe.StartDelivery(), ZV_OK);
    EXPECT_EQ(pipe.SetMode("Sleep"), ZV_E_NOTFOUND);
    EXPECT_EQ(pipe.Wanted().mode, "Video");
    auto online = [&](bool restarted) {
        std::vector<net::LinkEvent> events;
        EXPECT_TRUE(WaitFor(
            [&] {
                for (const net::LinkEvent& e : pipe.Poll()) events.push_back(e);
                return !events.empty() && events.back().kind == net::LinkEvent::Kind::Online;
            },
            5000))
            << server->Log();
        if (events.empty()) return;
        EXPECT_EQ(events.back().restarted, restarted);
        const wire::Reply held = link->Call(Of(wire::Op::GetPipe));
        ASSERT_EQ(held.status, ZV_OK) << held.message;
        EXPECT_EQ(held.pipe.mode, pipe.Wanted().mode) << events.back().text;
        EXPECT_EQ(held.pipe.enabled, pipe.Wanted().enabled);
        EXPECT_EQ(held.pipe.delivering, true);
        EXPECT_NE(std::find(held.pipe.parameters.begin(), held.pipe.parameters.end(),
                            std::pair<std::string, int32_t>{"SelectedSensor", 1002}),
                  held.pipe.parameters.end());
    };

    const std::string requests = server->RequestEndpoint();
    const std::string stream = server->StreamEndpoint();
    server->Kill();
    server = Start(1, {"--bind", requests, "--stream", stream});
    online(true);

    server->Pause();
    EXPECT_TRUE(WaitFor([&] { return link->State() == net::LinkState::Offline; }, 3000));
    EXPECT_EQ(pipe.SetMode("Free"), ZV_E_IO);
    server->Resume();
    online(false);
    EXPECT_EQ(pipe.Wanted().mode, "Free");
}

}  // namespace
