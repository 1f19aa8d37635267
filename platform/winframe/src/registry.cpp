#include "registry.hpp"

#include <algorithm>
#include <cctype>
#include <climits>

namespace wf {

namespace {

// Handlers that keep raising notifications from inside each other (a change
// handler setting its own edit's text) stop here instead of exhausting the
// stack.
constexpr int kMaxDispatchDepth = 64;

uintptr_t Number(WindowHandle handle) { return reinterpret_cast<uintptr_t>(handle); }

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

Registry& Registry::Get() {
    // Never destroyed: window objects of static storage may detach after
    // main returns.
    static Registry* registry = new Registry;
    return *registry;
}

WindowRecord* Registry::Create(WindowRole role, WindowHandle parent) {
    if (failCountdown > 0 && --failCountdown == 0) return nullptr;
    auto record = std::make_unique<WindowRecord>();
    record->handle = reinterpret_cast<WindowHandle>(nextNumber++);
    record->role = role;
    record->parent = parent;
    if (WindowRecord* above = Find(parent)) above->children.push_back(record->handle);
    WindowRecord* made = record.get();
    windows.emplace(Number(made->handle), std::move(record));
    return made;
}

WindowRecord* Registry::Find(WindowHandle handle) {
    if (!handle) return nullptr;
    auto it = windows.find(Number(handle));
    return it == windows.end() ? nullptr : it->second.get();
}

bool Registry::Destroy(WindowHandle handle) {
    WindowRecord* record = Find(handle);
    if (!record) return false;
    if (WindowRecord* above = Find(record->parent)) std::erase(above->children, handle);
    DestroyRecord(handle);
    if (dispatchDepth == 0) FreeDoomed();
    return true;
}

void Registry::DestroyRecord(WindowHandle handle) {
    auto it = windows.find(Number(handle));
    if (it == windows.end()) return;
    WindowRecord* record = it->second.get();
    const std::vector<WindowHandle> children = record->children;
    for (WindowHandle child : children) DestroyRecord(child);
    if (record->object) SetHandle(*record->object, nullptr);
    if (record->temporary) {
        SetHandle(*record->temporary, nullptr);
        doomed.push_back(record->temporary);
    }
    windows.erase(Number(handle));
}

void Registry::FreeDoomed() {
    std::vector<Window*> now;
    now.swap(doomed);
    for (Window* window : now) {
        delete window;
        --temporaries;
    }
}

Window* Registry::TemporaryFor(WindowRecord& record) {
    if (record.temporary) return record.temporary;
    Window* made = nullptr;
    if (record.role != WindowRole::Control) {
        made = new Window;
    } else {
        switch (record.kind) {
            case ControlKind::Static:
            case ControlKind::GroupBox: made = new StaticText; break;
            case ControlKind::Edit: made = new Edit; break;
            case ControlKind::DropDownList:
            case ControlKind::DropDownCombo: made = new ComboBox; break;
            case ControlKind::ListBox: made = new ListBox; break;
            case ControlKind::PushButton:
            case ControlKind::CheckBox:
            case ControlKind::RadioButton: made = new Button; break;
            case ControlKind::Slider: made = new Slider; break;
        }
    }
    if (!made) made = new Window;
    SetHandle(*made, record.handle);
    record.temporary = made;
    ++temporaries;
    return made;
}

void Registry::Send(WindowHandle control, wf::Notify code, intptr_t* result) {
    WindowRecord* record = Find(control);
    if (!record || record->role != WindowRole::Control) return;
    WindowRecord* dialog = Find(record->parent);
    if (!dialog || !dialog->object || dispatchDepth >= kMaxDispatchDepth) return;

    NotifyHeader header{control, record->id, code};
    intptr_t answer = 0;
    CmdTarget* target = dialog->object;
    const int32_t id = record->id;
    ModuleGuard guard(dialog->module);
    struct Depth {
        Registry& registry;
        explicit Depth(Registry& r) : registry(r) { ++registry.dispatchDepth; }
        ~Depth() {
            if (--registry.dispatchDepth == 0) registry.FreeDoomed();
        }
    } depth(*this);
    target->Dispatch(id, code, &header, result ? result : &answer);
}

driver::Result Registry::Reachable(WindowHandle handle) {
    WindowRecord* record = Find(handle);
    if (!record) return driver::Result::NoWindow;
    bool disabled = false;
    for (WindowRecord* at = record; at; at = Find(at->parent)) {
        if (!at->visible) return driver::Result::Hidden;
        if (!at->enabled) disabled = true;
    }
    return disabled ? driver::Result::Disabled : driver::Result::Done;
}

std::string Registry::TextOf(const WindowRecord& record) {
    if (record.role == WindowRole::Control && record.kind == ControlKind::DropDownList) {
        if (record.selection < 0 || record.selection >= static_cast<int32_t>(record.items.size())) return "";
        return record.items[record.selection];
    }
    return record.text;
}

void Registry::SetSelection(WindowRecord& record, int32_t index) {
    const bool valid = index >= 0 && index < static_cast<int32_t>(record.items.size());
    record.selection = valid ? index : -1;
    if (record.kind == ControlKind::DropDownCombo) record.text = valid ? record.items[index] : std::string();
}

void Registry::ForgetModule(ModuleState* state) {
    for (auto& [number, record] : windows)
        if (record->module == state) record->module = nullptr;
    if (current == state) current = nullptr;
}

int32_t InsertItem(WindowRecord& record, int32_t index, const char* text) {
    const int32_t count = static_cast<int32_t>(record.items.size());
    if (count == INT32_MAX) return -1;
    if (index == -1) index = count;
    if (index < 0 || index > count) return -1;
    record.items.insert(record.items.begin() + index, text ? text : "");
    if (record.selection >= index) ++record.selection;
    return index;
}

int32_t AddItem(WindowRecord& record, const char* text) {
    int32_t index = -1;
    if (record.style & kStyleSorted) {
        const std::string item = text ? text : "";
        auto at = std::upper_bound(record.items.begin(), record.items.end(), item, LessIgnoringCase);
        index = static_cast<int32_t>(at - record.items.begin());
    }
    return InsertItem(record, index, text);
}

bool ClassFits(const Window& window, const WindowRecord& record) {
    const RuntimeClass* cls = window.GetRuntimeClass();
    auto is = [cls](const RuntimeClass* base) { return cls->IsDerivedFrom(base); };
    const bool control = record.role == WindowRole::Control;
    const ControlKind kind = record.kind;
    if (is(WF_RUNTIME_CLASS(CDialog))) return record.role == WindowRole::Dialog;
    if (is(WF_RUNTIME_CLASS(Edit))) return control && kind == ControlKind::Edit;
    if (is(WF_RUNTIME_CLASS(StaticText)))
        return control && (kind == ControlKind::Static || kind == ControlKind::GroupBox);
    if (is(WF_RUNTIME_CLASS(Button)))
        return control &&
               (kind == ControlKind::PushButton || kind == ControlKind::CheckBox || kind == ControlKind::RadioButton);
    if (is(WF_RUNTIME_CLASS(ComboBox)))
        return control && (kind == ControlKind::DropDownList || kind == ControlKind::DropDownCombo);
    if (is(WF_RUNTIME_CLASS(ListBox))) return control && kind == ControlKind::ListBox;
    if (is(WF_RUNTIME_CLASS(Slider))) return control && kind == ControlKind::Slider;
    return true;
}

namespace testing {

void FailWindowCreation(int k) { Registry::Get().failCountdown = k > 0 ? k : 0; }

void ClearFaults() { Registry::Get().failCountdown = 0; }

int64_t LiveWindows() {
    const Registry& registry = Registry::Get();
    return static_cast<int64_t>(registry.windows.size()) + registry.temporaries;
}

}  // namespace testing

}  // namespace wf
