// The chart controls.
#include "zvcontrols/zvcontrols.hpp"

zvChart::~zvChart() = default;

void zvChart::SetXAxisText(const char* text) { xAxis_ = text ? text : ""; }

void zvChart::SetYAxisText(const char* text) { yAxis_ = text ? text : ""; }

void zvMultiView::Clear() {
    if (shown_ != nullptr) zvObjectDestroy(shown_);
    shown_ = nullptr;
}

zvStatus zvMultiView::Show(zvHandle plot) {
    if (plot == nullptr) return ZV_E_ARGUMENT;
    if (zvObjectType(plot) != ZV_TYPE_PLOT) return zvObjectType(plot) == 0 ? ZV_E_HANDLE : ZV_E_TYPE;
    zvHandle copy = nullptr;
    zvStatus status = zvDataClone(plot, nullptr, &copy);
    if (status <= 0) return status;
    Clear();
    shown_ = copy;
    ++showCount_;
    return ZV_OK;
}

zvMultiView::~zvMultiView() { Clear(); }
