// One server's results made alone (as a server on the network makes them)
// equal its share of a station of several servers.
#include <gtest/gtest.h>

#include "support/result_text.hpp"
#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"
#include "zvstation/settings.hpp"
#include "zvstation/station.hpp"

namespace zs = zv::station;

namespace {

// A batch as text: the simulated time and every result's replay line.
using Batches = std::vector<std::string>;

std::string Text(double time, const std::vector<zvHandle>& results) {
    return std::to_string(time) + "\n" + zvtest::ResultsText(results);
}

class ServerAloneTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        for (auto [serial, sensors, first] : {std::tuple{1u, 4, 1000u}, std::tuple{2u, 2, 2000u}}) {
            const std::filesystem::path folder = space_.Path() / ("SN" + std::to_string(serial));
            std::filesystem::create_directories(folder);
            ASSERT_TRUE(zs::WriteServerSettings("SN" + std::to_string(serial) + "/Settings.xml",
                                                zs::DemoSettings(sensors, first), &error))
                << error;
        }
    }
    zvtest::TempFileSpace space_;
    zv::testing::Scope scope_;
};

TEST_F(ServerAloneTest, EachServerAloneMakesItsShareOfTheStation) {
    zs::Options options;
    options.seed = 11;
    options.profilePoints = 256;
    for (const std::string& mode : zs::Station::Modes()) {
        SCOPED_TRACE(mode);
        const size_t count = mode == "Detection" ? 8 : 4;
        // The station of both servers, its batches told apart by server.
        std::map<uint32_t, Batches> shares;
        {
            zs::Station station;
            std::string error;
            ASSERT_TRUE(station.OpenServers(space_.Path(), options, {1, 2}, &error)) << error;
            for (uint32_t serial : {1u, 2u}) {
                ASSERT_EQ(station.SetMode(serial, mode), ZV_OK);
                ASSERT_EQ(station.StartDelivery(serial), ZV_OK);
            }
            while (shares[1].size() < count || shares[2].size() < count) {
                std::vector<zvHandle> results;
                zs::BatchOrigin origin;
                ASSERT_EQ(station.NextBatch(&results, &origin), ZV_OK);
                ASSERT_FALSE(results.empty());
                ASSERT_EQ(origin.servers.size(), results.size());
                std::map<uint32_t, std::vector<zvHandle>> split;
                for (size_t i = 0; i < results.size(); ++i) split[origin.servers[i]].push_back(results[i]);
                for (const auto& [serial, part] : split) shares[serial].push_back(Text(origin.time, part));
                for (zvHandle h : results) zvObjectDestroy(h);
            }
        }
        for (uint32_t serial : {1u, 2u}) {
            SCOPED_TRACE(serial);
            zs::Station alone;
            std::string error;
            ASSERT_TRUE(alone.OpenServer(space_.Path() / ("SN" + std::to_string(serial)), serial, options, &error))
                << error;
            ASSERT_EQ(alone.Servers().size(), 1u);
            ASSERT_EQ(alone.SetMode(serial, mode), ZV_OK);
            ASSERT_EQ(alone.StartDelivery(serial), ZV_OK);
            for (size_t b = 0; b < count; ++b) {
                std::vector<zvHandle> results;
                zs::BatchOrigin origin;
                ASSERT_EQ(alone.NextBatch(&results, &origin), ZV_OK);
                EXPECT_EQ(Text(origin.time, results), shares[serial][b]) << "batch " << b;
                for (zvHandle h : results) zvObjectDestroy(h);
            }
        }
    }
}

}  // namespace
