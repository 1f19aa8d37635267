#include "displays.hpp"

#include <algorithm>

#include "events.hpp"

namespace zvhost {

HostDisplay::HostDisplay(std::string mode, const DisplayInfo& info) : mode_(std::move(mode)), info_(info) {}

HostDisplay::~HostDisplay() = default;

int32_t HostDisplay::GetMultiView(zvMultiView** view) {
    if (view == nullptr) return ZV_E_ARGUMENT;
    *view = &view_;
    return 1;
}

void HostDisplay::TakeOutput(zvHandle engine, zvHandle output) {
    if (output_ != nullptr && output_ != output) zvPipeEngineRelease(engine_, output_);
    engine_ = engine;
    output_ = output;
    viewShowsAtOutput_ = view_.ShowCount();
    ++generation_;
}

void HostDisplay::Forget() {
    engine_ = nullptr;
    output_ = nullptr;
}

zvHandle HostDisplay::Showing() const {
    if (output_ != nullptr && view_.ShowCount() == viewShowsAtOutput_) return output_;
    return view_.Shown() != nullptr ? view_.Shown() : output_;
}

HostDisplays::HostDisplays(const AppInfo& app) {
    for (const ModeInfo& mode : app.modes) {
        for (size_t i = 0; i < mode.displays.size(); ++i)
            displays_.push_back(std::make_unique<HostDisplay>(mode.name, mode.displays[i]));
    }
}

HostDisplays::~HostDisplays() = default;

int32_t HostDisplays::SelectLayout(int32_t layout) {
    layout_ = layout;
    if (emit_) emit_(events::Layout(layout));
    return 1;
}

std::vector<HostDisplay*> HostDisplays::Of(const std::string& mode) const {
    std::vector<HostDisplay*> of;
    for (const auto& d : displays_)
        if (d->Mode() == mode) of.push_back(d.get());
    return of;
}

HostDisplay* HostDisplays::Find(const std::string& mode, const std::string& name) const {
    for (const auto& d : displays_)
        if (d->Mode() == mode && d->Name() == name) return d.get();
    return nullptr;
}

int32_t HostDisplays::GetDisplay(int32_t index, hostapi::Display** display) {
    if (display == nullptr) return ZV_E_ARGUMENT;
    *display = nullptr;
    const std::vector<HostDisplay*> current = Of(mode_);
    if (index < 0 || static_cast<size_t>(index) >= current.size()) return ZV_E_RANGE;
    *display = current[static_cast<size_t>(index)];
    return 1;
}

int32_t HostDisplays::AddDisplayListener(int32_t index, hostapi::DisplayListener* listener) {
    if (listener == nullptr) return ZV_E_ARGUMENT;
    listeners_.emplace_back(index, listener);
    if (emit_) emit_(events::Listener(index, true));
    return 1;
}

int32_t HostDisplays::RemoveDisplayListener(int32_t index, hostapi::DisplayListener* listener) {
    auto it = std::find(listeners_.begin(), listeners_.end(), std::make_pair(index, listener));
    if (it == listeners_.end()) return ZV_E_NOTFOUND;
    listeners_.erase(it);
    if (emit_) emit_(events::Listener(index, false));
    return 1;
}

void HostDisplays::ForgetOutputs() {
    for (const auto& d : displays_) d->Forget();
}

}  // namespace zvhost
