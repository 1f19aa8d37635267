// The platform's pipe-run, plot and graphic families: ownership of outputs,
// results, descriptions and deep copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zvapi/zvapi.h"
#include "zvapi/zvapi_testing.hpp"

namespace {

struct Sunk {
    std::vector<std::string> labels;
};

void Sink(void* context, zvHandle, const char* label) { static_cast<Sunk*>(context)->labels.push_back(label); }

class PipeFamily : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = zv::testing::LiveObjects();
        ASSERT_GT(zvClientCreate(&client_), 0);
        ASSERT_GT(zvClientAddServer(client_, 7), 0);
        ASSERT_GT(zvPipeEngineCreate(&engine_, client_), 0);
        zvPipeEngineSetSink(engine_, Sink, &sunk_);
        ASSERT_GT(zvPipeEngineOutputAlloc(engine_, &output_), 0);
    }
    void TearDown() override {
        EXPECT_GT(zvPipeEngineDestroy(engine_), 0);
        EXPECT_GT(zvClientDestroy(client_), 0);
        EXPECT_EQ(zv::testing::LiveObjects(), baseline_);
        EXPECT_EQ(zv::testing::EngineOwnedObjects(), 0);
    }
    zvHandle client_ = nullptr, engine_ = nullptr;
    zvAllocator output_ = nullptr;
    Sunk sunk_;
    int64_t baseline_ = 0;
    zv::testing::Scope seams_;
};

TEST_F(PipeFamily, SentObjectsBelongToTheEngine) {
    zvHandle plot = nullptr, mine = nullptr;
    ASSERT_GT(zvPlotCreate(&plot, output_), 0);
    ASSERT_GT(zvPlotInit(plot), 0);
    ASSERT_GT(zvDataSetLabel(plot, "Free"), 0);
    ASSERT_GT(zvPipeEngineSend(engine_, plot), 0);
    EXPECT_EQ(sunk_.labels, std::vector<std::string>{"Free"});
    EXPECT_EQ(zvPipeEngineSend(engine_, plot), ZV_E_STATE);
    EXPECT_EQ(zvPlotDestroy(plot), ZV_E_STATE);
    EXPECT_EQ(zvDataSetLabel(plot, "Other"), ZV_E_STATE);

    // An object of the default allocator becomes the engine's when sent.
    ASSERT_GT(zvPlotCreate(&mine, nullptr), 0);
    ASSERT_GT(zvPipeEngineSend(engine_, mine), 0);
    EXPECT_EQ(zv::testing::EngineOwnedObjects(), 2);
    EXPECT_GT(zvPipeEngineRelease(engine_, mine), 0);
    EXPECT_EQ(zv::testing::EngineOwnedObjects(), 1);
}

TEST_F(PipeFamily, OwnerAndServersOfTheClient) {
    zvHandle owner = nullptr, list = nullptr;
    ASSERT_GT(zvPipeEngineOwner(engine_, &owner), 0);
    EXPECT_EQ(owner, client_);
    ASSERT_GT(zvClientAddServer(client_, 9), 0);
    EXPECT_EQ(zvClientAddServer(client_, 9), ZV_E_ARGUMENT);
    ASSERT_GT(zvArrayListCreate(&list, nullptr), 0);
    ASSERT_GT(zvArrayListInit(list, zvTypeBlock(4), 0, 1), 0);
    ASSERT_GT(zvClientServers(client_, list), 0);
    ASSERT_EQ(zvArrayListCount(list), 2);
    EXPECT_EQ(*static_cast<uint32_t*>(zvArrayListAt(list, 0)), 7u);
    EXPECT_EQ(*static_cast<uint32_t*>(zvArrayListAt(list, 1)), 9u);
    zvArrayListDestroy(list);
}

