#include "zvstation/station.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <set>

#include "support/odd_files.hpp"
#include "support/result_text.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/replay.hpp"

namespace zs = zv::station;

namespace {

// Results of one batch, destroyed at the end of the scope.
struct Batch {
    std::vector<zvHandle> results;
    ~Batch() {
        for (zvHandle h : results) zvObjectDestroy(h);
    }
    int64_t Id(size_t i) const {
        int64_t id = -1;
        zvResultId(results.at(i), &id);
        return id;
    }
    zvHandle Data(size_t i, int32_t index) const {
        zvHandle array = nullptr;
        zvResultData(results.at(i), index, &array);
        return array;
    }
};

class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        bool created = false;
        std::string error;
        ASSERT_TRUE(zs::EnsureDemoStation(space_.Path(), 4, 7, &created, &error)) << error;
        ASSERT_TRUE(created);
    }
    // An opened station with every server's pipe in `mode`, delivering.
    void Open(zs::Station* station, const std::string& mode, zs::Options options = {}) {
        std::string error;
        ASSERT_TRUE(station->Open(space_.Path(), options, &error)) << error;
        for (const zs::Server& s : station->Servers()) {
            ASSERT_EQ(station->SetMode(s.serial, mode), ZV_OK);
            ASSERT_EQ(station->StartDelivery(s.serial), ZV_OK);
        }
    }
    zvtest::TempFileSpace space_;
    zv::testing::Scope scope_;
};

TEST_F(StationTest, DemoStationHasOneServerWithFourUniqueViews) {
    zs::Station station;
    std::string error;
    ASSERT_TRUE(station.Open(space_.Path(), {}, &error)) << error;
    ASSERT_EQ(station.Servers().size(), 1u);
    const zs::Server& server = station.Servers().front();
    EXPECT_EQ(server.serial, 7u);
    EXPECT_TRUE(server.settingsPresent);
    ASSERT_EQ(server.settings.sensors.size(), 4u);
    std::set<uint32_t> views;
    for (const zs::SensorInfo& s : server.settings.sensors) views.insert(s.vertexView);
    EXPECT_EQ(views.size(), 4u);
    EXPECT_EQ(server.settings.target.size(), 4u);
    EXPECT_TRUE(std::filesystem::exists(space_.Path() / "SN7" / "Calibration.xml"));

    // A second call finds the server and makes nothing.
    bool created = true;
    ASSERT_TRUE(zs::EnsureDemoStation(space_.Path(), 4, 9, &created, &error));
    EXPECT_FALSE(created);
}

TEST_F(StationTest, OpenRefusesAFileSpaceWithoutServers) {
    zvtest::TempFileSpace empty;
    std::filesystem::create_directory(empty.Path() / "notes");
    std::filesystem::create_directory(empty.Path() / "SNx");
    zs::Station station;
    std::string error;
    EXPECT_FALSE(station.Open(empty.Path(), {}, &error));
    EXPECT_NE(error.find("no server"), std::string::npos) << error;
    EXPECT_FALSE(station.Open(empty.Path() / "missing", {}, &error));
}

TEST_F(StationTest, ServerFoldersMatchWithoutRegardToCaseAndSortBySerial) {
    std::filesystem::create_directory(space_.Path() / "sn3");
    zs::Station station;
    std::string error;
    ASSERT_TRUE(station.Open(space_.Path(), {}, &error)) << error;
    ASSERT_EQ(station.Servers().size(), 2u);
    EXPECT_EQ(station.Servers()[0].serial, 3u);
    EXPECT_FALSE(station.Servers()[0].settingsPresent);  // no Settings.xml: no sensors
    EXPECT_TRUE(station.Servers()[0].settings.sensors.empty());
    EXPECT_EQ(station.Servers()[1].serial, 7u);
}

// Opening a station makes no folder, and a sensor's folder is never a
// server.
TEST_F(StationTest, SensorFoldersAreNotMadeAndAreNoServers) {
    std::filesystem::create_directory(space_.Path() / "SN1001");
    zs::Station station;
    std::string error;
    ASSERT_TRUE(station.Open(space_.Path(), {}, &error)) << error;
    ASSERT_EQ(station.Servers().size(), 1u);
    EXPECT_EQ(station.Servers()[0].serial, 7u);
    EXPECT_EQ(space_.List(), (std::vector<std::string>{"SN1001", "SN7"}));
}

