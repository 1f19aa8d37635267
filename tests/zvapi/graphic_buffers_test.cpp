// Point buffers of graphic drawings: room for every point asked for, what
// the caller writes read back whole (also where the memory of an earlier
// drawing is reused), and carried whole into the copy a plot keeps.
#include <gtest/gtest.h>

#include "zvapi/zvapi.h"

namespace {

TEST(GraphicBuffers, WhatTheCallerWritesReadsBackAtEverySize) {
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
            // Every point of both buffers is written (the sanitizer build
            // would catch a buffer short of them).
            for (int32_t i = 0; i < count; ++i) {
                points[i] = {i + round, -i};
                line[i] = {-i, i * 3 + round};
            }
            for (int32_t d = 0; d < 2; ++d) {
                zvDrawing drawing;
                ASSERT_GT(zvGraphicDrawingAt(graphic, d, &drawing), 0);
                ASSERT_EQ(drawing.count, count);
                for (int32_t i = 0; i < count; ++i) {
                    const zvPoint32s expected = d == 0 ? zvPoint32s{i + round, -i} : zvPoint32s{-i, i * 3 + round};
                    ASSERT_EQ(drawing.points[i].x, expected.x) << "drawing " << d << " point " << i;
                    ASSERT_EQ(drawing.points[i].y, expected.y) << "drawing " << d << " point " << i;
                }
            }
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
