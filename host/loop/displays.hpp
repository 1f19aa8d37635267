// The host's displays: one per display of each mode of the pipe app. Each
// has a multi-view control that pages draw into, and keeps the latest
// output the running mode routed to it. The display set a page gets shows
// the displays of the client pipe's current mode.
#ifndef ZVHOST_DISPLAYS_HPP
#define ZVHOST_DISPLAYS_HPP

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostapi/hostapi.hpp"
#include "plugin.hpp"
#include "zvcontrols/zvcontrols.hpp"

namespace zvhost {

class HostDisplay final : public hostapi::Display {
public:
    HostDisplay(std::string mode, const DisplayInfo& info);
    ~HostDisplay();
    HostDisplay(const HostDisplay&) = delete;
    HostDisplay& operator=(const HostDisplay&) = delete;

    int32_t Reserved0() override { return 1; }
    int32_t Reserved1() override { return 1; }
    int32_t Reserved2() override { return 1; }
    int32_t Reserved3() override { return 1; }
    int32_t Reserved4() override { return 1; }
    int32_t GetMultiView(zvMultiView** view) override;

    const std::string& Mode() const { return mode_; }
    const std::string& Name() const { return info_.name; }
    int32_t Kind() const { return info_.kind; }
    zvMultiView& View() { return view_; }

    // The latest output of a run (engine-owned): the one it replaces is
    // handed back to its engine. Forget() lets go of it without releasing
    // (its engine is ending).
    void TakeOutput(zvHandle engine, zvHandle output);
    void Forget();
    // What the display shows now: the run's latest output or, when a page
    // drew into the view after it, the view's plot; 0 when nothing.
    zvHandle Showing() const;
    // Counts what arrived (outputs and page drawings), for live updates.
    uint64_t Generation() const { return generation_ + static_cast<uint64_t>(view_.ShowCount()); }

private:
    std::string mode_;
    DisplayInfo info_;
    zvMultiView view_;
    zvHandle engine_ = nullptr;
    zvHandle output_ = nullptr;
    uint64_t generation_ = 0;
    int32_t viewShowsAtOutput_ = 0;  // the view's show count when the output came
};

using EventSink = std::function<void(const nlohmann::json& event)>;

class HostDisplays final : public hostapi::DisplaySet {
public:
    explicit HostDisplays(const AppInfo& app);
    ~HostDisplays();
    HostDisplays(const HostDisplays&) = delete;
    HostDisplays& operator=(const HostDisplays&) = delete;

    void SetEventSink(EventSink sink) { emit_ = std::move(sink); }
    // The client pipe's current mode: whose displays pages get.
    void SetMode(const std::string& mode) { mode_ = mode; }

    int32_t Reserved0() override { return 1; }
    int32_t Reserved1() override { return 1; }
    int32_t SelectLayout(int32_t layout) override;
    int32_t Reserved3() override { return 1; }
    // ZV_E_RANGE and no display for an index the current mode lacks.
    int32_t GetDisplay(int32_t index, hostapi::Display** display) override;
    int32_t AddDisplayListener(int32_t index, hostapi::DisplayListener* listener) override;
    int32_t RemoveDisplayListener(int32_t index, hostapi::DisplayListener* listener) override;

    int32_t Layout() const { return layout_; }
    // The displays of `mode` in declaration order (empty for none).
    std::vector<HostDisplay*> Of(const std::string& mode) const;
    HostDisplay* Find(const std::string& mode, const std::string& name) const;
    // Every display lets go of its run output (its engine ends).
    void ForgetOutputs();

private:
    std::vector<std::unique_ptr<HostDisplay>> displays_;
    std::string mode_;
    int32_t layout_ = 0;
    std::vector<std::pair<int32_t, hostapi::DisplayListener*>> listeners_;
    EventSink emit_;
};

}  // namespace zvhost

#endif
