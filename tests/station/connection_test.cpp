// The connection: the station behind a client as pages reach it through zv
// calls, and what the host is told of it.
#include "zvstation/connection.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_space.hpp"
#include "zvapi/zvapi_testing.hpp"

namespace zs = zv::station;

namespace {

// One line per event, so that a sequence compares at a glance.
std::string Describe(const zs::PipeEvent& e) {
    const std::string pipe = e.server == ZV_CLIENT_PIPE ? "client" : "SN" + std::to_string(e.server);
    switch (e.kind) {
        case zs::PipeEvent::Kind::Mode: return "mode " + pipe + " " + e.mode;
        case zs::PipeEvent::Kind::Enabled: return (e.on ? "enable " : "disable ") + pipe;
        case zs::PipeEvent::Kind::Parameters: {
            std::string text = "parameters " + pipe + " " + e.mode;
            for (int32_t v : e.values) text += " " + std::to_string(v);
            return text;
        }
        case zs::PipeEvent::Kind::Capture: return e.on ? "capture on" : "capture off";
        case zs::PipeEvent::Kind::SegmentSize: return "segment " + std::to_string(e.bytes);
    }
    return "?";
}

// A station with server 7 (no settings) behind a client, the client's pipe
// describing three modes.
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(space_.Path() / "SN7");
        std::string error;
        ASSERT_TRUE(station_.Open(space_.Path(), {}, &error)) << error;
        ASSERT_EQ(zvClientCreate(&client_), ZV_OK);
        ASSERT_EQ(connection_.Attach(client_), ZV_OK);
        connection_.SetListener([this](const zs::PipeEvent& e) { events_.push_back(Describe(e)); });
        ASSERT_EQ(zvClientGetPipeHandle(client_, &pipe_), ZV_OK);
        zvHandle server = nullptr;
        ASSERT_EQ(zvClientGetServerHandle(client_, 7, &server), ZV_OK);
        ASSERT_EQ(zvServerGetPipeHandle(server, &stationPipe_), ZV_OK);
        ASSERT_EQ(zvArrayListCreate(&list_, nullptr), ZV_OK);
        ASSERT_EQ(zvArrayListInit(list_, ZV_TYPE_UINT32, 0, 1), ZV_OK);
    }
    void TearDown() override {
        EXPECT_EQ(zvArrayListDestroy(list_), ZV_OK);
        EXPECT_EQ(zvClientDestroy(client_), ZV_OK);
    }
    // Reads the pipe's values into the list, sets item `index`, writes back.
    zvStatus SetItem(zvHandle pipe, int32_t index, int32_t value) {
        zvStatus status = zvPipeModeParameters(pipe, list_);
        if (status <= 0) return status;
        *static_cast<int32_t*>(zvArrayListAt(list_, index)) = value;
        return zvPipeSetModeParameters(pipe, list_);
    }
    std::string Mode(zvHandle pipe) {
        char mode[32] = "?";
        EXPECT_EQ(zvPipeCurrentMode(pipe, mode, sizeof mode), ZV_OK);
        return mode;
    }

    zv::testing::Scope scope_;
    zvtest::TempFileSpace space_;
    zs::Station station_;
    zs::Connection connection_{
        &station_,
        {{"Free", {{"SelectedSensor", 0}, {"NumSensors", 0}}},
         {"Calibration", {}},
         {"Video", {{"SelectedSensor", 0}, {"idzThreshold", 255}, {"cgEnabled", 0}, {"threshEnabled", 1}}}}};
    std::vector<std::string> events_;
    zvHandle client_ = nullptr, pipe_ = nullptr, stationPipe_ = nullptr, list_ = nullptr;
};

TEST_F(ConnectionTest, PagesSwitchPipesAndSetParametersByPosition) {
    // The Sensor Free Running page: station pipe, then client pipe, then values.
    ASSERT_EQ(zvPipeSetCurrentMode(stationPipe_, "Free"), ZV_OK);
    ASSERT_EQ(zvPipeSetCurrentMode(pipe_, "Free"), ZV_OK);
    ASSERT_EQ(SetItem(pipe_, 0, 1001), ZV_OK);
    ASSERT_EQ(SetItem(pipe_, 1, 3), ZV_OK);
    ASSERT_EQ(zvPipeSetCurrentMode(pipe_, "Video"), ZV_OK);
    ASSERT_EQ(SetItem(pipe_, 1, 200), ZV_OK);
    ASSERT_EQ(zvPipeSetCurrentMode(pipe_, "Video"), ZV_OK);  // again: told again
    ASSERT_EQ(zvPipeDisable(pipe_), ZV_OK);
    ASSERT_EQ(zvPipeDisable(stationPipe_), ZV_OK);
    ASSERT_EQ(zvClientEnableCapture(client_, 1), ZV_OK);
    ASSERT_EQ(zvClientSetCaptureSegmentSize(client_, 200000000), ZV_OK);
    EXPECT_EQ(events_, (std::vector<std::string>{"mode SN7 Free", "mode client Free", "parameters client Free 1001 0",
                                                 "parameters client Free 1001 3", "mode client Video",
                                                 "parameters client Video 0 200 0 1", "mode client Video",
                                                 "disable client", "disable SN7", "capture on", "segment 200000000"}));
    // Each mode keeps its own values; the station keeps its pipe.
    EXPECT_EQ(connection_.Parameters("Free"), (std::vector<int32_t>{1001, 3}));
    EXPECT_EQ(connection_.ClientMode(), "Video");
    EXPECT_EQ(Mode(pipe_), "Video");
    EXPECT_EQ(Mode(stationPipe_), "Free");
    EXPECT_FALSE(connection_.ClientEnabled());
    EXPECT_FALSE(station_.Servers().at(0).pipe.enabled);
    EXPECT_TRUE(connection_.CaptureOn());
    EXPECT_EQ(connection_.CaptureSegmentSize(), 200000000);

    // Every mode the station runs; none declared, so no values.
    for (const std::string& mode : zs::Station::Modes()) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(zvPipeSetCurrentMode(stationPipe_, mode.c_str()), ZV_OK);
        EXPECT_EQ(zvPipeModeParameters(stationPipe_, list_), ZV_OK);
        EXPECT_EQ(zvArrayListCount(list_), 0);
    }
}