TEST_F(PipeFamily, ResultsGuardTheirAttributesAndData) {
    const int64_t attributes[] = {1001, -5};
    zvHandle result = nullptr, array = nullptr, message = nullptr, payload = nullptr;
    ASSERT_GT(zvResultCreate(&result, nullptr), 0);
    ASSERT_GT(zvResultInit(result, 4294967296LL, attributes, 2), 0);
    ASSERT_GT(zvArray1Create(&array, nullptr, ZV_TYPE_INT32, 4), 0);
    ASSERT_GT(zvResultAddData(result, array), 0);
    EXPECT_EQ(zvArrayDestroy(array), ZV_E_STATE);  // the result's now

    int64_t id = 0, value = 0;
    int32_t count = 0;
    zvHandle data = nullptr;
    ASSERT_GT(zvResultId(result, &id), 0);
    EXPECT_EQ(id, 4294967296LL);
    EXPECT_GT(zvResultAttributeAt(result, 1, &value), 0);
    EXPECT_EQ(value, -5);
    EXPECT_EQ(zvResultAttributeAt(result, 2, &value), ZV_E_RANGE);
    EXPECT_GT(zvResultAttributeCount(result, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(zvResultData(result, 1, &data), ZV_E_RANGE);
    EXPECT_EQ(data, nullptr);

    ASSERT_GT(zvPipeMsgCreate(&message, nullptr), 0);
    ASSERT_GT(zvPipeMsgSetData(message, result), 0);
    ASSERT_GT(zvPipeMsgData(message, &payload), 0);
    EXPECT_EQ(payload, result);
    EXPECT_GT(zvObjectDestroy(message), 0);  // takes result and array with it
}

TEST_F(PipeFamily, PlotsCopyPageItemsAndTakeOverUnsentOutputs) {
    zvHandle plot = nullptr, page = nullptr, output = nullptr;
    ASSERT_GT(zvPlotCreate(&plot, nullptr), 0);
    ASSERT_GT(zvPlotInit(plot), 0);
    ASSERT_GT(zvGraphicCreate(&page, nullptr), 0);
    ASSERT_GT(zvGraphicInit(page), 0);
    ASSERT_GT(zvGraphicCreate(&output, output_), 0);
    ASSERT_GT(zvGraphicInit(output), 0);
    const int32_t pen = zvGraphicAddPen(page, 0xFF00FF00u, 2.0f);
    zvPoint32s* points = zvGraphicDrawPolyline32s(page, 0, pen, 2);
    ASSERT_NE(points, nullptr);
    points[1] = {3, 4};

    ASSERT_GT(zvPlotAdd(plot, page), 0);
    ASSERT_GT(zvPlotAdd(plot, output), 0);
    ASSERT_EQ(zvPlotItemCount(plot), 2);
    EXPECT_NE(zvPlotItemAt(plot, 0), page);    // a copy
    EXPECT_EQ(zvPlotItemAt(plot, 1), output);  // taken over
    EXPECT_GT(zvGraphicDestroy(page), 0);
    EXPECT_EQ(zvGraphicDestroy(output), ZV_E_STATE);

    zvDrawing drawing{};
    ASSERT_GT(zvGraphicDrawingAt(zvPlotItemAt(plot, 0), 0, &drawing), 0);
    ASSERT_EQ(drawing.count, 2);
    EXPECT_EQ(drawing.points[1].y, 4);

    // A deep copy with its label, independent of the original.
    zvHandle copy = nullptr;
    zvDataSetLabel(plot, "Calibration");
    ASSERT_GT(zvDataClone(plot, nullptr, &copy), 0);
    EXPECT_STREQ(zvDataLabel(copy), "Calibration");
    EXPECT_EQ(zvPlotItemCount(copy), 2);
    EXPECT_GT(zvPlotDestroy(plot), 0);
    EXPECT_GT(zvGraphicDrawingAt(zvPlotItemAt(copy, 0), 0, &drawing), 0);
    EXPECT_EQ(drawing.points[1].x, 3);
    EXPECT_GT(zvDataDispose(copy), 0);
}

TEST_F(PipeFamily, DrawingCallsRefuseBadIndicesAndCounts) {
    zvHandle g = nullptr;
    ASSERT_GT(zvGraphicCreate(&g, nullptr), 0);
    EXPECT_LT(zvGraphicAddPen(g, 0, 1.0f), 0);  // not initialised
    ASSERT_GT(zvGraphicInit(g), 0);
    EXPECT_EQ(zvGraphicDrawPoints32s(g, 3, -1, -1, 0, 4), nullptr);
    EXPECT_EQ(zvGraphicDrawPolyline32s(g, 0, -1, -1), nullptr);
    EXPECT_NE(zvGraphicDrawPoints32s(g, -1, -1, -1, 0, 0), nullptr);
    EXPECT_EQ(zvGraphicDrawString32s(g, 5, 0, 0, 0, "0", 0, 0), ZV_E_RANGE);
    zv::testing::FailCall("zvGraphicAddPen", 1, -42);
    EXPECT_EQ(zvGraphicAddPen(g, 0, 1.0f), -42);
    EXPECT_GT(zvGraphicDestroy(g), 0);
}

TEST(PipeDescription, ReadsBackWhatWasDescribed) {
    zv::testing::Scope seams;
    zvHandle app = nullptr, mode = nullptr, second = nullptr;
    ASSERT_GT(zvPipeAppCreate(&app, nullptr), 0);
    ASSERT_GT(zvPipeAppInit(app, "client"), 0);
    ASSERT_GT(zvPipeAppSetVersion(app, 6, 2), 0);
    ASSERT_GT(zvPipeModeCreate(&mode, nullptr), 0);
    ASSERT_GT(zvPipeModeInit(mode, "Free"), 0);
    ASSERT_GT(zvPipeModeAddDisplay(mode, "Encoder", 3), 0);
    EXPECT_EQ(zvPipeModeAddDisplay(mode, "Encoder", 2), ZV_E_ARGUMENT);
    EXPECT_EQ(zvPipeModeAddDisplay(mode, "Bad", 4), ZV_E_ARGUMENT);
    ASSERT_GT(zvPipeModeAddParameter(mode, "SelectedSensor", 0), 0);
    ASSERT_GT(zvPipeAppAddMode(app, mode), 0);
    EXPECT_EQ(zvPipeAppAddMode(app, mode), ZV_E_STATE);
    ASSERT_GT(zvPipeModeCreate(&second, nullptr), 0);
    ASSERT_GT(zvPipeModeInit(second, "Free"), 0);
    EXPECT_EQ(zvPipeAppAddMode(app, second), ZV_E_ARGUMENT);  // modes are switched by name
    EXPECT_GT(zvPipeModeDestroy(second), 0);

    int32_t major = 0, minor = 0;
    EXPECT_GT(zvPipeAppVersion(app, &major, &minor), 0);
    EXPECT_EQ(major * 10 + minor, 62);
    ASSERT_EQ(zvPipeAppModeCount(app), 1);
    EXPECT_STREQ(zvPipeModeDisplayName(zvPipeAppModeAt(app, 0), 0), "Encoder");
    EXPECT_EQ(zvPipeModeDisplayKind(mode, 0), 3);
    EXPECT_EQ(zvPipeModeDisplayName(mode, 1), nullptr);
    EXPECT_EQ(zvPipeModeDestroy(mode), ZV_E_STATE);  // the app's
    EXPECT_GT(zvPipeAppDestroy(app), 0);
}

}  // namespace
