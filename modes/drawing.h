// The drawing operations: run-state views and the calibration mark sent to
// a mode's displays, and the calibration target and the empty Free plot
// shown in a page's multi-view.
//
// Every operation returns 1, or the first failing platform status
// unchanged, and stops there. Positions are mils; colours ARGB.
#ifndef TORVANE_MODES_DRAWING_H
#define TORVANE_MODES_DRAWING_H

#include <cstdint>

#include "modes/result_access.h"
#include "modes/run_state.h"
#include "zvapi/zvapi.h"

class zvMultiView;

// The view selector that draws every view.
constexpr uint32_t kAllViews = 99;

// The colour of view `view` (the cycle of eight repeats from view 8).
uint32_t ViewColor(uint32_t view);

// Draws the non-empty views of `state` (all with kAllViews, else the one
// view `viewSelector`) into a black plot labelled `label` and sends it with
// the engine's output allocator. `fitToTarget` non-zero fits the world to
// the calibration target's extent (with no target vertices the fixed world
// is used instead); zero gives the fixed world (-13000, -25000, 50000,
// 50000). A point buffer the platform cannot give ends it with
// kTorvaneNoMemory.
zvStatus DrawViewPlot(RunState* state, const char* label, uint32_t viewSelector, int32_t fitToTarget);

// What the mode that has just filled a view list knows of it: how many of
// its pairs are drawn (x not the null value), and, when given, the profile
// they came from. Valid while the handler runs.
struct DrawnPoints {
    zvHandle list = nullptr;
    int32_t drawn = 0;
    ProfileSource source;
};
// DrawViewPlot, told of one list's drawn points, so that a whole profile is
// not scanned a second time for its count. `known` is used only for its own
// list and only when its count fits the list.
zvStatus DrawViewPlotKnowing(RunState* state, const char* label, uint32_t viewSelector, int32_t fitToTarget,
                             const DrawnPoints& known);

// Sends the pass (lime green) or fail (red) mark to the "Calibration"
// display.
zvStatus SendCalibrationMark(RunState* state, int32_t success);

// Shows the calibration target polygon `vertices` (an array list of points)
// with its vertex numbers in `multiView`. The plot and graphic are made
// without an allocator and destroyed before returning, on failure too. An
// empty list shows an empty plot over the scanner's region (-8000, -25000,
// 28000, 50000).
zvStatus ShowCalibrationTarget(zvHandle vertices, zvMultiView* multiView);

// Clears `multiView` with an empty "Free" plot.
zvStatus ShowEmptyFreePlot(zvMultiView* multiView);

#endif
