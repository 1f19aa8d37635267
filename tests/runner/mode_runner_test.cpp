// The mode runner over hand-described modes: call order, parameters,
// routing, records, failed starts and ownership of what handlers send.
#include "zvrunner/mode_runner.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fault_loop.hpp"
#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

using zv::runner::ModeRunner;
using zv::runner::Phase;

// What the test handlers saw, and what they are to do.
struct Script {
    std::vector<std::string> calls;
    std::vector<std::vector<int32_t>> parameters;
    zvStatus startStatus = ZV_OK;
    bool startLeavesState = true;
    int stops = 0;
};
Script g_script;
int g_record = 0;  // the "state" handlers pass around

std::vector<int32_t> Values(zvHandle parameters) {
    std::vector<int32_t> values;
    for (int32_t i = 0; i < zvArrayListCount(parameters); ++i) {
        values.push_back(*static_cast<int32_t*>(zvArrayListAt(parameters, i)));
    }
    return values;
}

zvStatus TestStart(void** state, zvHandle engine, zvHandle parameters) {
    g_script.calls.push_back("start");
    g_script.parameters.push_back(Values(parameters));
    if (g_script.startLeavesState) *state = &g_record;
    zvPipeEnginePrint(engine, "started\n");
    return g_script.startStatus;
}

// Sends a labelled string per message: "Out" (a display), "Elsewhere" (none).
zvStatus TestProcess(void* state, zvHandle engine, zvHandle parameters, zvHandle messages) {
    g_script.calls.push_back(state == &g_record ? "process" : "process without state");
    g_script.parameters.push_back(Values(parameters));
    zvAllocator output = nullptr;
    zvStatus status = zvPipeEngineOutputAlloc(engine, &output);
    if (status <= 0) return status;
    for (int32_t i = 0; i < zvArrayListCount(messages); ++i) {
        zvHandle text = nullptr;
        status = zvStringCreate(&text, output);
        if (status <= 0) return status;
        zvStringImport(text, "x");
        zvDataSetLabel(text, i == 0 ? "Out" : "Elsewhere");
        status = zvPipeEngineSend(engine, text);
        if (status <= 0) return status;
    }
    // One object made and never sent: the engine releases it.
    zvHandle unsent = nullptr;
    return zvStringCreate(&unsent, output);
}

zvStatus TestStop(void* state, zvHandle /*engine*/, zvHandle parameters) {
    g_script.calls.push_back(state == &g_record ? "stop" : "stop without state");
    g_script.parameters.push_back(Values(parameters));
    ++g_script.stops;
    return ZV_OK;
}

zvHandle MakeTestApp() {
    zvHandle app = nullptr, mode = nullptr;
    EXPECT_GT(zvPipeAppCreate(&app, nullptr), 0);
    EXPECT_GT(zvPipeAppInit(app, "client"), 0);
    EXPECT_GT(zvPipeModeCreate(&mode, nullptr), 0);
    EXPECT_GT(zvPipeModeInit(mode, "Test"), 0);
    zvPipeModeSetStartHandler(mode, TestStart);
    zvPipeModeSetProcessHandler(mode, TestProcess);
    zvPipeModeSetStopHandler(mode, TestStop);
    zvPipeModeAddDisplay(mode, "Out", 3);
    zvPipeModeAddParameter(mode, "First", 5);
    zvPipeModeAddParameter(mode, "Second", 0);
    EXPECT_GT(zvPipeAppAddMode(app, mode), 0);
    return app;
}

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = Script{};
        baseline_ = zv::testing::LiveObjects();
        app_ = MakeTestApp();
    }
    void TearDown() override {
        zvPipeAppDestroy(app_);
        EXPECT_EQ(zv::testing::LiveObjects(), baseline_);
    }
    zvHandle app_ = nullptr;
    int64_t baseline_ = 0;
    zv::testing::Scope seams_;
};

TEST_F(RunnerTest, CallsHandlersInOrderWithParametersInDeclarationOrder) {
    ModeRunner runner(app_);
    ASSERT_GT(runner.AddServer(7), 0);
    EXPECT_EQ(runner.Parameters("Test"), (std::vector<int32_t>{5, 0}));
    ASSERT_GT(runner.SetParameter("Test", "Second", 42), 0);
    EXPECT_EQ(runner.SetParameter("Test", "Third", 1), ZV_E_NOTFOUND);
    EXPECT_EQ(runner.Start("Missing"), ZV_E_NOTFOUND);

    ASSERT_GT(runner.Start("Test"), 0);
    EXPECT_EQ(runner.Start("Test"), ZV_E_STATE);
    EXPECT_EQ(runner.RunningMode(), "Test");
    ASSERT_GT(runner.SetParameter("First", -3), 0);  // reaches the next call
    EXPECT_GT(runner.ProcessPayloads({nullptr, nullptr}), 0);
    EXPECT_GT(runner.Stop(), 0);
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(runner.Stop(), ZV_E_STATE);

    EXPECT_EQ(g_script.calls, (std::vector<std::string>{"start", "process", "stop"}));
    EXPECT_EQ(g_script.parameters[0], (std::vector<int32_t>{5, 42}));
    EXPECT_EQ(g_script.parameters[1], (std::vector<int32_t>{-3, 42}));
    ASSERT_EQ(runner.Calls().size(), 3u);
    EXPECT_EQ(runner.Calls()[1].phase, Phase::Process);
    EXPECT_EQ(runner.Console(), "started\n");
}