TEST_F(ConnectionTest, RefusedCallsChangeNothingAndTellNothing) {
    // Before any mode: no values to read or set.
    EXPECT_EQ(zvPipeModeParameters(pipe_, list_), ZV_E_STATE);
    EXPECT_EQ(zvPipeModeParameters(stationPipe_, list_), ZV_E_STATE);
    ASSERT_EQ(zvPipeSetCurrentMode(pipe_, "Free"), ZV_OK);
    ASSERT_EQ(zvPipeSetCurrentMode(stationPipe_, "Web"), ZV_OK);
    events_.clear();

    zvHandle three = nullptr;
    ASSERT_EQ(zvArrayListCreate(&three, nullptr), ZV_OK);
    ASSERT_EQ(zvArrayListInit(three, ZV_TYPE_INT32, 0, 1), ZV_OK);
    ASSERT_EQ(zvArrayListResize(three, 3), ZV_OK);
    zvHandle one = nullptr;
    ASSERT_EQ(zvArrayListCreate(&one, nullptr), ZV_OK);
    ASSERT_EQ(zvArrayListInit(one, ZV_TYPE_INT32, 0, 1), ZV_OK);
    ASSERT_EQ(zvArrayListResize(one, 1), ZV_OK);
    struct Case {
        const char* what;
        zvStatus status;
        zvStatus expected;
    };
    const Case cases[] = {
        {"mode names are exact", zvPipeSetCurrentMode(pipe_, "free"), ZV_E_NOTFOUND},
        {"the client runs its own modes", zvPipeSetCurrentMode(pipe_, "Web"), ZV_E_NOTFOUND},
        {"a station pipe runs the station's", zvPipeSetCurrentMode(stationPipe_, "Client"), ZV_E_NOTFOUND},
        {"too many values", zvPipeSetModeParameters(pipe_, three), ZV_E_RANGE},
        {"too few values", zvPipeSetModeParameters(pipe_, one), ZV_E_RANGE},
        {"station pipes have none", zvPipeSetModeParameters(stationPipe_, one), ZV_E_RANGE},
        {"segment size", zvClientSetCaptureSegmentSize(client_, 0), ZV_E_ARGUMENT},
        {"unknown mode", connection_.SetParameters("Detection", {}), ZV_E_NOTFOUND},
        {"unknown parameter", connection_.SetParameter("Free", "Threshold", 1), ZV_E_NOTFOUND},
        {"host count", connection_.SetParameters("Free", {1}), ZV_E_RANGE},
        {"host mode", connection_.SetClientMode("Nope"), ZV_E_NOTFOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.status, c.expected);
    }
    EXPECT_EQ(events_, std::vector<std::string>{});
    EXPECT_EQ(Mode(pipe_), "Free");
    EXPECT_EQ(Mode(stationPipe_), "Web");
    EXPECT_EQ(connection_.Parameters("Free"), (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(zvArrayListDestroy(three), ZV_OK);
    EXPECT_EQ(zvArrayListDestroy(one), ZV_OK);

    // A server the client has but the station does not: no handle.
    ASSERT_EQ(zvClientAddServer(client_, 9), ZV_OK);
    zvHandle server = nullptr;
    EXPECT_EQ(zvClientGetServerHandle(client_, 9, &server), ZV_E_NOTFOUND);
    EXPECT_EQ(server, nullptr);
}

TEST_F(ConnectionTest, TheHostSetsTheClientPipeToo) {
    ASSERT_EQ(connection_.SetParameter("Video", "idzThreshold", 100), ZV_OK);
    ASSERT_EQ(connection_.SetClientMode("Calibration"), ZV_OK);
    ASSERT_EQ(connection_.SetClientEnabled(false), ZV_OK);
    EXPECT_EQ(events_, (std::vector<std::string>{"parameters client Video 0 100 0 1", "mode client Calibration",
                                                 "disable client"}));
    ASSERT_EQ(zvPipeModeParameters(pipe_, list_), ZV_OK);
    EXPECT_EQ(zvArrayListCount(list_), 0);
    int32_t enabled = -1;
    ASSERT_EQ(zvPipeIsEnabled(pipe_, &enabled), ZV_OK);
    EXPECT_EQ(enabled, 0);

    // Attached again: the client keeps one entry per server.
    ASSERT_EQ(connection_.Attach(client_), ZV_OK);
    zvHandle servers = nullptr;
    ASSERT_EQ(zvArrayListCreate(&servers, nullptr), ZV_OK);
    ASSERT_EQ(zvArrayListInit(servers, ZV_TYPE_UINT32, 0, 1), ZV_OK);
    ASSERT_EQ(zvClientServers(client_, servers), ZV_OK);
    EXPECT_EQ(zvArrayListCount(servers), 1);
    EXPECT_EQ(zvArrayListDestroy(servers), ZV_OK);
}

}  // namespace
