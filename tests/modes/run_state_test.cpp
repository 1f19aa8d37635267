// Mode starts and stops: views from the settings, the duplicate-view
// warning, the target extent, the parameters, failed starts.
#include <gtest/gtest.h>

#include "modes/run_state.h"
#include "plugin/settings.h"
#include "plugin/statuses.h"
#include "support/fault_loop.hpp"
#include "support/mode_support.hpp"

namespace {

using modes_test::ModeTest;
using modes_test::Sensor;
using modes_test::SettingsShape;

const char kWarning[] =
    "One or more sensors share the same vertex view!\n"
    "Each sensor has to be assigned a unique vertex view!!\n";

class RunStateTest : public ModeTest {};

TEST_F(RunStateTest, ViewsFollowTheEnabledSensorsAndStayInsideTheSlots) {
    struct Case {
        const char* name;
        std::vector<Sensor> sensors;
        uint32_t viewCount;
        bool warns;
    };
    const Case cases[] = {
        {"three enabled and a disabled view 7", {{1000, 1, 0}, {1001, 1, 1}, {1002, 1, 2}, {1003, 0, 7}}, 3, false},
        {"no enabled sensor", {{1000, 0, 4}}, 1, false},
        {"shared view, one disabled", {{1000, 1, 2}, {1001, 0, 2}, {1002, 1, 0}}, 3, true},
        {"default document: every view 0", {{1000, 1, 0}, {1001, 1, 0}, {1002, 1, 0}}, 1, true},
        {"views outside the 48 slots", {{1000, 1, 48}, {1001, 1, -1}, {1002, 1, 47}}, 48, false},
        {"only a negative view", {{1000, 1, -1}}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings({c.sensors});
        runner_->ClearRecords();
        ASSERT_GT(runner_->Start("Calibration"), 0);
        const RunState* s = State();
        EXPECT_EQ(s->sensorCount, c.sensors.size());
        EXPECT_EQ(s->viewCount, c.viewCount);
        for (uint32_t v = 0; v < kViewSlots; ++v) {
            EXPECT_EQ(s->viewPoints[v] != nullptr, v < c.viewCount) << "view " << v;
        }
        EXPECT_EQ(zvArrayListCount(s->viewPoints[0]), 0);
        EXPECT_EQ(runner_->Console(), c.warns ? kWarning : "");
        EXPECT_GT(runner_->Stop(), 0);
    }
}

TEST_F(RunStateTest, StartBuildsTheRecordAndReadsTheFirstServer) {
    Settings({{{1000, 1, 0}}});
    ASSERT_GT(runner_->Start("Web"), 0);
    const RunState* s = State();
    EXPECT_EQ(s->engine, runner_->Engine());
    EXPECT_EQ(s->selectedSensor, 0u);
    EXPECT_EQ(s->lastThreshold, 0);
    EXPECT_EQ(s->targetMinX, -7500.0f);
    EXPECT_EQ(s->targetMinY, 4500.0f);
    EXPECT_EQ(s->targetMaxX, 7500.0f);
    EXPECT_EQ(s->targetMaxY, 19500.0f);
    EXPECT_EQ(zvArrayLength(s->radii, 0), 360);
    EXPECT_EQ(zvArrayListCount(s->polarPoints), 0);
    for (zvHandle mask : s->masks) {
        EXPECT_EQ(zvImageWidth(mask), kMaskWidth);
        EXPECT_EQ(zvImageHeight(mask), kMaskHeight);
        EXPECT_EQ(zvImageType(mask), ZV_TYPE_IMAGE8);
    }
    ASSERT_EQ(runner_->Reads().size(), 1u);
    EXPECT_EQ(runner_->Reads()[0].serverId, modes_test::kServer);
    EXPECT_EQ(runner_->Reads()[0].a, 8);
    EXPECT_EQ(runner_->Reads()[0].b, 0);
}

TEST_F(RunStateTest, AbsentSettingsGiveOneViewAndNoTargetExtent) {
    ASSERT_GT(runner_->Start("Free"), 0);
    const RunState* s = State();
    EXPECT_EQ(s->sensorCount, 0u);
    EXPECT_EQ(s->viewCount, 1u);
    EXPECT_EQ(s->targetMinX, kTargetExtentStart);
    EXPECT_EQ(s->targetMaxY, -kTargetExtentStart);
    EXPECT_EQ(runner_->Console(), "");
}

TEST_F(RunStateTest, StartHandlersTakeTheSelectedSensorAndThreshold) {
    ASSERT_GT(runner_->SetParameter("Video", "SelectedSensor", 1001), 0);
    ASSERT_GT(runner_->SetParameter("Free", "SelectedSensor", 1002), 0);
    ASSERT_GT(runner_->Start("Video"), 0);
    EXPECT_EQ(State()->selectedSensor, 1001u);
    EXPECT_EQ(State()->lastThreshold, 255);
    ASSERT_GT(runner_->Stop(), 0);
    ASSERT_GT(runner_->Start("Free"), 0);
    EXPECT_EQ(State()->selectedSensor, 1002u);
    EXPECT_EQ(State()->lastThreshold, 0);
}

TEST_F(RunStateTest, FailedStartsReturnTheStatusAndReleaseWhatWasBuilt) {
    Settings({{{1000, 1, 0}, {1001, 1, 0}}});
    struct Case {
        const char* call;
        int k;
    };
    const Case cases[] = {{"zvPipeEngineRead", 1}, {"zvPipeEnginePrint", 1}, {"zvPipeEnginePrint", 2},
                          {"zvImageInit", 2},      {"zvArrayListInit", 3},   {"zvMemset", 1},
                          {"zvClientServers", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.k));
        zv::testing::FailCall(c.call, c.k, -321);
        EXPECT_EQ(runner_->Start("Free"), -321);
        EXPECT_FALSE(runner_->Running());
        zv::testing::ClearFaults();
        runner_->Reset();
        EXPECT_EQ(zv::testing::LiveObjects(), baselineObjects_ + 7);  // app, 5 modes, client
    }
}

TEST_F(RunStateTest, EveryFailureFailsTheStartWithoutALeak) {
    Settings({{{1000, 1, 0}, {1001, 1, 1}}});
    zv::OwnedList parameters;
    ASSERT_GT(zvArrayListCreate(parameters.Out(), nullptr), 0);
    ASSERT_GT(zvArrayListInit(parameters, ZV_TYPE_INT32, 2, 1), 0);
    for (int32_t value : {1000, 2}) ASSERT_GT(zvArrayListAdd(parameters, &value), 0);
    zvtest::FaultLoop loop;
    loop.noMemory.push_back(0);  // the settings reader's name buffer
    loop.operation = [&] {
        zv::OwnedEngine engine;
        zvStatus status = zvPipeEngineCreate(engine.Out(), runner_->Client());
        void* state = nullptr;
        if (status > 0) status = StartFree(&state, engine, parameters);
        // A failed start may leave a partly built record: the stop frees it.
        if (state != nullptr) {
            EXPECT_GT(StopCommon(state, engine, parameters), 0);
        }
        return status;
    };
    EXPECT_GT(loop.Run(), 10);
}

// Whether two sensors share a view is found with work proportional to the
// sensors, not to their square.
TEST_F(RunStateTest, SharedViewsAreFoundInOnePassOverTheSensors) {
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared);
        SettingsShape shape;
        for (int32_t i = 0; i < 3000; ++i) shape.sensors.push_back({static_cast<uint32_t>(1000 + i), 0, i});
        if (shared) shape.sensors.back().vertexView = 17;
        Settings(shape);
        zv::testing::JournalClear();
        zv::testing::JournalStart();
        ASSERT_GT(runner_->Start("Free"), 0);
        zv::testing::JournalStop();
        EXPECT_LT(zv::testing::JournalOf("zvArrayListAt").size(), 3u * 3000u);
        EXPECT_EQ(runner_->Console().find("share the same vertex view") != std::string::npos, shared);
        ASSERT_GT(runner_->Stop(), 0);
        runner_->Reset();
    }
}

