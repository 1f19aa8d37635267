#include "test_dialog.hpp"

using wf::ControlKind;
using wf::kStaticId;

namespace wftest {

namespace {

const char* const kModeItems[] = {"Free", "Calibration", "Detection"};
const char* const kSensorItems[] = {"b", "C", "a"};

const wf::ControlTemplate kPageControls[] = {
    {.kind = ControlKind::Static, .text = "Sensor name:", .rect = {4, 4, 40, 8}},
    {.id = kName, .kind = ControlKind::Edit, .text = "SN1", .rect = {48, 4, 60, 12}},
    {.id = kCount, .kind = ControlKind::Edit, .rect = {48, 20, 60, 12}},
    {.id = kApply, .kind = ControlKind::PushButton, .text = "Apply", .style = wf::kStyleDefault},
    {.id = kOverlay, .kind = ControlKind::CheckBox, .text = "Overlay"},
    {.kind = ControlKind::GroupBox, .text = "Speed", .style = wf::kStyleGroup},
    {.id = kFast, .kind = ControlKind::RadioButton, .text = "Fast", .style = wf::kStyleGroup},
    {.id = kSlow, .kind = ControlKind::RadioButton, .text = "Slow"},
    {.id = kAlone, .kind = ControlKind::RadioButton, .text = "Alone", .style = wf::kStyleGroup},
    {.id = kModes, .kind = ControlKind::DropDownList, .text = "ignored", .items = kModeItems},
    {.id = kSensors, .kind = ControlKind::DropDownCombo, .style = wf::kStyleSorted, .items = kSensorItems},
    {.id = kLines, .kind = ControlKind::ListBox},
    {.id = kLevel, .kind = ControlKind::Slider, .style = wf::kStyleTicks},
    {.id = kHiddenEdit, .kind = ControlKind::Edit, .style = wf::kStyleHidden},
    {.id = kOff, .kind = ControlKind::PushButton, .text = "Off", .style = wf::kStyleDisabled},
};

const wf::ControlTemplate kRadioControls[] = {
    {.id = kFirst, .kind = ControlKind::RadioButton, .text = "First"},
    {.id = kSecond, .kind = ControlKind::RadioButton, .text = "Second"},
    {.id = kBreak, .kind = ControlKind::Edit, .style = wf::kStyleGroup},
    {.id = kThird, .kind = ControlKind::RadioButton, .text = "Third"},
};

const wf::DialogTemplate kPageTemplate{kPage, "Test page", {0, 0, 200, 150}, kPageControls};
const wf::DialogTemplate kRadioTemplate{kRadios, "Radios", {0, 0, 100, 60}, kRadioControls};
const wf::DialogTemplate* const kTemplates[] = {&kPageTemplate, &kRadioTemplate};

}  // namespace

wf::ModuleState& TestModule() {
    static CWinApp app("Station Setup");
    static wf::ModuleState module("pages", kTemplates, &app);
    return module;
}

int32_t PageControlCount() { return static_cast<int32_t>(std::size(kPageControls)); }

WF_IMPLEMENT_DYNAMIC(BaseDialog, CDialog)
WF_IMPLEMENT_DYNAMIC(TestDialog, BaseDialog)

WF_BEGIN_MESSAGE_MAP(BaseDialog, CDialog)
WF_ON_EDIT_CHANGE(kName, &BaseDialog::OnNameChange)
WF_ON_EDIT_CHANGE(kCount, &BaseDialog::OnCountChange)
WF_ON_EDIT_KILLFOCUS(kName, &BaseDialog::OnNameKillFocus)
WF_ON_CLICKED(kApply, &BaseDialog::OnApply)
WF_ON_CLICKED(kOverlay, &BaseDialog::OnOverlay)
WF_END_MESSAGE_MAP()

void BaseDialog::DoDataExchange(wf::DataExchange* exchange) {
    wf::BindControl(exchange, kName, name);
    wf::BindControl(exchange, kCount, count);
    wf::BindControl(exchange, kApply, apply);
    wf::BindControl(exchange, kOverlay, overlay);
}

void BaseDialog::OnCountChange() {
    log.push_back("change count '" + count.GetWindowText() + "'");
    if (onCount) onCount();
}

WF_BEGIN_MESSAGE_MAP(TestDialog, BaseDialog)
WF_ON_CLICKED(kApply, &TestDialog::OnApply)
WF_ON_SELCHANGE(kModes, &TestDialog::OnModes)
WF_ON_SELCHANGE(kSensors, &TestDialog::OnSensors)
WF_ON_SELCHANGE(kLines, &TestDialog::OnLines)
WF_ON_CLICKED(kFast, &TestDialog::OnRadio)
WF_ON_RELEASEDCAPTURE(kLevel, &TestDialog::OnLevel)
WF_END_MESSAGE_MAP()

void TestDialog::DoDataExchange(wf::DataExchange* exchange) {
    BaseDialog::DoDataExchange(exchange);
    wf::BindControl(exchange, kModes, modes);
    wf::BindControl(exchange, kSensors, sensors);
    wf::BindControl(exchange, kLines, lines);
    wf::BindControl(exchange, kLevel, level);
}

void TestDialog::OnApply() {
    log.push_back("apply begins");
    name.SetWindowText("SN2");
    log.push_back("apply ends");
}

void TestDialog::OnLevel(wf::NotifyHeader* header, intptr_t* result) {
    log.push_back("released " + std::to_string(header->id) + " at " + std::to_string(level.GetPos()) + " result " +
                  std::to_string(*result));
}

}  // namespace wftest
