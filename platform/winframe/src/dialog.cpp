// Dialogs made from templates, and what the host sees of windows.
#include <algorithm>

#include "registry.hpp"

using wf::Window;  // names the base of CDialog's run-time record
using wf::WindowRecord;
using wf::WindowRole;

namespace {

void FillControl(WindowRecord& record, const wf::ControlTemplate& control) {
    record.kind = control.kind;
    record.id = control.id;
    record.style = control.style;
    record.rect = control.rect;
    record.enabled = !(control.style & wf::kStyleDisabled);
    record.visible = !(control.style & wf::kStyleHidden);
    if (control.kind != wf::ControlKind::DropDownList) record.text = control.text ? control.text : "";
    if (control.kind == wf::ControlKind::DropDownList || control.kind == wf::ControlKind::DropDownCombo ||
        control.kind == wf::ControlKind::ListBox) {
        for (const char* item : control.items) wf::AddItem(record, item);
    }
}

}  // namespace

WF_IMPLEMENT_DYNAMIC(CDialog, Window)

WF_BEGIN_MESSAGE_MAP(CDialog, wf::Window)
WF_END_MESSAGE_MAP()

CDialog::CDialog() = default;

CDialog::CDialog(int32_t templateId, wf::Window* parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() {
    // Its controls would otherwise outlive the object their notifications go to.
    if (Handle()) DestroyWindow();
}

bool CDialog::Create(int32_t templateId, wf::Window* parent) {
    if (Handle()) return false;
    wf::ModuleState* module = wf::CurrentModuleState();
    const wf::DialogTemplate* dialogTemplate = module->FindTemplate(templateId);
    if (!dialogTemplate) return false;
    wf::WindowHandle parentHandle = nullptr;
    if (parent) {
        parentHandle = parent->Handle();
        if (!wf::IsWindow(parentHandle)) return false;
    }

    wf::Registry& registry = wf::Registry::Get();
    WindowRecord* dialog = registry.Create(WindowRole::Dialog, parentHandle);
    if (!dialog) return false;
    const wf::WindowHandle handle = dialog->handle;
    dialog->text = dialogTemplate->caption ? dialogTemplate->caption : "";
    dialog->rect = dialogTemplate->rect;
    dialog->templateId = templateId;
    dialog->module = module;
    dialog->object = this;
    wf::Registry::SetHandle(*this, handle);
    for (const wf::ControlTemplate& control : dialogTemplate->controls) {
        WindowRecord* record = registry.Create(WindowRole::Control, handle);
        if (!record) {
            registry.Destroy(handle);
            return false;
        }
        FillControl(*record, control);
    }
    templateId_ = templateId;
    parent_ = parent;
    OnInitDialog();
    return Handle() != nullptr;
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

namespace wf {

WindowHandle CreateHostWindow(const char* title) {
    WindowRecord* record = Registry::Get().Create(WindowRole::Host, nullptr);
    if (!record) return nullptr;
    record->text = title ? title : "";
    return record->handle;
}

bool DestroyHostWindow(WindowHandle window) {
    const WindowRecord* record = Registry::Get().Find(window);
    if (!record || record->role != WindowRole::Host) return false;
    return Registry::Get().Destroy(window);
}

bool IsWindow(WindowHandle window) { return Registry::Get().Find(window) != nullptr; }

bool Snapshot(WindowHandle dialog, DialogState* out) {
    Registry& registry = Registry::Get();
    const WindowRecord* record = registry.Find(dialog);
    if (!out || !record || record->role != WindowRole::Dialog) return false;
    DialogState state;
    state.handle = dialog;
    state.templateId = record->templateId;
    state.caption = record->text;
    state.rect = record->rect;
    state.visible = record->visible;
    for (WindowHandle child : record->children) {
        const WindowRecord* control = registry.Find(child);
        if (!control || control->role != WindowRole::Control) continue;
        ControlState& c = state.controls.emplace_back();
        c.handle = child;
        c.id = control->id;
        c.kind = control->kind;
        c.text = Registry::TextOf(*control);
        c.style = control->style;
        c.rect = control->rect;
        c.enabled = control->enabled;
        c.visible = control->visible;
        c.checked = control->checked;
        c.items = control->items;
        c.selection = control->selection;
        c.rangeMin = control->rangeMin;
        c.rangeMax = control->rangeMax;
        c.position = control->position;
        c.tics = control->tics;
    }
    *out = std::move(state);
    return true;
}

std::vector<WindowHandle> ChildDialogs(WindowHandle parent) {
    Registry& registry = Registry::Get();
    std::vector<WindowHandle> dialogs;
    if (parent) {
        const WindowRecord* record = registry.Find(parent);
        if (!record) return dialogs;
        for (WindowHandle child : record->children) {
            const WindowRecord* c = registry.Find(child);
            if (c && c->role == WindowRole::Dialog) dialogs.push_back(child);
        }
        return dialogs;
    }
    // Top-level dialogs: handles count up, so their order is creation order.
    for (const auto& [number, record] : registry.windows)
        if (record->role == WindowRole::Dialog && !record->parent) dialogs.push_back(record->handle);
    std::sort(dialogs.begin(), dialogs.end(), [](WindowHandle a, WindowHandle b) {
        return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
    });
    return dialogs;
}

WindowHandle FindControl(WindowHandle dialog, int32_t id) {
    if (id == kStaticId) return nullptr;  // texts and frames no program addresses
    Registry& registry = Registry::Get();
    const WindowRecord* record = registry.Find(dialog);
    if (!record) return nullptr;
    for (WindowHandle child : record->children) {
        const WindowRecord* control = registry.Find(child);
        if (control && control->role == WindowRole::Control && control->id == id) return child;
    }
    return nullptr;
}

const char* KindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Static: return "static";
        case ControlKind::GroupBox: return "groupbox";
        case ControlKind::Edit: return "edit";
        case ControlKind::DropDownList: return "dropdownlist";
        case ControlKind::DropDownCombo: return "dropdowncombo";
        case ControlKind::ListBox: return "listbox";
        case ControlKind::PushButton: return "button";
        case ControlKind::CheckBox: return "checkbox";
        case ControlKind::RadioButton: return "radio";
        case ControlKind::Slider: return "slider";
    }
    return "unknown";
}

bool Raises(ControlKind kind, Notify code) {
    switch (code) {
        case Notify::Clicked:
            return kind == ControlKind::PushButton || kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
        case Notify::EditChange:
        case Notify::EditKillFocus: return kind == ControlKind::Edit;
        case Notify::SelChange:
            return kind == ControlKind::ListBox || kind == ControlKind::DropDownList ||
                   kind == ControlKind::DropDownCombo;
        case Notify::ReleasedCapture: return kind == ControlKind::Slider;
        case Notify::None: return false;
    }
    return false;
}

}  // namespace wf
