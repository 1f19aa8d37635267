// What every mode's handlers owe the host, checked across the five modes
// as the plug-in describes them: the handlers of each mode, their answers
// to messages without results, the platform calls they make in order, the
// release order of the run state, and every failure passed back without a
// leak.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "modes/calibration_mode.h"
#include "modes/detection_mode.h"
#include "modes/drawing.h"
#include "modes/free_mode.h"
#include "modes/run_state.h"
#include "modes/statistics_table.h"
#include "modes/video_mode.h"
#include "modes/web_mode.h"
#include "plugin/settings.h"
#include "support/fault_loop.hpp"
#include "support/mode_support.hpp"
#include "torvane/describe_pipe_app.h"

namespace modes_test {
namespace {

struct Handlers {
    const char* mode;
    zvPipeStartHandler start;
    zvPipeProcessHandler process;
    zvPipeStopHandler stop;
};

const Handlers kModes[] = {
    {"Free", StartFree, ProcessFree, StopCommon},
    {"Calibration", StartCommon, ProcessCalibration, StopCommon},
    {"Detection", StartCommon, ProcessDetection, StopCommon},
    {"Web", StartCommon, ProcessWeb, StopCommon},
    {"Video", StartVideo, ProcessVideo, StopVideo},
};

// The description names, for each mode, the handlers of that mode: a
// handler put into another mode's row would run the wrong mode.
TEST(ModeTable, EachModeRunsItsOwnHandlers) {
    zv::testing::Scope scope;
    zv::OwnedPipeApp app;
    ASSERT_GT(DescribePipeApp(app.Out()), 0);
    ASSERT_EQ(zvPipeAppModeCount(app), 5);
    for (int32_t i = 0; i < 5; ++i) {
        const Handlers& expected = kModes[i];
        SCOPED_TRACE(expected.mode);
        zvHandle mode = zvPipeAppModeAt(app, i);
        EXPECT_STREQ(zvPipeModeName(mode), expected.mode);
        EXPECT_EQ(zvPipeModeStartHandler(mode), expected.start);
        EXPECT_EQ(zvPipeModeProcessHandler(mode), expected.process);
        EXPECT_EQ(zvPipeModeStopHandler(mode), expected.stop);
    }
}

class HandlerTest : public ModeTest {
protected:
    zv::OwnedList MessageList(const std::vector<zvHandle>& payloads) {
        zv::OwnedList list;
        EXPECT_GT(zv::runner::ModeRunner::MakeMessageList(payloads, list.Out()), 0);
        return list;
    }
};

// With nothing to act on, each handler answers as its mode does for a
// result it does not act on: Free, Detection, Web and Video with 1,
// Calibration with 0; a null list is a list of no messages.
TEST_F(HandlerTest, MessagesWithoutResultsGetEachModesOwnAnswer) {
    Settings({{{31, 1, 0}}});
    const struct {
        const char* mode;
        zvStatus status;
    } answers[] = {{"Free", 1}, {"Calibration", 0}, {"Detection", 1}, {"Web", 1}, {"Video", 1}};
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.mode);
        ASSERT_GT(runner_->Start(answer.mode), 0);
        const zv::OwnedList empty = MessageList({});
        const zv::OwnedList withoutPayload = MessageList({nullptr});
        EXPECT_EQ(runner_->Process(nullptr), answer.status);
        EXPECT_EQ(runner_->Process(empty), answer.status);
        EXPECT_EQ(runner_->Process(withoutPayload), answer.status);
        ASSERT_GT(runner_->Stop(), 0);
    }
}

// A slice batch with no rows carries no points: it needs no point array.
TEST_F(HandlerTest, ADetectionBatchWithoutRowsNeedsNoPointArray) {
    Settings({{{31, 1, 0}}});
    ASSERT_GT(runner_->Start("Detection"), 0);
    EXPECT_EQ(runner_->ProcessPayloads({MakeResult(1, {1}, {MakeArray(ZV_TYPE_INT64, {0, 2})})}), 1);
    EXPECT_EQ(runner_->ProcessPayloads({MakeResult(1, {1}, {})}), ZV_E_RANGE);
    EXPECT_EQ(State()->objectOpen, 0);
}

