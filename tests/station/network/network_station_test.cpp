// A station of servers in-process and zvstation processes, as the host
// opens it: stepped batches equal to one station of them all, real-time
// batches with what a slow client lost told.
#include "zvstation/net/network_station.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "support/result_text.hpp"
#include "support/station_process.hpp"
#include "support/temp_space.hpp"
#include "support/wait.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/settings.hpp"

namespace net = zv::station::net;
namespace zs = zv::station;

namespace {

constexpr uint64_t kSeed = 11;

// The folder SN<serial> of `root` with four sensors numbered from 1000 * serial.
void MakeServer(const std::filesystem::path& root, uint32_t serial) {
    const std::string name = "SN" + std::to_string(serial);
    std::filesystem::create_directories(root / name);
    const zs::ServerSettings settings = zs::DemoSettings(4, 1000 * serial);
    std::string error;
    zvFileSpaceSetRoot(root.c_str());
    ASSERT_TRUE(zs::WriteServerSettings(name + "/Settings.xml", settings, &error)) << error;
    ASSERT_TRUE(zs::WriteCalibration(name + "/Calibration.xml", settings.sensors, &error)) << error;
}

struct Batch {
    std::string results;
    std::vector<uint32_t> servers;
    bool operator==(const Batch&) const = default;
};

void StartAll(zs::StationBackend* station, const std::string& mode) {
    for (const zs::Server& s : std::vector<zs::Server>(station->Servers())) {
        EXPECT_EQ(station->SetMode(s.serial, mode), 1);
        EXPECT_EQ(station->StartDelivery(s.serial), 1);
    }
}

// `count` batches of `station` (with every server delivering `mode`, when given).
std::vector<Batch> Deliver(zs::StationBackend* station, const std::string& mode, int count) {
    if (!mode.empty()) StartAll(station, mode);
    std::vector<Batch> batches;
    for (int i = 0; i < count; ++i) {
        std::vector<zvHandle> results;
        zs::BatchOrigin origin;
        EXPECT_EQ(station->NextBatch(&results, &origin), 1);
        batches.push_back({zvtest::ResultsText(results), origin.servers});
        for (zvHandle h : results) zvObjectDestroy(h);
    }
    return batches;
}

class NetworkStationTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (uint32_t serial : {1u, 2u, 3u}) MakeServer(all_.Path(), serial);
        MakeServer(client_.Path(), 2);
    }
    // Servers 1 and 3 as processes, 2 in-process.
    bool Open(net::NetworkStation* station, const net::NetworkOptions& options = {}) {
        for (uint32_t serial : {1u, 3u}) {
            auto& process = processes_[serial];
            process = std::make_unique<zvtest::StationProcess>();
            if (!process->Start(ZVSTATION_PROGRAM,
                                {"--files", (all_.Path() / ("SN" + std::to_string(serial))).string(), "--server",
                                 std::to_string(serial), "--seed", std::to_string(kSeed)})) {
                ADD_FAILURE() << process->Log();
                return false;
            }
        }
        std::string error;
        zs::Options simulation;
        simulation.seed = kSeed;
        const bool opened = station->Open(
            client_.Path(), simulation,
            {{1, processes_[1]->RequestEndpoint(), ""}, {2, "", ""}, {3, processes_[3]->RequestEndpoint(), ""}},
            options, &error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }

    zvtest::TempFileSpace all_{"zvnet-all", zvtest::TempFileSpace::Root::kLeave};
    zvtest::TempFileSpace client_{"zvnet-client", zvtest::TempFileSpace::Root::kLeave};
    std::map<uint32_t, std::unique_ptr<zvtest::StationProcess>> processes_;
    zv::testing::Scope scope_;
};

