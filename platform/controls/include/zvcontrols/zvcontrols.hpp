// zvControls: the chart controls of the host's displays and the pages'
// views.
//
// A zvMultiView shows one plot at a time inside its chart (zvChart). Showing
// a plot keeps a copy of it, so the caller may destroy its own plot right
// after (pages make their plots without an allocator and destroy them after
// showing). The host's renderer and tests read what is shown back through
// Shown() and the zvPlot* read-back calls.
#ifndef ZVCONTROLS_ZVCONTROLS_HPP
#define ZVCONTROLS_ZVCONTROLS_HPP

#include <cstdint>
#include <string>

#include "zvapi/zvapi.h"

#define ZV_CONTROLS_API __attribute__((visibility("default")))

// The chart inside a multi-view: its axis texts.
class ZV_CONTROLS_API zvChart {
public:
    zvChart() = default;
    zvChart(const zvChart&) = delete;
    zvChart& operator=(const zvChart&) = delete;
    virtual ~zvChart();

    // A null text clears the axis text.
    void SetXAxisText(const char* text);
    void SetYAxisText(const char* text);
    const std::string& XAxisText() const { return xAxis_; }
    const std::string& YAxisText() const { return yAxis_; }

private:
    std::string xAxis_;
    std::string yAxis_;
};

class ZV_CONTROLS_API zvMultiView {
public:
    zvMultiView() = default;
    zvMultiView(const zvMultiView&) = delete;
    zvMultiView& operator=(const zvMultiView&) = delete;

    // First operation: forgets (releases) the plot shown; the view is empty.
    virtual void Clear();
    // Second operation: shows `plot`, keeping a copy of it in place of the
    // one shown so far. Returns 1, or the failing status (ZV_E_HANDLE /
    // ZV_E_TYPE for a handle that is not a live plot, ZV_E_NOMEM) with the
    // earlier plot still shown. The caller keeps its own plot.
    virtual zvStatus Show(zvHandle plot);
    virtual ~zvMultiView();

    // The inner chart, owned by the view (never null).
    zvChart* GetInnerControl() { return &chart_; }
    // The view's copy of the plot shown, 0 when none; owned by the view.
    zvHandle Shown() const { return shown_; }
    // How many plots were shown since the view was made.
    int32_t ShowCount() const { return showCount_; }

private:
    zvChart chart_;
    zvHandle shown_ = nullptr;
    int32_t showCount_ = 0;
};

#endif