TEST_F(RunnerTest, RoutesOutputsByLabelAndKeepsUnroutedOnes) {
    ModeRunner runner(app_);
    runner.AddServer(7);
    ASSERT_GT(runner.Start("Test"), 0);
    ASSERT_GT(runner.ProcessPayloads({nullptr, nullptr}), 0);

    const auto& outputs = runner.Outputs();
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_TRUE(outputs[0].routed);
    EXPECT_EQ(outputs[0].display, "Out");
    EXPECT_EQ(outputs[0].displayKind, 3);
    EXPECT_EQ(outputs[0].type, ZV_TYPE_STRING);
    EXPECT_STREQ(zvStringChars(outputs[0].object), "x");
    EXPECT_FALSE(outputs[1].routed);
    EXPECT_EQ(outputs[1].label, "Elsewhere");
    EXPECT_EQ(runner.OutputsTo("").size(), 1u);

    // Sent objects are the engine's: the handler's side cannot destroy them,
    // and they outlive the run until Reset.
    EXPECT_EQ(zvObjectDestroy(outputs[0].object), ZV_E_STATE);
    EXPECT_EQ(zv::testing::EngineOwnedObjects(), 3);  // two sent, one never sent
    ASSERT_GT(runner.Stop(), 0);
    EXPECT_STREQ(zvStringChars(runner.Outputs()[0].object), "x");
    runner.Reset();
    EXPECT_EQ(zv::testing::EngineOwnedObjects(), 0);
    EXPECT_TRUE(runner.Outputs().empty());
}

TEST_F(RunnerTest, OutputLimitReleasesTheOldestObjects) {
    ModeRunner runner(app_);
    runner.AddServer(7);
    runner.SetOutputLimit(1);
    ASSERT_GT(runner.Start("Test"), 0);
    ASSERT_GT(runner.ProcessPayloads({nullptr, nullptr, nullptr}), 0);
    ASSERT_EQ(runner.Outputs().size(), 3u);
    EXPECT_EQ(runner.Outputs()[0].object, nullptr);
    EXPECT_EQ(runner.Outputs()[1].object, nullptr);
    EXPECT_STREQ(zvStringChars(runner.Outputs()[2].object), "x");
}

TEST_F(RunnerTest, FailedStartCallsStopOnlyWhenTheSlotHoldsARecord) {
    struct Case {
        bool leavesState;
        int stops;
    };
    for (const Case c : {Case{true, 1}, Case{false, 0}}) {
        SCOPED_TRACE(c.leavesState ? "record left" : "slot empty");
        g_script = Script{};
        g_script.startStatus = -77;
        g_script.startLeavesState = c.leavesState;
        ModeRunner runner(app_);
        runner.AddServer(7);
        EXPECT_EQ(runner.Start("Test"), -77);
        EXPECT_FALSE(runner.Running());
        EXPECT_EQ(g_script.stops, c.stops);
        EXPECT_EQ(runner.Process(nullptr), ZV_E_STATE);
        EXPECT_EQ(runner.Calls().front().status, -77);
    }
}

TEST_F(RunnerTest, ReadRequestsReachTheHookAndPumpFeedsBatches) {
    ModeRunner runner(app_);
    runner.AddServer(7);
    std::vector<uint32_t> asked;
    runner.SetReadHook([&](const zv::runner::ReadRequest& r) {
        asked.push_back(r.serverId);
        return ZV_OK;
    });
    int batches = 0;
    runner.SetBatchSource([&](std::vector<zvHandle>& payloads) {
        if (batches++ < 2) payloads.push_back(nullptr);
        return ZV_OK;
    });
    ASSERT_GT(runner.Start("Test"), 0);
    EXPECT_EQ(runner.Pump(5), ZV_E_STATE);  // no read started yet
    ASSERT_GT(zvPipeEngineRead(runner.Engine(), 7, 8, 0), 0);
    EXPECT_EQ(zvPipeEngineRead(runner.Engine(), 9, 8, 0), ZV_E_NOTFOUND);
    EXPECT_GT(runner.Pump(5), 0);
    EXPECT_EQ(asked, std::vector<uint32_t>{7});
    ASSERT_EQ(runner.Reads().size(), 1u);
    EXPECT_EQ(runner.Reads()[0].a, 8);
    EXPECT_EQ(runner.Outputs().size(), 2u);  // two batches of one message
}

TEST_F(RunnerTest, MessageListBuildingLeaksNothingWhenAllocationsFail) {
    zvtest::FaultLoop loop;
    loop.operation = [] {
        zvHandle result = nullptr;
        zvStatus status = zvResultCreate(&result, nullptr);
        zvHandle list = nullptr;
        if (status > 0) status = ModeRunner::MakeMessageList({result, nullptr}, &list);
        if (status > 0) {
            EXPECT_EQ(zvArrayListCount(list), 2);
            zvArrayListDestroy(list);
        } else {
            EXPECT_EQ(list, nullptr);
        }
        return status;
    };
    loop.calls = {"zvResultCreate"};
    EXPECT_GT(loop.Run(), 2);
}

}  // namespace