// ---- Call order ---------------------------------------------------------------

std::vector<std::string> Calls(const std::function<void()>& body) {
    zv::testing::JournalClear();
    zv::testing::JournalStart();
    body();
    zv::testing::JournalStop();
    std::vector<std::string> calls;
    for (const std::string& entry : zv::testing::Journal()) calls.push_back(entry.substr(0, entry.find(' ')));
    zv::testing::JournalClear();
    return calls;
}

TEST_F(HandlerTest, TheDrawingMakesItsCallsInOrder) {
    Settings({{{1000, 1, 0}, {1001, 1, 1}}});
    ASSERT_GT(runner_->Start("Web"), 0);
    const zvPoint32s points[] = {{1, 2}, {INT32_MIN, INT32_MIN}};
    for (uint32_t v = 0; v < 2; ++v) {
        ASSERT_GT(zvArrayListResize(State()->viewPoints[v], 2), 0);
        std::memcpy(zvArrayListData(State()->viewPoints[v]), points, sizeof points);
    }
    const std::vector<std::string> graphic = {
        "zvGraphicCreate",        "zvGraphicInit",      "zvDataSetLabel",         "zvGraphicAddPen",
        "zvGraphicAddSolidBrush", "zvGraphicAddMarker", "zvGraphicDrawPoints32s", "zvPlotAdd"};
    std::vector<std::string> expected = {"zvPipeEngineOutputAlloc", "zvPlotCreate", "zvPlotInit", "zvPlotSetBackColor",
                                         "zvDataSetLabel"};
    for (int v = 0; v < 2; ++v) expected.insert(expected.end(), graphic.begin(), graphic.end());
    for (const char* call : {"zvPlotSetWorld", "zvPlotSetXTitle", "zvPlotSetYTitle", "zvPipeEngineSend"})
        expected.push_back(call);
    std::vector<std::string> calls = Calls([&] { EXPECT_EQ(DrawViewPlot(State(), "Web", kAllViews, 1), 1); });
    // Accessors of the lists read nothing back from the platform's state.
    std::erase_if(calls, [](const std::string& c) { return c.rfind("zvArrayList", 0) == 0; });
    EXPECT_EQ(calls, expected);

    const std::vector<std::string> mark = {"zvPipeEngineOutputAlloc",
                                           "zvGraphicCreate",
                                           "zvGraphicInit",
                                           "zvGraphicAddPen",
                                           "zvGraphicAddSolidBrush",
                                           "zvGraphicAddMarker",
                                           "zvGraphicDrawPolyline32s",
                                           "zvPlotCreate",
                                           "zvPlotInit",
                                           "zvPlotAdd",
                                           "zvPlotSetWorld",
                                           "zvPlotSetXTitle",
                                           "zvPlotSetYTitle",
                                           "zvDataSetLabel",
                                           "zvPipeEngineSend"};
    EXPECT_EQ(Calls([&] { EXPECT_EQ(SendCalibrationMark(State(), 1), 1); }), mark);

    const std::vector<std::string> table = {
        "zvPipeEngineOutputAlloc", "zvArrayListCreate", "zvArrayListCreate", "zvArrayListCreate", "zvArrayListInit",
        "zvArrayListInit",         "zvArrayListInit",   "zvStringCreate",    "zvStringInit",      "zvStringImport",
        "zvStringCreate",          "zvStringInit",      "zvStringImport",    "zvArrayListAdd",    "zvArrayListAdd",
        "zvArrayListAdd",          "zvArrayListAdd"};
    zvHandle made = nullptr;
    EXPECT_EQ(Calls([&] { made = StatisticsTableCreate(State()->engine); }), table);
    EXPECT_NE(made, nullptr);
}