// Stepped, every batch is what one station of the three servers gives: the
// servers' results of one stretch together in their order (Detection: one
// server's piece per batch, server by server).
TEST_F(NetworkStationTest, SteppedBatchesAreThoseOfOneStationOfAllItsServers) {
    for (const char* mode : {"Free", "Detection", "Web"}) {
        SCOPED_TRACE(mode);
        const int count = std::string(mode) == "Detection" ? 40 : 12;
        zs::Station reference;
        zs::Options simulation;
        simulation.seed = kSeed;
        std::string error;
        ASSERT_TRUE(reference.OpenServers(all_.Path(), simulation, {1, 2, 3}, &error)) << error;
        const std::vector<Batch> expected = Deliver(&reference, mode, count);
        std::set<uint32_t> seen;
        for (const Batch& b : expected) seen.insert(b.servers.begin(), b.servers.end());
        ASSERT_EQ(seen.size(), 3u) << "every server delivers";

        net::NetworkStation station;
        ASSERT_TRUE(Open(&station));
        const std::vector<Batch> got = Deliver(&station, mode, count);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].servers, expected[i].servers) << "batch " << i;
            EXPECT_EQ(got[i].results, expected[i].results) << "batch " << i;
        }
        EXPECT_DOUBLE_EQ(station.Time(), reference.Time());
        for (const net::StationNotice& n : station.Poll()) ADD_FAILURE() << n.text;
    }
}

// In real time each server paces itself: a client that reads gets every
// server's batches; one that stops reading loses the oldest, and is told.
TEST_F(NetworkStationTest, RealTimeBatchesComeAsMadeAndWhatASlowClientLosesIsTold) {
    net::NetworkStation station;
    net::NetworkOptions options;
    options.pull = false;
    options.queueBatches = 4;
    ASSERT_TRUE(Open(&station, options));
    StartAll(&station, "Free");
    std::set<uint32_t> seen;
    const int64_t started = zv::station::wire::WallNs();
    ASSERT_TRUE(zvtest::WaitFor(
        [&] {
            std::vector<zvHandle> results;
            zs::BatchOrigin origin;
            EXPECT_EQ(station.NextBatch(&results, &origin), 1);
            for (zvHandle h : results) zvObjectDestroy(h);
            seen.insert(origin.servers.begin(), origin.servers.end());
            // Each network server's batch in it says when it left, within
            // this run (the servers' clock is this machine's).
            std::set<uint32_t> sentBy;
            for (const zs::SentBatch& sent : origin.sent) {
                sentBy.insert(sent.serial);
                EXPECT_GE(sent.sentNs, started);
                EXPECT_LE(sent.sentNs, zv::station::wire::WallNs());
                EXPECT_GT(sent.sequence, 0u);
            }
            std::set<uint32_t> network(origin.servers.begin(), origin.servers.end());
            network.erase(2);
            EXPECT_EQ(sentBy, network);
            EXPECT_EQ(station.LastSent().size(), origin.sent.size());
            return seen.size() == 3;
        },
        10000))
        << "servers seen: " << seen.size() << processes_[1]->Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // 30 batches made, 4 kept
    std::vector<net::StationNotice> notices;
    ASSERT_TRUE(zvtest::WaitFor(
        [&] {
            for (net::StationNotice& n : station.Poll()) notices.push_back(std::move(n));
            return notices.size() >= 2;
        },
        3000));
    std::set<uint32_t> dropped;
    for (const net::StationNotice& n : notices) {
        EXPECT_EQ(n.kind, net::StationNotice::Kind::Dropped) << n.text;
        EXPECT_GT(n.count, 0u);
        EXPECT_NE(n.text.find("dropped"), std::string::npos);
        dropped.insert(n.serial);
    }
    EXPECT_EQ(dropped, (std::set<uint32_t>{1, 3}));
}