// A server whose Settings.xml cannot be read is a server all the same, with
// no sensors and the reason: its settings are what the operator repairs.
TEST_F(StationTest, AServerWhoseSettingsCannotBeReadOpensWithTheReason) {
    std::filesystem::create_directory(space_.Path() / "SN3");
    std::ofstream(space_.Path() / "SN3" / "Settings.xml") << "<SensorGroup><Broken>";
    for (bool declared : {false, true}) {
        SCOPED_TRACE(declared);
        zs::Station station;
        std::string error;
        if (declared) {
            ASSERT_TRUE(station.OpenServers(space_.Path(), {}, {7, 3}, &error)) << error;
        } else {
            ASSERT_TRUE(station.Open(space_.Path(), {}, &error)) << error;
        }
        ASSERT_EQ(station.Servers().size(), 2u);
        const zs::Server& broken = station.Servers()[0];
        EXPECT_EQ(broken.serial, 3u);
        EXPECT_TRUE(broken.settingsPresent);
        EXPECT_NE(broken.settingsError.find("Settings.xml"), std::string::npos) << broken.settingsError;
        EXPECT_TRUE(broken.settings.sensors.empty());
        EXPECT_TRUE(station.Servers()[1].settingsError.empty());
        EXPECT_EQ(station.Servers()[1].settings.sensors.size(), 4u);
        EXPECT_FALSE(station.ReloadSettings(&error));
        EXPECT_NE(error.find("SN3"), std::string::npos) << error;
    }
}

// Folders name their server as the plug-in's paths do ("\SN<serial>\"),
// once each: of two folders for one server the file space's choice, and
// never the number that names the client's own pipe.
TEST_F(StationTest, ServerFoldersAreCanonicalAndNameTheirServerOnce) {
    struct Case {
        const char* name;
        bool server;
        uint32_t serial;
    };
    for (const Case& c : {Case{"SN1", true, 1}, Case{"sn12", true, 12}, Case{"SN0", true, 0},
                          Case{"SN4294967294", true, 4294967294u}, Case{"SN01", false, 0}, Case{"SN00", false, 0},
                          Case{"SN+1", false, 0}, Case{"SN 1", false, 0}, Case{"SN4294967295", false, 0},
                          Case{"SN99999999999", false, 0}, Case{"SN", false, 0}, Case{"SX1", false, 0}}) {
        uint32_t serial = 77;
        EXPECT_EQ(zs::ParseServerFolder(c.name, &serial), c.server) << c.name;
        if (c.server) {
            EXPECT_EQ(serial, c.serial) << c.name;
        }
    }
    for (const char* folder : {"SN07", "sn7", "Sn7", "SN4294967295"})
        std::filesystem::create_directory(space_.Path() / folder);
    EXPECT_EQ(zs::ServerFolder(space_.Path(), 7), space_.Path() / "SN7");
    std::filesystem::rename(space_.Path() / "SN7", space_.Path() / "sN7");
    EXPECT_EQ(zs::ServerFolder(space_.Path(), 7), space_.Path() / "Sn7");  // the first in byte order
    EXPECT_TRUE(zs::ServerFolder(space_.Path(), 4294967295u).empty());
    const auto folders = zs::ServerFolders(space_.Path());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders.begin()->first, 7u);

    zs::Station station;
    std::string error;
    EXPECT_FALSE(station.OpenServers(space_.Path(), {}, {7, 4294967295u}, &error));
    EXPECT_NE(error.find("4294967295"), std::string::npos) << error;
    EXPECT_TRUE(station.Servers().empty());
}

// A reload that cannot read a Settings.xml keeps every server's settings
// and sensors as they were: the running mode goes on unchanged.
TEST_F(StationTest, AFailedReloadKeepsTheSettingsItHad) {
    zs::Station station;
    Open(&station, "Free");
    std::ofstream(space_.Path() / "SN7" / "Settings.xml") << "<SensorGroup><Members>";
    std::string error;
    EXPECT_FALSE(station.ReloadSettings(&error));
    EXPECT_NE(error.find("Settings.xml"), std::string::npos) << error;
    ASSERT_EQ(station.Servers().size(), 1u);
    EXPECT_TRUE(station.Servers()[0].settingsPresent);
    EXPECT_EQ(station.Servers()[0].settings.sensors.size(), 4u);
    Batch batch;
    ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
    EXPECT_EQ(batch.results.size(), 4u);
}

