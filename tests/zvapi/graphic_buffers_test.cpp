// Point buffers of graphic drawings: cleared when handed out, even where
// the memory of an earlier drawing is reused, and carried whole into the
// copy a plot keeps.
#include <gtest/gtest.h>

#include <cstring>

#include "zvapi/zvapi.h"

namespace {

TEST(GraphicBuffers, PointBuffersStartClearedWhateverTheMemoryHeldBefore) {
    const int32_t counts[] = {1, 9, 4096, 21504};
    for (int round = 0; round < 3; ++round) {
        for (int32_t count : counts) {
            SCOPED_TRACE("round " + std::to_string(round) + " count " + std::to_string(count));
            zvHandle graphic = nullptr;
            ASSERT_GT(zvGraphicCreate(&graphic, nullptr), 0);
            ASSERT_GT(zvGraphicInit(graphic), 0);
            zvPoint32s* points = zvGraphicDrawPoints32s(graphic, -1, -1, -1, 0, count);
            ASSERT_NE(points, nullptr);
            zvPoint32s* line = zvGraphicDrawPolyline32s(graphic, 0, -1, count);
            ASSERT_NE(line, nullptr);
            for (int32_t i = 0; i < count; ++i) {
                ASSERT_EQ(line[i].x, 0);
                ASSERT_EQ(line[i].y, 0);
            }
            zvDrawing drawing;
            ASSERT_GT(zvGraphicDrawingAt(graphic, 0, &drawing), 0);
            ASSERT_EQ(drawing.count, count);
            for (int32_t i = 0; i < count; ++i) {
                ASSERT_EQ(drawing.points[i].x, 0);
                ASSERT_EQ(drawing.points[i].y, 0);
            }
            // Leave garbage behind for the next round's blocks.
            std::memset(const_cast<zvPoint32s*>(drawing.points), 0xA5, sizeof(zvPoint32s) * static_cast<size_t>(count));
            std::memset(line, 0x5A, sizeof(zvPoint32s) * static_cast<size_t>(count));
            ASSERT_GT(zvGraphicDestroy(graphic), 0);
        }
    }
}

TEST(GraphicBuffers, APlotKeepsACopyOfEveryPoint) {
    zvHandle graphic = nullptr, plot = nullptr;
    ASSERT_GT(zvGraphicCreate(&graphic, nullptr), 0);
    ASSERT_GT(zvGraphicInit(graphic), 0);
    constexpr int32_t kCount = 1000;
    zvPoint32s* points = zvGraphicDrawPoints32s(graphic, -1, -1, -1, 0, kCount);
    ASSERT_NE(points, nullptr);
    for (int32_t i = 0; i < kCount; ++i) points[i] = {i, -i};
    ASSERT_GT(zvPlotCreate(&plot, nullptr), 0);
    ASSERT_GT(zvPlotInit(plot), 0);
    ASSERT_GT(zvPlotAdd(plot, graphic), 0);
    ASSERT_GT(zvGraphicDestroy(graphic), 0);

    zvDrawing drawing;
    ASSERT_GT(zvGraphicDrawingAt(zvPlotItemAt(plot, 0), 0, &drawing), 0);
    ASSERT_EQ(drawing.count, kCount);
    for (int32_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(drawing.points[i].x, i);
        ASSERT_EQ(drawing.points[i].y, -i);
    }
    ASSERT_GT(zvPlotDestroy(plot), 0);
}

}  // namespace
