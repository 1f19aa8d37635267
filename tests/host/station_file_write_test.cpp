// The host's station description written through the file space: whole or
// not at all, whatever call of the disk fails, and no temporary file left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "station_file.hpp"
#include "support/fault_loop.hpp"
#include "support/odd_files.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace {

TEST(StationFileWrite, EveryFailureLeavesTheOldDescriptionAndNothingElse) {
    zvtest::TempFileSpace space("zvhost-station-file");
    space.Write("station.json", "{\"servers\": [7]}\n");
    space.MakeFolder("SN1");
    space.MakeFolder("SN2");
    zvtest::FaultLoop loop;
    loop.operation = [&] {
        std::string error;
        return zvhost::DeclareStationServers(space.Path(), {1, 2}, &error) ? ZV_OK : ZV_E_IO;
    };
    loop.intact = {space.Host("station.json")};
    loop.allocations = false;
    loop.check = [](const zvtest::Fault&, zvStatus status) { EXPECT_LE(status, 0); };
    loop.systemCalls = true;
    loop.systemCheck = [&](const zvtest::Fault& fault, zvStatus status) {
        if (fault.call == "write" && fault.error != zv::testing::kShortTransfer) {
            EXPECT_LE(status, 0);
        }
        if (status > 0) {
            EXPECT_EQ(space.Read("station.json"), "{\"servers\":[1,2]}\n");
        }
    };
    EXPECT_GT(loop.Run(), 10);
    EXPECT_EQ(space.List(), (std::vector<std::string>{"SN1", "SN2", "station.json"}));
}

// The description is read through the file space like every file of it: a
// FIFO is refused without waiting on it, a GiB before it is read, a link
// out of the space never followed.
TEST(StationFileWrite, ADescriptionThatIsNoFileTooLargeOrOutsideIsRefusedWithoutBlocking) {
    zvtest::TempFileSpace space("zvhost-station-file");
    zvtest::TempFileSpace outside("zvhost-outside", zvtest::TempFileSpace::Root::kLeave);
    outside.Write("station.json", "{\"servers\": [9]}\n");
    const std::string file = space.Host("station.json").string();
    for (const zvtest::OddFile& c : zvtest::OddFilesAt(file, outside.Host("station.json"))) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(file);
        c.make();
        zv::testing::FailingSystemCalls disk;  // counts what is read
        zvhost::StationServers servers;
        std::string error;
        EXPECT_FALSE(zvhost::ReadStationServers(space.Path(), &servers, &error));
        EXPECT_NE(error.find("station.json"), std::string::npos) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(disk.Counts().count("read"), 0u) << "station.json was read";
    }
}

// No message repeats what it was given whole.
TEST(StationFileWrite, MessagesShowAnExcerptOfWhatTheyRefuse) {
    zvtest::TempFileSpace space("zvhost-station-file");
    const std::string huge(1000000, '7');
    space.Write("station.json", "{\"servers\": [\"" + huge + "\"]}");
    zvhost::StationServers servers;
    std::string error;
    EXPECT_FALSE(zvhost::ReadStationServers(space.Path(), &servers, &error));
    EXPECT_LT(error.size(), 300u + space.Path().string().size());
    std::vector<zvhost::ServerPlace> places;
    EXPECT_FALSE(zvhost::ParseServerList("1," + huge + "x", &places, &error));
    EXPECT_LT(error.size(), 200u);
    EXPECT_FALSE(zvhost::ParseServerList("1=tcp://" + huge + ":1", &places, &error));
    EXPECT_LT(error.size(), 200u);
    // Bytes that are not printable take four characters each when quoted;
    // the excerpt is bounded in characters, not in the bytes it quotes.
    EXPECT_FALSE(zvhost::ParseServerList(std::string(1000, '\0'), &places, &error));
    EXPECT_LT(error.size(), 200u);
    EXPECT_FALSE(zvhost::ParseServerList("1=" + std::string(1000, '\x01'), &places, &error));
    EXPECT_LT(error.size(), 200u);
}

}  // namespace