TEST_F(HandlerTest, TheVideoPlotIsMadeInOrder) {
    Settings({{{31, 1, 0}}});
    ASSERT_GT(runner_->SetParameters("Video", {31, 200, 0, 0}), 0);
    ASSERT_GT(runner_->Start("Video"), 0);
    std::vector<uint32_t> pixels(6, 0x00000010u);
    zvHandle frame = MakeArray(ZV_TYPE_UINT8, {2, 3, 4}, pixels.data(), pixels.size() * 4);
    const zv::OwnedList messages = MessageList({MakeResult(0, {31, 0}, {frame})});
    std::vector<std::string> calls = Calls([&] { EXPECT_EQ(runner_->Process(messages), 1); });
    std::erase_if(calls, [](const std::string& c) {
        return c.rfind("zvArrayList", 0) == 0 || c.rfind("zvPipeMsg", 0) == 0 || c.rfind("zvResult", 0) == 0 ||
               c.rfind("zvArray", 0) == 0 || c == "zvImageZero" || c == "zvMemset";
    });
    EXPECT_EQ(calls, (std::vector<std::string>{"zvPipeEngineOutputAlloc", "zvImageCreate", "zvImageInit", "zvMemcpy",
                                               "zvPlotCreate", "zvPlotInit", "zvPlotSetWorld", "zvPlotSetBackColor",
                                               "zvPlotAdd", "zvDataSetLabel", "zvPipeEngineSend"}));
}

// ---- Release order --------------------------------------------------------------

// RunStateDestroy releases radii, the polar points, the polar model, the
// settings (sensors, then target vertices), the view lists and the masks,
// in this order; a release that fails ends it there, leaving the rest.
TEST_F(HandlerTest, TheRunStateIsReleasedInItsOrderAndStopsAtAFailure) {
    Settings({{{1000, 1, 0}, {1001, 1, 1}}});
    zv::OwnedEngine engine;
    ASSERT_GT(zvPipeEngineCreate(engine.Out(), runner_->Client()), 0);
    for (int failing = 1; failing <= 9; ++failing) {
        SCOPED_TRACE(failing);
        RunState* state = nullptr;
        ASSERT_GT(RunStateCreate(engine, &state), 0);
        ASSERT_GT(zvPolarModelCreate(&state->polarModel, nullptr), 0);
        ASSERT_GT(zvPolarModelInit(state->polarModel, 360, 5), 0);
        // Every member in the order they are released.
        const std::vector<zvHandle> members = {state->radii,
                                               state->polarPoints,
                                               state->polarModel,
                                               state->settings->Sensors,
                                               state->settings->TargetVertices,
                                               state->viewPoints[0],
                                               state->viewPoints[1],
                                               state->masks[0],
                                               state->masks[1]};
        // Keep the `failing`-th release from happening: make it fail.
        const char* names[] = {"zvArrayDestroy",     "zvArrayListDestroy", "zvPolarModelDestroy",
                               "zvArrayListDestroy", "zvArrayListDestroy", "zvArrayListDestroy",
                               "zvArrayListDestroy", "zvImageDestroy",     "zvImageDestroy"};
        int k = 0;
        for (int i = 0; i < failing; ++i) k += std::strcmp(names[i], names[failing - 1]) == 0 ? 1 : 0;
        zv::testing::FailCall(names[failing - 1], k, -55);
        EXPECT_EQ(RunStateDestroy(state), -55);
        zv::testing::ClearFaults();
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(zvObjectType(members[static_cast<size_t>(i)]) != 0, i >= failing - 1) << "member " << i;
        // What is left is released by a second stop.
        EXPECT_EQ(RunStateDestroy(state), 1);
    }
}

// ---- Faults -------------------------------------------------------------------

// Calls whose statuses a mode leaves unchecked (those inside the
// statistics table's making and its rows; the pens, brushes and markers of
// a drawing), which may fail without failing the handler or fail it later
// with another status; and calls that answer with a pointer or an index,
// whose failure the handler turns into a status of its own.
bool Unchecked(const std::string& call) {
    static const std::set<std::string> calls = {
        "zvStringCreate",         "zvStringInit",       "zvStringImport",          "zvArrayListAdd",
        "zvArrayListCreate",      "zvArrayListInit",    "zvPipeEngineOutputAlloc", "zvGraphicAddPen",
        "zvGraphicAddSolidBrush", "zvGraphicAddMarker", "zvGraphicAddFont"};
    return calls.count(call) != 0;
}
bool AnswersWithAPointer(const std::string& call) {
    static const std::set<std::string> calls = {"zvPolarPoints",
                                                "zvGraphicDrawPoints32s",
                                                "zvGraphicDrawPolyline32s",
                                                "zvImageData",
                                                "zvImageAt",
                                                "zvArray1Data",
                                                "zvArray2At",
                                                "zvArray3Data"};
    return calls.count(call) != 0;
}

