// Where each server of a station is: in-process or on the network at an
// endpoint (with its public key), as station.json holds it and as
// `zvhost init --servers` and `--keys` name it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "station_file.hpp"
#include "support/temp_space.hpp"

namespace {

using zvhost::ServerPlace;

// A key a server's key pair could have (40 characters of Z85).
const std::string kKey = "rq:rM>}U?@Lns47E1%kR.o@n%FcmmsL/@{H8]yf7";

TEST(StationPlaces, NetworkServersAreWrittenAndReadBackBesideInProcessOnes) {
    zvtest::TempFileSpace space("zvhost-places");
    const std::vector<ServerPlace> places = {
        {1, "tcp://127.0.0.1:5601", ""},
        {2, "tcp://10.0.0.2:5601", kKey},
        zvhost::InProcessServer(3),
        {4, "ipc:///tmp/station/4", ""},
    };
    std::string error;
    ASSERT_TRUE(zvhost::DeclareStationPlaces(space.Path(), places, &error)) << error;
    zvhost::StationServers read;
    ASSERT_TRUE(zvhost::ReadStationServers(space.Path(), &read, &error)) << error;
    EXPECT_EQ(read.places, places);
    EXPECT_EQ(read.serials, (std::vector<uint32_t>{1, 2, 3, 4}));
    // Every server has its folder, the network's too: the client keeps the
    // Video mode's masks there.
    for (const char* folder : {"SN1", "SN2", "SN3", "SN4"}) EXPECT_TRUE(space.Exists(folder)) << folder;

    // A description of numbers only is a station of in-process servers, as
    // it always was, and one of in-process servers is still written so.
    ASSERT_TRUE(zvhost::DeclareStationServers(space.Path(), std::vector<uint32_t>{2, 1}, &error)) << error;
    EXPECT_EQ(space.Read("station.json"), "{\"servers\":[2,1]}\n");
    ASSERT_TRUE(zvhost::ReadStationServers(space.Path(), &read, &error)) << error;
    EXPECT_EQ(read.places, (std::vector<ServerPlace>{zvhost::InProcessServer(2), zvhost::InProcessServer(1)}));

    // Without a description, the server folders are in-process servers.
    space.Write("SN5/Settings.xml", "<s/>");
    std::filesystem::remove(space.Host("station.json"));
    ASSERT_TRUE(zvhost::ReadStationServers(space.Path(), &read, &error)) << error;
    EXPECT_EQ(read.places, (std::vector<ServerPlace>{zvhost::InProcessServer(5)}));
}

TEST(StationPlaces, ADescriptionOfAServerNoClientCanReachIsRefusedWithTheReason) {
    zvtest::TempFileSpace space("zvhost-places");
    const struct {
        const char* servers;
        const char* error;
    } cases[] = {
        {R"([{"serial": 1}])", "needs {\"serial\""},
        {R"([{"endpoint": "tcp://127.0.0.1:5601"}])", "needs {\"serial\""},
        {R"([{"serial": 1, "endpoint": 5601}])", "needs {\"serial\""},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:5601", "port": 2}])", "\"port\" is not a server's field"},
        {R"([{"serial": -1, "endpoint": "tcp://127.0.0.1:5601"}])", "-1 is not a server's serial"},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:*"}])", "tcp://HOST:PORT"},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:0"}])", "port 1 to 65535"},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:65536"}])", "port 1 to 65535"},
        {R"([{"serial": 1, "endpoint": "tcp://*:5601"}])", "tcp://HOST:PORT"},
        {R"([{"serial": 1, "endpoint": "udp://127.0.0.1:5601"}])", "tcp://HOST:PORT"},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:5601 "}])", "holds a space"},
        {R"([{"serial": 1, "endpoint": "ipc://"}])", "tcp://HOST:PORT"},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:5601", "key": "short"}])", "is not a public key"},
        {R"([{"serial": 1, "endpoint": "tcp://127.0.0.1:5601", "key": 7}])", "is not a public key"},
        {R"([1, {"serial": 1, "endpoint": "tcp://127.0.0.1:5601"}])", "server 1 is listed twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.servers);
        space.Write("station.json", std::string("{\"servers\": ") + c.servers + "}");
        zvhost::StationServers read;
        std::string error;
        EXPECT_FALSE(zvhost::ReadStationServers(space.Path(), &read, &error));
        EXPECT_NE(error.find("station.json"), std::string::npos) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(read.places.empty());
    }
    const std::string longHost(300, 'h');
    space.Write("station.json", "{\"servers\": [{\"serial\": 1, \"endpoint\": \"tcp://" + longHost + ":1\"}]}");
    zvhost::StationServers read;
    std::string error;
    EXPECT_FALSE(zvhost::ReadStationServers(space.Path(), &read, &error));
    EXPECT_NE(error.find("longer than 255"), std::string::npos) << error;
    EXPECT_LT(error.size(), 300u + space.Path().string().size());
}

TEST(StationPlaces, ServerListNamesEachServerInProcessOrAtItsEndpoint) {
    std::vector<ServerPlace> places;
    std::string error;
    ASSERT_TRUE(zvhost::ParseServerList("1=tcp://127.0.0.1:5601,2=tcp://station-2.local:5602,3", &places, &error))
        << error;
    EXPECT_EQ(places,
              (std::vector<ServerPlace>{
                  {1, "tcp://127.0.0.1:5601", ""}, {2, "tcp://station-2.local:5602", ""}, zvhost::InProcessServer(3)}));
    ASSERT_TRUE(zvhost::ParseServerList("1,2", &places, &error)) << error;
    EXPECT_EQ(places, (std::vector<ServerPlace>{zvhost::InProcessServer(1), zvhost::InProcessServer(2)}));

    const struct {
        const char* list;
        const char* error;
    } refused[] = {
        {"1=", "is not an endpoint"},
        {"=tcp://127.0.0.1:5601", "\"\" is not a server's serial"},
        {"1=tcp://127.0.0.1:*", "tcp://HOST:PORT"},
        {"1=tcp://127.0.0.1:5601,1", "server 1 is listed twice"},
        {"1=tcp://127.0.0.1:5601,", "--servers needs"},
        {"x=tcp://127.0.0.1:5601", "\"x\" is not a server's serial"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.list);
        EXPECT_FALSE(zvhost::ParseServerList(c.list, &places, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(StationPlaces, KeysGoToServersOnTheNetworkOnly) {
    zvtest::TempFileSpace folder("zvhost-keys", zvtest::TempFileSpace::Root::kLeave);
    folder.Write("server.pub", kKey + "\n");
    std::vector<ServerPlace> places;
    std::string error;
    ASSERT_TRUE(zvhost::ParseServerList("1=tcp://10.0.0.1:5601,2=tcp://10.0.0.2:5601,3", &places, &error));
    ASSERT_TRUE(zvhost::ParseServerKeys("1=" + kKey + ",2=" + folder / "server.pub", &places, &error)) << error;
    EXPECT_EQ(places[0].publicKey, kKey);
    EXPECT_EQ(places[1].publicKey, kKey);
    EXPECT_EQ(places[2].publicKey, "");

    const struct {
        std::string keys;
        const char* error;
    } refused[] = {
        {"3=" + kKey, "server 3 is not a server on the network"},
        {"9=" + kKey, "server 9 is not a server on the network"},
        {"1=" + kKey.substr(1), "neither a public key nor a file"},
        {kKey, "is not SERIAL=KEY"},
        {"1=" + folder / "missing.pub", "neither a public key nor a file"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.keys);
        EXPECT_FALSE(zvhost::ParseServerKeys(c.keys, &places, &error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
