// Window objects and the control classes over the registry's records.
#include <algorithm>
#include <cstring>

#include "registry.hpp"

namespace wf {

namespace {

Registry& Windows() { return Registry::Get(); }

WindowRecord* RecordOf(WindowHandle handle) { return Windows().Find(handle); }

// The control record behind `handle` when it is of one of `kinds`.
WindowRecord* ControlOf(WindowHandle handle, std::initializer_list<ControlKind> kinds) {
    WindowRecord* record = RecordOf(handle);
    if (!record || record->role != WindowRole::Control) return nullptr;
    return std::find(kinds.begin(), kinds.end(), record->kind) != kinds.end() ? record : nullptr;
}

int32_t Count(const WindowRecord& record) { return static_cast<int32_t>(record.items.size()); }

std::string ItemText(const WindowRecord* record, int32_t index) {
    if (!record || index < 0 || index >= Count(*record)) return "";
    return record->items[index];
}

int32_t DeleteItem(WindowRecord* record, int32_t index) {
    if (!record || index < 0 || index >= Count(*record)) return -1;
    record->items.erase(record->items.begin() + index);
    if (record->selection == index)
        record->selection = -1;
    else if (record->selection > index)
        --record->selection;
    return Count(*record);
}

void ResetItems(WindowRecord* record) {
    if (!record) return;
    record->items.clear();
    Registry::SetSelection(*record, -1);
}

int32_t SelectItem(WindowRecord* record, int32_t index) {
    if (!record) return -1;
    Registry::SetSelection(*record, index);
    return record->selection;
}

constexpr std::initializer_list<ControlKind> kComboKinds{ControlKind::DropDownList, ControlKind::DropDownCombo};

}  // namespace

// ---- Window --------------------------------------------------------------------------

WF_IMPLEMENT_DYNAMIC(Window, Object)

Window::Window() = default;

Window::~Window() {
    WindowRecord* record = RecordOf(handle_);
    if (!record) return;
    if (record->object == this) record->object = nullptr;
    if (record->temporary == this) {  // a temporary object deleted by its user
        record->temporary = nullptr;
        --Windows().temporaries;
    }
}

bool Window::Attach(WindowHandle handle) {
    WindowRecord* record = RecordOf(handle);
    if (handle_ || !record || record->object || !ClassFits(*this, *record)) return false;
    record->object = this;
    handle_ = handle;
    return true;
}

WindowHandle Window::Detach() {
    WindowHandle handle = handle_;
    if (WindowRecord* record = RecordOf(handle); record && record->object == this) record->object = nullptr;
    handle_ = nullptr;
    return handle;
}

Window* Window::FromHandle(WindowHandle handle) {
    WindowRecord* record = RecordOf(handle);
    if (!record) return nullptr;
    return record->object ? record->object : Windows().TemporaryFor(*record);
}

bool Window::DestroyWindow() {
    // May free this very object when it is a temporary one: touch nothing after.
    return Windows().Destroy(handle_);
}

int32_t Window::GetDlgCtrlID() const {
    const WindowRecord* record = RecordOf(handle_);
    return record && record->role == WindowRole::Control ? record->id : 0;
}

Window* Window::GetDlgItem(int32_t id) const { return FromHandle(FindControl(handle_, id)); }

Window* Window::GetParent() const {
    const WindowRecord* record = RecordOf(handle_);
    return record ? FromHandle(record->parent) : nullptr;
}

void Window::SetWindowText(const char* text) {
    const WindowHandle handle = handle_;
    WindowRecord* record = RecordOf(handle);
    if (!record) return;
    const bool control = record->role == WindowRole::Control;
    if (control && record->kind == ControlKind::DropDownList) return;  // its text is its selection's
    record->text = text ? text : "";
    // Every text an edit is given is a change its dialog hears of, as if
    // typed. The handler may destroy this object's window, or this object.
    if (control && record->kind == ControlKind::Edit) Windows().Send(handle, Notify::EditChange);
}

std::string Window::GetWindowText() const {
    const WindowRecord* record = RecordOf(handle_);
    return record ? Registry::TextOf(*record) : std::string();
}

int32_t Window::GetWindowText(char* buffer, int32_t max) const {
    if (!buffer || max <= 0) return 0;
    const std::string text = GetWindowText();
    const size_t count = std::min(text.size(), static_cast<size_t>(max - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int32_t>(count);
}

bool Window::EnableWindow(bool enable) {
    WindowRecord* record = RecordOf(handle_);
    if (!record) return false;
    const bool wasDisabled = !record->enabled;
    record->enabled = enable;
    return wasDisabled;
}

bool Window::IsWindowEnabled() const {
    const WindowRecord* record = RecordOf(handle_);
    return record && record->enabled;
}

void Window::ShowWindow(bool show) {
    if (WindowRecord* record = RecordOf(handle_)) record->visible = show;
}

bool Window::IsWindowVisible() const {
    const WindowRecord* record = RecordOf(handle_);
    return record && record->visible;
}

int32_t Window::MessageBox(const char* text, const char* caption, uint32_t type) {
    MessageBoxRequest request;
    request.owner = handle_;
    request.text = text ? text : "";
    request.caption = caption ? caption : DefaultMessageBoxCaption();
    request.type = type;
    // A copy: the handler may replace itself while it answers.
    const MessageBoxHandler handler = Windows().messageBoxHandler;
    if (handler) return handler(request);
    return type == kMbYesNo ? kIdYes : kIdOk;
}

bool Window::UpdateData(bool save) {
    DataExchange exchange(this, save);
    DoDataExchange(&exchange);
    return true;
}

std::vector<ControlBinding> Window::Bindings() {
    std::vector<ControlBinding> noted;
    DataExchange exchange(&noted);
    DoDataExchange(&exchange);
    return noted;
}

void Window::DoDataExchange(DataExchange*) {}

void BindControl(DataExchange* exchange, int32_t id, Window& control) {
    if (!exchange) return;
    if (exchange->Noted()) {
        exchange->Noted()->push_back({id, &control});
        return;
    }
    if (!exchange->DialogWindow()) return;
    const WindowHandle handle = FindControl(exchange->DialogWindow()->Handle(), id);
    if (!handle || control.Handle()) return;  // bound once, while the window lives
    control.Attach(handle);
}

// ---- Controls ----------------------------------------------------------------------------

WF_IMPLEMENT_DYNAMIC(Edit, Window)
WF_IMPLEMENT_DYNAMIC(StaticText, Window)
WF_IMPLEMENT_DYNAMIC(Button, Window)
WF_IMPLEMENT_DYNAMIC(ComboBox, Window)
WF_IMPLEMENT_DYNAMIC(ListBox, Window)
WF_IMPLEMENT_DYNAMIC(Slider, Window)

int32_t Button::GetCheck() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::CheckBox, ControlKind::RadioButton});
    return record ? record->checked : 0;
}

