// A small page for the framework's tests: its template, registered in a
// module of its own, and a dialog class in two levels that logs what its
// handlers hear.
#ifndef TESTS_WINFRAME_TEST_DIALOG_HPP
#define TESTS_WINFRAME_TEST_DIALOG_HPP

#include <functional>
#include <string>
#include <vector>

#include "winframe/winframe.hpp"

namespace wftest {

enum : int32_t {
    kPage = 500,    // every control kind
    kRadios = 501,  // radio buttons that open the dialog without a group mark
    kNotRegistered = 502,

    kName = 10,
    kCount,
    kApply,
    kOverlay,
    kFast,
    kSlow,
    kAlone,
    kModes,
    kSensors,
    kLines,
    kLevel,
    kHiddenEdit,
    kOff,
    kFirst = 30,
    kSecond,
    kBreak,
    kThird,
};

// The module holding both templates, with an application object named
// "Station Setup".
wf::ModuleState& TestModule();
// The number of controls of template kPage.
int32_t PageControlCount();

class BaseDialog : public CDialog {
    WF_DECLARE_DYNAMIC(BaseDialog)

public:
    std::vector<std::string> log;
    std::function<void()> onCount;  // extra work of the kCount change handler
    wf::Edit name, count;
    wf::Button apply, overlay;

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    void OnNameChange() { log.push_back("change name '" + name.GetWindowText() + "'"); }
    void OnCountChange();
    void OnNameKillFocus() { log.push_back("killfocus name"); }
    void OnApply() { log.push_back("base apply"); }
    void OnOverlay() { log.push_back("overlay " + std::to_string(overlay.GetCheck())); }

    WF_DECLARE_MESSAGE_MAP()
};

class TestDialog : public BaseDialog {
    WF_DECLARE_DYNAMIC(TestDialog)

public:
    wf::ComboBox modes, sensors;
    wf::ListBox lines;
    wf::Slider level;

protected:
    void DoDataExchange(wf::DataExchange* exchange) override;
    // Overrides the base's entry; sets the name, whose change handler runs
    // before this one goes on.
    void OnApply();
    void OnModes() { log.push_back("select modes " + std::to_string(modes.GetCurSel())); }
    void OnSensors() { log.push_back("select sensors '" + sensors.GetWindowText() + "'"); }
    void OnLines() { log.push_back("select lines " + std::to_string(lines.GetCurSel())); }
    void OnRadio() { log.push_back("radio"); }
    void OnLevel(wf::NotifyHeader* header, intptr_t* result);

    WF_DECLARE_MESSAGE_MAP()
};

}  // namespace wftest

#endif