// A rewound station makes again what it made from its opening, whatever
// mode it ran meanwhile; its pipes stay as they were.
TEST_F(StationTest, ARewindMakesTheSameBatchesAgain) {
    zs::Station station;
    Open(&station, "Detection");
    auto next = [&](int count) {
        std::string text;
        for (int b = 0; b < count; ++b) {
            Batch batch;
            EXPECT_EQ(station.NextBatch(&batch.results), ZV_OK);
            text += zvtest::ResultsText(batch.results) + "--\n";
        }
        return text;
    };
    const std::string first = next(12);
    ASSERT_EQ(station.SetMode(7, "Free"), ZV_OK);
    next(5);
    ASSERT_EQ(station.SetMode(7, "Detection"), ZV_OK);
    EXPECT_NE(next(12), first);
    station.Rewind();
    EXPECT_EQ(station.Servers()[0].pipe.mode, "Detection");
    EXPECT_EQ(next(12), first);
}

TEST_F(StationTest, NothingIsDeliveredBeforeARead) {
    zs::Station station;
    std::string error;
    ASSERT_TRUE(station.Open(space_.Path(), {}, &error));
    ASSERT_EQ(station.SetMode(7, "Free"), ZV_OK);
    Batch batch;
    EXPECT_EQ(station.NextBatch(&batch.results), ZV_OK);
    EXPECT_TRUE(batch.results.empty());
    EXPECT_EQ(station.StartDelivery(8), ZV_E_NOTFOUND);
    EXPECT_EQ(station.SetMode(7, "Sleep"), ZV_E_NOTFOUND);
    EXPECT_EQ(station.SetMode(8, "Free"), ZV_E_NOTFOUND);
}

TEST_F(StationTest, FreeDeliversOneProfilePerEnabledSensor) {
    zs::Station station;
    zs::Options options;
    options.profilePoints = 2048;
    Open(&station, "Free", options);
    int64_t lastEncoder = -1;
    bool sawPoints = false;
    for (int b = 0; b < 30; ++b) {
        Batch batch;
        ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
        ASSERT_EQ(batch.results.size(), 4u);
        std::set<int64_t> serials;
        for (size_t i = 0; i < batch.results.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(batch.Id(i), 0);
            int64_t serial = 0;
            int64_t scale = 0;
            zvResultAttributeAt(batch.results[i], 0, &serial);
            zvResultAttributeAt(batch.results[i], 1, &scale);
            serials.insert(serial);
            EXPECT_EQ(scale, 1);
            zvHandle stamps = batch.Data(i, 0);
            zvHandle points = batch.Data(i, 1);
            zvHandle intensity = batch.Data(i, 2);
            ASSERT_EQ(zvArrayElementType(stamps), ZV_TYPE_STAMP);
            ASSERT_EQ(zvArrayElementType(points), ZV_TYPE_INT16);
            ASSERT_EQ(zvArrayLength(points, 0), 2048);
            ASSERT_EQ(zvArrayLength(points, 1), 2);
            ASSERT_EQ(zvArrayLength(intensity, 0), 2048);
            ASSERT_GE(zvArrayLength(intensity, 1), 1);
            const auto* stamp = static_cast<const zvStamp*>(zvArray1At(stamps, 0));
            if (i == 0) {
                EXPECT_GT(stamp->encoder, lastEncoder);
                lastEncoder = stamp->encoder;
            }
            for (int32_t j = 0; j < 2048; ++j) {
                const auto* p = static_cast<const int16_t*>(zvArray2At(points, j, 0));
                if (p[0] == INT16_MIN) continue;
                sawPoints = true;
                // Every measured point lies inside the frame.
                ASSERT_LT(std::abs(p[0]), 20000);
                ASSERT_GT(p[1], 0);
                ASSERT_LT(p[1], 32000);
            }
        }
        EXPECT_EQ(serials, (std::set<int64_t>{1000, 1001, 1002, 1003}));
    }
    EXPECT_TRUE(sawPoints);
    EXPECT_NEAR(station.Time(), 30 * zs::Station::Period("Free"), 1e-9);
}

TEST_F(StationTest, TheSameSeedGivesTheSameResults) {
    auto record = [&](uint64_t seed) {
        zs::Station station;
        zs::Options options;
        options.seed = seed;
        Open(&station, "Detection", options);
        std::string lines;
        for (int b = 0; b < 5; ++b) {
            Batch batch;
            EXPECT_EQ(station.NextBatch(&batch.results), ZV_OK);
            for (zvHandle r : batch.results) lines += zs::ReplayLine(r, b) + "\n";
        }
        return lines;
    };
    const std::string first = record(5);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, record(5));
    EXPECT_NE(first, record(6));
}