void Button::SetCheck(int32_t check) {
    if (WindowRecord* record = ControlOf(Handle(), {ControlKind::CheckBox, ControlKind::RadioButton}))
        record->checked = check != 0 ? 1 : 0;
}

int32_t ComboBox::AddString(const char* text) {
    WindowRecord* record = ControlOf(Handle(), kComboKinds);
    return record ? AddItem(*record, text) : -1;
}

int32_t ComboBox::InsertString(int32_t index, const char* text) {
    WindowRecord* record = ControlOf(Handle(), kComboKinds);
    return record ? InsertItem(*record, index, text) : -1;
}

int32_t ComboBox::DeleteString(int32_t index) { return DeleteItem(ControlOf(Handle(), kComboKinds), index); }

void ComboBox::ResetContent() { ResetItems(ControlOf(Handle(), kComboKinds)); }

int32_t ComboBox::GetCount() const {
    const WindowRecord* record = ControlOf(Handle(), kComboKinds);
    return record ? Count(*record) : 0;
}

int32_t ComboBox::GetCurSel() const {
    const WindowRecord* record = ControlOf(Handle(), kComboKinds);
    return record ? record->selection : -1;
}

int32_t ComboBox::SetCurSel(int32_t index) { return SelectItem(ControlOf(Handle(), kComboKinds), index); }

std::string ComboBox::GetLBText(int32_t index) const { return ItemText(ControlOf(Handle(), kComboKinds), index); }

int32_t ListBox::AddString(const char* text) {
    WindowRecord* record = ControlOf(Handle(), {ControlKind::ListBox});
    return record ? AddItem(*record, text) : -1;
}

int32_t ListBox::InsertString(int32_t index, const char* text) {
    WindowRecord* record = ControlOf(Handle(), {ControlKind::ListBox});
    return record ? InsertItem(*record, index, text) : -1;
}

int32_t ListBox::DeleteString(int32_t index) { return DeleteItem(ControlOf(Handle(), {ControlKind::ListBox}), index); }

void ListBox::ResetContent() { ResetItems(ControlOf(Handle(), {ControlKind::ListBox})); }

int32_t ListBox::GetCount() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::ListBox});
    return record ? Count(*record) : 0;
}

int32_t ListBox::GetCurSel() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::ListBox});
    return record ? record->selection : -1;
}

int32_t ListBox::SetCurSel(int32_t index) { return SelectItem(ControlOf(Handle(), {ControlKind::ListBox}), index); }

std::string ListBox::GetText(int32_t index) const {
    return ItemText(ControlOf(Handle(), {ControlKind::ListBox}), index);
}

void Slider::SetRange(int32_t minimum, int32_t maximum, bool) {
    WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider});
    if (!record) return;
    if (minimum > maximum) std::swap(minimum, maximum);
    record->rangeMin = minimum;
    record->rangeMax = maximum;
    record->position = std::clamp(record->position, minimum, maximum);
    std::erase_if(record->tics, [&](int32_t tic) { return tic < minimum || tic > maximum; });
}

int32_t Slider::GetRangeMin() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider});
    return record ? record->rangeMin : 0;
}

int32_t Slider::GetRangeMax() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider});
    return record ? record->rangeMax : 0;
}

bool Slider::SetTic(int32_t position) {
    WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider});
    if (!record || position < record->rangeMin || position > record->rangeMax) return false;
    auto at = std::lower_bound(record->tics.begin(), record->tics.end(), position);
    if (at == record->tics.end() || *at != position) record->tics.insert(at, position);
    return true;
}

void Slider::ClearTics(bool) {
    if (WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider})) record->tics.clear();
}

std::vector<int32_t> Slider::GetTics() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider});
    return record ? record->tics : std::vector<int32_t>();
}

void Slider::SetPos(int32_t position) {
    if (WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider}))
        record->position = std::clamp(position, record->rangeMin, record->rangeMax);
}

int32_t Slider::GetPos() const {
    const WindowRecord* record = ControlOf(Handle(), {ControlKind::Slider});
    return record ? record->position : 0;
}

}  // namespace wf