TEST_F(RunStateTest, NoMemoryForTheRecordIsReportedAsTorvanesOwnStatus) {
    zv::OwnedEngine engine;
    ASSERT_GT(zvPipeEngineCreate(engine.Out(), runner_->Client()), 0);
    RunState* state = reinterpret_cast<RunState*>(1);
    zv::testing::FailAllocation(1);
    EXPECT_EQ(RunStateCreate(engine, &state), kTorvaneNoMemory);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(RunStateDestroy(nullptr), 1);
}

TEST_F(RunStateTest, AClientWithoutServersFailsTheStart) {
    zv::OwnedClient client;
    ASSERT_GT(zvClientCreate(client.Out()), 0);
    {
        zv::runner::ModeRunner bare(app_, client);
        EXPECT_EQ(bare.Start("Free"), ZV_E_NOTFOUND);
        ASSERT_EQ(bare.Calls().size(), 2u);  // the start, then the stop that released its record
        EXPECT_EQ(bare.Calls()[1].phase, zv::runner::Phase::Stop);
        EXPECT_GT(bare.Calls()[1].status, 0);
        uint32_t id = 99;
        zv::OwnedEngine engine;
        ASSERT_GT(zvPipeEngineCreate(engine.Out(), client), 0);
        EXPECT_EQ(StationFirstServerId(engine, &id), ZV_E_NOTFOUND);
        EXPECT_EQ(id, 0u);
    }
}

}  // namespace