TEST_F(StationTest, DetectionEndsEveryObjectAfterItsSlices) {
    zs::Station station;
    Open(&station, "Detection");
    int ends = 0;
    int sliceBatches = 0;
    bool open = false;
    for (int b = 0; b < 200 && station.Time() < 3.0; ++b) {
        Batch batch;
        ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
        ASSERT_EQ(batch.results.size(), 1u);  // the mode reads one result per batch
        if (batch.Id(0) == 9) {
            EXPECT_TRUE(open) << "an end without slices before it";
            open = false;
            ++ends;
            continue;
        }
        ASSERT_EQ(batch.Id(0), 1);
        ++sliceBatches;
        open = true;
        zvHandle rows = batch.Data(0, 0);
        zvHandle points = batch.Data(0, 1);
        ASSERT_EQ(zvArrayElementType(rows), ZV_TYPE_INT64);
        ASSERT_EQ(zvArrayElementType(points), ZV_TYPE_INT16);
        ASSERT_EQ(zvArrayDimensions(points), 3);
        const int32_t slices = zvArrayLength(rows, 0);
        ASSERT_EQ(zvArrayLength(points, 0), slices);
        for (int32_t s = 0; s < slices; ++s) {
            const auto* row = static_cast<const int64_t*>(zvArray2At(rows, s, 0));
            EXPECT_LE(row[1], zvArrayLength(points, 1));
        }
    }
    EXPECT_GE(ends, 2);
    EXPECT_GT(sliceBatches, ends);
}

TEST_F(StationTest, CalibrationReportsWithAndWithoutSensorErrors) {
    const std::filesystem::path stored = space_.Path() / "SN7" / "Calibration.xml";
    for (bool errors : {false, true}) {
        SCOPED_TRACE(errors);
        // Only a calibration without errors is stored (afresh, all zero).
        std::filesystem::remove(stored);
        zs::Station station;
        zs::Options options;
        options.calibrationErrors = errors;
        Open(&station, "Calibration", options);
        Batch batch;
        ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
        ASSERT_EQ(batch.results.size(), 1u);
        EXPECT_EQ(batch.Id(0), 8);
        EXPECT_EQ(std::filesystem::exists(stored), !errors);
        int32_t count = -1;
        zvResultAttributeCount(batch.results[0], &count);
        if (!errors) {
            EXPECT_EQ(count, 0);
            const std::string text = zvtest::ReadHostFile(stored);
            EXPECT_NE(text.find("<SerialNumber>1003</SerialNumber>"), std::string::npos) << text;
            continue;
        }
        ASSERT_EQ(count, 4);  // sensors 1 and 3 of four fail
        int64_t sensor = 0;
        int64_t code = 0;
        zvResultAttributeAt(batch.results[0], 0, &sensor);
        zvResultAttributeAt(batch.results[0], 1, &code);
        EXPECT_EQ(sensor, 1);
        EXPECT_EQ(code, -10);
    }
}

// A Settings.xml that is no plain file, is too large, or leads out of the
// file space is refused at once, the server opened without sensors and with
// a reason that says so: never waited on (a FIFO), never read whole (a
// GiB), never followed out.
TEST_F(StationTest, SettingsThatAreNoFileTooLargeOrOutsideAreRefusedWithoutBlocking) {
    zvtest::TempFileSpace outside("zvstation-outside", zvtest::TempFileSpace::Root::kLeave);
    outside.Write("Settings.xml", space_.Read("SN7/Settings.xml"));
    const std::string settings = (space_.Path() / "SN7" / "Settings.xml").string();
    for (const zvtest::OddFile& c : zvtest::OddFilesAt(settings, outside.Host("Settings.xml"))) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(settings);
        c.make();
        zv::testing::FailingSystemCalls disk;  // counts what is read
        zs::Station station;
        std::string error;
        ASSERT_TRUE(station.Open(space_.Path(), {}, &error)) << error;
        ASSERT_EQ(station.Servers().size(), 1u);
        const zs::Server& server = station.Servers()[0];
        EXPECT_TRUE(server.settings.sensors.empty());
        EXPECT_NE(server.settingsError.find("SN7/Settings.xml"), std::string::npos) << server.settingsError;
        EXPECT_NE(server.settingsError.find(c.error), std::string::npos) << server.settingsError;
        EXPECT_EQ(disk.Counts().count("read"), 0u) << "Settings.xml was read";
    }
}