// A server that has sent nothing (server 1, in Calibration: a batch a
// second) does not hold up what the others sent (server 3, in Free).
TEST_F(NetworkStationTest, RealTimeBatchesOfOneServerAreNotHeldUpByAnotherThatSentNothing) {
    net::NetworkStation station;
    net::NetworkOptions options;
    options.pull = false;
    ASSERT_TRUE(Open(&station, options));
    ASSERT_EQ(station.SetMode(1, "Calibration"), 1);
    ASSERT_EQ(station.SetMode(3, "Free"), 1);
    ASSERT_EQ(station.StartDelivery(1), 1);
    ASSERT_EQ(station.StartDelivery(3), 1);
    ASSERT_TRUE(zvtest::WaitFor(
        [&] {
            for (const Batch& b : Deliver(&station, "", 1))
                if (!b.servers.empty() && b.servers.back() == 3) return true;
            return false;
        },
        10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // server 3 sends 15 batches meanwhile
    const zvtest::Clock::time_point t0 = zvtest::Clock::now();
    int fromThree = 0;
    for (const Batch& b : Deliver(&station, "", 10)) fromThree += !b.servers.empty() && b.servers.back() == 3;
    EXPECT_LT(zvtest::MsSince(t0), 300) << "batches waited for server 1";
    EXPECT_EQ(fromThree, 10);
}

// A real-time client that fell behind takes everything its servers queued
// in its next batch, and is then up to date: it does not stay behind by
// what it missed, one batch at a time.
TEST_F(NetworkStationTest, ARealTimeClientThatFellBehindCatchesUpAtItsNextBatch) {
    net::NetworkStation station;
    net::NetworkOptions options;
    options.pull = false;
    ASSERT_TRUE(Open(&station, options));
    ASSERT_EQ(station.SetMode(3, "Free"), 1);
    ASSERT_EQ(station.StartDelivery(3), 1);
    ASSERT_TRUE(zvtest::WaitFor(
        [&] {
            for (const Batch& b : Deliver(&station, "", 1))
                if (!b.servers.empty()) return true;
            return false;
        },
        10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // server 3 sends 10 batches meanwhile
    const std::vector<Batch> behind = Deliver(&station, "", 1);
    EXPECT_GE(behind[0].servers.size(), 4u * 8u) << "four profiles a batch";
    for (int i = 0; i < 3; ++i) {
        std::vector<zvHandle> results;
        zs::BatchOrigin origin;
        ASSERT_EQ(station.NextBatch(&results, &origin), 1);
        for (zvHandle h : results) zvObjectDestroy(h);
        const int64_t now = zv::station::wire::WallNs();
        for (const zs::SentBatch& sent : origin.sent) EXPECT_LT(now - sent.sentNs, 100'000'000) << "ns late";
    }
}

// A server whose endpoint answers as another server is refused at the
// start, naming both; one that does not answer is offline, told at once.
TEST_F(NetworkStationTest, AServerAtTheWrongEndpointIsRefusedAndAMissingOneIsOffline) {
    zvtest::StationProcess other;
    ASSERT_TRUE(other.Start(ZVSTATION_PROGRAM, {"--files", (all_.Path() / "SN3").string(), "--server", "3"}))
        << other.Log();
    net::NetworkStation wrong;
    std::string error;
    EXPECT_FALSE(wrong.Open(client_.Path(), {}, {{1, other.RequestEndpoint(), ""}}, {}, &error));
    EXPECT_NE(error.find("answers as server 3"), std::string::npos) << error;

    net::NetworkStation missing;
    net::NetworkOptions quick;
    quick.connectMs = 300;
    quick.requestTimeoutMs = 300;
    ASSERT_TRUE(missing.Open(client_.Path(), {}, {{2, "", ""}, {5, "tcp://127.0.0.1:9", ""}}, quick, &error)) << error;
    EXPECT_FALSE(missing.Online(5));
    EXPECT_TRUE(missing.Online(2));
    const std::vector<net::StationNotice> notices = missing.Poll();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, net::StationNotice::Kind::Offline);
    EXPECT_NE(notices[0].text.find("does not answer"), std::string::npos);
    // Its pipe's calls fail at once with the reason, and are kept for its return.
    EXPECT_EQ(missing.SetMode(5, "Free"), ZV_E_IO);
    EXPECT_EQ(missing.Servers()[1].pipe.mode, "Free");
    EXPECT_EQ(missing.SetMode(5, "NoSuchMode"), ZV_E_NOTFOUND);
    const std::vector<net::StationNotice> failed = missing.Poll();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].kind, net::StationNotice::Kind::Failed);
    EXPECT_NE(failed[0].text.find("server 5"), std::string::npos);
}

}  // namespace
