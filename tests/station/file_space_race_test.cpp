// The station and the capture writer against a hostile disk: a server's
// folder, and the capture folder, trade places with links to folders
// outside the file space while the station reads and writes its files and
// the capture records. Nothing outside may be read or written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/link_swapper.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/capture.hpp"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace zs = zv::station;
namespace fs = std::filesystem;

namespace {

constexpr auto kRaceTime = std::chrono::milliseconds(1500);

TEST(FileSpaceRace, TheStationNeverReadsOrWritesOutsideThroughASwappedLink) {
    zv::testing::Scope scope;
    zvtest::TempFileSpace outside("zvrace-outside", zvtest::TempFileSpace::Root::kLeave);
    zs::ServerSettings foreign = zs::DemoSettings(1, 4242);
    std::string error;
    zvtest::TempFileSpace space("zvrace");
    {
        zvtest::TempFileSpace writer("zvrace-writer");
        ASSERT_TRUE(zs::WriteServerSettings("Settings.xml", foreign, &error)) << error;
        outside.Write("Settings.xml", writer.Read("Settings.xml"));
    }
    outside.Write("Calibration.xml", "outside");
    const std::string outsideSettings = outside.Read("Settings.xml");

    bool created = false;
    ASSERT_TRUE(zs::EnsureDemoStation(space.Path(), 4, 7, &created, &error)) << error;
    zs::Station station;
    ASSERT_TRUE(station.Open(space.Path(), {}, &error)) << error;
    ASSERT_EQ(station.SetMode(7, "Calibration"), ZV_OK);
    ASSERT_EQ(station.StartDelivery(7), ZV_OK);
    fs::create_directory_symlink(outside.Path(), space.Host("swap"));

    int64_t reads = 0, outsideReads = 0, batches = 0, outsideWrites = 0;
    zvtest::LinkSwapper swapper(space.Host("SN7"), space.Host("swap"));
    const auto end = std::chrono::steady_clock::now() + kRaceTime;
    while (std::chrono::steady_clock::now() < end) {
        if (station.ReloadSettings(&error)) {
            ++reads;
            for (const zs::SensorInfo& s : station.Servers().front().settings.sensors)
                if (s.serial == 4242) ++outsideReads;
        }
        std::vector<zvHandle> batch;
        if (station.NextBatch(&batch) > 0) ++batches;
        for (zvHandle h : batch) zvObjectDestroy(h);
        if (outside.Read("Calibration.xml") != "outside") {
            ++outsideWrites;
            outside.Write("Calibration.xml", "outside");
        }
    }
    swapper.Stop();
    std::printf("station race: %lld swaps, %lld reads (%lld outside), %lld batches (%lld outside writes)\n",
                static_cast<long long>(swapper.Swaps()), static_cast<long long>(reads),
                static_cast<long long>(outsideReads), static_cast<long long>(batches),
                static_cast<long long>(outsideWrites));
    EXPECT_GT(swapper.Swaps(), 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(outsideReads, 0) << "the station read the Settings.xml outside";
    EXPECT_EQ(outsideWrites, 0) << "the station replaced the Calibration.xml outside";
    EXPECT_EQ(outside.Read("Settings.xml"), outsideSettings);
    EXPECT_EQ(outside.List(), (std::vector<std::string>{"Calibration.xml", "Settings.xml"}));
}

TEST(FileSpaceRace, TheCaptureNeverWritesOutsideThroughASwappedLink) {
    zv::testing::Scope scope;
    zvtest::TempFileSpace outside("zvrace-outside", zvtest::TempFileSpace::Root::kLeave);
    zvtest::TempFileSpace space("zvrace");
    bool created = false;
    std::string error;
    ASSERT_TRUE(zs::EnsureDemoStation(space.Path(), 2, 7, &created, &error)) << error;
    zs::Station station;
    zs::Options options;
    options.profilePoints = 8;
    ASSERT_TRUE(station.Open(space.Path(), options, &error)) << error;
    ASSERT_EQ(station.SetMode(7, "Free"), ZV_OK);
    ASSERT_EQ(station.StartDelivery(7), ZV_OK);
    space.MakeFolder("Capture");
    fs::create_directory_symlink(outside.Path(), space.Host("swap"));

    int64_t captures = 0, written = 0;
    zvtest::LinkSwapper swapper(space.Host("Capture"), space.Host("swap"));
    const auto end = std::chrono::steady_clock::now() + kRaceTime;
    while (std::chrono::steady_clock::now() < end) {
        zs::CaptureWriter writer;
        if (!writer.Open("Capture/" + std::to_string(captures++), 600, &error)) continue;
        for (int i = 0; i < 10; ++i) {
            std::vector<zvHandle> batch;
            station.NextBatch(&batch);
            if (writer.WriteBatch(batch, &error)) ++written;
            for (zvHandle h : batch) zvObjectDestroy(h);
        }
        writer.Close(&error);
    }
    swapper.Stop();
    int64_t outsideFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(outside.Path()))
        outsideFiles += entry.is_regular_file() ? 1 : 0;
    std::printf("capture race: %lld swaps, %lld captures, %lld batches written, %lld files outside\n",
                static_cast<long long>(swapper.Swaps()), static_cast<long long>(captures),
                static_cast<long long>(written), static_cast<long long>(outsideFiles));
    EXPECT_GT(swapper.Swaps(), 0);
    EXPECT_GT(written, 0);
    EXPECT_EQ(outsideFiles, 0) << "the capture wrote outside the file space";
}

}  // namespace