// The calibration a run stores goes through the file space: a link named
// like the temporary file of an earlier way of writing, or a
// Calibration.xml that is a link out of the space, leaves what is outside
// as it was.
TEST_F(StationTest, AStoredCalibrationNeverWritesOutside) {
    zvtest::TempFileSpace outside("zvstation-outside", zvtest::TempFileSpace::Root::kLeave);
    outside.Write("target.xml", "outside");
    const std::filesystem::path folder = space_.Path() / "SN7";
    std::filesystem::create_symlink(outside.Host("target.xml"), folder / "Calibration.xml.tmp");
    {
        zs::Station station;
        Open(&station, "Calibration");
        Batch batch;
        ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
    }
    EXPECT_EQ(outside.Read("target.xml"), "outside");
    EXPECT_NE(space_.Read("SN7/Calibration.xml").find("<SerialNumber>1003</SerialNumber>"), std::string::npos);
    std::filesystem::remove(folder / "Calibration.xml");
    std::filesystem::create_symlink(outside.Host("target.xml"), folder / "Calibration.xml");
    {
        zs::Station station;
        Open(&station, "Calibration");
        Batch batch;
        ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
        EXPECT_EQ(batch.results.size(), 1u);  // the report goes out all the same
    }
    EXPECT_EQ(outside.Read("target.xml"), "outside");
    EXPECT_EQ(outside.List(), std::vector<std::string>{"target.xml"});
}

TEST_F(StationTest, WebAndVideoHaveTheirLayouts) {
    {
        zs::Station station;
        Open(&station, "Web");
        Batch batch;
        ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
        ASSERT_EQ(batch.results.size(), 1u);
        EXPECT_EQ(batch.Id(0), 5);
        int32_t attributes = 0;
        zvResultAttributeCount(batch.results[0], &attributes);
        EXPECT_EQ(attributes, 6);
        zvHandle cells = batch.Data(0, 0);
        EXPECT_EQ(zvArrayElementType(cells), ZV_TYPE_INT32);
        EXPECT_EQ(zvArrayDimensions(cells), 2);
        EXPECT_GT(zvArrayLength(cells, 0), 0);
        EXPECT_GT(zvArrayLength(cells, 1), 0);
    }
    {
        zs::Station station;
        Open(&station, "Video");
        station.SetParameter(7, "SelectedSensor", 1002);
        std::set<int64_t> cameras;
        for (int b = 0; b < 2; ++b) {
            Batch batch;
            ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
            ASSERT_EQ(batch.results.size(), 1u);
            int64_t serial = 0;
            int64_t camera = 0;
            zvResultAttributeAt(batch.results[0], 0, &serial);
            zvResultAttributeAt(batch.results[0], 1, &camera);
            EXPECT_EQ(serial, 1002);
            cameras.insert(camera);
            zvHandle frame = batch.Data(0, 0);
            ASSERT_EQ(zvArrayDimensions(frame), 3);
            EXPECT_EQ(zvArrayLength(frame, 0), 176);
            EXPECT_EQ(zvArrayLength(frame, 1), 448);
            EXPECT_EQ(zvArrayLength(frame, 2), 4);
        }
        EXPECT_EQ(cameras, (std::set<int64_t>{0, 1}));
    }
}

TEST_F(StationTest, ADisabledPipeOrSensorSendsNothing) {
    zs::Station station;
    Open(&station, "Free");
    ASSERT_EQ(station.Enable(7, false), ZV_OK);
    Batch batch;
    ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
    EXPECT_TRUE(batch.results.empty());
}

TEST_F(StationTest, BatchesLeakNothing) {
    const int64_t before = zv::testing::LiveObjects();
    {
        zs::Station station;
        Open(&station, "Detection");
        for (int b = 0; b < 10; ++b) {
            Batch batch;
            ASSERT_EQ(station.NextBatch(&batch.results), ZV_OK);
        }
    }  // results still queued in the station are released with it
    EXPECT_EQ(zv::testing::LiveObjects(), before);
}

TEST_F(StationTest, AFailingAllocationIsPassedBack) {
    zs::Station station;
    Open(&station, "Free");
    const int64_t before = zv::testing::LiveObjects();
    zv::testing::FailCall("zvArrayCreate", 2, ZV_E_NOMEM);
    Batch batch;
    EXPECT_EQ(station.NextBatch(&batch.results), ZV_E_NOMEM);
    EXPECT_TRUE(batch.results.empty());
    EXPECT_EQ(zv::testing::LiveObjects(), before);
}

}  // namespace