// A whole run of each mode, start, one batch and stop, made to fail at
// every call and every allocation in turn: each failure is returned (or,
// for an unchecked call, ignored), and nothing stays alive.
TEST_F(HandlerTest, EveryFailureOfARunIsPassedBackWithoutALeak) {
    Settings({{{31, 1, 0}, {32, 1, 1}}});
    files_.ServerFolder(31);
    std::vector<ProfilePoint> points;
    for (int i = 0; i < 12; ++i) points.push_back({static_cast<int16_t>(i * 10), static_cast<int16_t>(100 + i)});
    std::vector<int16_t> slice;
    for (const ProfilePoint& p : points) {
        slice.push_back(p.x);
        slice.push_back(p.y);
    }
    const int64_t stamps[] = {5, 12};
    std::vector<uint32_t> pixels(6, 0x000000F0u);
    struct Run {
        const char* mode;
        std::function<zvHandle()> payload;
        std::vector<int32_t> parameters;
    };
    const Run runs[] = {
        {"Free",
         [&] {
             return ProfileResult(31, 1, zvStamp{1, 2, 3, 0}, points, {{7, 8}});
         },
         {31, 2}},
        {"Calibration",
         [] {
             return MakeResult(8, {31, -10});
         },
         {}},
        {"Detection",
         [&] {
             return MakeResult(1, {1},
                               {MakeArray(ZV_TYPE_INT64, {1, 2}, stamps, sizeof stamps),
                                MakeArray(ZV_TYPE_INT16, {1, 12, 2}, slice.data(), slice.size() * 2)});
         },
         {}},
        {"Web",
         [] {
             return WebResult({0, -5000, 10, 0, 1, 2}, {{1, -1, 3}});
         },
         {}},
        {"Video",
         [&] {
             return MakeResult(0, {31, 0}, {MakeArray(ZV_TYPE_UINT8, {2, 3, 4}, pixels.data(), 24)});
         },
         {31, 100, 0, 1}},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.mode);
        const Handlers* handlers = nullptr;
        for (const Handlers& h : kModes)
            if (std::strcmp(h.mode, run.mode) == 0) handlers = &h;
        ASSERT_NE(handlers, nullptr);
        zv::OwnedList parameters;
        ASSERT_GT(zvArrayListCreate(parameters.Out(), nullptr), 0);
        ASSERT_GT(zvArrayListInit(parameters, ZV_TYPE_INT32, 4, 1), 0);
        for (int32_t value : run.parameters) ASSERT_GT(zvArrayListAdd(parameters, &value), 0);
        const zv::OwnedList messages = MessageList({run.payload()});
        zvtest::FaultLoop loop;
        loop.noMemory.push_back(0);  // the settings reader's name buffer
        loop.operation = [&] {
            zv::OwnedEngine engine;
            zvStatus status = zvPipeEngineCreate(engine.Out(), runner_->Client());
            void* state = nullptr;
            if (status > 0) status = handlers->start(&state, engine, parameters);
            if (status > 0) status = handlers->process(state, engine, parameters, messages);
            // The stop runs whatever happened, as the host's does.
            if (state != nullptr) {
                const zvStatus stopped = handlers->stop(state, engine, parameters);
                if (status > 0) status = stopped;
            }
            return status;
        };
        loop.check = [&](const zvtest::Fault& fault, zvStatus status) {
            const bool loose = fault.Allocation() || Unchecked(fault.call) || AnswersWithAPointer(fault.call);
            if (status > 0) {
                EXPECT_TRUE(fault.Allocation() || Unchecked(fault.call)) << "a failure reported as success";
            } else if (!loose) {
                EXPECT_EQ(status, fault.Expected());
            }
        };
        loop.cleanup = [&] {
            std::error_code ignored;
            std::filesystem::remove(files_.Host("SN31/mask0.bin"), ignored);
            std::filesystem::remove(files_.Host("SN31/mask1.bin"), ignored);
        };
        EXPECT_GT(loop.Run(), 10);
    }
}

}  // namespace
}  // namespace modes_test
